#include "CardTypes.h"

#include <cstdio>

namespace service {

std::optional<std::span<const uint8_t>> WepSettings::DefaultKey() const
{
    if (wepReq == kWep128)
        return std::span<const uint8_t>(keys.data(), 13);
    if (wepReq == kWep64 && defaultKeyId >= 1 && defaultKeyId <= 4)
        return std::span<const uint8_t>(keys.data() + (defaultKeyId - 1) * 5, 5);
    return std::nullopt;
}

std::string FormatBssid(const Bssid& bssid)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bssid[0], bssid[1],
                  bssid[2], bssid[3], bssid[4], bssid[5]);
    return text;
}

namespace {
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<uint8_t> ParseHexByte(std::string_view pair)
{
    if (pair.size() != 2)
        return std::nullopt;
    const int high = HexDigit(pair[0]);
    const int low = HexDigit(pair[1]);
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<uint8_t>(high * 16 + low);
}

std::optional<Bssid> ParseBssid(std::string_view text)
{
    // Six pairs of hexadecimal digits joined by colons: 17 characters exactly.
    if (text.size() != 17)
        return std::nullopt;
    Bssid bssid{};
    for (size_t i = 0; i < 6; ++i) {
        const auto byte = ParseHexByte(text.substr(i * 3, 2));
        if (!byte || (i < 5 && text[i * 3 + 2] != ':'))
            return std::nullopt;
        bssid[i] = *byte;
    }
    return bssid;
}

const char* WepModeName(uint8_t wepReq)
{
    switch (wepReq) {
    case kWepOff: return "off";
    case kWep64: return "64 Bit";
    case kWep128: return "128 Bit";
    default: return "unknown";
    }
}

} // namespace service
