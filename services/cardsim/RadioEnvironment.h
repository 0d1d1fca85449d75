#pragma once
// The networks the simulated card can hear, and the slow wandering of their signals.

#include "Network.h"
#include "Random.h"

#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

class RadioEnvironment {
public:
    // Three access points (open, 64-bit WEP, 128-bit WEP) and one peer-to-peer cell; the
    // keys come from documented passphrases (see --help and the README).
    static RadioEnvironment Demo();

    const std::vector<Network>& Networks() const { return networks_; }
    const Network* Find(const Bssid& bssid) const;

    // Answers an error text, empty on success: BSSIDs are unique.
    std::string Add(Network network);
    // Removes every network with that name or BSSID; answers how many went.
    size_t Remove(std::string_view nameOrBssid);
    // Fixes the signal of the networks with that name or BSSID at `level`: the walk leaves
    // them there. Answers how many were changed.
    size_t PinSignal(std::string_view nameOrBssid, int level);
    size_t PinSignal(const Bssid& bssid, int level);
    // Lets held signals wander again as they did before; answers how many networks matched.
    size_t ReleaseSignal(std::string_view nameOrBssid);

    // One step of the random walk: every signal moves by -1, 0 or +1 within base +- drift,
    // and the link quality follows a little below it. Draws the same numbers per network
    // whatever the signals are, so a seed repeats a run exactly.
    void Drift(Random& random);

private:
    static bool Matches(const Network& network, std::string_view nameOrBssid);
    std::vector<Network> networks_;
};

} // namespace cardsim
