// The service's side of the block, driven step by step on a block in this process: byte-exact
// payloads, the order of acknowledgement, card events, and hostile bytes.

#include "BlockService.h"
#include "BlockWaker.h"
#include "SimulatedCard.h"
#include "CommandDecoder.h"

#include "link/ConnectChannel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <poll.h>
#include <thread>

namespace cardsim {
namespace {

class BlockServiceTest : public testing::Test {
protected:
    BlockServiceTest()
    {
        environment.Add(MakeAp("Home", {0x02, 0x43, 0x4E, 0x00, 0x00, 0x01}, 6, 12, {}));
        WepSettings wep{kWep64, 2, {}};
        for (size_t i = 0; i < 20; ++i)
            wep.keys[i] = static_cast<uint8_t>(0x30 + i);
        environment.Add(MakeAp("Safe", {0x00, 0x40, 0x96, 0x00, 0x00, 0x01}, 1, 7, wep));
    }

    static Network MakeAp(std::string name, Bssid bssid, uint8_t channel, int signal, WepSettings wep)
    {
        Network network;
        network.name = std::move(name);
        network.bssid = bssid;
        network.channel = channel;
        network.signal = network.base = signal;
        network.quality = signal - 2;
        network.drift = 0;
        network.wep = wep;
        return network;
    }

    uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(&block); }
    uint8_t Status() const { return static_cast<uint8_t>(block.statusWord >> 24); }

    // Runs the service as the serve loop does, every 10 ms, up to `until`.
    void RunUntil(Millis until)
    {
        for (; now <= until; now += Millis{10}) {
            station.Step(now, environment, random);
            service.Poll(now);
        }
    }
    // Past the second of STAT_CARD_IN that follows the start.
    void RunPastStart() { RunUntil(Millis{1100}); }

    ConnectBlock block{};
    ConnectChannel channel{&block};
    RadioEnvironment environment;
    Random random{3};
    Log log{Verbosity::Normal};
    Station station{StationConfig{}, WepSettings{}, *RegulatoryDomain::FromName("etsi")};
    SimulatedCard card{station, environment, random};
    BlockService service{&block, card, log};
    Millis now{0};
};

TEST_F(BlockServiceTest, TheStartReadsAsAnInsertionForOneSecond)
{
    channel.PostLinkInfo();
    RunUntil(Millis{900});
    EXPECT_EQ(Status(), STAT_CARD_IN);
    RunUntil(Millis{1100});
    EXPECT_EQ(Status(), STAT_LINK_INFO);
}

TEST_F(BlockServiceTest, LinkInfoIsWrittenByteExactAndRefreshedEveryQuarterSecond)
{
    RunPastStart();
    channel.PostLinkInfo();
    RunUntil(now);
    ASSERT_EQ(Status(), STAT_LINK_INFO);
    const uint8_t expected[] = {0x02, 0x43, 0x4E, 0x00, 0x00, 0x01, 8, 0, 10, 12, 6};
    EXPECT_EQ(std::memcmp(Bytes() + 8, expected, sizeof expected), 0);
    EXPECT_EQ(block.cmdWord, 0x1100001Fu) << "a request is never cleared";

    const uint32_t count = block.statusWord & 0xFFFFFF;
    RunUntil(now + Millis{230});
    EXPECT_EQ(block.statusWord & 0xFFFFFF, count) << "not before 250 ms";
    RunUntil(now + Millis{20});
    EXPECT_EQ(block.statusWord & 0xFFFFFF, count + 1);

    // The utility zeroes bytes 8..19 after posting; the next refresh writes them again.
    std::memset(Bytes() + 8, 0, 12);
    RunUntil(now + Millis{250});
    EXPECT_EQ(std::memcmp(Bytes() + 8, expected, sizeof expected), 0);
}

TEST_F(BlockServiceTest, NotAssociatedIsSixBytesOf0x44)
{
    RunPastStart();
    environment.Remove("Home");
    channel.PostLinkInfo();
    RunUntil(now + Millis{300});
    ASSERT_EQ(Status(), STAT_LINK_INFO);
    EXPECT_TRUE(channel.IsNotAssociated());
}

TEST_F(BlockServiceTest, ChannelListAnswersWithTheDomainsMaskOnly)
{
    RunPastStart();
    std::memset(Bytes() + 10, 0xEE, 4);
    channel.PostChannelList();
    RunUntil(now);
    EXPECT_EQ(Status(), STAT_CHANNEL_LIST);
    EXPECT_EQ(channel.ChannelMask(), 0x1FFF);
    EXPECT_EQ(Bytes()[10], 0xEE) << "nothing past the mask is written";
    EXPECT_EQ(block.cmdWord, 0x12000001u);
}

TEST_F(BlockServiceTest, SetConfigIsAcknowledgedByClearingTheCodeOnlyAndTakenEachTime)
{
    RunPastStart();
    block.cmdWord = 0x00ABCD00;
    channel.PostConfig({kAccessPoint, 15, 1, 6, u"Safe"});
    ASSERT_EQ(block.cmdWord >> 24, CMD_SET_CONFIG);
    RunUntil(now);
    EXPECT_EQ(block.cmdWord, 0x00ABCD1Fu) << "code cleared, every mask bit kept";
    EXPECT_EQ(station.Config().name, "Safe");
    EXPECT_EQ(service.CommandsTaken(), 1u);

    channel.PostConfig({kAccessPoint, 15, 1, 6, u"Safe"});
    RunUntil(now);
    EXPECT_EQ(service.CommandsTaken(), 2u) << "the same command twice is taken twice";
    EXPECT_EQ(block.cmdWord >> 24, 0u);
}

TEST_F(BlockServiceTest, SetWepChangesTheNetworkThatAnswers)
{
    RunPastStart();
    channel.PostConfig({kAccessPoint, 15, 1, 6, u"Safe"});
    RunUntil(now + Millis{1000});
    channel.PostLinkInfo();
    RunUntil(now);
    EXPECT_TRUE(channel.IsNotAssociated()) << "Safe needs WEP";

    std::array<uint8_t, 20> keys{};
    for (size_t i = 0; i < 20; ++i)
        keys[i] = static_cast<uint8_t>(0x30 + i);
    channel.PostWep(kWep64, 2, keys);
    RunUntil(now + Millis{1000});
    EXPECT_EQ(block.cmdWord >> 24, 0u);
    channel.PostLinkInfo();
    RunUntil(now);
    EXPECT_EQ(Bytes()[13], 0x01) << "joined Safe";
    EXPECT_EQ(Bytes()[18], 1);

    keys[6] ^= 0xFF;  // Key 2, the default, now differs
    channel.PostWep(kWep64, 2, keys);
    RunUntil(now + Millis{1000});
    channel.PostLinkInfo();
    RunUntil(now);
    EXPECT_TRUE(channel.IsNotAssociated());
}

TEST_F(BlockServiceTest, CardOutStandsUntilInsertionThenCardInForASecond)
{
    RunPastStart();
    channel.PostLinkInfo();
    RunUntil(now);
    station.SetCard(Card::Out, now, random);
    RunUntil(now + Millis{3000});
    EXPECT_EQ(Status(), STAT_CARD_OUT);
    station.SetCard(Card::In, now, random);
    const Millis insertedAt = now;
    RunUntil(insertedAt + Millis{990});
    EXPECT_EQ(Status(), STAT_CARD_IN);
    RunUntil(insertedAt + Millis{1010});
    EXPECT_EQ(Status(), STAT_LINK_INFO);
    EXPECT_FALSE(channel.IsNotAssociated()) << "joined again within the second";
}

TEST_F(BlockServiceTest, HostileBytesAreIgnoredFieldByField)
{
    RunPastStart();
    channel.PostConfig({kAccessPoint, 3, 2, 9, u"Home"});
    RunUntil(now);
    const StationConfig before = station.Config();

    // Network type 7, rate set 0, power save 9, channel 0, a name count of 200; then each
    // field's nearest value that is not valid: type 2, rate set 16, power save 0, channel 15.
    for (const auto& payload : {std::array<uint8_t, 10>{7, 0, 0, 0, 9, 0, 0, 0, 200, 0},
                                std::array<uint8_t, 10>{2, 0, 16, 0, 0, 0, 15, 0, 34, 0}}) {
        block.cmdWord = 0;
        std::memcpy(Bytes() + 8, payload.data(), payload.size());
        block.cmdWord = 0x2100001F;
        RunUntil(now);
        EXPECT_EQ(block.cmdWord, 0x0000001Fu) << "taken, so it is not read again";
        EXPECT_EQ(station.Config(), before) << "type " << int(payload[0]);
    }

    // WEP mode 9: the whole command is ignored.
    const WepSettings wepBefore = station.Wep();
    Bytes()[8] = 9;
    block.cmdWord = 0x22000001;
    RunUntil(now);
    EXPECT_EQ(station.Wep(), wepBefore);

    // Unknown codes stay where they are and are not answered.
    block.statusWord = 0;
    block.cmdWord = 0x33FFFFFF;
    RunUntil(now + Millis{100});
    EXPECT_EQ(block.cmdWord, 0x33FFFFFFu);
    EXPECT_EQ(block.statusWord, 0u);
}

// A card whose channels change while CHANNEL_LIST stands, as a real card's do when a new
// regulatory domain reaches its driver. The simulator's never change.
class MaskCard final : public ServiceCard {
public:
    Card CardState() const override { return Card::In; }
    LinkInfo Link() override { return {}; }
    uint16_t ChannelMask() const override { return mask; }
    const StationConfig& Config() const override { return config_; }
    const WepSettings& Wep() const override { return wep_; }
    bool TakeConfig(const StationConfig&, Millis) override { return false; }
    bool TakeWep(const WepSettings&, Millis) override { return false; }

    uint16_t mask = 0x07FF;

private:
    StationConfig config_;
    WepSettings wep_;
};

TEST(BlockServiceChannels, AMaskThatChangesWhileTheRequestStandsIsPublished)
{
    ConnectBlock block{};
    ConnectChannel channel{&block};
    Log log{Verbosity::Normal};
    MaskCard card;
    BlockService service{&block, card, log};
    channel.PostChannelList();
    service.Poll(Millis{0});
    service.Poll(BlockService::kCardInStands);
    EXPECT_EQ(channel.ChannelMask(), 0x07FF);
    card.mask = 0x1FFF;
    service.Poll(BlockService::kCardInStands + Millis{10});
    EXPECT_EQ(channel.ChannelMask(), 0x1FFF);
}

TEST_F(BlockServiceTest, RandomBlocksNeverStopTheService)
{
    RunPastStart();
    Random noise(11);
    for (int round = 0; round < 5000; ++round) {
        for (uint8_t& byte : std::span(Bytes(), sizeof block))
            byte = noise.Byte();
        // Mostly the codes the service acts on, so every path is taken.
        const uint8_t codes[] = {CMD_LINK_INFO, CMD_CHANNEL_LIST, CMD_SET_CONFIG, CMD_SET_WEP, 0x7E};
        Bytes()[3] = codes[noise.Below(5)];
        station.Step(now, environment, random);
        service.Poll(now);
        now += Millis{10};
    }
    channel.PostConfig({kAccessPoint, 15, 1, 6, u"Home"});
    RunUntil(now + Millis{20});
    channel.PostWep(kWepOff, 0, {});
    RunUntil(now + Millis{1000});
    channel.PostLinkInfo();
    RunUntil(now + Millis{300});
    EXPECT_EQ(Status(), STAT_LINK_INFO);
    EXPECT_EQ(Bytes()[13], 0x01) << "still serving: joined Home";
}

// The utility's posts wake the service; a peer that only writes the block is found by the
// slow look. Each is checked alone: with a look too slow to matter, only the wake can signal.
TEST(BlockWakerTest, APostWakesTheServiceAndASilentWriteIsFoundByTheLook)
{
    ConnectBlock block{};
    ConnectChannel channel(&block);
    const auto signalled = [](const BlockWaker& waker) {
        pollfd readable{waker.Fd(), POLLIN, 0};
        return poll(&readable, 1, 30'000) == 1;
    };
    std::string error;
    auto woken = BlockWaker::Start(&block, error, std::chrono::hours(1));
    ASSERT_TRUE(woken) << error;
    channel.PostConfig({1, 15, 1, 6, u"a"});
    EXPECT_TRUE(signalled(*woken));
    // Acknowledged and posted again: the word is the one the waker saw before, yet this is a
    // new command.
    std::atomic_ref<uint32_t>(block.cmdWord).store(block.cmdWord & 0x00FFFFFF);
    woken->Handled(block.cmdWord);
    std::this_thread::sleep_for(BlockWaker::kGap * 2);
    woken->Drain();
    channel.PostConfig({1, 15, 1, 6, u"a"});
    EXPECT_TRUE(signalled(*woken));
    woken.reset();

    auto looking = BlockWaker::Start(&block, error, std::chrono::milliseconds(20));
    ASSERT_TRUE(looking) << error;
    looking->Handled(block.cmdWord);
    std::atomic_ref<uint32_t>(block.cmdWord).store(0x12000001);   // CHANNEL_LIST, no wake
    EXPECT_TRUE(signalled(*looking));
}

TEST(CommandDecoder, TheLogLineNamesEveryFieldAsTheUtilityShowsIt)
{
    EXPECT_EQ(CommandDecoder::DescribeConfig({kPeerToPeer, 15, 1, 6, "abc"}),
              "type=Peer-to-Peer name=\"abc\" rate=Fully Automatic ps=Disabled channel=6");
    EXPECT_EQ(CommandDecoder::DescribeConfig({kAccessPoint, 4, 2, 11, "a\"b\x01"}),
              "type=Access Point name=\"a\\x22b\\x01\" rate=5.5 Mbps ps=Enabled channel=11");
    EXPECT_EQ(CommandDecoder::DescribeWep({kWep64, 3, {}}), "mode=64 Bit key=3");
}

TEST(CommandDecoder, ANameCountOf33IsReadWholeAndWepOffKeepsTheKeys)
{
    BlockBytes bytes{};
    bytes[8] = 1;
    bytes[10] = 15;
    bytes[12] = 1;
    bytes[14] = 6;
    bytes[16] = 33;
    for (size_t i = 0; i < 33; ++i)
        bytes[18 + i] = static_cast<uint8_t>('a' + i % 26);
    std::vector<std::string> warnings;
    const StationConfig config = CommandDecoder::DecodeConfig(bytes, {}, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(config.name.size(), 33u);
    EXPECT_EQ(config.name.back(), 'g');

    WepSettings current{kWep128, 1, {}};
    current.keys[0] = 0x55;
    BlockBytes wepOff{};
    wepOff[9] = 4;
    wepOff[10] = 0x99;
    const auto off = CommandDecoder::DecodeWep(wepOff, current, warnings);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->wepReq, kWepOff);
    EXPECT_EQ(off->keys[0], 0x55);
    EXPECT_EQ(off->defaultKeyId, 1);
}

} // namespace
} // namespace cardsim
