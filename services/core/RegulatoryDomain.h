#pragma once
// Where the card is sold decides which channels it may use.

#include <cstdint>
#include <optional>
#include <string_view>

namespace service {

class RegulatoryDomain {
public:
    // "fcc" (channels 1-11), "etsi" (1-13), "japan" (1-14); empty for any other name.
    static std::optional<RegulatoryDomain> FromName(std::string_view name);
    static constexpr std::string_view kNames = "fcc, etsi, japan";

    std::string_view Name() const { return name_; }
    // Bit i set: channel i + 1 may be used.
    uint16_t ChannelMask() const { return mask_; }
    bool Allows(unsigned channel) const
    {
        return channel >= 1 && channel <= 14 && (mask_ >> (channel - 1) & 1) != 0;
    }

private:
    constexpr RegulatoryDomain(std::string_view name, uint16_t mask) : name_(name), mask_(mask) {}
    std::string_view name_;
    uint16_t mask_;
};

} // namespace service
