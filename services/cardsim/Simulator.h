#pragma once
// The serve loop: the driver's settings from the registry, the block held for the whole run,
// the radio environment's walk, the station, the block protocol and the control socket, all
// on one thread, asleep between pieces of work, until SIGINT, SIGTERM or SIGHUP.

#include "ExitCode.h"
#include "Log.h"
#include "RadioEnvironment.h"
#include "RegulatoryDomain.h"

#include <cstdint>
#include <optional>

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

struct SimulatorOptions {
    RadioEnvironment environment;
    RegulatoryDomain domain;
    uint32_t seed = 1;
    Verbosity verbosity = Verbosity::Normal;
    // Look at the block every this often and take no wakes (the benchmark's old way).
    std::optional<Millis> fixedPoll;
};

class Simulator {
public:
    static ExitCode Serve(SimulatorOptions options);

    // How often the signals take a step.
    static constexpr std::chrono::milliseconds kDriftPeriod{1000};
};

} // namespace cardsim
