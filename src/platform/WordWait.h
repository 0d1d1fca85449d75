#pragma once
// Waiting for a 32-bit word of shared memory to change, and waking whoever waits on it: the
// Linux futex, whose waiters and wakers meet on the word's place in the shared object, so
// only a process that has the object mapped can wake a waiter. The block's peer wakes the
// service this way after each command it posts; a service then sleeps until there is work.

#include <chrono>
#include <cstdint>

namespace platform {

// Wakes every process waiting on `word`. Harmless when nobody waits.
void WakeWordWaiters(uint32_t* word);

enum class WordWait { Changed, Woken, TimedOut };

// Sleeps while `*word` still holds `seen`, until a wake, a signal or `limit` (none: no limit).
// Changed when the word no longer held `seen` on entry; Woken for a wake or a signal, which
// may or may not come with a change.
WordWait WaitWhileWordIs(uint32_t* word, uint32_t seen, std::chrono::milliseconds limit = std::chrono::milliseconds(-1));

} // namespace platform
