#pragma once
// A program the lab starts and stops itself, by its process id: its output and errors are
// appended to one log file.

#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // stops it
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] (a path) with args[1..]; answers whether it started.
    bool Start(std::vector<std::string> args, const std::string& logPath);
    // SIGTERM, then waits for it; answers its exit status (-1 when none was running).
    int Stop();
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};
