#include "app/WlanSettings.h"

#include "platform/RegistryKey.h"

#include <array>
#include <vector>

namespace {

using platform::RegistryKey;

// A number is read straight into the member's four bytes: a shorter value replaces only that
// many bytes, from the lowest-order one, and its registry type is not looked at.
void QueryNumber(const RegistryKey& key, std::u16string_view name, uint32_t& member)
{
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(member >> (8 * i));
    uint32_t size = bytes.size();
    if (key.QueryValue(name, bytes.data(), &size) != platform::ERROR_SUCCESS)
        return;
    member = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        member |= static_cast<uint32_t>(bytes[i]) << (8 * i);
}

// A string is read into room for `capacity` characters and a terminator; it becomes the
// stored characters up to the first null. The buffer starts zeroed, so a value without a
// terminator (or with an odd last byte) still ends inside the buffer.
void QueryString(const RegistryKey& key, std::u16string_view name, size_t capacity,
                 std::u16string& member)
{
    std::vector<uint8_t> bytes((capacity + 1) * 2, 0);
    auto size = static_cast<uint32_t>(bytes.size());
    if (key.QueryValue(name, bytes.data(), &size) != platform::ERROR_SUCCESS)
        return;
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == u'\0')
            break;
        text += unit;
    }
    member = std::move(text);
}

void SetNumber(RegistryKey& key, std::u16string_view name, uint32_t member)
{
    const std::array<uint8_t, 4> bytes{static_cast<uint8_t>(member),
                                       static_cast<uint8_t>(member >> 8),
                                       static_cast<uint8_t>(member >> 16),
                                       static_cast<uint8_t>(member >> 24)};
    key.SetValue(name, platform::REG_DWORD, bytes.data(), bytes.size());
}

// Written whole at its current length, terminator included: the read capacity does not
// limit what is saved.
void SetString(RegistryKey& key, std::u16string_view name, const std::u16string& member)
{
    std::vector<uint8_t> bytes;
    bytes.reserve((member.size() + 1) * 2);
    for (char16_t unit : member) {
        bytes.push_back(static_cast<uint8_t>(unit));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    key.SetValue(name, platform::REG_SZ, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

} // namespace

bool WlanSettings::LoadSettings()
{
    auto key = RegistryKey::Open(kDriverParmsKey, platform::Access::Query);
    if (!key)
        return true;
    QueryNumber(*key, u"NetworkType", NetworkType);
    QueryString(*key, u"SSID", kSsidCapacity, SSID);
    QueryNumber(*key, u"TxRate", TxRate);
    QueryNumber(*key, u"PSMode", PSMode);
    QueryNumber(*key, u"DSChannel", DSChannel);
    QueryNumber(*key, u"WepReq", WepReq);
    QueryString(*key, u"DefaultKeys", kDefaultKeysCapacity, DefaultKeys);
    QueryNumber(*key, u"DefaultKeyId", DefaultKeyId);
    key->Close();
    return true;
}

bool WlanSettings::SaveSettings()
{
    // Whichever page applies, all eight values are written, in this order. The key lands
    // them in the file together when it is closed.
    auto key = RegistryKey::Open(kDriverParmsKey, platform::Access::Set);
    if (!key)
        return true;
    SetNumber(*key, u"NetworkType", NetworkType);
    SetString(*key, u"SSID", SSID);
    SetNumber(*key, u"TxRate", TxRate);
    SetNumber(*key, u"PSMode", PSMode);
    SetNumber(*key, u"DSChannel", DSChannel);
    SetNumber(*key, u"WepReq", WepReq);
    SetString(*key, u"DefaultKeys", DefaultKeys);
    SetNumber(*key, u"DefaultKeyId", DefaultKeyId);
    key->Close();
    return true;
}
