// The Configuration page against a 64-byte block in memory and a registry in a temporary file:
// the selections made from stored settings, the channel-list exchange, and what Apply leaves
// in the settings, the registry and the block.
#include "pages/nPConfig.h"
#include "pages/nPEncryption.h"

#include "app/nApp.h"
#include "link/ConnectBlock.h"
#include "platform/RegistryKey.h"
#include "platform/Suspend.h"
#include "platform/TextConversion.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr char kRegistryText[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                 "\"SSID\"=\"before\"\r\n"
                                 "\r\n";

// Types into a control's widget as the user would, one key press a character.
void Type(fw::Control& control, std::u16string_view text)
{
    for (char16_t c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(control.GetSafeWidget(), &press);
    }
}

void Paste(fw::Control& control, std::u16string_view text)
{
    QApplication::clipboard()->setText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    QApplication::sendEvent(control.GetSafeWidget(), &press);
}

void PressBackspace(fw::Control& control)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(control.GetSafeWidget(), &press);
}

struct Settings {
    Settings(uint32_t type = 0, uint32_t rate = 0, uint32_t psMode = 0, uint32_t channel = 0, std::u16string ssid = {})
        : NetworkType(type), TxRate(rate), PSMode(psMode), DSChannel(channel), SSID(std::move(ssid))
    {
    }
    uint32_t NetworkType;
    uint32_t TxRate;
    uint32_t PSMode;
    uint32_t DSChannel;
    std::u16string SSID;
};

// What the four lists show: the selected index of each, -1 for none.
struct Selections {
    int networkType;
    int txRate;
    int psMode;
    int channel;
};

class ConfigPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testenv::WriteFile(registryFile_, kRegistryText);
        previousView_ = theApp.connectView;
        theApp.connectView = &block_;
        theApp.connectGuard = AnswerGuard{};
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
        previousHook_ = platform::SetSuspendHook([this](std::chrono::milliseconds d) {
            suspensions_.push_back(d);
            cmdWordWhenSuspended_.push_back(block_.cmdWord);
        });
    }

    void TearDown() override
    {
        platform::SetSuspendHook(previousHook_);
        theApp.connectView = previousView_;
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    void Store(const Settings& s)
    {
        theApp.NetworkType = s.NetworkType;
        theApp.TxRate = s.TxRate;
        theApp.PSMode = s.PSMode;
        theApp.DSChannel = s.DSChannel;
        theApp.SSID = s.SSID;
    }

    // A fresh page initialised from the stored settings.
    std::unique_ptr<nPConfig> Open(const Settings& s)
    {
        Store(s);
        auto page = std::make_unique<nPConfig>();
        EXPECT_TRUE(page->Create());
        return page;
    }

    static Selections Selected(const nPConfig& page)
    {
        return {page.networkTypeCombo.GetCurSel(), page.txRateCombo.GetCurSel(), page.psModeCombo.GetCurSel(),
                page.channelCombo.GetCurSel()};
    }

    static std::vector<std::u16string> ChannelEntries(const nPConfig& page)
    {
        std::vector<std::u16string> entries;
        for (int i = 0; i < page.channelCombo.GetCount(); ++i)
            entries.push_back(page.channelCombo.GetLBText(i));
        return entries;
    }

    static void Activate(nPConfig& page, uint32_t state)
    {
        page.SendMessage(fw::WM_ACTIVATE, fw::MakeWParam(static_cast<uint16_t>(state), 0), 0);
    }
    static void Tick(nPConfig& page) { page.SendMessage(fw::WM_TIMER, 1); }
    static void Apply(nPConfig& page) { page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED)); }

    // Answers a channel-list request the way the service does: mask first, status code last.
    void AnswerChannelList(uint16_t mask)
    {
        std::memcpy(block_.payload, &mask, sizeof mask);
        block_.statusWord = 0x12000000;
    }

    uint16_t BlockU16(size_t offset) const
    {
        uint16_t value;
        std::memcpy(&value, reinterpret_cast<const uint8_t*>(&block_) + offset, sizeof value);
        return value;
    }
    uint8_t BlockByte(size_t offset) const { return reinterpret_cast<const uint8_t*>(&block_)[offset]; }

    // A registry value's type and bytes, as the store hands them to the card driver.
    static std::optional<std::pair<uint32_t, std::string>> RegistryValue(std::u16string_view name)
    {
        auto key = platform::RegistryKey::Open(kDriverParmsKey, platform::Access::Query);
        if (!key)
            return std::nullopt;
        std::string data(4096, '\0');
        uint32_t size = static_cast<uint32_t>(data.size());
        uint32_t type = 0;
        if (key->QueryValue(name, data.data(), &size, &type) != platform::ERROR_SUCCESS)
            return std::nullopt;
        data.resize(size);
        return std::make_pair(type, data);
    }
    static std::pair<uint32_t, std::string> Dword(uint32_t v)
    {
        return {platform::REG_DWORD, std::string(reinterpret_cast<const char*>(&v), 4)};
    }
    static std::pair<uint32_t, std::string> String(std::u16string_view s)
    {
        std::string bytes(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        bytes.append(2, '\0');
        return {platform::REG_SZ, bytes};
    }

    testenv::TempDir dir_;
    std::filesystem::path registryFile_ = dir_ / "registry.reg";
    testenv::ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", registryFile_.string()};
    ConnectBlock block_{};
    std::vector<std::chrono::milliseconds> suspensions_;
    std::vector<uint32_t> cmdWordWhenSuspended_;

private:
    ConnectBlock* previousView_ = nullptr;
    platform::SuspendHook previousHook_;
};

TEST_F(ConfigPageTest, RecordAndBindingFollowTheTemplate)
{
    EXPECT_EQ(nPConfig::runtimeClass.className, "nPConfig");
    const auto created = nPConfig::runtimeClass.CreateObject();
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->IsKindOf(&fw::PropertyPage::runtimeClass));

    const auto page = Open({});
    EXPECT_EQ(page->GetTemplate().id, 131);
    EXPECT_EQ(page->ssidEdit.GetDlgCtrlID(), 1001);
    EXPECT_EQ(page->txRateCombo.GetDlgCtrlID(), 1004);
    EXPECT_EQ(page->psModeCombo.GetDlgCtrlID(), 1006);
    EXPECT_EQ(page->networkTypeCombo.GetDlgCtrlID(), 1002);
    EXPECT_EQ(page->channelCombo.GetDlgCtrlID(), 1008);
}

TEST_F(ConfigPageTest, InitialisationSelectsFromTheStoredSettings)
{
    struct Case {
        Settings stored;
        Selections shown;
        bool channelEnabled;
    };
    const Case cases[] = {
        {{0, 1, 0, 6}, {0, 0, 0, 5}, true},
        {{1, 2, 1, 1}, {1, 1, 0, 0}, false},
        {{2, 3, 2, 14}, {1, 2, 1, 13}, false},
        {{7, 4, 5, 0}, {1, 3, 1, -1}, false},
        {{3, 0, 0xFFFFFFFF, 15}, {-1, -1, 1, -1}, true},     // no entry for type 3 or rate 0
        {{0xFFFFFFFF, 5, 0, 0xFFFFFFFF}, {1, 4, 0, -1}, false},
        {{0, 6, 0, 13}, {0, 4, 0, 12}, true},
        {{0, 8, 0, 2}, {0, 4, 0, 1}, true},
        {{0, 9, 0, 2}, {0, 5, 0, 1}, true},
        {{0, 12, 0, 2}, {0, 5, 0, 1}, true},
        {{0, 15, 0, 2}, {0, 5, 0, 1}, true},
        {{0, 16, 0, 2}, {0, -1, 0, 1}, true},
        {{0, 0xFFFFFFFF, 0, 2}, {0, -1, 0, 1}, true},
    };
    for (const Case& c : cases) {
        const auto page = Open(c.stored);
        const Selections shown = Selected(*page);
        SCOPED_TRACE(testing::Message() << "type " << c.stored.NetworkType << " rate " << c.stored.TxRate << " ps "
                                        << c.stored.PSMode << " channel " << c.stored.DSChannel);
        EXPECT_EQ(shown.networkType, c.shown.networkType);
        EXPECT_EQ(shown.txRate, c.shown.txRate);
        EXPECT_EQ(shown.psMode, c.shown.psMode);
        EXPECT_EQ(shown.channel, c.shown.channel);
        EXPECT_EQ(page->channelCombo.IsWindowEnabled(), c.channelEnabled);
        EXPECT_EQ(page->channelCombo.GetCount(), 14);
        for (size_t k = 0; k < 14; ++k)
            EXPECT_EQ(page->channelNumbers[k], static_cast<int32_t>(k + 1));
        EXPECT_EQ(page->channelCount, 0);
    }
    EXPECT_EQ(block_.cmdWord, 0u) << "initialisation posts nothing";
    EXPECT_TRUE(suspensions_.empty());
}

TEST_F(ConfigPageTest, InitialisationShowsTheWholeName)
{
    const std::u16string name = u"a name longer than the thirty-three bytes of the block, \u00e9\u4e2d";
    const auto page = Open({0, 15, 1, 6, name});
    EXPECT_EQ(page->ssidEdit.GetWindowText(), name);
}

TEST_F(ConfigPageTest, NetworkTypeChoiceEnablesTheChannelList)
{
    const auto page = Open({0, 15, 1, 6});
    page->networkTypeCombo.SetCurSel(1);
    EXPECT_TRUE(page->channelCombo.IsWindowEnabled()) << "a selection by the program notifies nothing";
    page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1002, fw::CBN_SELCHANGE));
    EXPECT_FALSE(page->channelCombo.IsWindowEnabled());

    page->networkTypeCombo.SetCurSel(0);
    page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1002, fw::CBN_SELCHANGE));
    EXPECT_TRUE(page->channelCombo.IsWindowEnabled());
}

TEST_F(ConfigPageTest, ApplyMapsEachSelection)
{
    struct Case {
        Selections chosen;
        Settings written;
    };
    const Case cases[] = {
        {{0, -1, 0, 0}, {0, 0, 1, 1}},
        {{1, 0, 1, 5}, {1, 1, 2, 6}},
        {{-1, 1, -1, 13}, {1, 2, 1, 14}},
        {{0, 2, 0, 10}, {0, 3, 1, 11}},
        {{0, 3, 0, 1}, {0, 4, 1, 2}},
        {{0, 4, 0, 1}, {0, 8, 1, 2}},
        {{0, 5, 0, 1}, {0, 15, 1, 2}},
    };
    const auto page = Open({0, 15, 1, 6});
    for (const Case& c : cases) {
        page->networkTypeCombo.SetCurSel(c.chosen.networkType);
        page->txRateCombo.SetCurSel(c.chosen.txRate);
        page->psModeCombo.SetCurSel(c.chosen.psMode);
        page->channelCombo.SetCurSel(c.chosen.channel);
        Apply(*page);
        SCOPED_TRACE(testing::Message() << "selections " << c.chosen.networkType << " " << c.chosen.txRate << " "
                                        << c.chosen.psMode << " " << c.chosen.channel);
        EXPECT_EQ(theApp.NetworkType, c.written.NetworkType);
        EXPECT_EQ(theApp.TxRate, c.written.TxRate);
        EXPECT_EQ(theApp.PSMode, c.written.PSMode);
        EXPECT_EQ(theApp.DSChannel, c.written.DSChannel);
        EXPECT_EQ(BlockU16(8), c.written.NetworkType);
        EXPECT_EQ(BlockU16(10), c.written.TxRate);
        EXPECT_EQ(BlockU16(12), c.written.PSMode);
        EXPECT_EQ(BlockU16(14), c.written.DSChannel);
        EXPECT_EQ(Selected(*page).networkType, c.chosen.networkType) << "Apply changes no control";
    }
}

TEST_F(ConfigPageTest, ApplyWritesWhatUnshownStoredValuesGive)
{
    struct Case {
        Settings stored;
        Settings written;
    };
    const Case cases[] = {
        {{3, 0, 0, 6}, {1, 0, 1, 6}},    // type 3 shows no entry and is written as 1
        {{0, 6, 5, 6}, {0, 8, 2, 6}},
        {{0, 12, 1, 6}, {0, 15, 1, 6}},
        {{0, 16, 2, 6}, {0, 0, 2, 6}},
    };
    for (const Case& c : cases) {
        const auto page = Open(c.stored);
        Apply(*page);
        SCOPED_TRACE(testing::Message() << "stored type " << c.stored.NetworkType << " rate " << c.stored.TxRate);
        EXPECT_EQ(theApp.NetworkType, c.written.NetworkType);
        EXPECT_EQ(theApp.TxRate, c.written.TxRate);
        EXPECT_EQ(theApp.PSMode, c.written.PSMode);
        EXPECT_EQ(theApp.DSChannel, c.written.DSChannel);
    }
    const auto page = Open({3, 0, 0, 6});
    Apply(*page);
    EXPECT_EQ(page->networkTypeCombo.GetCurSel(), -1);
    EXPECT_TRUE(page->channelCombo.IsWindowEnabled());
}

TEST_F(ConfigPageTest, ApplyWithoutAChannelSelectionKeepsTheStoredChannel)
{
    for (uint32_t stored : {0u, 15u, 200u, 0xFFFFFFFFu}) {
        const auto page = Open({0, 15, 1, stored});
        ASSERT_EQ(page->channelCombo.GetCurSel(), -1);
        Apply(*page);
        EXPECT_EQ(theApp.DSChannel, stored);
        EXPECT_EQ(BlockU16(14), static_cast<uint16_t>(stored));
        EXPECT_EQ(RegistryValue(u"DSChannel"), Dword(stored));
    }
}

TEST_F(ConfigPageTest, ActivationRequestsTheChannelListUntilItArrives)
{
    const auto page = Open({0, 15, 1, 6});
    block_.cmdWord = 0x1100001F;  // the Status page's request
    Activate(*page, fw::WA_ACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x1200001Fu);
    EXPECT_TRUE(page->IsTimerRunning(1));
    EXPECT_EQ(page->pollTimerId, 1u);

    // Deactivation while waiting stops the timer and leaves the request in place.
    Activate(*page, fw::WA_INACTIVE);
    EXPECT_FALSE(page->IsTimerRunning(1));
    EXPECT_EQ(block_.cmdWord, 0x1200001Fu);

    block_.cmdWord = 0x00ABCDEE;
    Activate(*page, fw::WA_ACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x12ABCDEFu);
    EXPECT_TRUE(page->IsTimerRunning(1));

    Activate(*page, fw::WA_CLICKACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x12ABCDEFu);
}

TEST_F(ConfigPageTest, TicksWithoutTheAnswerLeaveTheListAlone)
{
    const auto page = Open({0, 15, 1, 6});
    Activate(*page, fw::WA_ACTIVE);
    std::memcpy(block_.payload, "\x01\x00", 2);
    for (uint32_t status : {0x11000000u, 0x00000000u, 0x01000000u, 0x13000000u, 0x0F000000u}) {
        block_.statusWord = status;
        Tick(*page);
        EXPECT_EQ(page->channelCombo.GetCount(), 14);
        EXPECT_EQ(page->channelCombo.GetCurSel(), 5);
        EXPECT_EQ(page->channelCount, 0);
        EXPECT_TRUE(page->IsTimerRunning(1));
    }
}

TEST_F(ConfigPageTest, TheAnswerNarrowsTheListToTheAllowedChannels)
{
    const auto page = Open({0, 15, 1, 6});
    Activate(*page, fw::WA_ACTIVE);
    AnswerChannelList(0x0421);
    Tick(*page);

    EXPECT_EQ(ChannelEntries(*page), (std::vector<std::u16string>{u"1", u"6", u"11"}));
    EXPECT_EQ(page->channelCombo.GetCurSel(), 1);
    EXPECT_EQ(page->channelCount, 3);
    EXPECT_EQ(page->channelNumbers[0], 1);
    EXPECT_EQ(page->channelNumbers[1], 6);
    EXPECT_EQ(page->channelNumbers[2], 11);
    EXPECT_FALSE(page->IsTimerRunning(1));
    EXPECT_TRUE(page->channelCombo.IsWindowEnabled());

    Apply(*page);
    EXPECT_EQ(theApp.DSChannel, 6u);
    page->channelCombo.SetCurSel(2);
    Apply(*page);
    EXPECT_EQ(theApp.DSChannel, 11u);

    // Once a list has arrived, activation posts nothing and starts no timer.
    Activate(*page, fw::WA_INACTIVE);
    block_.cmdWord = 0x1100001F;
    Activate(*page, fw::WA_ACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x1100001Fu);
    EXPECT_FALSE(page->IsTimerRunning(1));
    EXPECT_EQ(ChannelEntries(*page).size(), 3u);
}

TEST_F(ConfigPageTest, AStoredChannelTheCardDoesNotAllowGivesTheFirst)
{
    const auto page = Open({0, 15, 1, 13});
    Activate(*page, fw::WA_ACTIVE);
    AnswerChannelList(0x07FF);
    Tick(*page);

    EXPECT_EQ(ChannelEntries(*page), (std::vector<std::u16string>{u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8",
                                                                   u"9", u"10", u"11"}));
    EXPECT_EQ(page->channelCombo.GetCurSel(), 0);
    EXPECT_EQ(page->channelCount, 11);
    Apply(*page);
    EXPECT_EQ(theApp.DSChannel, 1u);
}

TEST_F(ConfigPageTest, AChannelChosenBeforeTheListArrivesStaysChosen)
{
    const auto page = Open({0, 15, 1, 6});
    Activate(*page, fw::WA_ACTIVE);
    page->channelCombo.SetCurSel(2);  // "3", picked from the template's list
    AnswerChannelList(0x07FF);
    Tick(*page);
    EXPECT_EQ(page->channelCombo.GetLBText(page->channelCombo.GetCurSel()), u"3");
    Apply(*page);
    EXPECT_EQ(theApp.DSChannel, 3u);

    // A choice the card does not allow gives way to the stored channel.
    const auto other = Open({0, 15, 1, 6});
    Activate(*other, fw::WA_ACTIVE);
    other->channelCombo.SetCurSel(12);  // "13"
    AnswerChannelList(0x07FF);
    Tick(*other);
    EXPECT_EQ(other->channelCombo.GetLBText(other->channelCombo.GetCurSel()), u"6");
}

// The service answers at once and leaves its status standing; Apply comes before the page's
// first tick and writes the network type where the mask was.
TEST_F(ConfigPageTest, ApplyBeforeTheListIsReadNeitherTakesItsPayloadForTheMaskNorWaitsForever)
{
    for (uint32_t networkType : {0u, 1u}) {
        SCOPED_TRACE(networkType);
        block_ = ConnectBlock{};
        const auto page = Open({networkType, 15, 1, 6});
        Activate(*page, fw::WA_ACTIVE);
        AnswerChannelList(0x07FF);
        Apply(*page);
        ASSERT_EQ(BlockU16(8), networkType);
        block_.cmdWord &= 0x00FFFFFF;  // the service takes the configuration

        for (int tick = 0; tick < 3; ++tick) {
            Tick(*page);
            EXPECT_EQ(page->channelCombo.GetCount(), 14) << "tick " << tick;
            EXPECT_EQ(page->channelCount, 0);
        }
        // The request was asked again once the configuration was taken.
        EXPECT_EQ(block_.cmdWord >> 24, 0x12u);
        EXPECT_TRUE(page->IsTimerRunning(1));

        // The answer to the request that stands, with the very status word as before.
        AnswerChannelList(0x07FF);
        Tick(*page);
        EXPECT_EQ(page->channelCount, 11);
        EXPECT_EQ(page->channelCombo.GetLBText(page->channelCombo.GetCurSel()), u"6");
        Apply(*page);
        EXPECT_EQ(theApp.DSChannel, 6u);
    }
}

// The same road through the other page: its Apply leaves WepReq 2 and key 1 (02 01, channels
// 2 and 9 if read as a mask) under the answer the Configuration page was left before reading.
TEST_F(ConfigPageTest, AnotherPagesApplyBeforeTheListIsReadIsNotTakenForTheMask)
{
    const auto page = Open({0, 15, 1, 6});
    Activate(*page, fw::WA_ACTIVE);
    AnswerChannelList(0x07FF);
    Activate(*page, fw::WA_INACTIVE);
    theApp.WepReq = 2;
    theApp.DefaultKeyId = 1;
    nPEncryption encryption;
    ASSERT_TRUE(encryption.Create());
    encryption.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));
    ASSERT_EQ(BlockU16(8), 0x0102);
    block_.cmdWord &= 0x00FFFFFF;  // the service takes the WEP settings, and answers slowly

    Activate(*page, fw::WA_ACTIVE);
    Tick(*page);
    EXPECT_EQ(page->channelCount, 0);
    EXPECT_EQ(page->channelCombo.GetCount(), 14);
    AnswerChannelList(0x07FF);
    Tick(*page);
    EXPECT_EQ(page->channelCount, 11);
}

TEST_F(ConfigPageTest, EveryChannelAndTheTopBitsIgnored)
{
    const auto page = Open({1, 15, 1, 14});
    Activate(*page, fw::WA_ACTIVE);
    AnswerChannelList(0xFFFF);
    Tick(*page);
    EXPECT_EQ(page->channelCount, 14);
    EXPECT_EQ(page->channelCombo.GetCount(), 14);
    EXPECT_EQ(page->channelCombo.GetLBText(13), u"14");
    EXPECT_EQ(page->channelCombo.GetCurSel(), 13);
    EXPECT_FALSE(page->channelCombo.IsWindowEnabled()) << "the rebuild leaves the enable state alone";

    // A tick that comes after the timer stopped rebuilds from scratch, never past 14 entries.
    Tick(*page);
    EXPECT_EQ(page->channelCount, 14);
    EXPECT_EQ(page->channelCombo.GetCount(), 14);
}

TEST_F(ConfigPageTest, AMaskWithoutChannelsEmptiesTheListAndAsksAgain)
{
    const auto page = Open({0, 15, 1, 6});
    Activate(*page, fw::WA_ACTIVE);
    AnswerChannelList(0xC000);
    Tick(*page);

    EXPECT_EQ(page->channelCombo.GetCount(), 0);
    EXPECT_EQ(page->channelCombo.GetCurSel(), -1);
    EXPECT_EQ(page->channelCount, 0);
    EXPECT_FALSE(page->IsTimerRunning(1));

    // Apply with nothing to choose from keeps the channel (the table has no entry for -1).
    Apply(*page);
    EXPECT_EQ(theApp.DSChannel, 6u);
    EXPECT_EQ(BlockU16(14), 6);

    Activate(*page, fw::WA_INACTIVE);
    block_.cmdWord = 0x1100001F;
    block_.statusWord = 0;
    Activate(*page, fw::WA_ACTIVE);
    EXPECT_EQ(block_.cmdWord, 0x1200001Fu);
    EXPECT_TRUE(page->IsTimerRunning(1));
}

TEST_F(ConfigPageTest, ApplyHandsTheConfigurationToTheServiceAndTheRegistry)
{
    const auto page = Open({0, 15, 1, 6, u"old"});
    std::memset(block_.payload, 0xEE, sizeof block_.payload);
    block_.cmdWord = 0x12000001;
    page->ssidEdit.SetWindowText(u"abc");
    ASSERT_EQ(Selected(*page).networkType, 0);  // "Peer-to-Peer", "Fully Automatic", "Disabled", "6"
    ASSERT_EQ(Selected(*page).txRate, 5);
    ASSERT_EQ(Selected(*page).psMode, 0);
    ASSERT_EQ(Selected(*page).channel, 5);

    Apply(*page);

    EXPECT_EQ(BlockU16(8), 0);
    EXPECT_EQ(BlockU16(10), 15);
    EXPECT_EQ(BlockU16(12), 1);
    EXPECT_EQ(BlockU16(14), 6);
    EXPECT_EQ(BlockU16(16), 3);
    EXPECT_EQ(BlockByte(18), 0x61);
    EXPECT_EQ(BlockByte(19), 0x62);
    EXPECT_EQ(BlockByte(20), 0x63);
    for (size_t offset = 21; offset < 64; ++offset)
        EXPECT_EQ(BlockByte(offset), 0xEE) << "no terminator, nothing else written: offset " << offset;
    EXPECT_EQ(block_.cmdWord, 0x2100001Fu);
    EXPECT_EQ(block_.statusWord, 0u);

    EXPECT_EQ(RegistryValue(u"NetworkType"), Dword(0));
    EXPECT_EQ(RegistryValue(u"TxRate"), Dword(15));
    EXPECT_EQ(RegistryValue(u"PSMode"), Dword(1));
    EXPECT_EQ(RegistryValue(u"DSChannel"), Dword(6));
    EXPECT_EQ(RegistryValue(u"SSID"), String(u"abc"));
    // The whole record goes out, the Encryption page's values included.
    EXPECT_EQ(RegistryValue(u"WepReq"), Dword(0));
    EXPECT_EQ(RegistryValue(u"DefaultKeys"), String(u""));
    EXPECT_EQ(RegistryValue(u"DefaultKeyId"), Dword(0));

    // The wait comes after the code was set.
    ASSERT_EQ(suspensions_.size(), 1u);
    EXPECT_EQ(suspensions_[0], 1100ms);
    EXPECT_EQ(cmdWordWhenSuspended_[0], 0x2100001Fu);
    EXPECT_EQ(page->ssidEdit.GetWindowText(), u"abc");
}

TEST_F(ConfigPageTest, AnEmptyNameIsSentWithCountZero)
{
    const auto page = Open({0, 15, 1, 6, u"old"});
    std::memset(block_.payload, 0xEE, sizeof block_.payload);
    page->ssidEdit.SetWindowText(u"");
    Apply(*page);
    EXPECT_EQ(BlockU16(16), 0);
    EXPECT_EQ(BlockByte(18), 0xEE);
    EXPECT_EQ(theApp.SSID, u"");
    EXPECT_EQ(RegistryValue(u"SSID"), String(u""));
}

TEST_F(ConfigPageTest, OnlyTheBlockCopyOfTheNameIsBounded)
{
    const std::u16string fits(33, u'x');
    const std::u16string tooLong(34, u'y');
    const std::u16string veryLong(300, u'z');

    const auto page = Open({0, 15, 1, 6});
    page->ssidEdit.SetWindowText(fits);
    Apply(*page);
    EXPECT_EQ(BlockU16(16), 33);
    EXPECT_EQ(BlockByte(50), 'x');

    for (const std::u16string& name : {tooLong, veryLong}) {
        page->ssidEdit.SetWindowText(name);
        Apply(*page);
        EXPECT_EQ(BlockU16(16), 0) << name.size();
        EXPECT_EQ(theApp.SSID, name);
        EXPECT_EQ(RegistryValue(u"SSID"), String(name));
        EXPECT_EQ(block_.cmdWord, 0x2100001Fu);
    }
}

// In a UTF-8 locale "é" takes two bytes and "中" three; the block carries 33.
TEST_F(ConfigPageTest, TheUserCannotTypeOrPasteANameTheBlockCannotCarry)
{
    const testenv::ScopedEnv locale("LC_ALL", "C.UTF-8");
    ASSERT_EQ(platform::AnsiCodePage(), "UTF-8");
    struct Case {
        std::u16string typed;  // fits exactly
        std::u16string more;   // one character past the 33 bytes
    };
    const Case cases[] = {
        {std::u16string(33, u'x'), u"y"},
        {std::u16string(31, u'x') + u"\u00e9", u"\u00e9"},
        {std::u16string(11, u'\u4e2d'), u"a"},
        {std::u16string(32, u'x'), u"\u00e9"},
    };
    for (const Case& c : cases) {
        const auto page = Open({0, 15, 1, 6});
        page->ssidEdit.SetWindowText(u"");
        Type(page->ssidEdit, c.typed);
        Type(page->ssidEdit, c.more);
        EXPECT_EQ(page->ssidEdit.GetWindowText(), c.typed);
        Paste(page->ssidEdit, c.more);
        EXPECT_EQ(page->ssidEdit.GetWindowText(), c.typed) << "a paste that does not fit is refused whole";
        Apply(*page);
        EXPECT_EQ(theApp.SSID, c.typed);
        EXPECT_EQ(BlockU16(16), c.typed == std::u16string(32, u'x') ? 32 : 33);
    }

    // A paste that fits goes in; one that does not is refused whole.
    const auto page = Open({0, 15, 1, 6});
    page->ssidEdit.SetWindowText(u"");
    Paste(page->ssidEdit, std::u16string(30, u'\u00e9'));
    EXPECT_EQ(page->ssidEdit.GetWindowText(), u"");
    Paste(page->ssidEdit, std::u16string(16, u'\u00e9'));
    EXPECT_EQ(page->ssidEdit.GetWindowText(), std::u16string(16, u'\u00e9'));

    // A selection of a full name replaced by fewer or as many UTF-16 units that take more
    // bytes: "ab" by a euro sign, three letters by an emoji, one letter by "é".
    const std::u16string full = u"ab" + std::u16string(31, u'x');
    const std::u16string emoji = u"\U0001F600";
    for (const auto& [length, replacement] : {std::pair{2, std::u16string(u"\u20ac")}, std::pair{3, emoji},
                                              std::pair{1, std::u16string(u"\u00e9")}}) {
        page->ssidEdit.SetWindowText(full);
        static_cast<QLineEdit*>(page->ssidEdit.GetSafeWidget())->setSelection(0, length);
        Paste(page->ssidEdit, replacement);
        EXPECT_EQ(page->ssidEdit.GetWindowText(), full) << "replacing " << length << " letters";
    }
    static_cast<QLineEdit*>(page->ssidEdit.GetSafeWidget())->setSelection(5, 1);
    Type(page->ssidEdit, u"\u00e9");
    EXPECT_EQ(page->ssidEdit.GetWindowText(), full);
}

TEST_F(ConfigPageTest, AStoredNameTooLongForTheBlockIsShownWholeAndCanOnlyShrink)
{
    const testenv::ScopedEnv locale("LC_ALL", "C.UTF-8");
    const std::u16string stored = std::u16string(20, u'\u00e9');  // 40 bytes
    const auto page = Open({0, 15, 1, 6, stored});
    EXPECT_EQ(page->ssidEdit.GetWindowText(), stored);
    Type(page->ssidEdit, u"a");
    EXPECT_EQ(page->ssidEdit.GetWindowText(), stored);
    PressBackspace(page->ssidEdit);
    EXPECT_EQ(page->ssidEdit.GetWindowText(), stored.substr(1));
    // Saved whole, and sent as the block allows: no name.
    Apply(*page);
    EXPECT_EQ(RegistryValue(u"SSID"), String(stored.substr(1)));
    EXPECT_EQ(BlockU16(16), 0);
}

TEST_F(ConfigPageTest, AnyUtf16TextReachesTheRegistryWhole)
{
    // A lone surrogate and an embedded NUL are text the edit may hold like any other.
    const std::u16string odd{u'a', char16_t(0xD800), u'b', u'\0', u'c', char16_t(0xDFFF)};
    const auto page = Open({0, 15, 1, 6});
    page->ssidEdit.SetWindowText(odd);
    Apply(*page);
    EXPECT_EQ(theApp.SSID, odd);
    EXPECT_EQ(RegistryValue(u"SSID"), String(odd));
    EXPECT_EQ(block_.cmdWord, 0x2100001Fu);
    EXPECT_LE(BlockU16(16), 33);
}

} // namespace
