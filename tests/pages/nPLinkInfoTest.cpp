// The Status page against a 64-byte block in memory: what each status code shows in the seven
// controls, and what activation and deactivation leave in cmdWord.
#include "pages/nPLinkInfo.h"

#include "app/nApp.h"
#include "link/ConnectBlock.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct LinkInfo {
    uint8_t bssid[6];
    uint16_t rate;
    uint8_t quality;
    uint8_t strength;
    uint8_t channel;
};

// What the seven controls show, in the order the page writes them.
struct Display {
    std::u16string linkState;
    std::u16string rate;
    std::u16string quality;
    int qualityBar;
    std::u16string strength;
    int strengthBar;
    std::u16string channel;

    bool operator==(const Display&) const = default;
};

void PrintTo(const Display& d, std::ostream* os)
{
    const auto narrow = [](const std::u16string& s) { return std::string(s.begin(), s.end()); };
    *os << "{" << narrow(d.linkState) << " | " << narrow(d.rate) << " | " << narrow(d.quality) << " | "
        << d.qualityBar << " | " << narrow(d.strength) << " | " << d.strengthBar << " | " << narrow(d.channel) << "}";
}

const Display kCardIn{u"WLAN Card In", u"*", u"*", 0, u"*", 0, u"*"};

class LinkInfoPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousView_ = theApp.connectView;
        theApp.connectView = &block_;
        ASSERT_TRUE(page_.Create());
    }

    void TearDown() override { theApp.connectView = previousView_; }

    void SetStatus(uint32_t statusWord) { block_.statusWord = statusWord; }

    void SetLinkInfo(const LinkInfo& info)
    {
        std::memcpy(block_.payload, info.bssid, 6);
        std::memcpy(block_.payload + 6, &info.rate, 2);
        block_.payload[8] = info.quality;
        block_.payload[9] = info.strength;
        block_.payload[10] = info.channel;
    }

    void Activate(uint32_t state) { page_.SendMessage(fw::WM_ACTIVATE, fw::MakeWParam(static_cast<uint16_t>(state), 0), 0); }
    void Tick() { page_.SendMessage(fw::WM_TIMER, 1); }

    Display Shown() const
    {
        return {page_.linkStateEdit.GetWindowText(),    page_.txRateEdit.GetWindowText(),
                page_.linkQualityEdit.GetWindowText(),  page_.linkQualityBar.GetPos(),
                page_.signalStrengthEdit.GetWindowText(), page_.signalStrengthBar.GetPos(),
                page_.channelEdit.GetWindowText()};
    }

    Display TickWith(uint32_t statusWord, const LinkInfo& info)
    {
        SetLinkInfo(info);
        SetStatus(statusWord);
        Tick();
        return Shown();
    }

    ConnectBlock block_{};
    nPLinkInfo page_;

private:
    ConnectBlock* previousView_ = nullptr;
};

TEST_F(LinkInfoPageTest, RecordAndBindingFollowTheTemplate)
{
    EXPECT_EQ(nPLinkInfo::runtimeClass.className, "nPLinkInfo");
    const auto created = nPLinkInfo::runtimeClass.CreateObject();
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->IsKindOf(&fw::PropertyPage::runtimeClass));
    EXPECT_EQ(page_.GetTemplate().id, 148);
    EXPECT_EQ(page_.signalStrengthBar.GetDlgCtrlID(), 1051);
    EXPECT_EQ(page_.linkQualityBar.GetDlgCtrlID(), 1050);
    EXPECT_EQ(page_.channelEdit.GetDlgCtrlID(), 1049);
    EXPECT_EQ(page_.signalStrengthEdit.GetDlgCtrlID(), 1048);
    EXPECT_EQ(page_.linkQualityEdit.GetDlgCtrlID(), 1047);
    EXPECT_EQ(page_.txRateEdit.GetDlgCtrlID(), 1046);
    EXPECT_EQ(page_.linkStateEdit.GetDlgCtrlID(), 1045);
}

TEST_F(LinkInfoPageTest, InitialisationSetsBothBarsToZeroOnTheScale)
{
    for (const fw::ProgressBar* bar : {&page_.linkQualityBar, &page_.signalStrengthBar}) {
        EXPECT_EQ(bar->GetRangeLower(), 0);
        EXPECT_EQ(bar->GetRangeUpper(), 15);
        EXPECT_EQ(bar->GetPos(), 0);
    }
    EXPECT_EQ(Shown(), (Display{u"", u"", u"", 0, u"", 0, u""}));
    EXPECT_EQ(block_.cmdWord, 0u) << "initialisation posts nothing";
}

TEST_F(LinkInfoPageTest, DisplayStates)
{
    const LinkInfo linked{{0x02, 0x43, 0x4E, 0x00, 0x00, 0x01}, 8, 7, 15, 6};
    EXPECT_EQ(TickWith(0x11000000, linked),
              (Display{u"BSSID = 02:43:4E:00:00:01", u"11", u"- 46%", 7, u"- 100%", 15, u"06"}));

    // Not associated: the other fields are not looked at.
    const LinkInfo unassociated{{0x44, 0x44, 0x44, 0x44, 0x44, 0x44}, 4, 9, 9, 9};
    EXPECT_EQ(TickWith(0x11000000, unassociated), (Display{u"Disconnect", u"*", u"*", 0, u"*", 0, u"*"}));

    const LinkInfo almost{{0x44, 0x44, 0x44, 0x44, 0x44, 0xab}, 1, 0, 14, 3};
    EXPECT_EQ(TickWith(0x11000000, almost),
              (Display{u"BSSID = 44:44:44:44:44:AB", u"1", u"- 0%", 0, u"- 93%", 14, u"03"}));

    // Card insertion and removal differ only in the link-state text, whatever the payload.
    EXPECT_EQ(TickWith(0x01000000, linked), kCardIn);
    EXPECT_EQ(TickWith(0x0F000000, linked), (Display{u"WLAN Card Out", u"*", u"*", 0, u"*", 0, u"*"}));

    // Only the top byte of the status counts.
    EXPECT_EQ(TickWith(0x11FFFFFF, linked).linkState, u"BSSID = 02:43:4E:00:00:01");
    EXPECT_EQ(TickWith(0x01ABCDEF, linked).linkState, u"WLAN Card In");
}

TEST_F(LinkInfoPageTest, RateTextsWithTwoForUnknownCodes)
{
    const std::vector<std::pair<uint16_t, std::u16string>> rates{
        {1, u"1"}, {2, u"2"}, {4, u"5.5"}, {8, u"11"}, {0, u"2"}, {3, u"2"}, {15, u"2"}, {0x0108, u"2"}, {0xFFFF, u"2"}};
    for (const auto& [code, text] : rates)
        EXPECT_EQ(TickWith(0x11000000, {{1, 2, 3, 4, 5, 6}, code, 0, 0, 0}).rate, text) << "rate code " << code;
}

TEST_F(LinkInfoPageTest, PercentagesTruncateOnTheRawByteWhileBarsKeepIt)
{
    const std::vector<std::pair<uint8_t, std::u16string>> percentages{
        {0, u"- 0%"}, {1, u"- 6%"}, {7, u"- 46%"}, {14, u"- 93%"}, {15, u"- 100%"}, {16, u"- 106%"}, {255, u"- 1700%"}};
    for (const auto& [raw, text] : percentages) {
        const Display shown = TickWith(0x11000000, {{1, 2, 3, 4, 5, 6}, 2, raw, raw, 1});
        EXPECT_EQ(shown.quality, text) << int{raw};
        EXPECT_EQ(shown.strength, text) << int{raw};
        EXPECT_EQ(shown.qualityBar, raw);
        EXPECT_EQ(shown.strengthBar, raw);
    }
    // Quality and strength are separate fields.
    EXPECT_EQ(TickWith(0x11000000, {{1, 2, 3, 4, 5, 6}, 2, 3, 12, 1}),
              (Display{u"BSSID = 01:02:03:04:05:06", u"2", u"- 20%", 3, u"- 80%", 12, u"01"}));
}

TEST_F(LinkInfoPageTest, ChannelHasAtLeastTwoDigits)
{
    const std::vector<std::pair<uint8_t, std::u16string>> channels{{0, u"00"}, {3, u"03"}, {14, u"14"}, {100, u"100"}, {255, u"255"}};
    for (const auto& [raw, text] : channels)
        EXPECT_EQ(TickWith(0x11000000, {{1, 2, 3, 4, 5, 6}, 2, 0, 0, raw}).channel, text);
}

TEST_F(LinkInfoPageTest, ActivationOverAStaleAnswerShowsTheClearedPayload)
{
    TickWith(0x11000000, {{0x02, 0x43, 0x4E, 0x00, 0x00, 0x01}, 8, 7, 15, 6});
    std::memset(block_.payload, 0xEE, sizeof block_.payload);

    Activate(fw::WA_ACTIVE);

    EXPECT_EQ(block_.cmdWord, 0x1100001Fu);
    for (size_t offset = 8; offset < 20; ++offset)
        EXPECT_EQ(block_.payload[offset - 8], 0) << "offset " << offset;
    for (size_t offset = 20; offset < 64; ++offset)
        EXPECT_EQ(block_.payload[offset - 8], 0xEE) << "offset " << offset;

    Tick();  // the service has not refilled the payload yet
    EXPECT_EQ(Shown(), (Display{u"BSSID = 00:00:00:00:00:00", u"2", u"- 0%", 0, u"- 0%", 0, u"00"}));
}

TEST_F(LinkInfoPageTest, OtherStatusCodesLeaveTheDisplayAlone)
{
    const LinkInfo linked{{0x02, 0x43, 0x4E, 0x00, 0x00, 0x01}, 8, 7, 15, 6};
    const Display before = TickWith(0x11000000, linked);
    const LinkInfo other{{9, 9, 9, 9, 9, 9}, 1, 1, 1, 1};
    for (uint32_t status : {0x12000000u, 0x00000000u, 0x10FFFFFFu, 0x02000000u, 0xFF000000u, 0x0E000000u})
        EXPECT_EQ(TickWith(status, other), before) << std::hex << status;
}

TEST_F(LinkInfoPageTest, TypedTextStaysUntilAKnownCode)
{
    TickWith(0x01000000, {});
    page_.linkStateEdit.SetWindowText(u"typed");
    page_.channelEdit.SetWindowText(u"42");

    TickWith(0x12000000, {});
    TickWith(0x00000000, {});
    EXPECT_EQ(page_.linkStateEdit.GetWindowText(), u"typed");
    EXPECT_EQ(page_.channelEdit.GetWindowText(), u"42");

    EXPECT_EQ(TickWith(0x01000000, {}), kCardIn);
}

TEST_F(LinkInfoPageTest, ActivationPostsTheRequestOverAnyOtherCommand)
{
    struct Case {
        uint32_t before;
        uint32_t afterActivation;
        uint32_t afterDeactivation;
    };
    const Case cases[] = {
        {0x00000000, 0x1100001F, 0x0000001F},
        {0x12000001, 0x1100001F, 0x0000001F},  // the Configuration page's request
        {0x2100001F, 0x1100001F, 0x0000001F},
        {0x00FFFFFF, 0x11FFFFFF, 0x00FFFFFF},  // mask bits outside 0..4 are kept
        {0xAB123460, 0x1112347F, 0x0012347F},
    };
    for (const Case& c : cases) {
        block_.cmdWord = c.before;
        Activate(fw::WA_ACTIVE);
        EXPECT_EQ(block_.cmdWord, c.afterActivation) << std::hex << c.before;
        EXPECT_TRUE(page_.IsTimerRunning(1));
        EXPECT_EQ(page_.timerHandle, 1u);

        Activate(fw::WA_INACTIVE);
        EXPECT_EQ(block_.cmdWord, c.afterDeactivation) << std::hex << c.before;
        EXPECT_FALSE(page_.IsTimerRunning(1));
    }
}

TEST_F(LinkInfoPageTest, ClickActivationDoesNothingMore)
{
    block_.cmdWord = 0x12000001;
    block_.payload[0] = 0x5A;
    Activate(fw::WA_CLICKACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x12000001u);
    EXPECT_EQ(block_.payload[0], 0x5A);
    EXPECT_FALSE(page_.IsTimerRunning(1));
}

TEST_F(LinkInfoPageTest, DeactivationBeforeAnyActivationStopsNothing)
{
    EXPECT_EQ(page_.timerHandle, 0u);
    block_.cmdWord = 0x1100001F;
    Activate(fw::WA_INACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x0000001Fu);
    EXPECT_FALSE(page_.IsTimerRunning(1));
}

TEST_F(LinkInfoPageTest, TheTimerDrivesTheDisplayWhileActive)
{
    Activate(fw::WA_ACTIVE);
    SetStatus(0x01000000);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (page_.linkStateEdit.GetWindowText() != u"WLAN Card In" && std::chrono::steady_clock::now() < deadline) {
        QEventLoop loop;  // waits for the page's own timer without spinning
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_EQ(Shown(), kCardIn);

    Activate(fw::WA_INACTIVE);
    EXPECT_FALSE(page_.IsTimerRunning(1));
}

} // namespace
