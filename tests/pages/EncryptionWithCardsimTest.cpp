// The Encryption page against the real wlan-cardsim: two processes sharing the real block and
// registry file. A key applied on the page must let the simulated card join the WEP network
// that uses it, and a wrong key must not. The demo networks' keys are those that
// `wlan-cardsim --help` lists.
#include "pages/nPEncryption.h"

#include "app/nApp.h"
#include "framework/Types.h"
#include "link/ConnectChannel.h"
#include "platform/Suspend.h"
#include "support/CardsimProcess.h"
#include "support/TestEnvironment.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Generous for the sanitizer build; the simulator joins 300 to 800 ms after a change.
constexpr auto kDeadline = 20s;

constexpr std::array<uint8_t, 6> kHarbour{0x02, 0x48, 0x42, 0x00, 0x00, 0x02};
constexpr std::array<uint8_t, 6> kLighthouse{0x02, 0x4C, 0x48, 0x00, 0x00, 0x04};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kDeadline)
{
    return testenv::WaitUntil(condition, deadline);
}

// The driver's key: an access point of the given name, WEP off.
std::string RegistryFor(const std::string& networkName)
{
    return "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
           "\"NetworkType\"=dword:00000001\r\n"
           "\"SSID\"=\"" + networkName + "\"\r\n"
           "\"TxRate\"=dword:0000000f\r\n"
           "\"PSMode\"=dword:00000001\r\n"
           "\"DSChannel\"=dword:00000001\r\n"
           "\"WepReq\"=dword:00000000\r\n"
           "\"DefaultKeys\"=\"\"\r\n"
           "\"DefaultKeyId\"=dword:00000001\r\n\r\n";
}

class EncryptionWithCardsim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(testenv::CardsimExecutable())) << testenv::CardsimExecutable();
        // Apply's wait is not what these tests are about; the test waits for the service.
        previousHook = platform::SetSuspendHook([](std::chrono::milliseconds) {});
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    void TearDown() override
    {
        page.reset();
        platform::SetSuspendHook(previousHook);
        theApp.connectView = nullptr;
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    // Starts the simulator for `networkName`, loads the settings and opens the page in `mode`.
    void Start(const std::string& networkName, int mode)
    {
        simulator = std::make_unique<testenv::CardsimProcess>(std::vector<std::string>{"--verbose"}, RegistryFor(networkName));
        ASSERT_NE(simulator->Block(), nullptr) << simulator->Log();
        theApp.connectView = simulator->Block();
        theApp.LoadSettings();
        page = std::make_unique<nPEncryption>();
        ASSERT_TRUE(page->Create());
        page->wepModeCombo.SetCurSel(mode);
        page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1010, fw::CBN_SELCHANGE));
    }

    void TypeKey(const std::string& hex)
    {
        for (size_t i = 0; i < hex.size() / 2; ++i)
            page->keyEdits[i].SetWindowText(std::u16string(hex.begin() + 2 * i, hex.begin() + 2 * i + 2));
    }

    // Applies, waits until the service has taken the command, then asks for the link.
    void ApplyAndAskForTheLink()
    {
        page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));
        ConnectChannel channel(theApp.connectView);
        ASSERT_TRUE(WaitUntil([&] { return channel.CommandWord() >> 24 == 0; })) << simulator->Log();
        channel.PostLinkInfo();
    }

    bool JoinedTo(const std::array<uint8_t, 6>& bssid) const
    {
        const ConnectChannel channel(theApp.connectView);
        if (!channel.Poll(STAT_LINK_INFO))
            return false;
        for (size_t i = 0; i < bssid.size(); ++i)
            if (channel.ReadU8(block::kLinkBssid + i) != bssid[i])
                return false;
        return true;
    }

    // The card searched with the settings just applied and found no network that takes them
    // (the simulator says so once per change), and the Status request shows no link.
    size_t Misses(const std::string& name) const
    {
        const std::string log = simulator->Log();
        const std::string line = "no network takes \"" + name + "\" with these settings";
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++count;
        return count;
    }

    void ExpectNoNetworkTakes(const std::string& name, size_t missesBefore)
    {
        ASSERT_TRUE(WaitUntil([&] { return Misses(name) > missesBefore; })) << simulator->Log();
        EXPECT_TRUE(WaitUntil([&] {
            const ConnectChannel channel(theApp.connectView);
            return channel.Poll(STAT_LINK_INFO) && channel.IsNotAssociated();
        })) << simulator->Log();
    }

    platform::SuspendHook previousHook;
    std::unique_ptr<testenv::CardsimProcess> simulator;
    std::unique_ptr<nPEncryption> page;
};

} // namespace

TEST_F(EncryptionWithCardsim, Only64BitKeyOneOfHarbourJoinsIt)
{
    Start("Harbour", nPEncryption::kMode64);
    // A near miss of the passphrase gives other keys.
    page->passphraseEdit.SetWindowText(u"harbor");
    const size_t misses = Misses("Harbour");
    ApplyAndAskForTheLink();
    ExpectNoNetworkTakes("Harbour", misses);

    // Key 1 of "harbour", typed byte by byte.
    TypeKey("8d2fddc61e");
    ApplyAndAskForTheLink();
    EXPECT_TRUE(WaitUntil([&] { return JoinedTo(kHarbour); })) << simulator->Log();
}

TEST_F(EncryptionWithCardsim, Only128BitKeyOfLighthouseJoinsIt)
{
    Start("Lighthouse", nPEncryption::kMode128);
    // The right key with its last byte wrong.
    TypeKey("47e172e994b07ec89e7b0f7128");
    const size_t misses = Misses("Lighthouse");
    ApplyAndAskForTheLink();
    ExpectNoNetworkTakes("Lighthouse", misses);

    page->passphraseEdit.SetWindowText(u"lighthouse keeper");
    ApplyAndAskForTheLink();
    EXPECT_TRUE(WaitUntil([&] { return JoinedTo(kLighthouse); })) << simulator->Log();
    EXPECT_EQ(page->keyEdits[12].GetWindowText(), u"27");
}
