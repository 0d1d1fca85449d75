#pragma once
// A real card as wlan-connectd's serve loop drives it. The loop sleeps in one poll() over the
// peer's wakes and the card's descriptors, so a card never blocks and never polls on a
// clock of its own: it names what it waits on and when it must run next, and does its work
// when the loop calls Step.
//
// The block side (ServiceCard) is called from the same loop: TakeConfig and TakeWep answer at
// once (the work they start is done in later Steps), and Link answers what the card measured
// last, asking it to keep measuring while the block shows the link.

#include "ServiceCard.h"

#include <poll.h>

#include <span>
#include <vector>

namespace connectd {

using service::Millis;

class PolledCard : public service::ServiceCard {
public:
    // The descriptors to wait on, and (lowering `due`, never raising it) the latest time at
    // which Step must run even when none of them is ready.
    virtual std::vector<pollfd> WaitFds(Millis now, Millis& due) = 0;
    // After the wait: the descriptors WaitFds named, in the same order, with their revents.
    virtual void Step(std::span<const pollfd> fds, Millis now) = 0;
    // The service stops (a signal): leave the card as the README says a stop leaves it.
    // Bounded in time whatever the other side does.
    virtual void Stop() = 0;
};

} // namespace connectd
