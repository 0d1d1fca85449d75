#pragma once
// The serve loop of wlan-connectd: the driver's settings from the registry, the block held
// for the whole run, the real card behind the service core, asleep in one poll() between
// pieces of work, until SIGINT, SIGTERM or SIGHUP.

#include "BackendChoice.h"
#include "ExitCode.h"
#include "Log.h"
#include "SupplicantCard.h"

#include <optional>

namespace connectd {

struct ServeOptions {
    CardOptions card;
    Backend backend = Backend::Auto;
    Verbosity verbosity = Verbosity::Normal;
    // Look at the block every this often and take no wakes (the benchmark's old way).
    std::optional<Millis> fixedPoll;
};

class Connectd {
public:
    static ExitCode Serve(ServeOptions options);

    // The longest sleep when nothing at all is due (a peer's wake, the card's descriptors and
    // duties end it sooner); it bounds how long a block that another process shrank goes
    // unnoticed.
    static constexpr Millis kIdle{4000};
};

} // namespace connectd
