// The supplicant's texts read and written. The replies are those of the real wpa_supplicant
// 2.10 with simulated radios, copied from the radio lab's transcripts into data/: ">> " is the
// request, "<< " starts its reply.
#include "SupplicantText.h"

#include "support/TestEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

using namespace connectd;
using service::Bssid;
using service::StationConfig;
using service::WepSettings;
using ::testing::ElementsAre;

namespace {

std::string Data(const std::string& name)
{
    const std::string text = testenv::ReadFile(std::filesystem::path(WLAN_CONNECTD_DATA) / name);
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

// The reply of a transcript excerpt, as the supplicant sent it: every line ends with '\n'.
std::string Reply(const std::string& name)
{
    std::istringstream lines(Data(name));
    std::string reply;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(">> "))
            continue;
        reply += (line.starts_with("<< ") ? line.substr(3) : line) + "\n";
    }
    return reply;
}

std::vector<std::string> Events()
{
    std::istringstream lines(Data("events.txt"));
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);)
        events.push_back(line.substr(std::string("EVENT ").size()));
    return events;
}

WepSettings Wep64(uint8_t defaultKeyId)
{
    WepSettings wep;
    wep.wepReq = service::kWep64;
    wep.defaultKeyId = defaultKeyId;
    // The four keys of the lab's Harbour network.
    wep.keys = {0x8d, 0x2f, 0xdd, 0xc6, 0x1e, 0x0d, 0xcd, 0x93, 0x1d, 0x1d,
                0xb2, 0xe8, 0x56, 0x0f, 0x4a, 0x18, 0x1b, 0xf7, 0x27, 0x00};
    return wep;
}

WepSettings Wep128()
{
    WepSettings wep;
    wep.wepReq = service::kWep128;
    wep.defaultKeyId = 3;   // has no meaning with the one key
    // The lab's Lighthouse key.
    wep.keys = {0x47, 0xe1, 0x72, 0xe9, 0x94, 0xb0, 0x7e, 0xc8, 0x9e, 0x7b, 0x0f, 0x71, 0x27};
    return wep;
}

StationConfig Config(uint16_t networkType, std::string name, uint16_t dsChannel = 6)
{
    StationConfig config;
    config.networkType = networkType;
    config.name = std::move(name);
    config.dsChannel = dsChannel;
    return config;
}

} // namespace

TEST(SupplicantStatus, AssociatedGivesBssidChannelAndMode)
{
    const auto status = ParseStatus(Reply("status-associated.txt"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->wpaState, "COMPLETED");
    EXPECT_EQ(status->bssid, (Bssid{0x02, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(ChannelFromFrequency(status->freq), 1);
    EXPECT_EQ(status->mode, "station");
    EXPECT_EQ(status->ssid, "Harbour");
}

TEST(SupplicantStatus, PeerToPeerCellIsIbssWithItsOwnBssid)
{
    const auto status = ParseStatus(Reply("status-ibss.txt"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->wpaState, "COMPLETED");
    EXPECT_EQ(status->mode, "IBSS");
    EXPECT_EQ(status->bssid, (Bssid{0xaa, 0xd5, 0x33, 0xa7, 0x23, 0x1f}));
    EXPECT_EQ(ChannelFromFrequency(status->freq), 3);
}

TEST(SupplicantStatus, NotAssociatedHasOnlyTheState)
{
    for (const auto& [file, state] : {std::pair{"status-disconnected.txt", "DISCONNECTED"},
                                      std::pair{"status-interface-disabled.txt", "INTERFACE_DISABLED"}}) {
        const auto status = ParseStatus(Reply(file));
        ASSERT_TRUE(status) << file;
        EXPECT_EQ(status->wpaState, state);
        EXPECT_FALSE(status->bssid);
        EXPECT_EQ(status->freq, 0);
        EXPECT_EQ(status->mode, "");
    }
}

TEST(SupplicantSignal, AssociatedGivesSignalNoiseAndRate)
{
    const auto poll = ParseSignalPoll(Reply("signal-associated.txt"));
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->rssi, -30);
    EXPECT_EQ(poll->noise, -92);
    EXPECT_EQ(poll->frequency, 2412);
    EXPECT_EQ(RateCode(poll->linkSpeed), 8);
    EXPECT_EQ(Strength(*poll->rssi), 15);
    EXPECT_EQ(Quality(*poll->rssi, poll->noise), 15);

    const auto slower = ParseSignalPoll(Reply("signal-wep128-2mbps.txt"));
    ASSERT_TRUE(slower);
    EXPECT_EQ(RateCode(slower->linkSpeed), 2);
}

TEST(SupplicantSignal, NotAssociatedFailsAndAPeerToPeerCellReportsNoMeasurement)
{
    EXPECT_FALSE(ParseSignalPoll(Reply("signal-disconnected.txt")));

    const auto cell = ParseSignalPoll(Reply("signal-ibss.txt"));
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->rssi);
    EXPECT_EQ(RateCode(cell->linkSpeed), 0);
    EXPECT_EQ(cell->noise, -92);

    // Some drivers have no noise figure and say so with 9999.
    const auto noNoise = ParseSignalPoll("RSSI=-60\nLINKSPEED=5\nNOISE=9999\nFREQUENCY=2484\n");
    ASSERT_TRUE(noNoise);
    EXPECT_FALSE(noNoise->noise);
    EXPECT_EQ(RateCode(noNoise->linkSpeed), 4);
    EXPECT_EQ(ChannelFromFrequency(noNoise->frequency), 14);

    // Nor is a figure at or above 0 dBm a floor: the quality keeps the assumed one.
    for (const char* noise : {"0", "5"}) {
        const auto odd = ParseSignalPoll(std::string("RSSI=-60\nLINKSPEED=11\nNOISE=") + noise + "\n");
        ASSERT_TRUE(odd);
        EXPECT_FALSE(odd->noise) << noise;
        EXPECT_EQ(int{Quality(*odd->rssi, odd->noise)}, 13) << noise;
    }
}

TEST(SupplicantSignal, RateCodeIsTheFastest80211bRateTheLinkReaches)
{
    EXPECT_EQ(RateCode(1), 1);
    EXPECT_EQ(RateCode(5), 4);     // 5.5 Mbps is reported as 5
    EXPECT_EQ(RateCode(6), 4);     // the slowest OFDM rates lie between 5.5 and 11
    EXPECT_EQ(RateCode(54), 8);
    EXPECT_EQ(RateCode(-1), 0);
}

TEST(SupplicantSignal, FrequenciesOutside24GHzChannelsHaveNoChannel)
{
    EXPECT_EQ(ChannelFromFrequency(2472), 13);
    for (const int mhz : {0, 2407, 2411, 2477, 2482, 5180, -2412, INT_MAX})
        EXPECT_FALSE(ChannelFromFrequency(mhz)) << mhz;
}

TEST(SupplicantScales, StrengthEndsAndClamping)
{
    EXPECT_EQ(Strength(-90), 0);
    EXPECT_EQ(Strength(-89), 0);
    EXPECT_EQ(Strength(-86), 1);
    EXPECT_EQ(Strength(-36), 14);
    EXPECT_EQ(Strength(-35), 15);
    EXPECT_EQ(Strength(INT_MIN), 0);
    EXPECT_EQ(Strength(INT_MAX), 15);
}

TEST(SupplicantScales, QualityEndsClampingAndTheAssumedNoiseFloor)
{
    EXPECT_EQ(Quality(-92, -92), 0);
    EXPECT_EQ(Quality(-52, -92), 15);
    EXPECT_EQ(Quality(-53, -92), 14);
    EXPECT_EQ(Quality(-100, -92), 0);
    EXPECT_EQ(Quality(INT_MAX, INT_MIN), 15);
    EXPECT_EQ(Quality(INT_MIN, INT_MAX), 0);
    EXPECT_EQ(Quality(-95, std::nullopt), 0);
    EXPECT_EQ(Quality(-55, std::nullopt), 15);
}

TEST(SupplicantChannels, EachCountryGivesTheChannelsOfItsDomain)
{
    EXPECT_EQ(ChannelMask(Reply("channels-world.txt")), 0x3FFF);
    // The 6 GHz list, also under Mode[A], names channels 1, 5, 9 and 13: not ours.
    EXPECT_EQ(ChannelMask(Reply("channels-us.txt")), service::RegulatoryDomain::FromName("fcc")->ChannelMask());
    EXPECT_EQ(ChannelMask(Reply("channels-de.txt")), service::RegulatoryDomain::FromName("etsi")->ChannelMask());
    EXPECT_EQ(ChannelMask(Reply("channels-jp.txt")), service::RegulatoryDomain::FromName("japan")->ChannelMask());
}

TEST(SupplicantChannels, GWithoutBAndDriversThatListNone)
{
    EXPECT_EQ(ChannelMask("Mode[G] Channels: 1 6 11\nMode[A] Channels: 36 40\n"), 0x0421);
    EXPECT_EQ(ChannelMask("Mode[B] Channels: 0 3 15 36 2484\n"), 0x0004);
    // What the wired driver answered.
    EXPECT_FALSE(ChannelMask("FAIL\n"));
    EXPECT_FALSE(ChannelMask(""));
    EXPECT_FALSE(ChannelMask("Mode[B] Channels:\nMode[A] Channels: 1 5 9 13\n"));
}

TEST(SupplicantEvents, CapturedEventsAreSortedByKind)
{
    std::vector<SupplicantEvent> connected, disconnected, tempDisabled, scanResults;
    for (const std::string& text : Events()) {
        const SupplicantEvent event = ParseEvent(text);
        EXPECT_FALSE(event.text.starts_with("<")) << text;
        switch (event.kind) {
        case EventKind::Connected: connected.push_back(event); break;
        case EventKind::Disconnected: disconnected.push_back(event); break;
        case EventKind::TempDisabled: tempDisabled.push_back(event); break;
        case EventKind::ScanResults: scanResults.push_back(event); break;
        case EventKind::Other: break;
        default: ADD_FAILURE() << "unexpected kind for " << text;
        }
    }
    EXPECT_EQ(connected.size(), 2u);
    ASSERT_EQ(disconnected.size(), 1u);
    EXPECT_EQ(disconnected[0].text, "CTRL-EVENT-DISCONNECTED bssid=b6:40:a2:fa:4d:e5 reason=3 locally_generated=1");
    EXPECT_EQ(scanResults.size(), 1u);   // SCAN-STARTED is not one
    ASSERT_EQ(tempDisabled.size(), 1u);  // SSID-REENABLED is not one
    EXPECT_EQ(tempDisabled[0].ssid, "Harbour");
    EXPECT_EQ(tempDisabled[0].reason, "CONN_FAILED");
}

TEST(SupplicantEvents, StateChangesTerminationAndQuotedNames)
{
    const SupplicantEvent state = ParseEvent("<3>CTRL-EVENT-STATE-CHANGE id=0 state=9 BSSID=02:00:00:00:01:00 SSID=Harbour");
    EXPECT_EQ(state.kind, EventKind::StateChange);
    EXPECT_EQ(state.state, "COMPLETED");
    EXPECT_EQ(ParseEvent("<3>CTRL-EVENT-STATE-CHANGE id=0 state=77").state, "77");
    EXPECT_EQ(ParseEvent("<3>CTRL-EVENT-TERMINATING").kind, EventKind::Terminating);
    EXPECT_EQ(ParseEvent("CTRL-EVENT-CONNECTEDX").kind, EventKind::Other);

    const SupplicantEvent quoted =
        ParseEvent("CTRL-EVENT-SSID-TEMP-DISABLED id=0 ssid=\"a\\\" reason=X\" auth_failures=2 duration=20 reason=WRONG_KEY");
    EXPECT_EQ(quoted.ssid, "a\\\" reason=X");
    EXPECT_EQ(quoted.reason, "WRONG_KEY");
}

TEST(SupplicantMalformed, CutEmptyAndOversizedRepliesGiveNothingOrAbsentFields)
{
    for (const std::string name : {"status-associated.txt", "signal-associated.txt", "channels-us.txt"}) {
        const std::string whole = Reply(name);
        for (size_t length = 0; length <= whole.size(); ++length) {
            const std::string_view cut(whole.data(), length);
            if (const auto status = ParseStatus(cut); status && status->bssid) {
                EXPECT_EQ(status->bssid, (Bssid{0x02, 0x00, 0x00, 0x00, 0x01, 0x00}));
            }
            if (const auto poll = ParseSignalPoll(cut); poll && poll->rssi) {
                EXPECT_LE(*poll->rssi, 0);
            }
            if (const auto mask = ChannelMask(cut)) {
                EXPECT_EQ(*mask & ~0x07FF, 0);
            }
            ParseEvent(cut);
        }
    }
    EXPECT_FALSE(ParseStatus(""));
    EXPECT_FALSE(ParseStatus("wpa_state\n"));
    EXPECT_FALSE(ParseStatus("wpa_state=\n"));
    const auto odd = ParseStatus("bssid=02:00:00:00:01\nfreq=99999999999999999999\nwpa_state=SCANNING");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->bssid);
    EXPECT_EQ(odd->freq, 0);
    EXPECT_FALSE(ParseSignalPoll("RSSI=-30\n"));
    EXPECT_FALSE(ParseSignalPoll("RSSI=-30x\nLINKSPEED=11\n"));
    EXPECT_FALSE(ParseSignalPoll("RSSI=99999999999\nLINKSPEED=11\n"));
    EXPECT_FALSE(ParseSignalPoll("RSSI -30\nLINKSPEED 11\n"));
    EXPECT_FALSE(ChannelMask("Mode[B] Channels: 99999999999 -3 x 1x\n"));
    EXPECT_EQ(ParseEvent("").kind, EventKind::Other);
    EXPECT_EQ(ParseEvent("<3").kind, EventKind::Other);
    EXPECT_EQ(ParseEvent("CTRL-EVENT-SSID-TEMP-DISABLED ssid=\"unclosed").ssid, "");
}

TEST(SupplicantCommands, AccessPointWith64BitWepUsesSharedKeyAndTheChosenKey)
{
    EXPECT_THAT(NetworkCommands(0, Config(service::kAccessPoint, "Harbour"), Wep64(3)),
                ElementsAre("SET_NETWORK 0 ssid 486172626f7572",
                            "SET_NETWORK 0 key_mgmt NONE",
                            "SET_NETWORK 0 freq_list 2412 2417 2422 2427 2432 2437 2442 2447 2452 2457 2462 2467 2472 2484",
                            "SET_NETWORK 0 mode 0",
                            "SET_NETWORK 0 scan_ssid 1",
                            "SET_NETWORK 0 wep_key0 8d2fddc61e",
                            "SET_NETWORK 0 wep_key1 0dcd931d1d",
                            "SET_NETWORK 0 wep_key2 b2e8560f4a",
                            "SET_NETWORK 0 wep_key3 181bf72700",
                            "SET_NETWORK 0 wep_tx_keyidx 2",
                            "SET_NETWORK 0 auth_alg SHARED"));
}

TEST(SupplicantCommands, PeerToPeerWith128BitWepUsesOpenSystemOnTheChannelsFrequency)
{
    EXPECT_THAT(NetworkCommands(7, Config(service::kPeerToPeer, "Workbench", 14), Wep128()),
                ElementsAre("SET_NETWORK 7 ssid 576f726b62656e6368",
                            "SET_NETWORK 7 key_mgmt NONE",
                            "SET_NETWORK 7 freq_list 2412 2417 2422 2427 2432 2437 2442 2447 2452 2457 2462 2467 2472 2484",
                            "SET_NETWORK 7 mode 1",
                            "SET_NETWORK 7 frequency 2484",
                            "SET_NETWORK 7 wep_key0 47e172e994b07ec89e7b0f7127",
                            "SET_NETWORK 7 wep_tx_keyidx 0",
                            "SET_NETWORK 7 auth_alg OPEN"));
    EXPECT_THAT(NetworkCommands(1, Config(service::kPeerToPeer, "W", 3), WepSettings{}),
                ElementsAre("SET_NETWORK 1 ssid 57", "SET_NETWORK 1 key_mgmt NONE",
                            "SET_NETWORK 1 freq_list 2412 2417 2422 2427 2432 2437 2442 2447 2452 2457 2462 2467 2472 2484", "SET_NETWORK 1 mode 1",
                            "SET_NETWORK 1 frequency 2422"));
}

TEST(SupplicantCommands, AnEmptyNameMatchesAnyOpenNetworkAndAnyByteGoesAsHex)
{
    EXPECT_THAT(NetworkCommands(2, Config(service::kAutoNetworkType, ""), WepSettings{}),
                ElementsAre("SET_NETWORK 2 key_mgmt NONE", "SET_NETWORK 2 freq_list 2412 2417 2422 2427 2432 2437 2442 2447 2452 2457 2462 2467 2472 2484",
                            "SET_NETWORK 2 mode 0"));
    const std::string bytes{'\0', '\xff', '"', ' ', '\n'};
    EXPECT_EQ(NetworkCommands(0, Config(service::kAccessPoint, bytes), WepSettings{}).front(),
              "SET_NETWORK 0 ssid 00ff22200a");
    EXPECT_FALSE(Refusal(Config(service::kAccessPoint, std::string(32, 'x')), Wep64(4)));
    EXPECT_FALSE(Refusal(Config(service::kAccessPoint, "a"), Wep128()));
}

TEST(SupplicantCommands, SettingsTheSupplicantCannotTakeAreRefusedWithAReason)
{
    const std::vector<std::pair<StationConfig, WepSettings>> refused = {
        {Config(service::kAccessPoint, std::string(33, 'x')), WepSettings{}},
        {Config(service::kAccessPoint, "Harbour"), Wep64(0)},
        {Config(service::kAccessPoint, "Harbour"), Wep64(5)},
        {Config(service::kPeerToPeer, ""), WepSettings{}},
        {Config(service::kPeerToPeer, "Workbench", 0), WepSettings{}},
        {Config(service::kPeerToPeer, "Workbench", 15), WepSettings{}},
        {Config(2, "Harbour"), WepSettings{}},
        {Config(service::kAccessPoint, "Harbour"), WepSettings{.wepReq = 1}},
    };
    for (const auto& [config, wep] : refused) {
        const auto reason = Refusal(config, wep);
        ASSERT_TRUE(reason) << config.name << " " << int(wep.wepReq);
        EXPECT_EQ(reason->find('\n'), std::string::npos);
        EXPECT_TRUE(NetworkCommands(0, config, wep).empty()) << *reason;
    }
    // The name in the log line is escaped, so the log stays one line of text.
    EXPECT_EQ(Refusal(Config(service::kAccessPoint, std::string(32, '\n') + "x"), WepSettings{})->find('\n'),
              std::string::npos);
}

TEST(SupplicantCommands, PowerSaveAndCountry)
{
    EXPECT_EQ(PowerSaveCommand(2), "SET ps 1");
    EXPECT_EQ(PowerSaveCommand(1), "SET ps 0");
    EXPECT_EQ(CountryCommand(*service::RegulatoryDomain::FromName("fcc")), "SET country US");
    EXPECT_EQ(CountryCommand(*service::RegulatoryDomain::FromName("etsi")), "SET country DE");
    EXPECT_EQ(CountryCommand(*service::RegulatoryDomain::FromName("japan")), "SET country JP");
}
