#include "DriverRegistry.h"

#include "app/WlanSettings.h"
#include "platform/RegistryKey.h"
#include "platform/RegistryStore.h"
#include "platform/TextConversion.h"

#include <array>
#include <functional>
#include <optional>

namespace service {

namespace {

using platform::RegistryKey;

std::optional<uint32_t> QueryNumber(const RegistryKey& key, std::u16string_view name)
{
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = 0;
    if (key.QueryValue(name, &value, &size, &type) != platform::ERROR_SUCCESS || size != sizeof value ||
        type != platform::REG_DWORD)
        return std::nullopt;
    return value;
}

std::optional<std::u16string> QueryString(const RegistryKey& key, std::u16string_view name)
{
    std::u16string buffer(256, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint32_t size = static_cast<uint32_t>(buffer.size() * sizeof(char16_t));
        uint32_t type = 0;
        const int32_t status = key.QueryValue(name, buffer.data(), &size, &type);
        if (status == platform::ERROR_MORE_DATA) {
            buffer.assign(size / sizeof(char16_t) + 1, u'\0');
            continue;
        }
        if (status != platform::ERROR_SUCCESS || type != platform::REG_SZ)
            return std::nullopt;
        buffer.resize(size / sizeof(char16_t));
        return buffer.substr(0, buffer.find(u'\0'));
    }
    return std::nullopt;
}

std::u16string HexText(std::span<const uint8_t> bytes)
{
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text;
    for (const uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// Takes a number when `valid` accepts it, else notes why the default stays.
void TakeNumber(const RegistryKey& key, std::u16string_view name, const char* label,
                const std::function<bool(uint32_t)>& valid, const std::function<void(uint32_t)>& take,
                std::vector<std::string>& notes)
{
    const auto value = QueryNumber(key, name);
    if (!value)
        notes.push_back(std::string(label) + ": missing or not a 32-bit number, default kept");
    else if (!valid(*value))
        notes.push_back(std::string(label) + ": " + std::to_string(*value) + " is out of range, default kept");
    else
        take(*value);
}

void ReadName(const RegistryKey& key, DriverSettings& settings, std::vector<std::string>& notes)
{
    const auto ssid = QueryString(key, u"SSID");
    if (!ssid) {
        notes.push_back("SSID: missing or not a string, default kept");
        return;
    }
    // The driver sees the name as the block carries it: 33 bytes of the ANSI code page at
    // most, and no name at all when it does not fit.
    std::array<uint8_t, 33> bytes{};
    const size_t count = platform::WideToAnsi(*ssid, bytes);
    if (count == 0 && !ssid->empty())
        notes.push_back("SSID: longer than 33 bytes, taken as no name");
    settings.config.name.assign(reinterpret_cast<const char*>(bytes.data()), count);
}

void ReadKeys(const RegistryKey& key, DriverSettings& settings, std::vector<std::string>& notes)
{
    const auto text = QueryString(key, u"DefaultKeys");
    if (!text) {
        notes.push_back("DefaultKeys: missing or not a string, default kept");
        return;
    }
    // Two hexadecimal digits a byte, 20 bytes at most; a pair that is not hexadecimal is 0.
    settings.wep.keys.fill(0);
    for (size_t i = 0; i < settings.wep.keys.size() && i * 2 + 1 < text->size(); ++i) {
        const char pair[2] = {static_cast<char>((*text)[i * 2] & 0x7F), static_cast<char>((*text)[i * 2 + 1] & 0x7F)};
        settings.wep.keys[i] = ParseHexByte(std::string_view(pair, 2)).value_or(0);
    }
}

void Read(const RegistryKey& key, DriverSettings& settings, std::vector<std::string>& notes)
{
    auto& config = settings.config;
    auto& wep = settings.wep;
    TakeNumber(key, u"NetworkType", "NetworkType",
               [](uint32_t v) { return v == kPeerToPeer || v == kAccessPoint || v == kAutoNetworkType; },
               [&](uint32_t v) { config.networkType = static_cast<uint16_t>(v); }, notes);
    ReadName(key, settings, notes);
    TakeNumber(key, u"TxRate", "TxRate", [](uint32_t v) { return v >= 1 && v <= 15; },
               [&](uint32_t v) { config.txRate = static_cast<uint16_t>(v); }, notes);
    TakeNumber(key, u"PSMode", "PSMode", [](uint32_t v) { return v == 1 || v == 2; },
               [&](uint32_t v) { config.psMode = static_cast<uint16_t>(v); }, notes);
    TakeNumber(key, u"DSChannel", "DSChannel", [](uint32_t v) { return v >= 1 && v <= 14; },
               [&](uint32_t v) { config.dsChannel = static_cast<uint16_t>(v); }, notes);
    TakeNumber(key, u"WepReq", "WepReq", [](uint32_t v) { return v == kWepOff || v == kWep64 || v == kWep128; },
               [&](uint32_t v) { wep.wepReq = static_cast<uint8_t>(v); }, notes);
    ReadKeys(key, settings, notes);
    TakeNumber(key, u"DefaultKeyId", "DefaultKeyId", [](uint32_t v) { return v >= 1 && v <= 4; },
               [&](uint32_t v) { wep.defaultKeyId = static_cast<uint8_t>(v); }, notes);
}

void SetNumber(RegistryKey& key, std::u16string_view name, uint32_t value)
{
    key.SetValue(name, platform::REG_DWORD, &value, sizeof value);
}

void SetString(RegistryKey& key, std::u16string_view name, const std::u16string& value)
{
    key.SetValue(name, platform::REG_SZ, value.c_str(),
                 static_cast<uint32_t>((value.size() + 1) * sizeof(char16_t)));
}

// The status, and the store's line that says why when it said one.
std::string Why(int32_t status)
{
    const std::string line = platform::RegistryStore::LastFailure();
    return "status " + std::to_string(status) + (line.empty() ? "" : ": " + line);
}

void Install(const DriverSettings& settings, std::vector<std::string>& notes)
{
    int32_t status = 0;
    auto key = RegistryKey::Create(kDriverParmsKey, &status);
    if (!key) {
        notes.push_back("the key cannot be created (" + Why(status) + "): running with defaults");
        return;
    }
    const auto& config = settings.config;
    SetNumber(*key, u"NetworkType", config.networkType);
    SetString(*key, u"SSID", u"");
    SetNumber(*key, u"TxRate", config.txRate);
    SetNumber(*key, u"PSMode", config.psMode);
    SetNumber(*key, u"DSChannel", config.dsChannel);
    SetNumber(*key, u"WepReq", settings.wep.wepReq);
    SetString(*key, u"DefaultKeys", HexText(settings.wep.keys));
    SetNumber(*key, u"DefaultKeyId", settings.wep.defaultKeyId);
    status = key->Close();
    notes.push_back(status == platform::ERROR_SUCCESS
                        ? "created the key with the driver's defaults in " + platform::RegistryFile().string()
                        : "the key's defaults could not be written (" + Why(status) + "): running with defaults");
}

} // namespace

DriverSettings DriverRegistry::Defaults()
{
    return DriverSettings{};
}

DriverSettings DriverRegistry::Load(std::vector<std::string>& notes)
{
    DriverSettings settings = Defaults();
    int32_t status = 0;
    auto key = RegistryKey::Open(kDriverParmsKey, platform::Access::Query, &status);
    if (key) {
        Read(*key, settings, notes);
        key->Close();
    } else if (status == platform::ERROR_FILE_NOT_FOUND) {
        Install(settings, notes);
    } else {
        notes.push_back("the registry file " + platform::RegistryFile().string() +
                        " cannot be used (" + Why(status) + "): running with defaults");
    }
    return settings;
}

} // namespace service
