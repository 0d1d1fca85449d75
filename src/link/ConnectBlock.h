#pragma once
// The 64-byte block shared with the connection service, little-endian, no header. The
// utility writes cmdWord and the command payloads; the service writes statusWord and the
// status payloads.

#include <cstddef>
#include <cstdint>

struct ConnectBlock {
    uint32_t cmdWord;      // bits 24-31 command code, bits 0-23 item mask
    uint32_t statusWord;   // bits 24-31 status code
    uint8_t payload[56];   // offsets 8..63 of the block
};

static_assert(sizeof(ConnectBlock) == 64);
static_assert(alignof(ConnectBlock) == 4);
static_assert(offsetof(ConnectBlock, cmdWord) == 0);
static_assert(offsetof(ConnectBlock, statusWord) == 4);
static_assert(offsetof(ConnectBlock, payload) == 8);

// Command codes (top byte of cmdWord).
inline constexpr uint8_t CMD_LINK_INFO = 0x11;
inline constexpr uint8_t CMD_CHANNEL_LIST = 0x12;
inline constexpr uint8_t CMD_SET_CONFIG = 0x21;
inline constexpr uint8_t CMD_SET_WEP = 0x22;

// Status codes (top byte of statusWord).
inline constexpr uint8_t STAT_CARD_IN = 0x01;
inline constexpr uint8_t STAT_CARD_OUT = 0x0F;
inline constexpr uint8_t STAT_LINK_INFO = 0x11;
inline constexpr uint8_t STAT_CHANNEL_LIST = 0x12;

// Offsets of the payload fields, from the start of the block.
namespace block {
inline constexpr size_t kSize = 64;

// Configuration payload, with CMD_SET_CONFIG.
inline constexpr size_t kConfigNetworkType = 8;   // u16
inline constexpr size_t kConfigTxRate = 10;       // u16
inline constexpr size_t kConfigPsMode = 12;       // u16
inline constexpr size_t kConfigDsChannel = 14;    // u16
inline constexpr size_t kConfigNameCount = 16;    // u16
inline constexpr size_t kConfigName = 18;         // up to 33 bytes, no terminator
inline constexpr size_t kConfigNameCapacity = 33;

// WEP payload, with CMD_SET_WEP.
inline constexpr size_t kWepReq = 8;              // u8
inline constexpr size_t kWepDefaultKeyId = 9;     // u8
inline constexpr size_t kWepKeys = 10;            // 20 or 13 bytes

// Channel-list payload, with STAT_CHANNEL_LIST.
inline constexpr size_t kChannelMask = 8;         // u16, bit i: channel i + 1

// Link-information payload, with STAT_LINK_INFO.
inline constexpr size_t kLinkBssid = 8;           // 6 bytes; six 0x44 bytes: not associated
inline constexpr size_t kLinkRate = 14;           // u16
inline constexpr size_t kLinkQuality = 16;        // u8, 0..15
inline constexpr size_t kLinkStrength = 17;       // u8, 0..15
inline constexpr size_t kLinkChannel = 18;        // u8
inline constexpr size_t kLinkInfoEnd = 20;        // bytes 8..19 are zeroed after CMD_LINK_INFO
inline constexpr uint8_t kNotAssociated = 0x44;

static_assert(kConfigName + kConfigNameCapacity <= kSize);
static_assert(kWepKeys + 20 <= kSize);
} // namespace block
