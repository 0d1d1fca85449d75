#pragma once
// The supplicant's card behind the serve loop's card interface, until SupplicantCard names its
// own wake-ups: it is stepped at least every kStepPeriod, as the loop stepped it before.

#include "PolledCard.h"
#include "SupplicantCard.h"

namespace connectd {

class SupplicantPolledCard final : public PolledCard {
public:
    SupplicantPolledCard(CardOptions options, StationConfig config, WepSettings wep, Log& log)
        : card_(std::move(options), std::move(config), wep, log)
    {
    }

    Card CardState() const override { return card_.CardState(); }
    LinkInfo Link() override { return card_.Link(); }
    uint16_t ChannelMask() const override { return card_.ChannelMask(); }
    const StationConfig& Config() const override { return card_.Config(); }
    const WepSettings& Wep() const override { return card_.Wep(); }
    bool TakeConfig(const StationConfig& config, Millis now) override { return card_.TakeConfig(config, now); }
    bool TakeWep(const WepSettings& wep, Millis now) override { return card_.TakeWep(wep, now); }

    std::vector<pollfd> WaitFds(Millis now, Millis& due) override
    {
        std::vector<pollfd> fds;
        for (int fd : card_.WaitFds())
            fds.push_back({fd, POLLIN, 0});
        due = std::min(due, now + kStepPeriod);
        return fds;
    }
    void Step(std::span<const pollfd>, Millis now) override { card_.Step(now); }
    void Stop() override {}

    static constexpr Millis kStepPeriod{100};

private:
    SupplicantCard card_;
};

} // namespace connectd
