#include "app/WlanSettings.h"

#include "framework/MessageBox.h"
#include "platform/RegistryKey.h"
#include "platform/RegistryStore.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
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

// Why a save did not reach the file: the store's own line when it said one, else the status.
std::string FailureText(int32_t status)
{
    std::string why = platform::RegistryStore::LastFailure();
    if (!why.empty())
        return why;
    const std::string file = platform::RegistryFile().string();
    if (status == platform::ERROR_FILE_NOT_FOUND)
        return file + ": the key HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms is no longer in it";
    return file + ": status " + std::to_string(status);
}

// Saying nothing here would be a failure reported as success: the card takes the command,
// but the next start brings the old settings back. Said every time, on stderr and in a box
// over the sheet that shows once the Apply handler has posted its command.
void ReportFailedSave(int32_t status)
{
    const std::string why = FailureText(status);
    std::fprintf(stderr, "%s: settings not saved: %s\n", program_invocation_short_name, why.c_str());
    fw::PostMessageBox("The settings could not be saved:\n\n" + why +
                           "\n\nThey hold until the utility closes; the next start brings back "
                           "the settings saved before.",
                       u"Setup");
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
    // them in the file together when it is closed. Without the key nothing is written and
    // nothing said: the utility never creates it, the driver's side does.
    int32_t status = platform::ERROR_SUCCESS;
    auto key = RegistryKey::Open(kDriverParmsKey, platform::Access::Set, &status);
    if (!key) {
        if (status != platform::ERROR_FILE_NOT_FOUND)
            ReportFailedSave(status);
        return true;
    }
    SetNumber(*key, u"NetworkType", NetworkType);
    SetString(*key, u"SSID", SSID);
    SetNumber(*key, u"TxRate", TxRate);
    SetNumber(*key, u"PSMode", PSMode);
    SetNumber(*key, u"DSChannel", DSChannel);
    SetNumber(*key, u"WepReq", WepReq);
    SetString(*key, u"DefaultKeys", DefaultKeys);
    SetNumber(*key, u"DefaultKeyId", DefaultKeyId);
    status = key->Close();
    if (status != platform::ERROR_SUCCESS)
        ReportFailedSave(status);
    return true;
}
