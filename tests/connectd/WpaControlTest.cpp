// The client against the real wpa_supplicant, with the wired driver on one end of a veth pair
// in a network namespace of its own: the supplicant there, the client here, as a service and
// a supplicant in different namespaces would be. Needs root (namespaces); CI runs as root.
// Then the client and the card against a fake supplicant of our own, for the replies a real
// one gives only when slow or after rfkill.
#include "SupplicantCard.h"
#include "SupplicantText.h"
#include "WpaControl.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
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
        // Wait for its socket to answer; a supplicant that exits or never opens it fails the test.
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (!Open()) {
            int status = 0;
            ASSERT_EQ(waitpid(supplicant_, &status, WNOHANG), 0) << "wpa_supplicant exited";
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "no control socket from wpa_supplicant in 30 s";
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

// Reads `events` until one of `kind` comes, within the generous limit.
testing::AssertionResult EventCame(WpaControl& events, EventKind kind)
{
    const auto end = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < end) {
        pollfd waiting{events.Fd(), POLLIN, 0};
        if (poll(&waiting, 1, 100) < 0 && errno != EINTR)
            return testing::AssertionFailure() << "poll: " << std::strerror(errno);
        while (const auto text = events.ReadEvent())
            if (ParseEvent(*text).kind == kind)
                return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "the awaited event did not come in 30 s";
}

// The files in the control folder other than the supplicant's own socket.
std::vector<std::string> ClientSockets(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("wlan-connectd-"))
            names.push_back(entry.path().filename());
    return names;
}

// A supplicant's control socket, `<folder>/<interface>` in a private folder, served by a thread
// of its own: each request gets what `answer` says, `delay` late, or (nothing) no reply.
class FakeSupplicant {
public:
    using Answer = std::function<std::optional<std::string>(const std::string& request)>;

    FakeSupplicant(const std::string& interface, Answer answer, std::chrono::milliseconds delay = 0ms)
        : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::strncpy(address.sun_path, (dir_ / interface).c_str(), sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (bound_)
            thread_ = std::thread([this, answer = std::move(answer), delay] { Serve(answer, delay); });
    }
    ~FakeSupplicant()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    FakeSupplicant(const FakeSupplicant&) = delete;
    FakeSupplicant& operator=(const FakeSupplicant&) = delete;

    bool Bound() const { return bound_; }
    const std::filesystem::path& Folder() const { return dir_.path(); }

private:
    void Serve(const Answer& answer, std::chrono::milliseconds delay)
    {
        while (!stop_) {
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, 20) <= 0)
                continue;
            char request[4096];
            sockaddr_un from{};
            socklen_t fromLength = sizeof from;
            const ssize_t length = recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            const auto reply = length > 0 ? answer(std::string(request, static_cast<size_t>(length))) : std::nullopt;
            if (!reply)
                continue;
            std::this_thread::sleep_for(delay);
            sendto(fd_, reply->data(), reply->size(), 0, reinterpret_cast<const sockaddr*>(&from), fromLength);
        }
    }

    testenv::TempDir dir_;
    int fd_;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(WpaControlFake, ASlowReplyIsWaitedForUpToTheLimitAndASilentSupplicantGivesNone)
{
    // Later than any clamp of the limit to a few ticks would wait, far within the limit.
    FakeSupplicant fake("wlan0", [](const std::string& request) -> std::optional<std::string> {
        if (request == "PING")
            return "PONG\n";
        return std::nullopt;
    }, 300ms);
    ASSERT_TRUE(fake.Bound());
    std::string error;
    auto control = WpaControl::Open(fake.Folder() / "wlan0", error);
    ASSERT_TRUE(control) << error;
    EXPECT_EQ(control->Request("PING", kLimit), "PONG\n");
    EXPECT_EQ(control->Request("STATUS", 200ms), std::nullopt);
}

// After rfkill the supplicant still answers, with the interface disabled: the card is out
// while it says so, on the look each second too, and says it once however often it retries.
TEST(SupplicantCardFake, AnInterfaceTheSupplicantHasDisabledIsACardThatIsOut)
{
    std::atomic<bool> disabled{false};
    FakeSupplicant fake("lo", [&disabled](const std::string& request) -> std::optional<std::string> {
        if (request == "PING")
            return "PONG\n";
        if (request == "STATUS")
            return disabled ? "wpa_state=INTERFACE_DISABLED\n" : "wpa_state=SCANNING\n";
        return request == "ADD_NETWORK" ? "0\n" : "OK\n";
    });
    ASSERT_TRUE(fake.Bound());
    service::Log log(service::Verbosity::Normal, "wlan-connectd");
    ::testing::internal::CaptureStderr();
    {
        SupplicantCard card({.interface = "lo", .ctrlDir = fake.Folder(), .domain = {}}, {}, {}, log);
        card.Step(service::Millis{0});
        EXPECT_EQ(card.CardState(), service::Card::In);
        disabled = true;
        for (const service::Millis now : {1000ms, 2000ms, 3000ms}) {
            card.Step(now);
            EXPECT_EQ(card.CardState(), service::Card::Out) << now.count();
        }
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(said, "card in"), 1u) << said;
    EXPECT_EQ(Count(said, "card out"), 1u) << said;
    EXPECT_NE(said.find("disabled lo"), std::string::npos) << said;
}

// Another member of the control folder's group can take the supplicant's socket name: what
// that user answers is not believed (nor sent a key), and a client file that someone else
// put in place of ours is not unlinked.
TEST(WpaControlFake, OnlyTheFoldersOwnerIsBelievedAndOnlyOurOwnFileIsUnlinked)
{
    if (geteuid() != 0)
        WLAN_SKIP_UNLESS_CI("answering as another user needs root");
    testenv::TempDir dir;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, (dir / "wlan0").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const pid_t impostor = fork();
    if (impostor == 0) {
        if (setuid(65534) != 0)
            _exit(1);
        for (;;) {
            char request[256];
            sockaddr_un from{};
            socklen_t length = sizeof from;
            if (recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &length) > 0)
                sendto(fd, "PONG\n", 5, 0, reinterpret_cast<const sockaddr*>(&from), length);
        }
    }
    // A folder and a client socket the impostor may reach, as in a group's folder under a
    // umask of 002.
    chmod(dir.path().c_str(), 0777);
    const mode_t mask = umask(0);
    std::string error;
    auto control = WpaControl::Open(dir / "wlan0", error);
    umask(mask);
    ASSERT_TRUE(control) << error;
    EXPECT_EQ(control->Request("PING", 300ms), std::nullopt);
    kill(impostor, SIGKILL);
    waitpid(impostor, nullptr, 0);
    close(fd);

    const std::vector<std::string> ours = ClientSockets(dir.path());
    ASSERT_EQ(ours.size(), 1u);
    std::filesystem::remove(dir / ours[0]);
    std::ofstream(dir / ours[0]) << "someone else's";
    control.reset();
    EXPECT_TRUE(std::filesystem::exists(dir / ours[0]));
}

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
    ASSERT_TRUE(EventCame(*events, EventKind::Connected));
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
    ASSERT_TRUE(EventCame(*events, EventKind::Terminating));
    Wait(supplicant_);
    supplicant_ = -1;
    // Gone: the request fails at once rather than waiting out its limit.
    EXPECT_FALSE(moved.Request("PING", kLimit));

    events.reset();
    EXPECT_EQ(ClientSockets(dir_ / "ctrl").size(), 1u);
}
