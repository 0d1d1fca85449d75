#include "RadioEnvironment.h"

#include <algorithm>

namespace cardsim {

namespace {

// Key bytes of the demo networks, from the passphrase generators of the Encryption page:
// "harbour" through the 64-bit generator (four keys), "lighthouse keeper" through the
// 128-bit generator (one key). Documented in the README; tests of the generators may use them.
constexpr std::array<uint8_t, 20> kHarbourKeys = {
    0x8d, 0x2f, 0xdd, 0xc6, 0x1e, 0x0d, 0xcd, 0x93, 0x1d, 0x1d,
    0xb2, 0xe8, 0x56, 0x0f, 0x4a, 0x18, 0x1b, 0xf7, 0x27, 0x00};
constexpr std::array<uint8_t, 20> kLighthouseKey = {
    0x47, 0xe1, 0x72, 0xe9, 0x94, 0xb0, 0x7e, 0xc8, 0x9e, 0x7b, 0x0f, 0x71, 0x27};

Network MakeNetwork(std::string name, Bssid bssid, NetworkKind kind, uint8_t channel,
                    WepSettings wep, int signal)
{
    Network network;
    network.name = std::move(name);
    network.bssid = bssid;
    network.kind = kind;
    network.channel = channel;
    network.wep = wep;
    network.signal = network.base = signal;
    network.quality = std::max(0, signal - 1);
    return network;
}

} // namespace

RadioEnvironment RadioEnvironment::Demo()
{
    RadioEnvironment demo;
    demo.networks_.push_back(MakeNetwork("CafeNet", {0x02, 0x43, 0x4E, 0x00, 0x00, 0x01},
                                         NetworkKind::AccessPoint, 6, {}, 11));
    demo.networks_.push_back(MakeNetwork("Harbour", {0x02, 0x48, 0x42, 0x00, 0x00, 0x02},
                                         NetworkKind::AccessPoint, 1,
                                         {kWep64, 1, kHarbourKeys}, 9));
    demo.networks_.push_back(MakeNetwork("Lighthouse", {0x02, 0x4C, 0x48, 0x00, 0x00, 0x04},
                                         NetworkKind::AccessPoint, 11,
                                         {kWep128, 1, kLighthouseKey}, 7));
    demo.networks_.push_back(MakeNetwork("Workbench", {0x02, 0x57, 0x42, 0x00, 0x00, 0x03},
                                         NetworkKind::PeerCell, 3, {}, 8));
    return demo;
}

const Network* RadioEnvironment::Find(const Bssid& bssid) const
{
    const auto it = std::ranges::find(networks_, bssid, &Network::bssid);
    return it == networks_.end() ? nullptr : &*it;
}

std::string RadioEnvironment::Add(Network network)
{
    if (Find(network.bssid))
        return "a network with BSSID " + FormatBssid(network.bssid) + " exists already";
    networks_.push_back(std::move(network));
    return {};
}

bool RadioEnvironment::Matches(const Network& network, std::string_view nameOrBssid)
{
    const auto bssid = ParseBssid(nameOrBssid);
    return bssid ? network.bssid == *bssid : network.name == nameOrBssid;
}

size_t RadioEnvironment::Remove(std::string_view nameOrBssid)
{
    return std::erase_if(networks_, [&](const Network& n) { return Matches(n, nameOrBssid); });
}

size_t RadioEnvironment::PinSignal(std::string_view nameOrBssid, int level)
{
    size_t count = 0;
    for (Network& network : networks_) {
        if (!Matches(network, nameOrBssid))
            continue;
        if (!network.walk)
            network.walk = Network::Walk{network.base, network.drift};
        network.signal = network.base = std::clamp(level, 0, kLevelMax);
        network.quality = std::max(0, network.signal - 1);
        network.drift = 0;
        ++count;
    }
    return count;
}

size_t RadioEnvironment::ReleaseSignal(std::string_view nameOrBssid)
{
    size_t count = 0;
    for (Network& network : networks_) {
        if (!Matches(network, nameOrBssid))
            continue;
        if (network.walk) {
            // The walk resumes; its next step brings the signal back within its range.
            network.base = network.walk->base;
            network.drift = network.walk->drift;
            network.walk.reset();
        }
        ++count;
    }
    return count;
}

size_t RadioEnvironment::PinSignal(const Bssid& bssid, int level)
{
    return PinSignal(FormatBssid(bssid), level);
}

void RadioEnvironment::Drift(Random& random)
{
    for (Network& network : networks_) {
        // Both draws happen for every network, pinned or not, so adding a pin does not
        // shift the numbers the other networks get.
        const int step = random.Between(-1, 1);
        const int loss = random.Between(0, 2);
        if (network.drift == 0)
            continue;
        const int low = std::max(0, network.base - network.drift);
        const int high = std::min(kLevelMax, network.base + network.drift);
        network.signal = std::clamp(network.signal + step, low, high);
        network.quality = std::max(0, network.signal - loss);
    }
}

} // namespace cardsim
