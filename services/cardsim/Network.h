#pragma once
// One network of the simulated radio environment: an access point or a peer-to-peer cell.

#include "CardTypes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cardsim {

// The simulator speaks the service core's language: its settings, keys and links.
using namespace service;

enum class NetworkKind { AccessPoint, PeerCell };

// Two parties understand each other when they use the same mode and send with the same key.
bool WepMatches(const WepSettings& station, const WepSettings& network);

struct Network {
    std::string name;                  // the network name as bytes of the ANSI code page
    Bssid bssid{};
    NetworkKind kind = NetworkKind::AccessPoint;
    uint8_t channel = 1;               // 1..14
    WepSettings wep;
    int signal = 10;                   // signal strength now, 0..15; 0 is out of range
    int quality = 9;                   // link quality now, 0..15
    int base = 10;                     // the level the signal wanders around
    int drift = 2;                     // how far it may wander from base; 0 pins it
    struct Walk {
        int base;
        int drift;
    };
    std::optional<Walk> walk;          // the walk a held signal left, to resume when released
};

} // namespace cardsim
