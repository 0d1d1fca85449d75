#pragma once
// One network of the simulated radio environment: an access point or a peer-to-peer cell.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cardsim {

using Bssid = std::array<uint8_t, 6>;

enum class NetworkKind { AccessPoint, PeerCell };

// WEP modes as the block and the registry carry them.
inline constexpr uint8_t kWepOff = 0;
inline constexpr uint8_t kWep64 = 2;
inline constexpr uint8_t kWep128 = 6;

// The highest level of signal strength and link quality.
inline constexpr int kLevelMax = 15;

struct WepSettings {
    uint8_t wepReq = kWepOff;
    uint8_t defaultKeyId = 1;          // 1..4; only 64-bit WEP chooses among keys
    std::array<uint8_t, 20> keys{};    // four keys of five bytes, or one of 13

    // The key a station sends with: Key defaultKeyId for 64-bit WEP, the single key for
    // 128-bit. Empty when WEP is off or the default key is not one of the four.
    std::optional<std::span<const uint8_t>> DefaultKey() const;
    bool operator==(const WepSettings&) const = default;
};

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

std::string FormatBssid(const Bssid& bssid);
std::optional<Bssid> ParseBssid(std::string_view text);
// Two hexadecimal digits, either case.
std::optional<uint8_t> ParseHexByte(std::string_view pair);
const char* WepModeName(uint8_t wepReq);

} // namespace cardsim
