#include "Station.h"

#include <algorithm>
#include <array>
#include <utility>

namespace cardsim {

namespace {

// The weakest signal strength that still carries each rate, fastest first.
constexpr std::array<std::pair<uint16_t, int>, 4> kRateThresholds = {{
    {8, 8},   // 11 Mbps
    {4, 5},   // 5.5 Mbps
    {2, 3},   // 2 Mbps
    {1, 1},   // 1 Mbps
}};

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

} // namespace

Station::Station(StationConfig config, WepSettings wep, RegulatoryDomain domain)
    : config_(std::move(config)), wep_(wep), domain_(domain), joinAt_(Millis{0})
{
}

uint16_t Station::CurrentRate(uint16_t rateSet, int strength)
{
    for (const auto& [rate, weakest] : kRateThresholds)
        if ((rateSet & rate) != 0 && strength >= weakest)
            return rate;
    for (auto it = kRateThresholds.rbegin(); it != kRateThresholds.rend(); ++it)
        if ((rateSet & it->first) != 0)
            return it->first;
    return 1;
}

void Station::Drop(Millis now, Random& random)
{
    joined_.reset();
    ownCell_.reset();
    missSaid_ = false;
    joinAt_ = now + Millis{random.Between(kJoinDelayMinMs, kJoinDelayMaxMs)};
}

bool Station::TakeConfig(const StationConfig& config, Millis now, Random& random)
{
    if (config == config_)
        return false;
    config_ = config;
    Drop(now, random);
    return true;
}

bool Station::TakeWep(const WepSettings& wep, Millis now, Random& random)
{
    if (wep == wep_)
        return false;
    wep_ = wep;
    Drop(now, random);
    return true;
}

void Station::SetCard(Card card, Millis now, Random& random)
{
    if (card == card_)
        return;
    card_ = card;
    if (card == Card::Out) {
        joined_.reset();
        ownCell_.reset();
        joinAt_.reset();
    } else {
        Drop(now, random);
    }
}

bool Station::Accepts(const Network& network) const
{
    if (network.signal <= 0 || !domain_.Allows(network.channel))
        return false;
    const NetworkKind wanted = WantsPeerToPeer() ? NetworkKind::PeerCell : NetworkKind::AccessPoint;
    if (network.kind != wanted)
        return false;
    // An empty name asks for any open network; a name asks for that network only.
    if (config_.name.empty())
        return network.wep.wepReq == kWepOff && wep_.wepReq == kWepOff;
    return network.name == config_.name && WepMatches(wep_, network.wep);
}

const Network* Station::Choose(const RadioEnvironment& environment) const
{
    const Network* best = nullptr;
    for (const Network& network : environment.Networks())
        if (Accepts(network) && (best == nullptr || network.signal > best->signal))
            best = &network;
    return best;
}

std::string Station::Join(Millis now, const RadioEnvironment& environment, Random& random)
{
    joinAt_.reset();
    if (const Network* network = Choose(environment)) {
        joined_ = network->bssid;
        return "joined " + Quoted(network->name) + " " + FormatBssid(network->bssid) +
               " on channel " + std::to_string(network->channel);
    }
    if (WantsPeerToPeer() && !config_.name.empty() && domain_.Allows(config_.dsChannel)) {
        Network cell;
        cell.name = config_.name;
        cell.kind = NetworkKind::PeerCell;
        cell.channel = static_cast<uint8_t>(config_.dsChannel);
        cell.wep = wep_;
        // A started cell takes a random, locally administered, individual address.
        for (uint8_t& byte : cell.bssid)
            byte = random.Byte();
        cell.bssid[0] = static_cast<uint8_t>((cell.bssid[0] & 0xFC) | 0x02);
        cell.signal = cell.quality = cell.base = cell.drift = 0;
        ownCell_ = cell;
        return "started peer-to-peer cell " + Quoted(cell.name) + " " + FormatBssid(cell.bssid) +
               " on channel " + std::to_string(cell.channel);
    }
    joinAt_ = now + kRescanPeriod;
    // Said once for each change of settings, so that the log shows the search came up empty
    // (and a person reading it why the link stays down) without a line every second.
    if (std::exchange(missSaid_, true))
        return {};
    return "no network takes " + (config_.name.empty() ? std::string("an empty name") : Quoted(config_.name)) +
           " with these settings; looking again every second";
}

std::string Station::Step(Millis now, const RadioEnvironment& environment, Random& random)
{
    if (card_ == Card::Out)
        return {};
    if (joined_) {
        const Network* network = environment.Find(*joined_);
        if (network != nullptr && network->signal > 0)
            return {};
        const std::string lost = "lost " + FormatBssid(*joined_) +
                                 (network ? ": out of range" : ": network gone");
        Drop(now, random);
        return lost;
    }
    if (ownCell_ || !joinAt_ || now < *joinAt_)
        return {};
    return Join(now, environment, random);
}

LinkInfo Station::Link(const RadioEnvironment& environment) const
{
    LinkInfo link;
    if (card_ == Card::Out)
        return link;
    if (ownCell_) {
        // Alone in its own cell the station hears nobody: no quality, no signal.
        link.associated = true;
        link.bssid = ownCell_->bssid;
        link.rate = CurrentRate(config_.txRate, kLevelMax);
        link.channel = ownCell_->channel;
        return link;
    }
    const Network* network = joined_ ? environment.Find(*joined_) : nullptr;
    if (network == nullptr)
        return link;
    link.associated = true;
    link.bssid = network->bssid;
    link.rate = CurrentRate(config_.txRate, network->signal);
    link.quality = static_cast<uint8_t>(std::clamp(network->quality, 0, kLevelMax));
    link.strength = static_cast<uint8_t>(std::clamp(network->signal, 0, kLevelMax));
    link.channel = network->channel;
    return link;
}

} // namespace cardsim
