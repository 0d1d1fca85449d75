#include "BlockDump.h"

#include "Network.h"
#include "link/ConnectBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cardsim {

namespace {

uint32_t U32(const BlockBytes& block, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(block[offset + i]) << (8 * i);
    return value;
}

uint16_t U16(const BlockBytes& block, size_t offset)
{
    return static_cast<uint16_t>(block[offset] | block[offset + 1] << 8);
}

std::string Format(const char* format, auto... values)
{
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string HexBytes(const BlockBytes& block, size_t from, size_t count)
{
    std::string text;
    for (size_t i = from; i < from + count && i < block.size(); ++i)
        text += Format("%02x", block[i]);
    return text;
}

std::string ChannelList(uint16_t mask)
{
    std::string text;
    for (unsigned bit = 0; bit < 14; ++bit)
        if ((mask >> bit & 1) != 0)
            text += (text.empty() ? "" : " ") + std::to_string(bit + 1);
    return text.empty() ? "none" : text;
}

std::string LinkView(const BlockBytes& block)
{
    Bssid bssid;
    std::memcpy(bssid.data(), block.data() + block::kLinkBssid, bssid.size());
    const bool none = std::all_of(bssid.begin(), bssid.end(), [](uint8_t b) { return b == block::kNotAssociated; });
    return "as link info:     BSSID " + FormatBssid(bssid) + (none ? " (not associated)" : "") +
           Format(", rate code %u, quality %u, strength %u, channel %u\n", U16(block, block::kLinkRate),
                  block[block::kLinkQuality], block[block::kLinkStrength], block[block::kLinkChannel]);
}

std::string ConfigView(const BlockBytes& block)
{
    const uint16_t count = U16(block, block::kConfigNameCount);
    std::string name = count <= block::kConfigNameCapacity
        ? "\"" + CommandDecoder::EscapedName(std::string_view(
                     reinterpret_cast<const char*>(block.data() + block::kConfigName), count)) + "\""
        : "(count past the block)";
    return "as configuration: type " +
           CommandDecoder::NetworkTypeName(U16(block, block::kConfigNetworkType)) + ", rate " +
           CommandDecoder::RateSetName(U16(block, block::kConfigTxRate)) + ", ps " +
           CommandDecoder::PsModeName(U16(block, block::kConfigPsMode)) +
           Format(", channel %u, name count %u ", U16(block, block::kConfigDsChannel), count) + name + "\n";
}

std::string WepView(const BlockBytes& block)
{
    const uint8_t mode = block[block::kWepReq];
    return Format("as WEP:           mode %u (%s), default key %u, keys ", mode, WepModeName(mode),
                  block[block::kWepDefaultKeyId]) +
           HexBytes(block, block::kWepKeys, 5) + " " + HexBytes(block, block::kWepKeys + 5, 5) + " " +
           HexBytes(block, block::kWepKeys + 10, 5) + " " + HexBytes(block, block::kWepKeys + 15, 5) + "\n";
}

} // namespace

std::string BlockDump::CommandName(uint8_t code)
{
    switch (code) {
    case 0: return "none";
    case CMD_LINK_INFO: return "CMD_LINK_INFO";
    case CMD_CHANNEL_LIST: return "CMD_CHANNEL_LIST";
    case CMD_SET_CONFIG: return "CMD_SET_CONFIG";
    case CMD_SET_WEP: return "CMD_SET_WEP";
    default: return "unknown";
    }
}

std::string BlockDump::StatusName(uint8_t code)
{
    switch (code) {
    case 0: return "none";
    case STAT_CARD_IN: return "STAT_CARD_IN";
    case STAT_CARD_OUT: return "STAT_CARD_OUT";
    case STAT_LINK_INFO: return "STAT_LINK_INFO";
    case STAT_CHANNEL_LIST: return "STAT_CHANNEL_LIST";
    default: return "unknown";
    }
}

std::string BlockDump::Describe(const BlockBytes& block)
{
    const uint32_t cmd = U32(block, 0);
    const uint32_t status = U32(block, 4);
    std::string text = Format("cmdWord    0x%08X  command 0x%02X %s, item mask 0x%06X\n", cmd, cmd >> 24,
                              CommandName(static_cast<uint8_t>(cmd >> 24)).c_str(), cmd & 0xFFFFFF);
    text += Format("statusWord 0x%08X  status 0x%02X %s, count %u\n", status, status >> 24,
                   StatusName(static_cast<uint8_t>(status >> 24)).c_str(), status & 0xFFFFFF);
    for (size_t row = 8; row < block.size(); row += 16) {
        text += Format("  %02zu:", row);
        for (size_t i = row; i < row + 16 && i < block.size(); ++i)
            text += Format(" %02x", block[i]);
        text += "\n";
    }
    const uint16_t mask = U16(block, block::kChannelMask);
    text += LinkView(block);
    text += Format("as channel list:  mask 0x%04X, channels ", mask) + ChannelList(mask) + "\n";
    text += ConfigView(block);
    text += WepView(block);
    return text;
}

} // namespace cardsim
