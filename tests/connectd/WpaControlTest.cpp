// The client against the real wpa_supplicant, with the wired driver on one end of a veth pair
// in a network namespace of its own: the supplicant there, the client here, as a service and
// a supplicant in different namespaces would be. Needs root (namespaces); CI runs as root.
#include "SupplicantText.h"
#include "WpaControl.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace connectd;
using namespace std::chrono_literals;

namespace {

// Generous: only a supplicant that is gone or stuck runs into it.
constexpr std::chrono::milliseconds kLimit = 30s;

pid_t Spawn(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool RunToEnd(std::vector<std::string> arguments)
{
    const pid_t pid = Spawn(std::move(arguments));
    return pid > 0 && Wait(pid) == 0;
}

bool Have(const char* program)
{
    return RunToEnd({"sh", "-c", std::string("command -v ") + program + " >/dev/null"});
}

class WpaControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            WLAN_SKIP_UNLESS_CI("network namespaces need root");
        if (!Have("ip") || !Have("wpa_supplicant"))
            WLAN_SKIP_UNLESS_CI("ip or wpa_supplicant is not installed");
        ASSERT_TRUE(RunToEnd({"ip", "netns", "add", netns_}));
        namespaceMade_ = true;
        ASSERT_TRUE(RunToEnd({"ip", "link", "add", inside_, "type", "veth", "peer", "name", outside_}));
        ASSERT_TRUE(RunToEnd({"ip", "link", "set", inside_, "netns", netns_}));
        ASSERT_TRUE(RunToEnd({"ip", "-n", netns_, "link", "set", inside_, "up"}));
        testenv::WriteFile(dir_ / "wpa.conf", "ctrl_interface=" + (dir_ / "ctrl").string() + "\n");
        StartSupplicant();
    }

    void TearDown() override
    {
        StopSupplicant();
        if (namespaceMade_)
            RunToEnd({"ip", "netns", "del", netns_});   // takes the veth pair with it
    }

    void StartSupplicant()
    {
        // "ip netns exec" enters the namespace and becomes the supplicant: one PID to stop.
        supplicant_ = Spawn({"ip", "netns", "exec", netns_, "wpa_supplicant", "-Dwired", "-i", inside_,
                             "-c", (dir_ / "wpa.conf").string()});
        ASSERT_GT(supplicant_, 0);
        // Wait for its socket to answer; a supplicant that exits instead fails the test.
        while (!Open()) {
            int status = 0;
            ASSERT_EQ(waitpid(supplicant_, &status, WNOHANG), 0) << "wpa_supplicant exited";
            usleep(20'000);
        }
    }

    void StopSupplicant()
    {
        if (supplicant_ > 0) {
            kill(supplicant_, SIGTERM);
            Wait(supplicant_);
        }
        supplicant_ = -1;
    }

    std::optional<WpaControl> Open()
    {
        std::string error;
        return WpaControl::Open(SocketPath(), error);
    }
    std::filesystem::path SocketPath() const { return dir_ / "ctrl" / inside_; }

    const std::string tag_ = std::to_string(getpid());
    const std::string netns_ = "wlan-wpa-" + tag_;
    const std::string inside_ = "wpa" + tag_ + "i";
    const std::string outside_ = "wpa" + tag_ + "o";
    testenv::TempDir dir_;
    bool namespaceMade_ = false;
    pid_t supplicant_ = -1;
};

// The files in the control folder other than the supplicant's own socket.
std::vector<std::string> ClientSockets(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("wlan-connectd-"))
            names.push_back(entry.path().filename());
    return names;
}

} // namespace

TEST(WpaControlOpen, AMissingSocketIsAReasonNotAConnection)
{
    testenv::TempDir dir;
    std::string error;
    EXPECT_FALSE(WpaControl::Open(dir / "wlan0", error));
    EXPECT_NE(error.find("wlan0"), std::string::npos) << error;
    EXPECT_FALSE(WpaControl::Open(std::string(200, 'x'), error));
    EXPECT_TRUE(ClientSockets(dir.path()).empty());
}

TEST_F(WpaControlTest, EveryBuiltCommandIsAcceptedAndTheOpenNetworkCompletes)
{
    auto control = Open();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->Request("PING", kLimit), "PONG\n");

    // The wired driver takes no WEP key into use, but the supplicant checks every line.
    for (const auto& [config, wep] : {
             std::pair{service::StationConfig{.networkType = service::kAccessPoint, .name = std::string(32, '\xff')},
                       service::WepSettings{.wepReq = service::kWep64, .defaultKeyId = 4, .keys = {1, 2, 3}}},
             std::pair{service::StationConfig{.networkType = service::kPeerToPeer, .dsChannel = 14, .name = "Cell"},
                       service::WepSettings{.wepReq = service::kWep128, .keys = {0xab}}},
         }) {
        const auto id = control->Request("ADD_NETWORK", kLimit);
        ASSERT_TRUE(id);
        const std::vector<std::string> commands = NetworkCommands(std::stoi(*id), config, wep);
        ASSERT_FALSE(commands.empty());
        for (const std::string& command : commands)
            EXPECT_EQ(control->Request(command, kLimit), "OK\n") << command;
    }
    for (const char* domain : {"fcc", "etsi", "japan"})
        EXPECT_EQ(control->Request(CountryCommand(*service::RegulatoryDomain::FromName(domain)), kLimit), "OK\n");
    // What the wired driver cannot give degrades to nothing.
    EXPECT_FALSE(ChannelMask(control->Request("GET_CAPABILITY channels", kLimit).value_or("?")));
    EXPECT_FALSE(ParseSignalPoll(control->Request("SIGNAL_POLL", kLimit).value_or("?")));
    EXPECT_EQ(control->Request("REMOVE_NETWORK all", kLimit), "OK\n");

    // An empty name and no WEP: the wired driver completes at once.
    auto events = Open();
    ASSERT_TRUE(events);
    ASSERT_TRUE(events->Attach(kLimit));
    const auto id = control->Request("ADD_NETWORK", kLimit);
    ASSERT_TRUE(id);
    for (const std::string& command : NetworkCommands(std::stoi(*id), service::StationConfig{.name = ""}, {}))
        ASSERT_EQ(control->Request(command, kLimit), "OK\n") << command;
    ASSERT_EQ(control->Request("SELECT_NETWORK " + *id, kLimit), "OK\n");
    bool connected = false;
    while (!connected) {
        pollfd waiting{events->Fd(), POLLIN, 0};
        ASSERT_GE(poll(&waiting, 1, -1), 0);
        while (const auto text = events->ReadEvent())
            connected = connected || ParseEvent(*text).kind == EventKind::Connected;
    }
    const auto status = ParseStatus(control->Request("STATUS", kLimit).value_or(""));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->wpaState, "COMPLETED");
    EXPECT_EQ(status->bssid, (service::Bssid{0x01, 0x80, 0xc2, 0x00, 0x00, 0x03}));
    EXPECT_FALSE(ChannelFromFrequency(status->freq));
}

TEST_F(WpaControlTest, ASupplicantThatStopsSaysSoAndLeavesNoAnswer)
{
    auto control = Open();
    auto events = Open();
    ASSERT_TRUE(control && events);
    ASSERT_TRUE(events->Attach(kLimit));
    // Two clients, two files beside the supplicant's socket; a moved-from client owns none.
    EXPECT_EQ(ClientSockets(dir_ / "ctrl").size(), 2u);
    WpaControl moved = std::move(*control);
    control.reset();
    EXPECT_EQ(ClientSockets(dir_ / "ctrl").size(), 2u);
    EXPECT_EQ(moved.Request("PING", kLimit), "PONG\n");

    kill(supplicant_, SIGTERM);
    bool terminating = false;
    while (!terminating) {
        pollfd waiting{events->Fd(), POLLIN, 0};
        ASSERT_GE(poll(&waiting, 1, -1), 0);
        while (const auto text = events->ReadEvent())
            terminating = terminating || ParseEvent(*text).kind == EventKind::Terminating;
    }
    Wait(supplicant_);
    supplicant_ = -1;
    // Gone: the request fails at once rather than waiting out its limit.
    EXPECT_FALSE(moved.Request("PING", kLimit));

    events.reset();
    EXPECT_EQ(ClientSockets(dir_ / "ctrl").size(), 1u);
}
