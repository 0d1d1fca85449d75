#pragma once
// The block has no descriptor to wait on, so the peer wakes the service through the block's
// command word (a futex wake on cmdWord after each post; only a process that has the block
// mapped can do that). A thread of its own sleeps on the word and turns each wake into a
// readable eventfd, which the serve loop polls beside the card's descriptors.
//
// A peer that wakes in a tight loop gets one look per kGap: the thread rests that long after
// each wake, then signals once more for whatever arrived meanwhile (its wake found nobody
// waiting, and the word may even hold its old value again), so nothing posted is left for
// the slow look that serves peers that never wake.

#include "link/ConnectBlock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace service {

class BlockWaker {
public:
    // Nothing, with the reason, when the eventfd or the thread cannot be had.
    static std::unique_ptr<BlockWaker> Start(ConnectBlock* block, std::string& error);
    BlockWaker(const BlockWaker&) = delete;
    BlockWaker& operator=(const BlockWaker&) = delete;
    // Stops and joins the thread; the block must still be mapped.
    ~BlockWaker();

    // Readable after a wake; Drain makes it quiet again.
    int Fd() const { return fd_; }
    void Drain();

    static constexpr std::chrono::milliseconds kGap{2};
    // The thread also looks at its stop flag this often: a block that another process shrank
    // is private memory now, where the stopping wake can no longer reach a waiter.
    static constexpr std::chrono::milliseconds kStopLook{1000};

private:
    BlockWaker(ConnectBlock* block, int fd) : block_(block), fd_(fd) {}
    void Run();
    void Signal();

    ConnectBlock* block_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace service
