// The settings record against a real registry file: what LoadSettings takes from it and
// what SaveSettings leaves in it, byte for byte.

#include "app/WlanSettings.h"
#include "platform/RegistryKey.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kParmsSection = "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<uint8_t> Utf16Data(std::u16string_view text)
{
    std::vector<uint8_t> data;
    for (char16_t u : text) {
        data.push_back(static_cast<uint8_t>(u));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    data.insert(data.end(), {0, 0});
    return data;
}

WlanSettings Sample()
{
    WlanSettings settings;
    settings.NetworkType = 1;
    settings.SSID = u"office";
    settings.TxRate = 15;
    settings.PSMode = 2;
    settings.DSChannel = 11;
    settings.WepReq = 2;
    settings.DefaultKeys = u"0102030405";
    settings.DefaultKeyId = 3;
    return settings;
}

bool Same(const WlanSettings& a, const WlanSettings& b)
{
    return a.NetworkType == b.NetworkType && a.SSID == b.SSID && a.TxRate == b.TxRate &&
           a.PSMode == b.PSMode && a.DSChannel == b.DSChannel && a.WepReq == b.WepReq &&
           a.DefaultKeys == b.DefaultKeys && a.DefaultKeyId == b.DefaultKeyId;
}

const std::string kSampleValues = "\"NetworkType\"=dword:00000001\n"
                                  "\"SSID\"=\"office\"\n"
                                  "\"TxRate\"=dword:0000000f\n"
                                  "\"PSMode\"=dword:00000002\n"
                                  "\"DSChannel\"=dword:0000000b\n"
                                  "\"WepReq\"=dword:00000002\n"
                                  "\"DefaultKeys\"=\"0102030405\"\n"
                                  "\"DefaultKeyId\"=dword:00000003\n";

struct Stored {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool operator==(const Stored&) const = default;
};

std::optional<Stored> QueryParms(std::u16string_view name)
{
    auto key = RegistryKey::Open(kDriverParmsKey, Access::Query);
    Stored stored;
    uint32_t size = 0;
    if (!key || key->QueryValue(name, nullptr, &size, &stored.type) != ERROR_SUCCESS)
        return std::nullopt;
    stored.data.resize(size);
    key->QueryValue(name, stored.data.data(), &size);
    return stored;
}

class WlanSettingsTest : public ::testing::Test {
protected:
    void Write(const std::string& bytes) { testenv::WriteFile(file, bytes); }
    void WriteParms(const std::string& values) { Write(kHeader + kParmsSection + values); }
    std::string Read() const { return testenv::ReadFile(file); }
    WlanSettings Loaded() const
    {
        WlanSettings settings;
        EXPECT_TRUE(settings.LoadSettings());
        return settings;
    }

    testenv::TempDir dir;
    std::filesystem::path file = dir / "registry.reg";
    testenv::ScopedEnv env{"WLAN_REGISTRY_FILE", file.string()};
};

} // namespace

TEST_F(WlanSettingsTest, WithoutTheKeyNothingIsLoadedAndNothingIsWritten)
{
    WlanSettings settings = Sample();
    EXPECT_TRUE(settings.LoadSettings());
    EXPECT_TRUE(Same(settings, Sample()));
    EXPECT_TRUE(Same(Loaded(), WlanSettings{}));

    // No file: Apply changes only the record, and no file (or folder entry) appears.
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_TRUE(Same(settings, Sample()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    // A file without the key is left exactly as it is.
    const std::string other = kHeader + "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\n\"A\"=dword:00000001\n\n";
    Write(other);
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_TRUE(settings.LoadSettings());
    EXPECT_TRUE(Same(settings, Sample()));
    EXPECT_EQ(Read(), other);
}

TEST_F(WlanSettingsTest, AKeyWithOnlySsidAndTxRateYieldsJustThoseTwo)
{
    WriteParms("\"SSID\"=\"lab\"\n\"TxRate\"=dword:00000008\n");
    WlanSettings expected;
    expected.SSID = u"lab";
    expected.TxRate = 8;
    EXPECT_TRUE(Same(Loaded(), expected));
}

TEST_F(WlanSettingsTest, StringsAreReadUpToTheirCapacityAndNoFurther)
{
    const std::string ssid128(128, 's');
    const std::string keys48(48, 'k');
    WriteParms("\"SSID\"=" + Quoted(ssid128) + "\n\"DefaultKeys\"=" + Quoted(keys48) + "\n");
    WlanSettings whole = Loaded();
    EXPECT_EQ(whole.SSID, std::u16string(128, u's'));
    EXPECT_EQ(whole.DefaultKeys, std::u16string(48, u'k'));

    // One character more does not fit: the member keeps what it had, empty at start-up.
    WriteParms("\"SSID\"=" + Quoted(ssid128 + "s") + "\n\"DefaultKeys\"=" + Quoted(keys48 + "k") +
               "\n\"TxRate\"=dword:00000002\n");
    WlanSettings fresh = Loaded();
    EXPECT_EQ(fresh.SSID, u"");
    EXPECT_EQ(fresh.DefaultKeys, u"");
    EXPECT_EQ(fresh.TxRate, 2u);
    WlanSettings running = Sample();
    running.LoadSettings();
    EXPECT_EQ(running.SSID, u"office");
    EXPECT_EQ(running.DefaultKeys, u"0102030405");

    // A string ends at its first null; one without a terminator ends where its bytes do.
    WriteParms("\"SSID\"=hex(1):61,00,00,00,62,00,00,00\n\"DefaultKeys\"=hex(1):61,00,62\n");
    EXPECT_EQ(Loaded().SSID, u"a");
    EXPECT_EQ(Loaded().DefaultKeys, u"ab");
}

TEST_F(WlanSettingsTest, ANumberStoredWithAnotherTypeReplacesOnlyTheBytesItHas)
{
    WlanSettings settings;
    settings.NetworkType = 0xAABBCCDD;
    settings.TxRate = 0xAABBCCDD;
    settings.PSMode = 0xAABBCCDD;
    settings.DSChannel = 0xAABBCCDD;
    WriteParms("\"NetworkType\"=\"\"\n"            // a 2-byte string: the terminator alone
               "\"TxRate\"=\"A\"\n"                // 4 bytes: 41 00 00 00
               "\"PSMode\"=hex(3):07\n"            // 1 byte
               "\"DSChannel\"=\"AB\"\n");          // 6 bytes: too large, ignored
    EXPECT_TRUE(settings.LoadSettings());
    EXPECT_EQ(settings.NetworkType, 0xAABB0000u);
    EXPECT_EQ(settings.TxRate, 0x41u);
    EXPECT_EQ(settings.PSMode, 0xAABBCC07u);
    EXPECT_EQ(settings.DSChannel, 0xAABBCCDDu);
}

TEST_F(WlanSettingsTest, SaveWritesAllEightValuesInOrderWithTheirTypes)
{
    WriteParms("");
    WlanSettings settings = Sample();
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_EQ(Read(), kHeader + kParmsSection + kSampleValues);
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(u"office")}));
    EXPECT_EQ(QueryParms(u"DefaultKeyId"), (Stored{REG_DWORD, {3, 0, 0, 0}}));
    EXPECT_TRUE(Same(Loaded(), settings));
}

// Whichever page applies, every value is rewritten from the record, stale or not, and the
// rest of the key and the file stay as they were.
TEST_F(WlanSettingsTest, SaveRewritesEveryValueAndKeepsTheRest)
{
    const std::string driverKey = "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\n\"Dll\"=\"vq731.dll\"\n\n";
    Write(kHeader + driverKey + kParmsSection +
          "\"BusType\"=dword:00000005\n"
          "\"NetworkType\"=hex(1):00,00\n"
          "\"SSID\"=dword:00000001\n"
          "\"TxRate\"=\"old\"\n"
          "\"PSMode\"=dword:00000009\n"
          "\"DSChannel\"=dword:00000009\n"
          "\"WepReq\"=dword:00000009\n"
          "\"DefaultKeys\"=\"old\"\n"
          "\"DefaultKeyId\"=dword:00000009\n");
    WlanSettings settings = Sample();
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_EQ(Read(), kHeader + driverKey + kParmsSection + "\"BusType\"=dword:00000005\n" +
                          kSampleValues);
}

TEST_F(WlanSettingsTest, AnEmptySsidIsWrittenAsTheTerminatorAlone)
{
    WriteParms("");
    WlanSettings settings;
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, {0, 0}}));
    EXPECT_EQ(QueryParms(u"DefaultKeys"), (Stored{REG_SZ, {0, 0}}));
    EXPECT_NE(Read().find("\"SSID\"=\"\"\n"), std::string::npos);
}

TEST_F(WlanSettingsTest, ALongStringIsSavedWholeButNotLoadedBack)
{
    WriteParms("");
    WlanSettings settings = Sample();
    settings.SSID = std::u16string(129, u'n');
    settings.DefaultKeys = std::u16string(10000, u'k');
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(settings.SSID)}));
    EXPECT_EQ(QueryParms(u"DefaultKeys")->data.size(), 20002u);

    WlanSettings next = Loaded();
    EXPECT_EQ(next.SSID, u"");
    EXPECT_EQ(next.DefaultKeys, u"");
    EXPECT_EQ(next.TxRate, 15u);

    settings.SSID = std::u16string(128, u'n');
    settings.DefaultKeys = std::u16string(48, u'k');
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_TRUE(Same(Loaded(), settings));
}

// Any UTF-16 text survives the file: what fits is loaded back unit for unit, and what the
// record cannot hold past a null is still saved whole.
TEST_F(WlanSettingsTest, AnyCharactersRoundTripThroughTheFile)
{
    WriteParms("");
    WlanSettings settings = Sample();
    settings.SSID = u"caf\u00E9 \"\\\" \U0001F4F6 \xD800 lone\r\n\t";
    settings.DefaultKeys = std::u16string(u"ab\0cd", 5);
    EXPECT_TRUE(settings.SaveSettings());
    EXPECT_EQ(QueryParms(u"DefaultKeys"), (Stored{REG_SZ, Utf16Data(settings.DefaultKeys)}));

    WlanSettings loaded = Loaded();
    EXPECT_EQ(loaded.SSID, settings.SSID);
    EXPECT_EQ(loaded.DefaultKeys, u"ab");
}

TEST_F(WlanSettingsTest, AnUnreadableFileChangesNothingAndIsNotOverwritten)
{
    const std::string bad = kHeader + kParmsSection + kSampleValues + "\"Broken\"=hex:1\n";
    Write(bad);
    ::testing::internal::CaptureStderr();
    WlanSettings settings;
    settings.DSChannel = 6;
    EXPECT_TRUE(settings.LoadSettings());
    WlanSettings expected;
    expected.DSChannel = 6;
    EXPECT_TRUE(Same(settings, expected));
    settings = Sample();
    EXPECT_TRUE(settings.SaveSettings());
    // The load names the line once; the failed save says so, each time it fails.
    EXPECT_TRUE(settings.SaveSettings());
    const std::string line = file.string() + ":12: bad hex byte\n";
    const std::string save = std::string(program_invocation_short_name) + ": settings not saved: " + line;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), line + save + save);
    EXPECT_EQ(Read(), bad);
    EXPECT_TRUE(Same(settings, Sample()));
}
