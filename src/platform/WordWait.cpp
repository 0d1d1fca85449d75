#include "platform/WordWait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace platform {

// Not FUTEX_PRIVATE_FLAG: the word lives in memory shared with another process.

void WakeWordWaiters(uint32_t* word)
{
    syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

WordWait WaitWhileWordIs(uint32_t* word, uint32_t seen, std::chrono::milliseconds limit)
{
    timespec timeout{};
    timespec* bounded = nullptr;
    if (limit.count() >= 0) {
        timeout.tv_sec = static_cast<time_t>(limit.count() / 1000);
        timeout.tv_nsec = static_cast<long>(limit.count() % 1000) * 1'000'000;
        bounded = &timeout;
    }
    if (syscall(SYS_futex, word, FUTEX_WAIT, seen, bounded, nullptr, 0) == 0)
        return WordWait::Woken;
    switch (errno) {
    case EAGAIN:
        return WordWait::Changed;
    case ETIMEDOUT:
        return WordWait::TimedOut;
    default:
        return WordWait::Woken;   // EINTR, or a word no longer mapped shared: look again
    }
}

} // namespace platform
