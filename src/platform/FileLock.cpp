#include "platform/FileLock.h"

#include <cerrno>
#include <sys/file.h>
#include <thread>

namespace platform {

bool LockWithinPatience(int fd, int operation, std::chrono::milliseconds patience)
{
    constexpr auto kPollInterval = std::chrono::milliseconds(1);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

} // namespace platform
