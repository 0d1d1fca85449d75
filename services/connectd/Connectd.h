#pragma once
// The serve loop of wlan-connectd: the driver's settings from the registry, the block held
// for the whole run, the real card behind the service core, all on one thread, until SIGINT
// or SIGTERM.

#include "BackendChoice.h"
#include "ExitCode.h"
#include "Log.h"
#include "SupplicantCard.h"

#include <chrono>

namespace connectd {

class Connectd {
public:
    static ExitCode Serve(CardOptions options, Backend backend, Verbosity verbosity);

    // How often the block is looked at when nothing else wakes the loop.
    static constexpr std::chrono::milliseconds kPollPeriod{10};
};

} // namespace connectd
