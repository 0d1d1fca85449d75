// Association as an 802.11b station, against small hand-made environments.

#include "RadioEnvironment.h"
#include "Station.h"

#include <gtest/gtest.h>

namespace cardsim {
namespace {

const RegulatoryDomain kFcc = *RegulatoryDomain::FromName("fcc");
const RegulatoryDomain kJapan = *RegulatoryDomain::FromName("japan");

Network Ap(std::string name, uint8_t last, uint8_t channel, int signal, WepSettings wep = {})
{
    Network network;
    network.name = std::move(name);
    network.bssid = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    network.channel = channel;
    network.signal = network.base = signal;
    network.quality = signal - 1;
    network.drift = 0;
    network.wep = wep;
    return network;
}

Network Cell(std::string name, uint8_t last, uint8_t channel, int signal)
{
    Network network = Ap(std::move(name), last, channel, signal);
    network.kind = NetworkKind::PeerCell;
    network.bssid[0] = 0x02;
    return network;
}

WepSettings Wep64(uint8_t keyId, uint8_t firstByte)
{
    WepSettings wep{kWep64, keyId, {}};
    for (size_t i = 0; i < wep.keys.size(); ++i)
        wep.keys[i] = static_cast<uint8_t>(firstByte + i);
    return wep;
}

StationConfig Config(uint16_t type, std::string name, uint16_t rate = 15, uint16_t channel = 6)
{
    return StationConfig{type, rate, 1, channel, std::move(name)};
}

class StationTest : public testing::Test {
protected:
    LinkInfo JoinWith(const StationConfig& config, const WepSettings& wep = {},
                      RegulatoryDomain domain = kFcc)
    {
        Station station(config, wep, domain);
        station.Step(Millis{0}, environment, random);
        return station.Link(environment);
    }

    RadioEnvironment environment;
    Random random{7};
};

TEST_F(StationTest, AccessPointModeJoinsTheStrongestAccessPointOfThatName)
{
    environment.Add(Ap("Office", 1, 1, 6));
    environment.Add(Ap("Office", 2, 6, 12));
    environment.Add(Ap("Other", 3, 11, 15));
    environment.Add(Cell("Office", 4, 3, 14));
    const LinkInfo link = JoinWith(Config(kAccessPoint, "Office"));
    ASSERT_TRUE(link.associated);
    EXPECT_EQ(link.bssid[5], 2);
    EXPECT_EQ(link.channel, 6);
    EXPECT_EQ(link.strength, 12);
    EXPECT_EQ(link.quality, 11);
}

TEST_F(StationTest, NetworkTypeThreeJoinsAccessPointsLikeAccessPointMode)
{
    environment.Add(Ap("Office", 1, 1, 6));
    environment.Add(Cell("Office", 2, 3, 14));
    EXPECT_EQ(JoinWith(Config(kAutoNetworkType, "Office")).bssid[5], 1);
}

TEST_F(StationTest, ChannelsOutsideTheDomainAreNotJoined)
{
    environment.Add(Ap("Far", 1, 14, 15));
    environment.Add(Ap("Far", 2, 11, 4));
    EXPECT_EQ(JoinWith(Config(kAccessPoint, "Far"), {}, kFcc).bssid[5], 2);
    EXPECT_EQ(JoinWith(Config(kAccessPoint, "Far"), {}, kJapan).bssid[5], 1);
}

TEST_F(StationTest, AnEmptyNameTakesTheStrongestOpenNetworkOnly)
{
    environment.Add(Ap("Locked", 1, 1, 15, Wep64(1, 0x10)));
    environment.Add(Ap("Open", 2, 6, 5));
    EXPECT_EQ(JoinWith(Config(kAccessPoint, "")).bssid[5], 2);
    // With WEP on, an empty name finds nothing: no open network speaks WEP.
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, ""), Wep64(1, 0x10)).associated);
}

TEST_F(StationTest, WepMustMatchInModeAndInTheDefaultKeysBytes)
{
    environment.Add(Ap("Locked", 1, 1, 10, Wep64(2, 0x10)));
    EXPECT_TRUE(JoinWith(Config(kAccessPoint, "Locked"), Wep64(2, 0x10)).associated);
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Locked"), {}).associated) << "WEP off";
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Locked"), Wep64(1, 0x10)).associated) << "other key sent";
    WepSettings otherKeysSameDefault = Wep64(2, 0x10);
    otherKeysSameDefault.keys[0] ^= 0xFF;  // Key 1 differs; Key 2, the default, does not
    EXPECT_TRUE(JoinWith(Config(kAccessPoint, "Locked"), otherKeysSameDefault).associated);
    WepSettings oneByteOff = Wep64(2, 0x10);
    oneByteOff.keys[9] ^= 0x01;  // the last byte of Key 2
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Locked"), oneByteOff).associated);
    WepSettings noDefault = Wep64(0, 0x10);
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Locked"), noDefault).associated) << "key 0 sends nothing";
}

TEST_F(StationTest, A128BitKeyComparesItsThirteenBytesOnly)
{
    WepSettings apKey{kWep128, 1, {}};
    for (size_t i = 0; i < 13; ++i)
        apKey.keys[i] = static_cast<uint8_t>(0xA0 + i);
    environment.Add(Ap("Strong", 1, 6, 10, apKey));
    WepSettings mine = apKey;
    mine.keys[15] = 0x99;  // bytes past the key do not count
    mine.defaultKeyId = 3;
    EXPECT_TRUE(JoinWith(Config(kAccessPoint, "Strong"), mine).associated);
    mine.keys[12] ^= 1;
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Strong"), mine).associated);
    WepSettings as64 = apKey;
    as64.wepReq = kWep64;
    EXPECT_FALSE(JoinWith(Config(kAccessPoint, "Strong"), as64).associated);
}

TEST_F(StationTest, PeerToPeerJoinsACellOfThatNameElseStartsOneOnItsChannel)
{
    environment.Add(Ap("Desk", 1, 1, 15));
    environment.Add(Cell("Desk", 2, 3, 8));
    EXPECT_EQ(JoinWith(Config(kPeerToPeer, "Desk")).bssid[5], 2);

    const LinkInfo started = JoinWith(Config(kPeerToPeer, "Fresh", 15, 9));
    ASSERT_TRUE(started.associated);
    EXPECT_EQ(started.channel, 9);
    EXPECT_EQ(started.bssid[0] & 0x03, 0x02) << "locally administered, individual";
    EXPECT_EQ(started.rate, 8);
    EXPECT_EQ(started.strength, 0);
    EXPECT_EQ(started.quality, 0);

    EXPECT_FALSE(JoinWith(Config(kPeerToPeer, "Fresh", 15, 13)).associated) << "channel 13 not in fcc";
    EXPECT_EQ(JoinWith(Config(kPeerToPeer, "")).bssid[5], 2) << "any open cell";
    environment.Remove("Desk");
    EXPECT_FALSE(JoinWith(Config(kPeerToPeer, "")).associated) << "a cell is not started without a name";
}

TEST_F(StationTest, AChangedSettingDropsTheLinkAndJoinsAgainAfterARealisticDelay)
{
    environment.Add(Ap("A", 1, 1, 10));
    environment.Add(Ap("B", 2, 6, 10));
    Station station(Config(kAccessPoint, "A"), {}, kFcc);
    station.Step(Millis{0}, environment, random);
    ASSERT_TRUE(station.Link(environment).associated);

    EXPECT_FALSE(station.TakeConfig(Config(kAccessPoint, "A"), Millis{1000}, random)) << "nothing changed";
    EXPECT_TRUE(station.Link(environment).associated);

    EXPECT_TRUE(station.TakeConfig(Config(kAccessPoint, "B"), Millis{1000}, random));
    EXPECT_FALSE(station.Link(environment).associated);
    station.Step(Millis{1000 + Station::kJoinDelayMinMs - 1}, environment, random);
    EXPECT_FALSE(station.Link(environment).associated) << "too early";
    station.Step(Millis{1000 + Station::kJoinDelayMaxMs}, environment, random);
    ASSERT_TRUE(station.Link(environment).associated);
    EXPECT_EQ(station.Link(environment).bssid[5], 2);

    EXPECT_TRUE(station.TakeWep(Wep64(1, 0), Millis{3000}, random));
    station.Step(Millis{3000 + Station::kJoinDelayMaxMs}, environment, random);
    EXPECT_FALSE(station.Link(environment).associated) << "B is open, the station now speaks WEP";
}

TEST_F(StationTest, ANetworkThatGoesOrFallsSilentIsLeftAndAnotherJoined)
{
    environment.Add(Ap("Same", 1, 1, 12));
    environment.Add(Ap("Same", 2, 6, 6));
    Station station(Config(kAccessPoint, "Same"), {}, kFcc);
    station.Step(Millis{0}, environment, random);
    EXPECT_EQ(station.Link(environment).bssid[5], 1);

    environment.PinSignal("00:11:22:33:44:01", 0);
    EXPECT_NE(station.Step(Millis{100}, environment, random).find("out of range"), std::string::npos);
    EXPECT_FALSE(station.Link(environment).associated);
    station.Step(Millis{100 + Station::kJoinDelayMaxMs}, environment, random);
    EXPECT_EQ(station.Link(environment).bssid[5], 2);

    environment.Remove("Same");
    EXPECT_NE(station.Step(Millis{2000}, environment, random).find("gone"), std::string::npos);
}

TEST_F(StationTest, ACardTakenOutHasNoLinkAndJoinsAgainAfterInsertion)
{
    environment.Add(Ap("A", 1, 1, 10));
    Station station(Config(kAccessPoint, "A"), {}, kFcc);
    station.Step(Millis{0}, environment, random);
    station.SetCard(Card::Out, Millis{500}, random);
    EXPECT_FALSE(station.Link(environment).associated);
    station.Step(Millis{5000}, environment, random);
    EXPECT_FALSE(station.Link(environment).associated) << "no card, no join";
    station.SetCard(Card::In, Millis{6000}, random);
    station.Step(Millis{6000 + Station::kJoinDelayMaxMs}, environment, random);
    EXPECT_TRUE(station.Link(environment).associated);
}

TEST(StationRate, TheHighestRateOfTheSetThatTheSignalCarries)
{
    EXPECT_EQ(Station::CurrentRate(15, 15), 8);
    EXPECT_EQ(Station::CurrentRate(15, 8), 8);
    EXPECT_EQ(Station::CurrentRate(15, 7), 4);
    EXPECT_EQ(Station::CurrentRate(15, 4), 2);
    EXPECT_EQ(Station::CurrentRate(15, 2), 1);
    EXPECT_EQ(Station::CurrentRate(3, 15), 2) << "1 or 2 Mbps never goes faster";
    EXPECT_EQ(Station::CurrentRate(1, 15), 1);
    EXPECT_EQ(Station::CurrentRate(8, 3), 8) << "a set the signal cannot carry still uses its lowest rate";
    EXPECT_EQ(Station::CurrentRate(12, 5), 4);
}

} // namespace
} // namespace cardsim
