#include "CommandDecoder.h"

#include "link/ConnectBlock.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace service {

namespace {

uint16_t ReadU16(const BlockBytes& block, size_t offset)
{
    return static_cast<uint16_t>(block.at(offset) | block.at(offset + 1) << 8);
}

} // namespace

std::string CommandDecoder::NetworkTypeName(unsigned networkType)
{
    switch (networkType) {
    case kPeerToPeer: return "Peer-to-Peer";
    case kAccessPoint: return "Access Point";
    case kAutoNetworkType: return "Auto";
    default: return std::to_string(networkType);
    }
}

std::string CommandDecoder::RateSetName(unsigned rateSet)
{
    switch (rateSet) {
    case 1: return "1 Mbps";
    case 2: return "2 Mbps";
    case 3: return "1 or 2 Mbps";
    case 4: return "5.5 Mbps";
    case 8: return "11 Mbps";
    case 15: return "Fully Automatic";
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "set 0x%X", rateSet);
        return text;
    }
    }
}

std::string CommandDecoder::PsModeName(unsigned psMode)
{
    switch (psMode) {
    case 1: return "Disabled";
    case 2: return "Enabled";
    default: return std::to_string(psMode);
    }
}

std::string CommandDecoder::EscapedName(std::string_view name)
{
    // A character the locale can show is printed as itself; control characters, quotes,
    // backslashes and bytes the locale's code page cannot read are escaped as \xNN.
    std::string text;
    std::mbstate_t state{};
    for (size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        wchar_t wide = 0;
        const size_t length = byte < 0x80 ? 1 : std::mbrtowc(&wide, name.data() + at, name.size() - at, &state);
        if (byte < 0x80 ? byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\'
                        : length != 0 && length <= name.size() - at && std::iswprint(static_cast<wint_t>(wide))) {
            text.append(name.substr(at, length));
            at += length;
            continue;
        }
        state = {};
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", byte);
        text += escape;
        ++at;
    }
    return text;
}

StationConfig CommandDecoder::DecodeConfig(const BlockBytes& block, const StationConfig& current,
                                           std::vector<std::string>& warnings)
{
    StationConfig config = current;
    const uint16_t networkType = ReadU16(block, block::kConfigNetworkType);
    if (networkType == kPeerToPeer || networkType == kAccessPoint || networkType == kAutoNetworkType)
        config.networkType = networkType;
    else
        warnings.push_back("network type " + std::to_string(networkType) + " is not 0, 1 or 3: kept");

    const uint16_t txRate = ReadU16(block, block::kConfigTxRate);
    if (txRate >= 1 && txRate <= 15)
        config.txRate = txRate;
    else
        warnings.push_back("rate set " + std::to_string(txRate) + " names no rate: kept");

    const uint16_t psMode = ReadU16(block, block::kConfigPsMode);
    if (psMode == 1 || psMode == 2)
        config.psMode = psMode;
    else
        warnings.push_back("power-save mode " + std::to_string(psMode) + " is not 1 or 2: kept");

    const uint16_t channel = ReadU16(block, block::kConfigDsChannel);
    if (channel >= 1 && channel <= 14)
        config.dsChannel = channel;
    else
        warnings.push_back("channel " + std::to_string(channel) + " is not 1..14: kept");

    // The count decides how much is read: past 33 bytes lies the end of the block.
    const uint16_t count = ReadU16(block, block::kConfigNameCount);
    if (count <= block::kConfigNameCapacity)
        config.name.assign(reinterpret_cast<const char*>(block.data() + block::kConfigName), count);
    else
        warnings.push_back("name count " + std::to_string(count) + " is more than 33 bytes: name kept");
    return config;
}

std::optional<WepSettings> CommandDecoder::DecodeWep(const BlockBytes& block, const WepSettings& current,
                                                     std::vector<std::string>& warnings)
{
    const uint8_t wepReq = block[block::kWepReq];
    if (wepReq != kWepOff && wepReq != kWep64 && wepReq != kWep128) {
        warnings.push_back("WEP mode " + std::to_string(wepReq) + " is not 0, 2 or 6: command ignored");
        return std::nullopt;
    }
    WepSettings wep = current;
    wep.wepReq = wepReq;
    if (wepReq == kWepOff)
        return wep;
    wep.defaultKeyId = block[block::kWepDefaultKeyId];
    wep.keys.fill(0);
    const size_t keyBytes = wepReq == kWep64 ? 20 : 13;
    std::memcpy(wep.keys.data(), block.data() + block::kWepKeys, keyBytes);
    if (wepReq == kWep64 && (wep.defaultKeyId < 1 || wep.defaultKeyId > 4))
        warnings.push_back("default key " + std::to_string(wep.defaultKeyId) +
                           " is not 1..4: no key to send with, no WEP network will answer");
    return wep;
}

std::string CommandDecoder::DescribeConfig(const StationConfig& config)
{
    return "type=" + NetworkTypeName(config.networkType) + " name=\"" + EscapedName(config.name) +
           "\" rate=" + RateSetName(config.txRate) + " ps=" + PsModeName(config.psMode) +
           " channel=" + std::to_string(config.dsChannel);
}

std::string CommandDecoder::DescribeWep(const WepSettings& wep)
{
    std::string text = std::string("mode=") + WepModeName(wep.wepReq);
    if (wep.wepReq == kWep64)
        text += " key=" + std::to_string(wep.defaultKeyId);
    return text;
}

} // namespace service
