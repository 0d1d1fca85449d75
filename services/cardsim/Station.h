#pragma once
// The simulated card as an 802.11b station: its configuration, its WEP settings, whether it
// is inserted, and which network it has joined. Time is passed in, never read, so tests
// can drive it step by step.

#include "Network.h"
#include "RadioEnvironment.h"
#include "Random.h"
#include "RegulatoryDomain.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

class Station {
public:
    Station(StationConfig config, WepSettings wep, RegulatoryDomain domain);

    // A changed setting drops the link; the station joins again after a short delay, as a
    // card does after its firmware has been reprogrammed. Answers whether anything changed.
    bool TakeConfig(const StationConfig& config, Millis now, Random& random);
    bool TakeWep(const WepSettings& wep, Millis now, Random& random);
    void SetCard(Card card, Millis now, Random& random);

    // Joins when a join is due, drops a network that has gone or fallen silent. Answers a
    // line for the log when the link changed, else an empty text.
    std::string Step(Millis now, const RadioEnvironment& environment, Random& random);

    LinkInfo Link(const RadioEnvironment& environment) const;
    // When Step has a join to attempt next, if any.
    std::optional<Millis> JoinDue() const { return joinAt_; }
    Card CardState() const { return card_; }
    const StationConfig& Config() const { return config_; }
    const WepSettings& Wep() const { return wep_; }
    const RegulatoryDomain& Domain() const { return domain_; }

    // The highest rate of `rateSet` that a signal of `strength` carries; the lowest rate of
    // the set when the signal carries none of them.
    static uint16_t CurrentRate(uint16_t rateSet, int strength);

    // How long a join takes after a change, and how often an idle station scans again.
    static constexpr int kJoinDelayMinMs = 300;
    static constexpr int kJoinDelayMaxMs = 800;
    static constexpr Millis kRescanPeriod{1000};

private:
    bool WantsPeerToPeer() const { return config_.networkType == kPeerToPeer; }
    bool Accepts(const Network& network) const;
    const Network* Choose(const RadioEnvironment& environment) const;
    std::string Join(Millis now, const RadioEnvironment& environment, Random& random);
    void Drop(Millis now, Random& random);

    StationConfig config_;
    WepSettings wep_;
    RegulatoryDomain domain_;
    Card card_ = Card::In;
    std::optional<Bssid> joined_;         // a network of the environment
    std::optional<Network> ownCell_;      // a peer-to-peer cell this station started
    std::optional<Millis> joinAt_;        // when the next join attempt is due
    bool missSaid_ = false;               // an empty search was logged since the last change
};

} // namespace cardsim
