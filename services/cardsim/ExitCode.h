#pragma once
// What wlan-cardsim's exit status means; scripts and tests rely on these numbers.

namespace cardsim {

enum class ExitCode : int {
    Ok = 0,
    Usage = 2,            // the command line is wrong
    BadEnvironment = 3,   // the --environment file cannot be read or is not valid
    CannotServe = 4,      // the block or the control socket cannot be had (another simulator?)
    NoSimulator = 5,      // ctl: no simulator answers for this block
    Refused = 6,          // ctl: the simulator refused the command
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

} // namespace cardsim
