#pragma once
// A connection service's log on stderr: one line per event, stamped with the seconds since start.
// Events and warnings are limited to a few a second, so a process that scribbles over the
// block cannot flood the terminal; -v lines are not limited (they were asked for).

#include <chrono>
#include <mutex>
#include <string_view>

namespace service {

enum class Verbosity { Normal, Verbose };

class Log {
public:
    explicit Log(Verbosity verbosity, const char* program = "wlan-cardsim")
        : verbosity_(verbosity), program_(program)
    {
    }

    // Always shown: what the service is and does (start, socket, stop).
    void Start(std::string_view line);
    void Info(std::string_view line);
    // Only with -v: every command decoded.
    void Detail(std::string_view line);
    void Warn(std::string_view line);

    bool IsVerbose() const { return verbosity_ == Verbosity::Verbose; }
    static constexpr int kLinesPerSecond = 20;

private:
    void Write(std::string_view prefix, std::string_view line);
    void Limited(std::string_view prefix, std::string_view line);

    Verbosity verbosity_;
    const char* program_;   // each line starts with it
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point windowStart_ = start_;
    int linesInWindow_ = 0;
    long suppressed_ = 0;
    std::mutex mutex_;
};

} // namespace service
