#include "Log.h"

#include <cstdio>
#include <string>

namespace service {

void Log::Write(std::string_view prefix, std::string_view line)
{
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_);
    std::fprintf(stderr, "%s [%9.3f] %.*s%.*s\n", program_, elapsed.count(),
                 static_cast<int>(prefix.size()), prefix.data(), static_cast<int>(line.size()),
                 line.data());
    std::fflush(stderr);
}

void Log::Start(std::string_view line)
{
    const std::lock_guard hold(mutex_);
    Write("", line);
}

void Log::Info(std::string_view line) { Limited("", line); }

void Log::Warn(std::string_view line) { Limited("warning: ", line); }

void Log::Detail(std::string_view line)
{
    if (!IsVerbose())
        return;
    const std::lock_guard hold(mutex_);
    Write("", line);
}

void Log::Limited(std::string_view prefix, std::string_view line)
{
    const std::lock_guard hold(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (now - windowStart_ >= std::chrono::seconds(1)) {
        if (suppressed_ > 0)
            Write("", std::to_string(suppressed_) + " more lines suppressed");
        windowStart_ = now;
        linesInWindow_ = 0;
        suppressed_ = 0;
    }
    if (linesInWindow_ >= kLinesPerSecond) {
        ++suppressed_;
        return;
    }
    ++linesInWindow_;
    Write(prefix, line);
}

} // namespace service
