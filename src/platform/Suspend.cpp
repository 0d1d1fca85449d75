#include "platform/Suspend.h"

#include <cerrno>
#include <mutex>
#include <time.h>

namespace platform {

namespace {

std::mutex& HookMutex()
{
    static std::mutex mutex;
    return mutex;
}

SuspendHook& Hook()
{
    static SuspendHook hook;
    return hook;
}

// A signal handler may cut nanosleep short; the caller asked for the whole time, so the
// remainder is slept again until it has passed.
void SleepFully(std::chrono::milliseconds duration)
{
    if (duration.count() <= 0)
        return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(seconds.count());
    remaining.tv_nsec = static_cast<long>((duration - seconds).count()) * 1'000'000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // namespace

void Suspend(std::chrono::milliseconds duration)
{
    SuspendHook hook;
    {
        std::lock_guard lock(HookMutex());
        hook = Hook();
    }
    // The hook runs outside the lock so that it may itself replace the hook.
    if (hook)
        hook(duration);
    else
        SleepFully(duration);
}

SuspendHook SetSuspendHook(SuspendHook hook)
{
    std::lock_guard lock(HookMutex());
    SuspendHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

} // namespace platform
