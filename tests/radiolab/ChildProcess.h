#pragma once
// A program a test starts and stops itself, by its process id: its output and errors are
// appended to one log file.

#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // stops it
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] (a path, or a name looked up in PATH) with args[1..]; answers whether
    // it started.
    bool Start(std::vector<std::string> args, const std::string& logPath);
    // Sends `signal`, then waits for it; answers its exit status (-1 when none was running).
    int Stop(int signal = SIGTERM);
    // Waits for it to end by itself; answers its exit status, 128 + the signal that ended it,
    // or -1 when none was running.
    int Wait();
    // Its exit status (as Wait answers it) when it has ended by itself; nothing while it runs
    // or when none was started. Does not wait.
    std::optional<int> Ended();
    // Starts a program and waits for it: its exit status, or -1 when it could not start.
    static int Run(std::vector<std::string> args, const std::string& logPath);
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};
