#pragma once
// Suspending the calling thread. Tests replace the real sleep with a hook that records the
// requested time, so that nothing needs to sleep.

#include <chrono>
#include <functional>

namespace platform {

using SuspendHook = std::function<void(std::chrono::milliseconds)>;

void Suspend(std::chrono::milliseconds duration);
// Replaces the real suspension; an empty hook restores it. Answers the previous hook.
SuspendHook SetSuspendHook(SuspendHook hook);

} // namespace platform
