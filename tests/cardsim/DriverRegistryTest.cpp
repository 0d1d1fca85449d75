// The driver's side of the key: it reads what the utility saved, and installs defaults when
// the key is missing, in a private registry file.

#include "DriverRegistry.h"

#include "app/WlanSettings.h"
#include "platform/RegistryKey.h"
#include "support/TestEnvironment.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace service {
namespace {

using testing::HasSubstr;

class DriverRegistryTest : public testing::Test {
protected:
    void SetNumber(platform::RegistryKey& key, std::u16string_view name, uint32_t value)
    {
        key.SetValue(name, platform::REG_DWORD, &value, sizeof value);
    }
    void SetString(platform::RegistryKey& key, std::u16string_view name, std::u16string value)
    {
        key.SetValue(name, platform::REG_SZ, value.c_str(), static_cast<uint32_t>((value.size() + 1) * 2));
    }

    testenv::TempDir folder;
    testenv::ScopedEnv file{"WLAN_REGISTRY_FILE", (folder / "registry.reg").string()};
    std::vector<std::string> notes;
};

TEST_F(DriverRegistryTest, AMissingKeyIsCreatedWithTheDriversDefaults)
{
    const DriverSettings settings = DriverRegistry::Load(notes);
    EXPECT_EQ(settings.config, DriverRegistry::Defaults().config);
    EXPECT_THAT(notes.back(), HasSubstr("created the key"));
    const std::string text = testenv::ReadFile(folder / "registry.reg");
    EXPECT_THAT(text, HasSubstr("[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]"));
    EXPECT_THAT(text, HasSubstr("\"NetworkType\"=dword:00000001"));
    EXPECT_THAT(text, HasSubstr("\"SSID\"=\"\""));
    EXPECT_THAT(text, HasSubstr("\"TxRate\"=dword:0000000f"));
    EXPECT_THAT(text, HasSubstr("\"PSMode\"=dword:00000001"));
    EXPECT_THAT(text, HasSubstr("\"DSChannel\"=dword:00000006"));
    EXPECT_THAT(text, HasSubstr("\"WepReq\"=dword:00000000"));
    EXPECT_THAT(text, HasSubstr("\"DefaultKeys\"=\"0000000000000000000000000000000000000000\""));
    EXPECT_THAT(text, HasSubstr("\"DefaultKeyId\"=dword:00000001"));

    // The utility, which only opens the key, now finds it.
    EXPECT_TRUE(platform::RegistryKey::Open(kDriverParmsKey, platform::Access::Query));
}

TEST_F(DriverRegistryTest, TheEightValuesTheUtilitySavedAreTaken)
{
    auto key = platform::RegistryKey::Create(kDriverParmsKey);
    ASSERT_TRUE(key);
    SetNumber(*key, u"NetworkType", 0);
    SetString(*key, u"SSID", u"Harbour");
    SetNumber(*key, u"TxRate", 3);
    SetNumber(*key, u"PSMode", 2);
    SetNumber(*key, u"DSChannel", 11);
    SetNumber(*key, u"WepReq", 2);
    SetString(*key, u"DefaultKeys", u"8d2fddc61e0dcd931d1db2e8560f4a181bf72700");
    SetNumber(*key, u"DefaultKeyId", 4);
    ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);

    const DriverSettings settings = DriverRegistry::Load(notes);
    EXPECT_TRUE(notes.empty()) << notes.front();
    EXPECT_EQ(settings.config, (StationConfig{0, 3, 2, 11, "Harbour"}));
    EXPECT_EQ(settings.wep.wepReq, 2);
    EXPECT_EQ(settings.wep.defaultKeyId, 4);
    EXPECT_EQ(settings.wep.keys[0], 0x8d);
    EXPECT_EQ(settings.wep.keys[19], 0x00);
    EXPECT_EQ(settings.wep.keys[18], 0x27);
}

TEST_F(DriverRegistryTest, ValuesOutOfRangeOrMissingKeepTheirDefaults)
{
    auto key = platform::RegistryKey::Create(kDriverParmsKey);
    ASSERT_TRUE(key);
    SetNumber(*key, u"NetworkType", 7);
    SetString(*key, u"SSID", std::u16string(40, u'x'));
    SetNumber(*key, u"DSChannel", 0);
    SetString(*key, u"WepReq", u"2");
    SetString(*key, u"DefaultKeys", u"zz1");
    ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);

    const DriverSettings settings = DriverRegistry::Load(notes);
    EXPECT_EQ(settings.config.networkType, kAccessPoint);
    EXPECT_EQ(settings.config.name, "") << "a name past 33 bytes is no name, as in the block";
    EXPECT_EQ(settings.config.dsChannel, 6);
    EXPECT_EQ(settings.wep.wepReq, kWepOff);
    EXPECT_EQ(settings.wep.keys[0], 0) << "a pair that is not hexadecimal is 0";
    const std::string all = testing::PrintToString(notes);
    EXPECT_THAT(all, HasSubstr("NetworkType: 7 is out of range"));
    EXPECT_THAT(all, HasSubstr("SSID: longer than 33 bytes"));
    EXPECT_THAT(all, HasSubstr("DSChannel: 0 is out of range"));
    EXPECT_THAT(all, HasSubstr("WepReq: missing or not a 32-bit number"));
    EXPECT_THAT(all, HasSubstr("TxRate: missing"));
}

TEST_F(DriverRegistryTest, AnUnreadableFileIsNeitherOverwrittenNorReplaced)
{
    testenv::WriteFile(folder / "registry.reg", "this is not a registry file\n");
    const DriverSettings settings = DriverRegistry::Load(notes);
    EXPECT_EQ(settings.config, DriverRegistry::Defaults().config);
    EXPECT_THAT(notes.back(), HasSubstr("cannot be used"));
    EXPECT_EQ(testenv::ReadFile(folder / "registry.reg"), "this is not a registry file\n");
}

// A lock that another process keeps does not stall the start: the simulator starts with the
// key as it can read it (here none, so the defaults) and says why.
TEST_F(DriverRegistryTest, AHeldLockDelaysTheStartTwoSecondsAtMostAndIsNamed)
{
    const std::string lockPath = (folder / "registry.reg.lock").string();
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const DriverSettings settings = DriverRegistry::Load(notes);
    ::close(holder);
    EXPECT_EQ(settings.config, DriverRegistry::Defaults().config);
    ASSERT_FALSE(notes.empty());
    EXPECT_THAT(notes.back(), HasSubstr("could not be written"));
    EXPECT_THAT(notes.back(), HasSubstr(lockPath + ": another process has held the lock for more than 2 s"));
    EXPECT_FALSE(std::filesystem::exists(folder / "registry.reg"));
}

// A folder others may write is not the driver's: nothing is read from or created in it.
TEST_F(DriverRegistryTest, AFolderOthersMayWriteIsNotUsed)
{
    auto key = platform::RegistryKey::Create(kDriverParmsKey);
    ASSERT_TRUE(key);
    SetNumber(*key, u"DSChannel", 11);
    ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);
    const std::string before = testenv::ReadFile(folder / "registry.reg");
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    const DriverSettings settings = DriverRegistry::Load(notes);
    EXPECT_EQ(settings.config, DriverRegistry::Defaults().config);
    ASSERT_FALSE(notes.empty());
    EXPECT_THAT(notes.back(), HasSubstr("cannot be used"));
    EXPECT_THAT(notes.back(), HasSubstr("is writable by others"));
    EXPECT_EQ(testenv::ReadFile(folder / "registry.reg"), before);
}

} // namespace
} // namespace service
