// The --environment file: a good file loads, every kind of mistake is named with its place.

#include "EnvironmentFile.h"

#include "support/TestEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace cardsim {
namespace {

using testing::HasSubstr;

std::string ErrorOf(std::string_view text)
{
    const auto result = EnvironmentFile::Parse(text);
    EXPECT_FALSE(result.environment.has_value()) << text;
    return result.error;
}

TEST(EnvironmentFile, AFullFileLoadsEveryField)
{
    const auto result = EnvironmentFile::Parse(R"({"networks": [
        {"name": "Lab", "bssid": "00:aa:BB:cc:dd:01", "channel": 13, "wep": 2,
         "keys": "0102030405060708090a0b0c0d0e0f1011121314", "defaultKey": 3, "signal": 4, "drift": 0},
        {"name": "Cell", "bssid": "02:00:00:00:00:02", "type": "peer-to-peer", "channel": 1},
        {"name": "Big", "bssid": "00:00:00:00:00:03", "channel": 2, "wep": 6,
         "keys": "A0A1A2A3A4A5A6A7A8A9AAABAC"}
    ]})");
    ASSERT_TRUE(result.environment) << result.error;
    const auto& networks = result.environment->Networks();
    ASSERT_EQ(networks.size(), 3u);
    EXPECT_EQ(networks[0].name, "Lab");
    EXPECT_EQ(FormatBssid(networks[0].bssid), "00:AA:BB:CC:DD:01");
    EXPECT_EQ(networks[0].channel, 13);
    EXPECT_EQ(networks[0].wep.wepReq, kWep64);
    EXPECT_EQ(networks[0].wep.defaultKeyId, 3);
    EXPECT_EQ(networks[0].wep.keys[19], 0x14);
    EXPECT_EQ(networks[0].signal, 4);
    EXPECT_EQ(networks[0].drift, 0);
    EXPECT_EQ(networks[1].kind, NetworkKind::PeerCell);
    EXPECT_EQ(networks[1].signal, 10) << "default signal";
    EXPECT_EQ(networks[1].drift, 2) << "default drift";
    EXPECT_EQ(networks[2].wep.keys[12], 0xAC);
    EXPECT_EQ(networks[2].wep.keys[13], 0x00);
}

TEST(EnvironmentFile, SyntaxErrorsSayWhere)
{
    EXPECT_THAT(ErrorOf("{\n  \"networks\": [\n    {\"name\": }\n]}"), HasSubstr("line 3 column"));
    EXPECT_THAT(ErrorOf("{\n  \"networks\": [\n    {\"name\": }\n]}"), HasSubstr("not valid JSON"));
    EXPECT_THAT(ErrorOf(""), HasSubstr("not valid JSON"));
}

TEST(EnvironmentFile, ShapeErrorsNameTheMemberAndWhatIsExpected)
{
    EXPECT_THAT(ErrorOf("[]"), HasSubstr("\"networks\" list"));
    EXPECT_THAT(ErrorOf(R"({"networks": {}})"), HasSubstr("\"networks\" list"));
    EXPECT_THAT(ErrorOf(R"({"networks": [], "extra": 1})"), HasSubstr("unknown member \"extra\""));
    EXPECT_THAT(ErrorOf(R"({"networks": [7]})"), HasSubstr("networks[0]: must be an object"));
    const std::string good = R"("name": "A", "bssid": "00:00:00:00:00:01")";
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(, "chanel": 6}]})"), HasSubstr("unknown member \"chanel\""));
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(}]})"), HasSubstr("networks[0].channel: required"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(, "channel": 0}]})"), HasSubstr("1..14 (is 0)"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(, "channel": "6"}]})"), HasSubstr("(is \"6\")"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(, "channel": 6, "signal": 16}]})"),
                HasSubstr("networks[0].signal"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{"name": "A", "bssid": "00-00-00-00-00-01", "channel": 6}]})"),
                HasSubstr("networks[0].bssid"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{"bssid": "00:00:00:00:00:01", "channel": 6}]})"),
                HasSubstr("networks[0].name: required"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{)" + good + R"(, "channel": 6, "type": "mesh"}]})"),
                HasSubstr("networks[0].type"));
}

TEST(EnvironmentFile, WepErrorsNameTheKeyRule)
{
    const std::string head = R"({"networks": [{"name": "A", "bssid": "00:00:00:00:00:01", "channel": 6, )";
    EXPECT_THAT(ErrorOf(head + R"("wep": 9}]})"), HasSubstr("0 (off), 2 (64-bit) or 6 (128-bit)"));
    EXPECT_THAT(ErrorOf(head + R"("wep": 2}]})"), HasSubstr("40 hexadecimal digits"));
    EXPECT_THAT(ErrorOf(head + R"("wep": 6, "keys": "00"}]})"), HasSubstr("26 hexadecimal digits"));
    EXPECT_THAT(ErrorOf(head + R"("wep": 6, "keys": "zz0102030405060708090a0b0c"}]})"),
                HasSubstr("\"zz\" is not a hexadecimal byte"));
    EXPECT_THAT(ErrorOf(head + R"("keys": "0102030405"}]})"), HasSubstr("only with wep 2 or 6"));
    EXPECT_THAT(ErrorOf(head + R"("wep": 2, "defaultKey": 5, "keys": "0102030405060708090a0b0c0d0e0f1011121314"}]})"),
                HasSubstr("defaultKey"));
}

TEST(EnvironmentFile, DuplicateBssidsAndOverlongNamesAreRefused)
{
    EXPECT_THAT(ErrorOf(R"({"networks": [
        {"name": "A", "bssid": "00:00:00:00:00:01", "channel": 6},
        {"name": "B", "bssid": "00:00:00:00:00:01", "channel": 1}]})"),
                HasSubstr("networks[1]: a network with BSSID 00:00:00:00:00:01 exists already"));
    EXPECT_THAT(ErrorOf(R"({"networks": [{"name": "0123456789012345678901234567890123", "bssid": "00:00:00:00:00:01", "channel": 6}]})"),
                HasSubstr("at most 33 bytes"));
}

TEST(EnvironmentFile, LoadNamesTheFile)
{
    testenv::TempDir folder;
    const auto missing = EnvironmentFile::Load(folder / "none.json");
    EXPECT_THAT(missing.error, HasSubstr("none.json: No such file or directory"));
    // What is not a regular file is refused by its type, with the system's reason where
    // there is one: nothing is read from it and nothing waits for a writer.
    EXPECT_THAT(EnvironmentFile::Load(folder.path()).error, HasSubstr(": Is a directory"));
    EXPECT_THAT(EnvironmentFile::Load("/proc/self/mem").error, HasSubstr("/proc/self/mem: Input/output error"));
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    EXPECT_THAT(EnvironmentFile::Load(folder / "fifo").error, HasSubstr("fifo: not a regular file"));
    EXPECT_THAT(EnvironmentFile::Load("/dev/zero").error, HasSubstr("/dev/zero: not a regular file"));
    testenv::WriteFile(folder / "bad.json", "{ \"networks\": [ ] ");
    const auto bad = EnvironmentFile::Load(folder / "bad.json");
    EXPECT_THAT(bad.error, HasSubstr("bad.json: line 1"));
    testenv::WriteFile(folder / "empty.json", "{ \"networks\": [ ] }");
    EXPECT_TRUE(EnvironmentFile::Load(folder / "empty.json").environment);
}

} // namespace
} // namespace cardsim
