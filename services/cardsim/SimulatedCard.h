#pragma once
// The simulated station as the service core's card: its link is read against the radio
// environment, and its joins draw their delays from the simulator's event stream.

#include "RadioEnvironment.h"
#include "Random.h"
#include "ServiceCard.h"
#include "Station.h"

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

class SimulatedCard final : public ServiceCard {
public:
    SimulatedCard(Station& station, const RadioEnvironment& environment, Random& random)
        : station_(station), environment_(environment), random_(random)
    {
    }

    Card CardState() const override { return station_.CardState(); }
    LinkInfo Link() override { return station_.Link(environment_); }
    uint16_t ChannelMask() const override { return station_.Domain().ChannelMask(); }
    const StationConfig& Config() const override { return station_.Config(); }
    const WepSettings& Wep() const override { return station_.Wep(); }
    bool TakeConfig(const StationConfig& config, Millis now) override
    {
        return station_.TakeConfig(config, now, random_);
    }
    bool TakeWep(const WepSettings& wep, Millis now) override { return station_.TakeWep(wep, now, random_); }

private:
    Station& station_;
    const RadioEnvironment& environment_;
    Random& random_;
};

} // namespace cardsim
