#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"
#include "platform/TextConversion.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::array<uint8_t, 64>;

struct Store {
    size_t offset;
    uint8_t value;
    uint32_t cmdWordThen;
    bool operator==(const Store&) const = default;
};

// Records every payload byte with the cmdWord that was in force when it was written.
class WatchedChannel : public ConnectChannel {
public:
    using ConnectChannel::ConnectChannel;
    std::vector<Store> stores;

protected:
    void StorePayloadByte(size_t offset, uint8_t value) override
    {
        stores.push_back({offset, value, CommandWord()});
        ConnectChannel::StorePayloadByte(offset, value);
    }
};

void PutU32(Bytes& bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

class ConnectChannelTest : public ::testing::Test {
protected:
    // Exactly 64 bytes on the heap, so a step past the block is an AddressSanitizer report.
    std::unique_ptr<ConnectBlock> block_ = std::make_unique<ConnectBlock>();
    WatchedChannel channel_{block_.get()};

    // Every byte set to `filler`, then the two words.
    Bytes Prepare(uint8_t filler, uint32_t cmdWord, uint32_t statusWord = 0xA1B2C3D4)
    {
        Bytes bytes;
        bytes.fill(filler);
        PutU32(bytes, 0, cmdWord);
        PutU32(bytes, 4, statusWord);
        std::memcpy(block_.get(), bytes.data(), bytes.size());
        channel_.stores.clear();
        return bytes;
    }
    Bytes Current() const
    {
        Bytes bytes;
        std::memcpy(bytes.data(), block_.get(), bytes.size());
        return bytes;
    }
    void SetStatus(uint32_t word) { std::memcpy(&block_->statusWord, &word, 4); }

    std::vector<uint32_t> CmdWordsDuringPayload() const
    {
        std::vector<uint32_t> words;
        for (const Store& store : channel_.stores)
            if (words.empty() || words.back() != store.cmdWordThen)
                words.push_back(store.cmdWordThen);
        return words;
    }
};

const std::array<uint8_t, 20> kKeys64 = {0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x21, 0x22, 0x23, 0x24,
                                         0x30, 0x31, 0x32, 0x33, 0x34, 0x40, 0x41, 0x42, 0x43, 0x44};

TEST_F(ConnectChannelTest, LinkInfoRequestComposesTheWordThenClearsBytes8To19)
{
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0x00000000, 0x1100001F}, {0xFFFFFFFF, 0x11FFFFFF}, {0x12000001, 0x1100001F},
        {0x22ABCDE1, 0x11ABCDFF}, {0x0000001F, 0x1100001F}};
    for (auto [before, after] : cases) {
        Bytes expected = Prepare(0xA5, before);
        channel_.PostLinkInfo();
        PutU32(expected, 0, after);
        std::fill(expected.begin() + 8, expected.begin() + 20, 0);
        EXPECT_EQ(Current(), expected) << std::hex << before;
        // Posted first, cleared after.
        EXPECT_EQ(CmdWordsDuringPayload(), std::vector<uint32_t>{after}) << std::hex << before;
        EXPECT_EQ(channel_.stores.size(), 12u);
    }
}

TEST_F(ConnectChannelTest, ChannelListRequestComposesTheWordAndTouchesNothingElse)
{
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0x00000000, 0x12000001}, {0x1100001F, 0x1200001F}, {0xFFFFFFFF, 0x12FFFFFF}, {0x21ABCDE0, 0x12ABCDE1}};
    for (auto [before, after] : cases) {
        Bytes expected = Prepare(0x5A, before);
        channel_.PostChannelList();
        PutU32(expected, 0, after);
        EXPECT_EQ(Current(), expected) << std::hex << before;
        EXPECT_TRUE(channel_.stores.empty());
    }
}

TEST_F(ConnectChannelTest, WithdrawClearsOnlyTheCode)
{
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0x1100001F, 0x0000001F}, {0xFFFFFFFF, 0x00FFFFFF}, {0x00000000, 0x00000000}, {0x12ABCDE1, 0x00ABCDE1}};
    for (auto [before, after] : cases) {
        Bytes expected = Prepare(0x5A, before);
        channel_.Withdraw();
        PutU32(expected, 0, after);
        EXPECT_EQ(Current(), expected) << std::hex << before;
        EXPECT_TRUE(channel_.stores.empty());
    }
}

TEST_F(ConnectChannelTest, ConfigIsWrittenUnderACodeOfZeroAndPublishedLast)
{
    const ConfigPayload config{1, 8, 0, 6, u"HomeNet"};
    Prepare(0xEE, 0x12000001);
    channel_.PostConfig(config);
    EXPECT_EQ(CmdWordsDuringPayload(), std::vector<uint32_t>{0x0000001F});
    EXPECT_EQ(channel_.CommandWord(), 0x2100001Fu);

    // Mask bits 5..23 survive both steps.
    Prepare(0xEE, 0x12ABCDE1);
    channel_.PostConfig(config);
    EXPECT_EQ(CmdWordsDuringPayload(), std::vector<uint32_t>{0x00ABCDFF});
    EXPECT_EQ(channel_.CommandWord(), 0x21ABCDFFu);
}

TEST_F(ConnectChannelTest, WepIsWrittenUnderACodeOfZeroAndPublishedLast)
{
    Prepare(0xEE, 0x1100001F);
    channel_.PostWep(2, 1, kKeys64);
    // Bit 0 is cleared and set again within the one store of step 1.
    EXPECT_EQ(CmdWordsDuringPayload(), std::vector<uint32_t>{0x0000001F});
    EXPECT_EQ(channel_.CommandWord(), 0x2200001Fu);

    Prepare(0xEE, 0x11ABCDE0);
    channel_.PostWep(0, 1, kKeys64);
    EXPECT_EQ(CmdWordsDuringPayload(), std::vector<uint32_t>{0x00ABCDE1});
    EXPECT_EQ(channel_.CommandWord(), 0x22ABCDE1u);
}

TEST_F(ConnectChannelTest, ConfigPayloadIsLittleEndianWithTheNameAndItsCountAndNoTerminator)
{
    Bytes expected = Prepare(0xEE, 0x12000001);
    channel_.PostConfig({0x0102, 0x0B0A, 0xFFFF, 14, u"HomeNet"});
    PutU32(expected, 0, 0x2100001F);
    const uint8_t payload[] = {0x02, 0x01, 0x0A, 0x0B, 0xFF, 0xFF, 0x0E, 0x00, 0x07, 0x00,
                               'H', 'o', 'm', 'e', 'N', 'e', 't'};
    std::copy(std::begin(payload), std::end(payload), expected.begin() + 8);
    EXPECT_EQ(Current(), expected) << "bytes 25..63 keep 0xEE";

    // The four numbers, then the name the conversion produced, then its count.
    std::vector<size_t> order;
    for (const Store& store : channel_.stores)
        order.push_back(store.offset);
    EXPECT_EQ(order, (std::vector<size_t>{8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 20, 21, 22, 23, 24, 16, 17}));
}

TEST_F(ConnectChannelTest, NameOf33BytesFitsAndOneOf34GivesACountOfZeroLeavingOldBytes)
{
    Bytes expected = Prepare(0xEE, 0);
    channel_.PostConfig({0, 0, 0, 0, std::u16string(33, u'x')});
    PutU32(expected, 0, 0x2100001F);
    std::fill(expected.begin() + 8, expected.begin() + 16, 0);
    expected[16] = 33;
    expected[17] = 0;
    std::fill(expected.begin() + 18, expected.begin() + 51, 'x');
    EXPECT_EQ(Current(), expected) << "bytes 51..63 keep 0xEE";

    // The 33 'x' stay where they are: only the count says they are not a name.
    channel_.PostConfig({0, 0, 0, 0, std::u16string(34, u'y')});
    expected[16] = 0;
    EXPECT_EQ(Current(), expected);

    channel_.PostConfig({0, 0, 0, 0, u""});
    EXPECT_EQ(Current(), expected);
    channel_.PostConfig({0, 0, 0, 0, std::u16string(10'000, u'z')});
    EXPECT_EQ(Current(), expected);
}

TEST_F(ConnectChannelTest, NameGoesThroughTheAnsiCodePage)
{
    // The code page is the locale's: under UTF-8 the e and its combining accent become one
    // precomposed letter of two bytes.
    testenv::ScopedEnv locale("LC_ALL", "C.UTF-8");
    Prepare(0xEE, 0);
    channel_.PostConfig({0, 0, 0, 0, u"Cafe\u0301"});
    EXPECT_EQ(channel_.ReadU16(block::kConfigNameCount), 5u);
    const std::array<uint8_t, 6> expected = {'C', 'a', 'f', 0xC3, 0xA9, 0xEE};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(channel_.ReadU8(block::kConfigName + i), expected[i]) << "byte " << i;
}

TEST_F(ConnectChannelTest, WepOffWritesOnlyOffset8)
{
    Bytes expected = Prepare(0xEE, 0x1100001F);
    channel_.PostWep(0, 3, kKeys64);
    PutU32(expected, 0, 0x2200001F);
    expected[8] = 0;
    EXPECT_EQ(Current(), expected) << "offsets 9 onward keep what they held";
    EXPECT_EQ(channel_.stores, (std::vector<Store>{{8, 0, 0x0000001F}}));
}

TEST_F(ConnectChannelTest, Wep64WritesTwentyKeyBytesInKeyOrder)
{
    Bytes expected = Prepare(0xEE, 0);
    channel_.PostWep(2, 4, kKeys64);
    PutU32(expected, 0, 0x22000001);
    expected[8] = 2;
    expected[9] = 4;
    std::copy(kKeys64.begin(), kKeys64.end(), expected.begin() + 10);
    EXPECT_EQ(Current(), expected) << "bytes 30..63 keep 0xEE";
    ASSERT_EQ(channel_.stores.size(), 22u);
    for (size_t i = 0; i < channel_.stores.size(); ++i)
        EXPECT_EQ(channel_.stores[i].offset, 8 + i) << "written in offset order";
}

TEST_F(ConnectChannelTest, Wep128WritesThirteenKeyBytes)
{
    Bytes expected = Prepare(0xEE, 0);
    std::span<const uint8_t> key(kKeys64.data(), 13);
    channel_.PostWep(6, 1, key);
    PutU32(expected, 0, 0x22000001);
    expected[8] = 6;
    expected[9] = 1;
    std::copy(key.begin(), key.end(), expected.begin() + 10);
    EXPECT_EQ(Current(), expected) << "bytes 23..63 keep 0xEE";
}

TEST_F(ConnectChannelTest, WepKeysLongerThanTheLayoutAreCutAtTwentyBytes)
{
    Bytes expected = Prepare(0xEE, 0);
    std::vector<uint8_t> tooMany(200, 0x77);
    channel_.PostWep(2, 1, tooMany);
    PutU32(expected, 0, 0x22000001);
    expected[8] = 2;
    expected[9] = 1;
    std::fill(expected.begin() + 10, expected.begin() + 30, 0x77);
    EXPECT_EQ(Current(), expected);

    expected = Prepare(0xEE, 0);
    channel_.PostWep(6, 2, {});
    PutU32(expected, 0, 0x22000001);
    expected[8] = 6;
    expected[9] = 2;
    EXPECT_EQ(Current(), expected);
}

TEST_F(ConnectChannelTest, PollComparesTheTopByteOnlyAndReadsTheWordAfresh)
{
    Bytes before = Prepare(0x00, 0x1100001F, 0x11000000);
    EXPECT_TRUE(channel_.Poll(STAT_LINK_INFO));
    SetStatus(0x11FFFFFF);
    EXPECT_TRUE(channel_.Poll(STAT_LINK_INFO)) << "whatever the low 24 bits hold";
    EXPECT_FALSE(channel_.Poll(STAT_CHANNEL_LIST));

    SetStatus(0x10FFFFFF);
    for (uint8_t code : {STAT_LINK_INFO, STAT_CHANNEL_LIST, STAT_CARD_IN, STAT_CARD_OUT})
        EXPECT_FALSE(channel_.Poll(code)) << int{code};

    SetStatus(0x01000000);
    EXPECT_TRUE(channel_.Poll(STAT_CARD_IN));
    SetStatus(0x0F123456);
    EXPECT_TRUE(channel_.Poll(STAT_CARD_OUT));
    SetStatus(0x12000000);
    EXPECT_TRUE(channel_.Poll(STAT_CHANNEL_LIST));
    EXPECT_EQ(channel_.StatusWord(), 0x12000000u);

    PutU32(before, 4, 0x12000000);
    EXPECT_EQ(Current(), before) << "polling writes nothing";
}

TEST_F(ConnectChannelTest, PayloadReadersAreLittleEndianAndStayInsideTheBlock)
{
    Prepare(0x00, 0x1100001F, 0x11000000);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(block_.get());
    const uint8_t link[] = {0x00, 0x0A, 0x5E, 0x12, 0x34, 0x56, 0x08, 0x00, 13, 7, 11};
    std::copy(std::begin(link), std::end(link), bytes + 8);
    EXPECT_EQ(channel_.ReadU8(block::kLinkBssid + 5), 0x56);
    EXPECT_EQ(channel_.ReadU16(block::kLinkRate), 8);
    EXPECT_EQ(channel_.ReadU8(block::kLinkQuality), 13);
    EXPECT_EQ(channel_.ReadU8(block::kLinkStrength), 7);
    EXPECT_EQ(channel_.ReadU8(block::kLinkChannel), 11);
    EXPECT_EQ(channel_.ChannelMask(), 0x0A00);
    EXPECT_FALSE(channel_.IsNotAssociated());

    std::fill(bytes + 8, bytes + 14, block::kNotAssociated);
    EXPECT_TRUE(channel_.IsNotAssociated());
    bytes[13] = 0x45;
    EXPECT_FALSE(channel_.IsNotAssociated());

    bytes[62] = 0x34;
    bytes[63] = 0x12;
    EXPECT_EQ(channel_.ReadU16(62), 0x1234);
    EXPECT_EQ(channel_.ReadU8(63), 0x12);
    EXPECT_EQ(channel_.ReadU16(63), 0) << "a field that would run past the block reads as 0";
    EXPECT_EQ(channel_.ReadU8(64), 0);
    EXPECT_EQ(channel_.ReadU8(SIZE_MAX), 0);
    EXPECT_EQ(channel_.ReadU8(4), 0) << "only the payload is read byte by byte";
}

TEST(ConnectChannelWithoutBlock, EveryVerbIsHarmless)
{
    ConnectChannel channel(nullptr);
    channel.PostLinkInfo();
    channel.PostChannelList();
    channel.Withdraw();
    channel.PostConfig({1, 2, 3, 4, u"HomeNet"});
    channel.PostWep(2, 1, kKeys64);
    EXPECT_FALSE(channel.Poll(0));
    EXPECT_FALSE(channel.Poll(STAT_LINK_INFO));
    EXPECT_EQ(channel.StatusWord(), 0u);
    EXPECT_EQ(channel.CommandWord(), 0u);
    EXPECT_EQ(channel.ReadU16(8), 0);
    EXPECT_FALSE(channel.IsNotAssociated());
}

TEST(ConnectChannelOverSharedMemory, WhatOneMappingPostsTheOtherReads)
{
    const std::string name = testenv::UniqueBlockName();
    auto utility = platform::SharedMemory::CreateOrOpen(name, block::kSize);
    auto utilityView = platform::MappedView::Map(utility);
    auto service = platform::SharedMemory::CreateOrOpen(name, block::kSize);
    auto serviceView = platform::MappedView::Map(service);
    ASSERT_FALSE(utility.IsPrivate());
    ASSERT_FALSE(service.IsPrivate());

    ConnectChannel posting(static_cast<ConnectBlock*>(utilityView.Data()));
    ConnectChannel serving(static_cast<ConnectBlock*>(serviceView.Data()));
    posting.PostConfig({0, 2, 1, 11, u"Lab"});
    EXPECT_EQ(serving.CommandWord(), 0x2100001Fu);
    EXPECT_EQ(serving.ReadU16(block::kConfigDsChannel), 11);
    EXPECT_EQ(serving.ReadU16(block::kConfigNameCount), 3);
    EXPECT_EQ(serving.ReadU8(block::kConfigName + 2), 'b');

    std::atomic_ref<uint32_t>(static_cast<ConnectBlock*>(serviceView.Data())->statusWord)
        .store(0x0F000000, std::memory_order_release);
    EXPECT_TRUE(posting.Poll(STAT_CARD_OUT));
}

} // namespace
