// wlan-connectd as a user runs it, against the real wpa_supplicant: the supplicant's wired
// driver on one end of a veth pair in a network namespace of its own, the service beside it
// serving a private block, and the test in the utility's place, posting through the project's
// link code. The wired driver has no radio: its "association" is the 802.1X port (BSSID
// 01:80:c2:00:00:03, frequency 0), and it has no signal, channel list, power save or WEP.

#include "link/ConnectBlock.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"
#include "radiolab/ChildProcess.h"
#include "radiolab/CtrlSocket.h"
#include "support/CardsimProcess.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testenv::WaitUntil;

// Generous: the sanitizer build on a loaded machine. The conditions end every wait.
constexpr auto kPatience = 60s;
// Status writes after which a standing LINK_INFO must show what the card has: the service
// refreshes it every 250 ms, each time from a fresh look at the card.
constexpr uint32_t kWrites = 20;

int RunCommand(std::vector<std::string> args, const std::filesystem::path& log)
{
    return ChildProcess::Run(std::move(args), log.string());
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::string FormatBssidOf(const ConnectChannel& channel)
{
    std::string text;
    for (size_t i = 0; i < 6; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02x" : ":%02x", channel.ReadU8(block::kLinkBssid + i));
        text += pair;
    }
    return text;
}

class ConnectdProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            WLAN_SKIP_UNLESS_CI("network namespaces need root");
        if (RunCommand({"ip", "netns", "add", ns_}, log_) != 0)
            WLAN_SKIP_UNLESS_CI("cannot create a network namespace here");
        ASSERT_TRUE(AddInterface());
        mkdir(ctrlDir_.c_str(), 0700);
        StartSupplicant();
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(ctrlDir_ / "va"); }, kPatience))
            << "no control socket from wpa_supplicant in 60 s";
        ASSERT_TRUE(service_.Start({"ip", "netns", "exec", ns_, WLAN_CONNECTD_BUILT, "--interface", "va",
                                    "--ctrl-dir", ctrlDir_.string(), "-v"},
                                   (folder_ / "service.log").string()));
        memory_ = platform::SharedMemory::CreateOrOpen(blockName_, block::kSize);
        view_ = platform::MappedView::Map(memory_);
        ASSERT_FALSE(memory_.IsPrivate());
        channel_ = ConnectChannel(static_cast<ConnectBlock*>(view_.Data()));
    }

    void TearDown() override
    {
        service_.Stop();
        supplicant_.Stop();
        RunCommand({"ip", "netns", "del", ns_}, log_);
    }

    bool AddInterface()
    {
        return RunCommand({"ip", "-n", ns_, "link", "add", "va", "type", "veth", "peer", "name", "vb"}, log_) == 0 &&
               RunCommand({"ip", "-n", ns_, "link", "set", "va", "up"}, log_) == 0 &&
               RunCommand({"ip", "-n", ns_, "link", "set", "vb", "up"}, log_) == 0;
    }

    void StartSupplicant()
    {
        supplicant_.Start({"ip", "netns", "exec", ns_, "wpa_supplicant", "-Dwired", "-i", "va", "-C",
                           ctrlDir_.string()},
                          (folder_ / "supplicant.log").string());
    }

    uint8_t Status() const { return static_cast<uint8_t>(channel_.StatusWord() >> 24); }
    uint32_t Writes() const { return channel_.StatusWord() & 0xFFFFFF; }
    std::string Log() const { return testenv::ReadFile(folder_ / "service.log"); }

    // Waits until the block shows what `shown` looks for. The wait ends as soon as nothing
    // later can show it: when the service has ended, or when `due` has held (the card has
    // what the block should show) for kWrites status writes; kPatience is for a service
    // that stops writing.
    testing::AssertionResult Shows(const std::function<bool()>& shown, const std::function<bool()>& due = {})
    {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        std::optional<uint32_t> writesWhenDue;
        while (!shown()) {
            if (const auto status = service_.Ended())
                return testing::AssertionFailure() << "wlan-connectd ended with status " << *status << "\n" << Log();
            if (!due || !due())
                writesWhenDue.reset();
            else if (!writesWhenDue)
                writesWhenDue = Writes();
            else if (((Writes() - *writesWhenDue) & 0xFFFFFF) >= kWrites)
                return testing::AssertionFailure() << "not shown in " << kWrites << " status writes after the card had it\n" << Log();
            if (std::chrono::steady_clock::now() >= end)
                return testing::AssertionFailure() << "not shown in " << kPatience.count() << " s\n" << Log();
            std::this_thread::sleep_for(20ms);
        }
        return testing::AssertionSuccess();
    }
    testing::AssertionResult StatusShows(uint8_t status, const std::function<bool()>& due = {})
    {
        return Shows([&] { return Status() == status; }, due);
    }

    // The link as the Status page reads it: LINK_INFO posted, then a fresh answer; due when
    // the supplicant itself says so.
    testing::AssertionResult LinkShows(bool associated)
    {
        channel_.PostLinkInfo();
        return Shows([&] { return Status() == STAT_LINK_INFO && channel_.IsNotAssociated() != associated; },
                     [&] { return (SupplicantState() == "COMPLETED") == associated; });
    }

    std::string SupplicantState()
    {
        auto ctrl = CtrlSocket::Open((ctrlDir_ / "va").string());
        return ctrl ? CtrlSocket::Field(ctrl->Request("STATUS"), "wpa_state") : "(no supplicant)";
    }

    // What the supplicant holds for the service's network: `field` of the network tagged as ours.
    std::string OurNetwork(const std::string& field)
    {
        auto ctrl = CtrlSocket::Open((ctrlDir_ / "va").string());
        if (!ctrl)
            return "(no supplicant)";
        const std::string list = ctrl->Request("LIST_NETWORKS");
        for (size_t at = list.find('\n'); at != std::string::npos; at = list.find('\n', at + 1)) {
            const std::string id = list.substr(at + 1, list.find('\t', at + 1) - at - 1);
            if (!id.empty() && ctrl->Request("GET_NETWORK " + id + " id_str") == "\"wlan-connectd-" + std::to_string(getuid()) + "\"")
                return ctrl->Request("GET_NETWORK " + id + " " + field);
        }
        return "(no network of ours)";
    }

    // The service acknowledges a command at once and applies it a moment later: waits until
    // the supplicant holds `ssid` for our network, for as long as the block is written
    // kWrites times with LINK_INFO standing.
    testing::AssertionResult Applied(const std::string& ssid)
    {
        channel_.PostLinkInfo();
        return Shows([&] { return OurNetwork("ssid") == ssid; }, [] { return true; });
    }

    testing::AssertionResult Taken()
    {
        return Shows([&] { return (channel_.CommandWord() >> 24) == 0; });
    }

    void PostName(std::u16string_view name)
    {
        channel_.PostConfig({1, 15, 2, 6, name});
        ASSERT_TRUE(Taken());
    }

    testenv::TempDir folder_;
    std::filesystem::path log_ = folder_ / "commands.log";
    std::filesystem::path ctrlDir_ = folder_ / "ctrl";
    std::string ns_ = "wlct" + std::to_string(getpid());
    std::string blockName_ = testenv::UniqueBlockName();
    testenv::ScopedEnv blockEnv_{"WLAN_CONNECT_BLOCK", blockName_};
    testenv::ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", (folder_ / "registry.reg").string()};
    ChildProcess supplicant_;
    ChildProcess service_;
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectChannel channel_{nullptr};
};

TEST_F(ConnectdProcessTest, AppliesWhatTheUtilityPostsAndReportsTheLinkTheDriverHas)
{
    // The driver's defaults join any open network; the wired port counts as one.
    ASSERT_TRUE(LinkShows(true));
    EXPECT_EQ(FormatBssidOf(channel_), "01:80:c2:00:00:03");
    EXPECT_EQ(channel_.ReadU8(block::kLinkChannel), 0) << "frequency 0 is no channel";
    EXPECT_EQ(channel_.ReadU8(block::kLinkStrength), 0) << "no signal figures: strength 0";
    EXPECT_EQ(channel_.ReadU16(block::kLinkRate), 8) << "the fastest rate of the set";

    PostName(u"Bench");
    EXPECT_TRUE(Applied("\"Bench\""));
    EXPECT_EQ(OurNetwork("key_mgmt"), "NONE");
    ASSERT_TRUE(LinkShows(true));

    // 33 bytes fit the block but not 802.11: refused with one line, and no link meanwhile.
    PostName(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456");
    ASSERT_TRUE(LinkShows(false));
    EXPECT_EQ(Count(Log(), "settings refused"), 1u) << Log();
    EXPECT_TRUE(Applied("(no network of ours)"));

    // The wired driver has no WEP: the supplicant disables a network with a key, so no link;
    // the channel list falls back to the domain's.
    const uint8_t keys[20] = {1, 2, 3, 4, 5};
    channel_.PostWep(2, 1, keys);
    ASSERT_TRUE(Taken());
    ASSERT_TRUE(LinkShows(false));
    channel_.PostWep(0, 1, keys);
    ASSERT_TRUE(Taken());
    ASSERT_TRUE(LinkShows(true));
    channel_.PostChannelList();
    ASSERT_TRUE(StatusShows(STAT_CHANNEL_LIST));
    EXPECT_EQ(channel_.ChannelMask(), 0x07FF) << "channels 1-11 when the supplicant lists none";

    // One service per block: a second one stops before it touches the block.
    const int second = RunCommand({WLAN_CONNECTD_BUILT, "--interface", "va", "--ctrl-dir", ctrlDir_.string()},
                           folder_ / "second.log");
    EXPECT_EQ(second, 4);
    EXPECT_NE(testenv::ReadFile(folder_ / "second.log").find("another connection service serves"), std::string::npos);
}

TEST_F(ConnectdProcessTest, FollowsTheSupplicantAndTheInterfaceOutAndBackIn)
{
    PostName(u"Bench");
    ASSERT_TRUE(LinkShows(true));

    // Gone, so the card is out from now on: the next looks must say so.
    supplicant_.Stop(SIGKILL);
    ASSERT_TRUE(StatusShows(STAT_CARD_OUT, [] { return true; }));
    StartSupplicant();
    ASSERT_TRUE(StatusShows(STAT_CARD_IN));
    ASSERT_TRUE(LinkShows(true));
    EXPECT_EQ(OurNetwork("ssid"), "\"Bench\"") << "the settings are applied again";

    ASSERT_EQ(RunCommand({"ip", "-n", ns_, "link", "del", "va"}, log_), 0);
    ASSERT_TRUE(StatusShows(STAT_CARD_OUT, [] { return true; }));   // as gone as the supplicant was
    ASSERT_TRUE(AddInterface());
    ASSERT_TRUE(StatusShows(STAT_CARD_IN));
    ASSERT_TRUE(LinkShows(true));

    // Each outage is said once, however often the service looked meanwhile.
    EXPECT_EQ(Count(Log(), "card out:"), 2u) << Log();
}

TEST_F(ConnectdProcessTest, AStalledSupplicantHoldsUpNoCommandAndAStopLeavesOtherNetworksBe)
{
    // Another user's service has a network of its own in the same supplicant.
    auto ctrl = CtrlSocket::Open((ctrlDir_ / "va").string());
    ASSERT_TRUE(ctrl);
    std::string other = ctrl->Request("ADD_NETWORK");
    other.erase(other.find_last_not_of('\n') + 1);
    ASSERT_EQ(ctrl->Request("SET_NETWORK " + other + " id_str \"wlan-connectd-4242\""), "OK\n");
    PostName(u"Bench");
    ASSERT_TRUE(LinkShows(true)) << Log();

    // A stopped supplicant answers nothing; every command is still taken at once, long before
    // the service gives up on the supplicant, and applied once it answers again.
    kill(supplicant_.Pid(), SIGSTOP);
    channel_.PostConfig({1, 15, 2, 6, u"Stalled"});
    ASSERT_TRUE(WaitUntil([&] { return (channel_.CommandWord() >> 24) == 0; }, kPatience));
    const uint8_t keys[20] = {};
    channel_.PostWep(0, 1, keys);
    ASSERT_TRUE(WaitUntil([&] { return (channel_.CommandWord() >> 24) == 0 || Status() == STAT_CARD_OUT; }, kPatience));
    EXPECT_EQ(channel_.CommandWord() >> 24, 0u);
    EXPECT_NE(Status(), STAT_CARD_OUT) << "the second command waited for the supplicant";
    kill(supplicant_.Pid(), SIGCONT);
    EXPECT_TRUE(Applied("\"Stalled\""));

    // SIGHUP (a closed terminal, a logout) stops the service as SIGTERM does: our network
    // goes, keys and all; another user's stays, and no socket file of ours is left behind.
    EXPECT_EQ(service_.Stop(SIGHUP), 0);
    EXPECT_EQ(OurNetwork("ssid"), "(no network of ours)");
    EXPECT_EQ(ctrl->Request("GET_NETWORK " + other + " id_str"), "\"wlan-connectd-4242\"");
    for (const auto& entry : std::filesystem::directory_iterator(ctrlDir_))
        EXPECT_EQ(entry.path().filename(), "va") << "left behind";
}

// Granted CAP_NET_ADMIN as a file capability, the program is started by a user with the
// user's own arguments: it serves no control folder but the system's, where a fake supplicant
// of that user's could make it throttle a real interface.
TEST(ConnectdPrivileges, WithRaisedPrivilegesOnlyTheSystemsControlFolderIsServed)
{
    if (geteuid() != 0)
        WLAN_SKIP_UNLESS_CI("granting a file capability needs root");
    testenv::TempDir folder;
    chmod(folder.path().c_str(), 0755);
    const std::filesystem::path program = folder / "wlan-connectd";
    std::filesystem::copy_file(WLAN_CONNECTD_BUILT, program);
    ASSERT_EQ(RunCommand({"setcap", "cap_net_admin+ep", program.string()}, folder / "setcap.log"), 0)
        << testenv::ReadFile(folder / "setcap.log");
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open((folder / "run.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(log, 2);
        // Not dumpable under raised privileges, the process cannot be looked at for leaks.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        execl(program.c_str(), program.c_str(), "--interface", "lo", "--ctrl-dir", "/tmp", static_cast<char*>(nullptr));
        _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2) << testenv::ReadFile(folder / "run.log");
    EXPECT_NE(testenv::ReadFile(folder / "run.log").find("only the system's control folder"), std::string::npos);
}

} // namespace
