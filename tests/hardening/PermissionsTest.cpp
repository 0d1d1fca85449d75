// Links planted where the settings are kept: a save replaces the link, never writes through
// it, and leaves the file it pointed at as it was. The modes of the file, its folder, the
// temporary file, the block and the simulator's socket have their own tests next to their
// code (tests/platform, tests/cardsim).
#include "app/WlanSettings.h"
#include "support/TestEnvironment.h"

#include <sys/stat.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr char kParms[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                          "\"SSID\"=\"victim\"\r\n\r\n";

WlanSettings Changed()
{
    WlanSettings settings;
    settings.SSID = u"changed";
    settings.TxRate = 15;
    return settings;
}

TEST(PermissionsTest, ASaveReplacesALinkedRegistryFileAndNeverWritesThroughIt)
{
    testenv::TempDir dir;
    const auto victim = dir / "victim.reg";
    const auto file = dir / "registry.reg";
    testenv::WriteFile(victim, kParms);
    std::filesystem::permissions(victim, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_symlink(victim, file);
    testenv::ScopedEnv env("WLAN_REGISTRY_FILE", file.string());

    WlanSettings settings = Changed();
    settings.SaveSettings();

    EXPECT_EQ(testenv::ReadFile(victim), kParms) << "the file behind the link is untouched";
    // The link is replaced by a file of the user's own, for the user only, with the save in it.
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(testenv::ReadFile(file).find("\"SSID\"=\"changed\""), std::string::npos);
}

TEST(PermissionsTest, ALinkedLockFileIsNeitherFollowedNorTruncated)
{
    testenv::TempDir dir;
    const auto victim = dir / "victim";
    const auto file = dir / "registry.reg";
    testenv::WriteFile(victim, "precious");
    testenv::WriteFile(file, kParms);
    std::filesystem::create_symlink(victim, dir / "registry.reg.lock");
    testenv::ScopedEnv env("WLAN_REGISTRY_FILE", file.string());

    // The lock is never taken through a link, so the save is refused and says so (the
    // result of a save is true whatever happens; failures are reported, not returned).
    WlanSettings settings = Changed();
    testing::internal::CaptureStderr();
    settings.SaveSettings();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg.lock"), std::string::npos);

    EXPECT_EQ(testenv::ReadFile(victim), "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::symlink_status(dir / "registry.reg.lock")));
    EXPECT_EQ(testenv::ReadFile(file), kParms);
}

} // namespace
