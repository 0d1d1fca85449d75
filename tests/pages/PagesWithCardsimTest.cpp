// The Status and Configuration pages against the real wlan-cardsim, two processes sharing the
// real block. The pages run on their own timers: the test pumps the event loop until what it
// expects shows, with a deadline, never with fixed sleeps.
#include "pages/nPConfig.h"
#include "pages/nPLinkInfo.h"

#include "app/nApp.h"
#include "link/ConnectChannel.h"
#include "platform/RegistryKey.h"
#include "platform/Suspend.h"
#include "support/CardsimProcess.h"
#include "support/TestEnvironment.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Generous: the sanitizer build is slow, and the simulator's joins take up to 800 ms.
constexpr auto kDeadline = 20s;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// Runs the event loop, so that the pages' own timers tick, until `condition` holds.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kDeadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The driver's key as a person might have left it: an access point nobody runs.
constexpr char kNoNetworkRegistry[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                      "\"NetworkType\"=dword:00000001\r\n"
                                      "\"SSID\"=\"Nowhere\"\r\n"
                                      "\"TxRate\"=dword:0000000f\r\n"
                                      "\"PSMode\"=dword:00000001\r\n"
                                      "\"DSChannel\"=dword:00000001\r\n"
                                      "\"WepReq\"=dword:00000000\r\n"
                                      "\"DefaultKeys\"=\"\"\r\n"
                                      "\"DefaultKeyId\"=dword:00000001\r\n"
                                      "\r\n";

using Simulator = testenv::CardsimProcess;

class PagesWithCardsimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(testenv::CardsimExecutable())) << testenv::CardsimExecutable();
        previousView_ = theApp.connectView;
        previousHook_ = platform::SetSuspendHook({});  // the real 1100 ms wait
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    void TearDown() override
    {
        platform::SetSuspendHook(previousHook_);
        theApp.connectView = previousView_;
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    // Starts a simulator and points the application object at its block.
    std::unique_ptr<Simulator> Serve(const std::vector<std::string>& args, const std::string& registryText = {})
    {
        auto simulator = std::make_unique<Simulator>(args, registryText);
        theApp.connectView = simulator->Block();
        return simulator;
    }

    static void Activate(fw::Wnd& page, uint32_t state)
    {
        page.SendMessage(fw::WM_ACTIVATE, fw::MakeWParam(static_cast<uint16_t>(state), 0), 0);
    }

    static bool Shows(const nPLinkInfo& page, std::u16string_view linkState, std::u16string_view channel)
    {
        return page.linkStateEdit.GetWindowText() == linkState && page.channelEdit.GetWindowText() == channel;
    }

    static int IndexOf(const fw::ComboBox& combo, std::u16string_view text)
    {
        for (int i = 0; i < combo.GetCount(); ++i)
            if (combo.GetLBText(i) == text)
                return i;
        return -1;
    }

private:
    ConnectBlock* previousView_ = nullptr;
    platform::SuspendHook previousHook_;
};

TEST_F(PagesWithCardsimTest, StatusPageShowsTheLinkAndFollowsTheCard)
{
    // A fresh registry: the driver's defaults join any open network, CafeNet here.
    const auto simulator = Serve({"--seed", "3"});
    ASSERT_NE(simulator->Block(), nullptr) << simulator->Log();
    nPLinkInfo page;
    ASSERT_TRUE(page.Create());
    Activate(page, fw::WA_ACTIVE);
    EXPECT_EQ(ConnectChannel(simulator->Block()).CommandWord() >> 24, CMD_LINK_INFO);

    ASSERT_TRUE(PumpUntil([&] { return Shows(page, u"BSSID = 02:43:4E:00:00:01", u"06"); }))
        << Narrow(page.linkStateEdit.GetWindowText()) << "\n" << simulator->Log();
    EXPECT_EQ(page.txRateEdit.GetWindowText(), u"11");
    // The percentages and the bars come from the same 0..15 scale.
    for (const auto& [edit, bar] : {std::pair{&page.linkQualityEdit, &page.linkQualityBar},
                                    std::pair{&page.signalStrengthEdit, &page.signalStrengthBar}}) {
        const std::u16string text = edit->GetWindowText();
        ASSERT_GE(text.size(), 4u);
        EXPECT_EQ(text.substr(0, 2), u"- ");
        EXPECT_EQ(text.back(), u'%');
        EXPECT_GE(bar->GetPos(), 0);
        EXPECT_LE(bar->GetPos(), 15);
    }

    ASSERT_EQ(simulator->Control({"card", "out"}), 0) << simulator->Log();
    ASSERT_TRUE(PumpUntil([&] { return Shows(page, u"WLAN Card Out", u"*"); })) << simulator->Log();
    EXPECT_EQ(page.txRateEdit.GetWindowText(), u"*");
    EXPECT_EQ(page.linkQualityEdit.GetWindowText(), u"*");
    EXPECT_EQ(page.signalStrengthEdit.GetWindowText(), u"*");
    EXPECT_EQ(page.linkQualityBar.GetPos(), 0);
    EXPECT_EQ(page.signalStrengthBar.GetPos(), 0);

    ASSERT_EQ(simulator->Control({"card", "in"}), 0) << simulator->Log();
    ASSERT_TRUE(PumpUntil([&] { return Shows(page, u"WLAN Card In", u"*"); })) << simulator->Log();
    ASSERT_TRUE(PumpUntil([&] { return Shows(page, u"BSSID = 02:43:4E:00:00:01", u"06"); })) << simulator->Log();

    // Leaving the page withdraws the request and the display stays as it was.
    Activate(page, fw::WA_INACTIVE);
    EXPECT_EQ(ConnectChannel(simulator->Block()).CommandWord() >> 24, 0u);
    EXPECT_FALSE(page.IsTimerRunning(1));
}

TEST_F(PagesWithCardsimTest, ChannelListFollowsTheDomain)
{
    struct Case {
        const char* domain;
        int count;
        std::u16string selected;  // the stored channel 13, or the first when not allowed
    };
    const Case cases[] = {{"fcc", 11, u"1"}, {"etsi", 13, u"13"}, {"japan", 14, u"13"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.domain);
        const auto simulator = Serve({"--domain", c.domain});
        ASSERT_NE(simulator->Block(), nullptr) << simulator->Log();
        theApp.DSChannel = 13;
        nPConfig page;
        ASSERT_TRUE(page.Create());
        Activate(page, fw::WA_ACTIVE);

        ASSERT_TRUE(PumpUntil([&] { return page.channelCount > 0; })) << simulator->Log();
        EXPECT_EQ(page.channelCount, c.count);
        ASSERT_EQ(page.channelCombo.GetCount(), c.count);
        for (int i = 0; i < c.count; ++i) {
            const std::string number = std::to_string(i + 1);
            EXPECT_EQ(page.channelCombo.GetLBText(i), std::u16string(number.begin(), number.end()));
            EXPECT_EQ(page.channelNumbers[static_cast<size_t>(i)], i + 1);
        }
        EXPECT_EQ(page.channelCombo.GetLBText(page.channelCombo.GetCurSel()), c.selected);
        EXPECT_FALSE(page.IsTimerRunning(1));
        Activate(page, fw::WA_INACTIVE);
    }
}

TEST_F(PagesWithCardsimTest, ApplyMakesTheSimulatorJoinAndTheStatusPageShowsIt)
{
    const auto simulator = Serve({"--seed", "5"}, kNoNetworkRegistry);
    ASSERT_NE(simulator->Block(), nullptr) << simulator->Log();
    theApp.LoadSettings();
    ASSERT_EQ(theApp.SSID, u"Nowhere");

    nPLinkInfo status;
    nPConfig config;
    ASSERT_TRUE(status.Create());
    ASSERT_TRUE(config.Create());

    // Nothing answers to "Nowhere".
    Activate(status, fw::WA_ACTIVE);
    ASSERT_TRUE(PumpUntil([&] { return Shows(status, u"Disconnect", u"*"); })) << simulator->Log();

    const auto applyOnConfigPage = [&](int networkType, std::u16string_view name, std::u16string_view channel) {
        Activate(status, fw::WA_INACTIVE);
        Activate(config, fw::WA_ACTIVE);
        ASSERT_TRUE(PumpUntil([&] { return config.channelCount > 0; })) << simulator->Log();
        config.networkTypeCombo.SetCurSel(networkType);
        config.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1002, fw::CBN_SELCHANGE));
        config.ssidEdit.SetWindowText(name);
        if (!channel.empty())
            config.channelCombo.SetCurSel(IndexOf(config.channelCombo, channel));
        config.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));
        Activate(config, fw::WA_INACTIVE);
        Activate(status, fw::WA_ACTIVE);
    };

    // An access point by its name: its own channel.
    applyOnConfigPage(1, u"CafeNet", u"");
    ASSERT_TRUE(PumpUntil([&] { return Shows(status, u"BSSID = 02:43:4E:00:00:01", u"06"); }))
        << Narrow(status.linkStateEdit.GetWindowText()) << "\n" << simulator->Log();

    // A peer-to-peer cell by its name and channel.
    applyOnConfigPage(0, u"Workbench", u"3");
    ASSERT_TRUE(PumpUntil([&] { return Shows(status, u"BSSID = 02:57:42:00:00:03", u"03"); }))
        << Narrow(status.linkStateEdit.GetWindowText()) << "\n" << simulator->Log();

    // What the driver reads at its next start.
    auto key = platform::RegistryKey::Open(kDriverParmsKey, platform::Access::Query);
    ASSERT_TRUE(key.has_value());
    uint32_t number = 0;
    uint32_t size = sizeof number;
    ASSERT_EQ(key->QueryValue(u"DSChannel", &number, &size), platform::ERROR_SUCCESS);
    EXPECT_EQ(number, 3u);
    size = sizeof number;
    ASSERT_EQ(key->QueryValue(u"NetworkType", &number, &size), platform::ERROR_SUCCESS);
    EXPECT_EQ(number, 0u);
    char16_t name[32]{};
    size = sizeof name;
    ASSERT_EQ(key->QueryValue(u"SSID", name, &size), platform::ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Workbench");

    Activate(status, fw::WA_INACTIVE);
}

} // namespace
