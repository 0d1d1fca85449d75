#pragma once
// How a connection service sleeps between pieces of work: in one poll() over the card's
// descriptors, a stop signal and the peer's wakes (BlockWaker), until the next duty the
// caller names. A peer that writes the block without waking anyone is still served within
// a tenth of a second: the waker looks for it (or, without a waker, the loop itself).
//
// With a fixed period the loop instead looks at the block every period and takes no wakes:
// how the services served the block before they could sleep, kept for the benchmark that
// compares the two.

#include "BlockWaker.h"
#include "CardTypes.h"
#include "Log.h"

#include <poll.h>

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace service {

class ServeLoop {
public:
    // Falls back to looking every kClassicPeerPeriod, with one line in the log, when no waker
    // can be had.
    ServeLoop(ConnectBlock* block, std::optional<Millis> fixedPeriod, Log& log);

    // Time since the loop was made, and the same time as a clock's time point and back (rounded
    // up, so a deadline is never taken for passed early).
    Millis Now() const;
    std::chrono::steady_clock::time_point At(Millis time) const { return start_ + time; }
    Millis Of(std::chrono::steady_clock::time_point point) const { return std::chrono::ceil<Millis>(point - start_); }
    // Sleeps until one of `fds` is ready (their revents are filled in), the peer wakes us, a
    // stop is asked for, or `due`, whichever comes first. `handledWord` is the command word
    // as the block service left it.
    void Wait(std::span<pollfd> fds, Millis due, uint32_t handledWord);

    static constexpr Millis kClassicPeerPeriod = BlockWaker::kClassicPeerPeriod;

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::optional<Millis> fixedPeriod_;
    std::unique_ptr<BlockWaker> waker_;
    std::vector<pollfd> all_;
};

} // namespace service
