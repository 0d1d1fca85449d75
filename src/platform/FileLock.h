#pragma once
// Taking an flock without waiting on it for ever. The locks this system takes (the block's
// lifetime lock, the registry writers' lock) are held for a moment by processes that follow
// the protocol; one held longer belongs to a stuck or hostile process, and neither the
// utility nor a service may hang on it.

#include <chrono>

namespace platform {

// How long a lock is waited for before the caller gives up.
inline constexpr std::chrono::seconds kLockPatience{2};

// Tries `operation` (LOCK_SH or LOCK_EX) without blocking, again and again until `patience`
// has passed. Answers false on any other error, or on time out with errno EWOULDBLOCK.
bool LockWithinPatience(int fd, int operation, std::chrono::milliseconds patience = kLockPatience);

} // namespace platform
