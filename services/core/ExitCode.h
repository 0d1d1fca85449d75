#pragma once
// What the connection services' exit statuses mean; scripts and tests rely on these numbers.

namespace service {

enum class ExitCode : int {
    Ok = 0,
    Usage = 2,            // the command line is wrong
    BadEnvironment = 3,   // the --environment file cannot be read or is not valid
    CannotServe = 4,      // the block or the control socket cannot be had (another service?)
    NoSimulator = 5,      // ctl: no simulator answers for this block
    Refused = 6,          // ctl: the simulator refused the command
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

} // namespace service
