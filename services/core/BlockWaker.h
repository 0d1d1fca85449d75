#pragma once
// The block has no descriptor to wait on, so the peer wakes the service through the block's
// command word (a futex wake on cmdWord after each post; only a process that has the block
// mapped can do that). A thread of its own sleeps on the word and turns each wake into a
// readable eventfd, which the serve loop polls beside the card's descriptors.
//
// The same thread serves a peer that writes the block without waking anyone: it looks every
// kClassicPeerPeriod whether the word still holds what the serve loop left there, and
// signals when it does not. That look is a futex time-out and one load, far cheaper than
// waking the whole loop to look.
//
// A peer that wakes in a tight loop gets one look per kGap: the thread rests that long after
// each wake, then signals once more for whatever arrived meanwhile (its wake found nobody
// waiting, and the word may even hold its old value again).

#include "link/ConnectBlock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace service {

class BlockWaker {
public:
    // Nothing, with the reason, when the eventfd or the thread cannot be had. A silent peer
    // is looked for every `classicPeriod`.
    static std::unique_ptr<BlockWaker> Start(ConnectBlock* block, std::string& error,
                                             std::chrono::milliseconds classicPeriod = kClassicPeerPeriod);
    BlockWaker(const BlockWaker&) = delete;
    BlockWaker& operator=(const BlockWaker&) = delete;
    // Stops and joins the thread; the block must still be mapped.
    ~BlockWaker();

    // Readable after a wake; Drain makes it quiet again.
    int Fd() const { return fd_; }
    void Drain();
    // The command word as the serve loop last read or acknowledged it: what a silent peer's
    // write is told from.
    void Handled(uint32_t word) { handled_.store(word, std::memory_order_release); }

    static constexpr std::chrono::milliseconds kGap{2};
    // How soon a peer that never wakes anyone is served (the thread's time-out also lets it
    // see its stop flag when the stopping wake cannot reach it: a block another process
    // shrank is private memory now).
    static constexpr std::chrono::milliseconds kClassicPeerPeriod{80};

private:
    BlockWaker(ConnectBlock* block, int fd, std::chrono::milliseconds classicPeriod)
        : block_(block), fd_(fd), classicPeriod_(classicPeriod)
    {
        handled_.store(std::atomic_ref<uint32_t>(block->cmdWord).load());
    }
    void Run();
    void Signal();

    ConnectBlock* block_;
    int fd_;
    std::chrono::milliseconds classicPeriod_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> handled_{0};
    std::thread thread_;
};

} // namespace service
