#include "ServeLoop.h"

#include "StopSignal.h"

#include <algorithm>
#include <string>

namespace service {

ServeLoop::ServeLoop(ConnectBlock* block, std::optional<Millis> fixedPeriod, Log& log)
    : fixedPeriod_(fixedPeriod)
{
    if (fixedPeriod_)
        return;
    std::string error;
    waker_ = BlockWaker::Start(block, error);
    if (!waker_)
        log.Start("the utility cannot wake this service (" + error + "): the block is looked at every " +
                  std::to_string(kClassicPeerPeriod.count()) + " ms");
}

Millis ServeLoop::Now() const
{
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start_);
}

void ServeLoop::Wait(std::span<pollfd> fds, Millis due, uint32_t handledWord)
{
    const Millis now = Now();
    Millis wait = std::max(due - now, Millis(0));
    if (fixedPeriod_)
        wait = *fixedPeriod_;
    else if (waker_)
        waker_->Handled(handledWord);
    else
        wait = std::min(wait, kClassicPeerPeriod);
    all_.assign(fds.begin(), fds.end());
    all_.push_back({StopSignal::Fd(), POLLIN, 0});
    if (waker_)
        all_.push_back({waker_->Fd(), POLLIN, 0});
    poll(all_.data(), all_.size(), static_cast<int>(wait.count()));
    for (size_t i = 0; i < fds.size(); ++i)
        fds[i].revents = all_[i].revents;
    if (waker_ && (all_.back().revents & POLLIN) != 0)
        waker_->Drain();
}

} // namespace service
