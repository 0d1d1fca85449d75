#pragma once
// Reads the payloads of CMD_SET_CONFIG and CMD_SET_WEP from a copy of the block. Anyone may
// have written those bytes: every field is checked, nothing is read outside the 64 bytes,
// and a field that cannot be meant keeps the station's current value, with a warning.

#include "CardTypes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace service {

using BlockBytes = std::array<uint8_t, 64>;

class CommandDecoder {
public:
    // The configuration payload; fields that cannot be meant keep `current`'s values.
    static StationConfig DecodeConfig(const BlockBytes& block, const StationConfig& current,
                                      std::vector<std::string>& warnings);
    // The WEP payload; empty (the whole command ignored) for a mode other than 0, 2 or 6.
    // With WEP off the block carries no keys, so `current`'s stay.
    static std::optional<WepSettings> DecodeWep(const BlockBytes& block, const WepSettings& current,
                                                std::vector<std::string>& warnings);

    // The log's forms: type=Peer-to-Peer name="abc" rate=Fully Automatic ps=Disabled channel=6
    static std::string DescribeConfig(const StationConfig& config);
    // mode=64 Bit key=1; the key bytes stay out of the log.
    static std::string DescribeWep(const WepSettings& wep);

    static std::string NetworkTypeName(unsigned networkType);
    static std::string RateSetName(unsigned rateSet);
    static std::string PsModeName(unsigned psMode);
    // Printable text as it is where the locale can show it (see setlocale), anything else as \xNN.
    static std::string EscapedName(std::string_view name);
};

} // namespace service
