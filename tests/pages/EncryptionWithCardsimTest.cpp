// The Encryption page against the real wlan-cardsim: two processes sharing the real block and
// registry file. A key applied on the page must let the simulated card join the WEP network
// that uses it, and a wrong key must not. The demo networks' keys are those that
// `wlan-cardsim --help` lists.
#include "pages/nPEncryption.h"

#include "app/nApp.h"
#include "framework/Types.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"
#include "platform/Suspend.h"
#include "support/TestEnvironment.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Generous for the sanitizer build; the simulator joins 300 to 800 ms after a change.
constexpr auto kDeadline = 20s;
// Longer than the slowest join and one rescan: a key that has not joined by then never will.
constexpr auto kNoJoinWindow = 2500ms;

constexpr std::array<uint8_t, 6> kHarbour{0x00, 0x40, 0x96, 0x12, 0x34, 0x56};
constexpr std::array<uint8_t, 6> kLighthouse{0x00, 0x60, 0x1D, 0xAB, 0xCD, 0xEF};

std::string Executable()
{
    const char* path = std::getenv("WLAN_CARDSIM");
    return path && *path ? path : WLAN_CARDSIM_BUILT;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kDeadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
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

// One simulator with the demo networks, serving a private block, registry file and socket
// folder; the block is mapped here as the application maps it.
class Simulator {
public:
    explicit Simulator(const std::string& registryText)
    {
        mkdir(runtime_.c_str(), 0700);
        testenv::WriteFile(folder_ / "registry.reg", registryText);
        pid_ = Spawn();
        if (pid_ <= 0 || !WaitUntil([&] { return std::filesystem::exists(SocketPath()); }))
            return;
        memory_ = platform::SharedMemory::CreateOrOpen(blockName_, block::kSize);
        view_ = platform::MappedView::Map(memory_);
        if (!memory_.IsPrivate())
            block_ = static_cast<ConnectBlock*>(view_.Data());
    }

    ~Simulator()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    ConnectBlock* Block() const { return block_; }
    std::string Log() const { return testenv::ReadFile(folder_ / "serve.log"); }

private:
    pid_t Spawn()
    {
        std::string path = Executable();
        std::string verbose = "--verbose";
        char* argv[] = {path.data(), verbose.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = (folder_ / "serve.log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = -1;
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        return failed == 0 ? pid : -1;
    }

    std::filesystem::path SocketPath() const { return runtime_ / ("wlan-cardsim-" + blockName_.substr(1) + ".sock"); }

    testenv::TempDir folder_;
    std::filesystem::path runtime_ = folder_ / "run";
    std::string blockName_ = testenv::UniqueBlockName();
    testenv::ScopedEnv blockEnv_{"WLAN_CONNECT_BLOCK", blockName_};
    testenv::ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", (folder_ / "registry.reg").string()};
    testenv::ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.string()};
    pid_t pid_ = -1;
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectBlock* block_ = nullptr;
};

class EncryptionWithCardsim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(Executable())) << Executable();
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
        simulator = std::make_unique<Simulator>(RegistryFor(networkName));
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

    bool JoinedAny() const
    {
        const ConnectChannel channel(theApp.connectView);
        return channel.Poll(STAT_LINK_INFO) && !channel.IsNotAssociated();
    }

    platform::SuspendHook previousHook;
    std::unique_ptr<Simulator> simulator;
    std::unique_ptr<nPEncryption> page;
};

} // namespace

TEST_F(EncryptionWithCardsim, Only64BitKeyOneOfHarbourJoinsIt)
{
    Start("Harbour", nPEncryption::kMode64);
    // A near miss of the passphrase gives other keys.
    page->passphraseEdit.SetWindowText(u"harbor");
    ApplyAndAskForTheLink();
    EXPECT_FALSE(WaitUntil([&] { return JoinedAny(); }, kNoJoinWindow)) << simulator->Log();

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
    ApplyAndAskForTheLink();
    EXPECT_FALSE(WaitUntil([&] { return JoinedAny(); }, kNoJoinWindow)) << simulator->Log();

    page->passphraseEdit.SetWindowText(u"lighthouse keeper");
    ApplyAndAskForTheLink();
    EXPECT_TRUE(WaitUntil([&] { return JoinedTo(kLighthouse); })) << simulator->Log();
    EXPECT_EQ(page->keyEdits[12].GetWindowText(), u"27");
}
