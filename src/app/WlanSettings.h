#pragma once
// The utility's whole configuration: eight values under the card driver's parameter key,
// named after the registry values. Loaded once at start-up, saved by the pages' Apply.

#include <cstdint>
#include <string>
#include <string_view>

// HKEY_LOCAL_MACHINE\Comm\VQ731\Parms
inline constexpr std::u16string_view kDriverParmsKey = u"Comm\\VQ731\\Parms";

struct WlanSettings {
    // Declared in the reverse of the order in which they are read and written.
    uint32_t DefaultKeyId = 0;
    std::u16string DefaultKeys;
    uint32_t WepReq = 0;
    uint32_t DSChannel = 0;
    uint32_t PSMode = 0;
    uint32_t TxRate = 0;
    std::u16string SSID;
    uint32_t NetworkType = 0;

    // Read capacities, in characters besides the terminator.
    static constexpr size_t kSsidCapacity = 128;
    static constexpr size_t kDefaultKeysCapacity = 48;

    // Both always answer true; a key that cannot be opened changes nothing and writes nothing.
    bool LoadSettings();
    bool SaveSettings();
};
