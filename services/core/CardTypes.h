#pragma once
// What a connection service knows about its card, whichever card it is: the settings the
// utility sends (network and WEP), the link it reports, and whether the card is there.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace service {

// Time since the service started; passed in, never read, so tests can drive it step by step.
using Millis = std::chrono::milliseconds;

using Bssid = std::array<uint8_t, 6>;

// WEP modes as the block and the registry carry them.
inline constexpr uint8_t kWepOff = 0;
inline constexpr uint8_t kWep64 = 2;
inline constexpr uint8_t kWep128 = 6;

// The highest level of signal strength and link quality.
inline constexpr int kLevelMax = 15;

// Network types as the block and the registry carry them.
inline constexpr uint16_t kPeerToPeer = 0;
inline constexpr uint16_t kAccessPoint = 1;
inline constexpr uint16_t kAutoNetworkType = 3;   // no own meaning: joins access points

struct WepSettings {
    uint8_t wepReq = kWepOff;
    uint8_t defaultKeyId = 1;          // 1..4; only 64-bit WEP chooses among keys
    std::array<uint8_t, 20> keys{};    // four keys of five bytes, or one of 13

    // The key a station sends with: Key defaultKeyId for 64-bit WEP, the single key for
    // 128-bit. Empty when WEP is off or the default key is not one of the four.
    std::optional<std::span<const uint8_t>> DefaultKey() const;
    bool operator==(const WepSettings&) const = default;
};

struct StationConfig {
    uint16_t networkType = kAccessPoint;
    uint16_t txRate = 15;      // set of rates: 1 = 1, 2 = 2, 4 = 5.5, 8 = 11 Mbps
    uint16_t psMode = 1;       // 1 disabled, 2 enabled
    uint16_t dsChannel = 6;    // the channel a new peer-to-peer cell starts on
    std::string name;          // bytes of the ANSI code page, at most 33
    bool operator==(const StationConfig&) const = default;
};

struct LinkInfo {
    bool associated = false;
    Bssid bssid{};
    uint16_t rate = 0;         // one rate code: 1, 2, 4 or 8
    uint8_t quality = 0;
    uint8_t strength = 0;
    uint8_t channel = 0;
};

enum class Card { In, Out };

std::string FormatBssid(const Bssid& bssid);
std::optional<Bssid> ParseBssid(std::string_view text);
// Two hexadecimal digits, either case.
std::optional<uint8_t> ParseHexByte(std::string_view pair);
const char* WepModeName(uint8_t wepReq);

} // namespace service
