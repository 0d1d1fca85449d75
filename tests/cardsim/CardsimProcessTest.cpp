// The real wlan-cardsim against the real shared memory: this process plays the utility's part
// through the same channel object the pages use. Each test has its own block name, registry
// file and socket folder, and waits with deadlines, never with fixed sleeps.

#include "RuntimeFolder.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"
#include "support/CardsimProcess.h"
#include "support/TestEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

constexpr std::array<uint8_t, 6> kCafeNet = {0x02, 0x43, 0x4E, 0x00, 0x00, 0x01};
constexpr std::array<uint8_t, 6> kHarbour = {0x02, 0x48, 0x42, 0x00, 0x00, 0x02};
// "harbour" through the 64-bit generator, as the README documents it.
constexpr std::array<uint8_t, 20> kHarbourKeys = {0x8d, 0x2f, 0xdd, 0xc6, 0x1e, 0x0d, 0xcd,
                                                  0x93, 0x1d, 0x1d, 0xb2, 0xe8, 0x56, 0x0f,
                                                  0x4a, 0x18, 0x1b, 0xf7, 0x27, 0x00};

// Under the sanitizers everything is slower; the deadlines are generous, the waits are not.
constexpr auto kDeadline = 10s;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kDeadline)
{
    return testenv::WaitUntil(condition, deadline);
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CardsimProcessTest : public testing::Test {
protected:
    CardsimProcessTest()
    {
        mkdir(runtime_.c_str(), 0700);
    }

    ~CardsimProcessTest() override { Stop(); }

    // Starts the simulator and waits until it listens and holds the block.
    void Start(std::vector<std::string> args = {})
    {
        pid_ = testenv::SpawnCardsim(args, folder_ / "serve.out", folder_ / "serve.log");
        ASSERT_GT(pid_, 0);
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(SocketPath()); })) << Log();
        memory_ = platform::SharedMemory::CreateOrOpen(block_, 64);
        view_ = platform::MappedView::Map(memory_);
        ASSERT_FALSE(memory_.IsPrivate());
        channel_ = ConnectChannel(static_cast<ConnectBlock*>(view_.Data()));
    }

    int Stop(int signal = SIGTERM)
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    bool Alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    RunResult Run(const std::vector<std::string>& args)
    {
        const pid_t pid = testenv::SpawnCardsim(args, folder_ / "run.out", folder_ / "run.err");
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testenv::ReadFile(folder_ / "run.out"),
                testenv::ReadFile(folder_ / "run.err")};
    }

    std::filesystem::path SocketPath() const
    {
        return runtime_ / ("wlan-cardsim-" + block_.substr(1) + ".sock");
    }
    std::string Log() const { return testenv::ReadFile(folder_ / "serve.log"); }
    uint8_t Status() const { return static_cast<uint8_t>(channel_.StatusWord() >> 24); }
    uint8_t Command() const { return static_cast<uint8_t>(channel_.CommandWord() >> 24); }
    std::array<uint8_t, 6> Bssid() const
    {
        std::array<uint8_t, 6> bssid{};
        for (size_t i = 0; i < 6; ++i)
            bssid[i] = channel_.ReadU8(8 + i);
        return bssid;
    }

    // Posts a command with payload and waits until the service has taken it (code cleared).
    void Taken(const std::function<void()>& post)
    {
        post();
        ASSERT_TRUE(WaitUntil([&] { return Command() == 0; })) << Log();
    }

    // Asks for link information and waits for a link with this BSSID.
    bool LinkTo(const std::array<uint8_t, 6>& bssid)
    {
        channel_.PostLinkInfo();
        return WaitUntil([&] { return Status() == STAT_LINK_INFO && Bssid() == bssid; });
    }

    testenv::TempDir folder_;
    std::filesystem::path runtime_ = folder_ / "run";
    std::string block_ = testenv::UniqueBlockName();
    testenv::ScopedEnv blockEnv_{"WLAN_CONNECT_BLOCK", block_};
    testenv::ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", (folder_ / "registry.reg").string()};
    testenv::ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.string()};
    pid_t pid_ = -1;
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectChannel channel_{nullptr};
};

TEST_F(CardsimProcessTest, LinkInformationArrivesAndKeepsBeingRefreshed)
{
    Start({"--seed", "7"});
    // A fresh registry: the driver installs its defaults, which join any open network.
    ASSERT_TRUE(LinkTo(kCafeNet)) << Log();
    EXPECT_THAT(testenv::ReadFile(folder_ / "registry.reg"), HasSubstr("[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]"));
    EXPECT_EQ(channel_.ReadU8(18), 6) << "channel";
    EXPECT_GE(channel_.ReadU8(17), 9) << "strength near CafeNet's 11";
    EXPECT_LE(channel_.ReadU8(17), 13);
    EXPECT_LE(channel_.ReadU8(16), channel_.ReadU8(17)) << "quality below strength";
    EXPECT_EQ(channel_.ReadU16(14), 8) << "11 Mbps";
    const uint32_t count = channel_.StatusWord() & 0xFFFFFF;
    EXPECT_TRUE(WaitUntil([&] { return (channel_.StatusWord() & 0xFFFFFF) >= count + 3; }));
    EXPECT_EQ(Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(SocketPath())) << "removed at a clean stop";
}

TEST_F(CardsimProcessTest, CardOutThenInIsReportedAndTheLinkComesBack)
{
    Start();
    ASSERT_TRUE(LinkTo(kCafeNet)) << Log();
    const RunResult out = Run({"ctl", "card", "out"});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    ASSERT_TRUE(WaitUntil([&] { return Status() == STAT_CARD_OUT; }));
    EXPECT_EQ(Run({"ctl", "card", "in"}).exitCode, 0);
    ASSERT_TRUE(WaitUntil([&] { return Status() == STAT_CARD_IN; }));
    EXPECT_TRUE(LinkTo(kCafeNet)) << Log();
}

TEST_F(CardsimProcessTest, TheChannelMaskFollowsTheDomain)
{
    for (const auto& [domain, mask] : {std::pair{"fcc", 0x07FF}, {"etsi", 0x1FFF}, {"japan", 0x3FFF}}) {
        SCOPED_TRACE(domain);
        Start({"--domain", domain});
        // The utility wakes the service; a peer that only writes the word is found by its look.
        if (std::string_view(domain) == "japan")
            std::atomic_ref<uint32_t>(static_cast<ConnectBlock*>(view_.Data())->cmdWord).store(0x12000001);
        else
            channel_.PostChannelList();
        ASSERT_TRUE(WaitUntil([&] { return Status() == STAT_CHANNEL_LIST; })) << Log();
        EXPECT_EQ(channel_.ChannelMask(), mask);
        EXPECT_EQ(Stop(), 0);
        view_.Unmap();
        memory_.Close();
    }
    const RunResult bad = Run({"--domain", "mars"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_THAT(bad.err, HasSubstr("unknown domain \"mars\""));
}

TEST_F(CardsimProcessTest, SetConfigJoinsTheMatchingNetworkAndAWrongKeyJoinsNone)
{
    Start({"-v"});
    Taken([&] { channel_.PostConfig({1, 15, 1, 6, u"Harbour"}); });
    Taken([&] { channel_.PostWep(2, 1, kHarbourKeys); });
    ASSERT_TRUE(LinkTo(kHarbour)) << Log();
    EXPECT_EQ(channel_.ReadU8(18), 1);

    std::array<uint8_t, 20> wrong = kHarbourKeys;
    wrong[4] ^= 0x01;
    // The card looks for Harbour with the wrong key and finds no network that takes it (said
    // once for each change of settings).
    const auto misses = [&] {
        const std::string log = Log();
        const std::string line = "no network takes \"Harbour\" with these settings";
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++count;
        return count;
    };
    const size_t before = misses();
    Taken([&] { channel_.PostWep(2, 1, wrong); });
    ASSERT_TRUE(WaitUntil([&] { return misses() > before; })) << Log();
    EXPECT_TRUE(LinkTo({0x44, 0x44, 0x44, 0x44, 0x44, 0x44})) << Log();
    EXPECT_THAT(Log(), HasSubstr("SET_CONFIG type=Access Point name=\"Harbour\" rate=Fully Automatic ps=Disabled channel=6"));
    EXPECT_THAT(Log(), HasSubstr("SET_WEP mode=64 Bit key=1"));
}

TEST_F(CardsimProcessTest, ACommandPostedTwiceIsTakenTwice)
{
    Start({"-v"});
    Taken([&] { channel_.PostConfig({0, 15, 1, 6, u"abc"}); });
    Taken([&] { channel_.PostConfig({0, 15, 1, 6, u"abc"}); });
    const RunResult status = Run({"ctl", "status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_THAT(status.out, HasSubstr("commands taken: 2"));
    EXPECT_THAT(status.out, HasSubstr("configuration: type=Peer-to-Peer name=\"abc\""));
    const std::string log = Log();
    const std::string line = "SET_CONFIG type=Peer-to-Peer name=\"abc\" rate=Fully Automatic ps=Disabled channel=6";
    const size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(line, first + 1), std::string::npos) << "logged twice";
}

// Shrinking the block (`: > /dev/shm/connect01`, which any process that may write it can do)
// kills neither side: the simulator stops serving with exit 4 and says why, and this process,
// mapping the block as the utility does, carries on over private memory.
TEST_F(CardsimProcessTest, AShrunkBlockEndsTheServiceWithExit4AndKillsNoOne)
{
    Start();
    ASSERT_TRUE(LinkTo(kCafeNet)) << Log();
    const int fd = open(("/dev/shm" + block_).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    close(fd);
    int status = 0;
    ASSERT_TRUE(WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) << Log();
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 4) << Log();
    EXPECT_THAT(Log(), HasSubstr("was shrunk by another process"));
    channel_.PostLinkInfo();
    EXPECT_EQ(Status(), 0);
    EXPECT_TRUE(view_.IsPrivate());
}

TEST_F(CardsimProcessTest, GarbageInTheBlockDoesNotStopTheService)
{
    Start();
    std::mt19937 noise(3);
    auto* bytes = static_cast<uint8_t*>(view_.Data());
    const uint8_t codes[] = {0x11, 0x12, 0x21, 0x22, 0x00, 0xFF};
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (size_t i = 0; i < 64; ++i)
            bytes[i] = static_cast<uint8_t>(noise());
        bytes[3] = codes[noise() % 6];
        std::this_thread::sleep_for(1ms);
        ++rounds;
    }
    ASSERT_TRUE(Alive()) << Log();
    Taken([&] { channel_.PostConfig({1, 15, 1, 6, u""}); });
    Taken([&] { channel_.PostWep(0, 0, {}); });
    EXPECT_TRUE(LinkTo(kCafeNet)) << "after " << rounds << " rounds of noise\n" << Log();
    EXPECT_THAT(Log(), HasSubstr("warning: "));
    EXPECT_EQ(Stop(), 0);
}

TEST_F(CardsimProcessTest, TheControlSocketIsPrivateAndRefusesWhatItDoesNotKnow)
{
    Start();
    struct stat info {};
    ASSERT_EQ(lstat(SocketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());

    const RunResult unknown = Run({"ctl", "frobnicate"});
    EXPECT_EQ(unknown.exitCode, 6);
    EXPECT_THAT(unknown.err, HasSubstr("unknown command \"frobnicate\"; known: card in|out"));
    EXPECT_EQ(Run({"ctl", "signal", "99"}).exitCode, 6);
    EXPECT_EQ(Run({"ctl", "ap", "add", "{\"name\": 1}"}).exitCode, 6);

    // ap add and signal through the socket reach the running simulator; a held signal can
    // be let go again, and its network then wanders as before.
    EXPECT_EQ(Run({"ctl", "ap", "add", R"({"name":"Guest","bssid":"02:11:22:33:44:55","channel":6,"signal":15,"drift":2})"}).exitCode, 0);
    EXPECT_EQ(Run({"ctl", "signal", "3", "Guest"}).exitCode, 0);
    EXPECT_THAT(Run({"ctl", "status"}).out,
                HasSubstr("\"Guest\" 02:11:22:33:44:55 access-point channel 6 wep off signal 3 quality 2 (fixed)\n"));
    EXPECT_EQ(Run({"ctl", "signal", "auto", "Guest"}).exitCode, 0);
    EXPECT_THAT(Run({"ctl", "status"}).out, Not(HasSubstr("(fixed)")));
    EXPECT_EQ(Run({"ctl", "ap", "remove", "Guest"}).exitCode, 0);

    // A network on a channel the domain forbids is taken, with a warning that says so.
    const RunResult abroad = Run({"ctl", "ap", "add", R"({"name":"Abroad","bssid":"00:11:22:33:44:66","channel":13})"});
    EXPECT_EQ(abroad.exitCode, 0);
    EXPECT_THAT(abroad.out, HasSubstr("warning: \"Abroad\" is on channel 13, which the fcc domain does not allow"));

    // A second simulator for the same block stops before it touches the block.
    const RunResult second = Run({});
    EXPECT_EQ(second.exitCode, 4);
    EXPECT_THAT(second.err, HasSubstr("another wlan-cardsim already serves this block"));
    EXPECT_TRUE(Alive());

    EXPECT_EQ(Stop(), 0);
    const RunResult nobody = Run({"ctl", "status"});
    EXPECT_EQ(nobody.exitCode, 5);
    EXPECT_THAT(nobody.err, HasSubstr("no simulator answers"));
}

TEST_F(CardsimProcessTest, WithoutARuntimeFolderTheSocketGoesIntoAPrivateTemporaryFolder)
{
    // TMPDIR plays no part: a program started with a file capability never sees it, and the
    // simulator and wlan-connectd must meet in one folder however each was started.
    unsetenv("XDG_RUNTIME_DIR");
    testenv::ScopedEnv temp("TMPDIR", folder_.path().string());
    const std::filesystem::path privateFolder = std::filesystem::path("/tmp") / ("wlan-cardsim-" + std::to_string(geteuid()));
    const pid_t pid = testenv::SpawnCardsim({}, folder_ / "serve.out", folder_ / "serve.log");
    ASSERT_GT(pid, 0);
    const auto socket = privateFolder / ("wlan-cardsim-" + block_.substr(1) + ".sock");
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(socket); })) << Log();
    struct stat info {};
    ASSERT_EQ(lstat(privateFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(folder_ / ("wlan-cardsim-" + std::to_string(geteuid()))));
    EXPECT_EQ(Run({"ctl", "card", "out"}).exitCode, 0);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // A folder others may enter is not used (tried on a fallback of the test's own, so that
    // services of this user elsewhere keep theirs).
    const std::filesystem::path base = folder_ / "base";
    std::filesystem::create_directories(base / ("wlan-cardsim-" + std::to_string(geteuid())));
    chmod((base / ("wlan-cardsim-" + std::to_string(geteuid()))).c_str(), 0755);
    std::string error;
    EXPECT_FALSE(service::RuntimeFolder(error, base));
    EXPECT_THAT(error, HasSubstr("is not a private folder of this user"));
}

TEST_F(CardsimProcessTest, ABadEnvironmentFileIsReportedWithItsPlace)
{
    testenv::WriteFile(folder_ / "env.json", "{\"networks\": [{\"name\": \"A\", \"bssid\": \"00:00:00:00:00:01\", \"channel\": 15}]}");
    const RunResult bad = Run({"--environment", (folder_ / "env.json").string()});
    EXPECT_EQ(bad.exitCode, 3);
    EXPECT_THAT(bad.err, HasSubstr("env.json: networks[0].channel: a whole number 1..14 (is 15)"));
    const RunResult missing = Run({"--environment", (folder_ / "missing.json").string()});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_THAT(missing.err, HasSubstr("missing.json: No such file or directory"));
    // A folder once ended the simulator on an uncaught exception (SIGABRT).
    const RunResult folder = Run({"--environment", folder_.path().string()});
    EXPECT_EQ(folder.exitCode, 3);
    EXPECT_THAT(folder.err, HasSubstr(": Is a directory"));
}

TEST_F(CardsimProcessTest, AnEnvironmentFileReplacesTheDemoAndDumpShowsTheBlock)
{
    testenv::WriteFile(folder_ / "env.json", R"({"networks": [
        {"name": "Attic", "bssid": "02:A7:71:C0:00:01", "channel": 13, "signal": 9, "drift": 0}]})");
    Start({"--environment", (folder_ / "env.json").string(), "--domain", "etsi"});
    ASSERT_TRUE(LinkTo({0x02, 0xA7, 0x71, 0xC0, 0x00, 0x01})) << Log();
    const RunResult dump = Run({"dump"});
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_THAT(dump.out, HasSubstr("command 0x11 CMD_LINK_INFO, item mask 0x00001F"));
    EXPECT_THAT(dump.out, HasSubstr("status 0x11 STAT_LINK_INFO"));
    EXPECT_THAT(dump.out, HasSubstr("BSSID 02:A7:71:C0:00:01, rate code 8, quality 8, strength 9, channel 13"));
}

TEST_F(CardsimProcessTest, SilentClientsHoldUpNeitherTheBlockNorOtherClients)
{
    Start();
    // Clients that connect and say nothing: each once cost the block 200 ms, one after another.
    std::vector<int> silent;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    for (int i = 0; i < 200; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << i;
        silent.push_back(fd);
    }
    // One more client asks; it is answered while the silent ones still wait for their own time
    // limits, so the last of them is still connected. A simulator that served one client at a
    // time had to drop every silent one first.
    const int asking = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(asking, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "[\"status\"]\n";
    ASSERT_EQ(send(asking, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char answer[16] = {};
    ASSERT_GT(recv(asking, answer, sizeof answer - 1, 0), 0);
    char byte = 0;
    const ssize_t last = recv(silent.back(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    EXPECT_TRUE(last < 0 && errno == EAGAIN) << "the last silent client was dropped before the answer";
    EXPECT_EQ(std::string(answer).substr(0, 3), "ok\n");
    close(asking);
    const RunResult status = Run({"ctl", "status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_TRUE(LinkTo(kCafeNet)) << Log();
    for (const int fd : silent)
        close(fd);
    EXPECT_EQ(Stop(), 0);
}

TEST_F(CardsimProcessTest, TheEnvironmentHoldsAtMost256NetworksAndWarnsOfForbiddenChannels)
{
    std::string networks;
    for (int i = 0; i < 256; ++i) {
        char entry[96];
        std::snprintf(entry, sizeof entry, R"(%s{"name":"N%d","bssid":"00:00:00:00:%02X:%02X","channel":%d})",
                      i == 0 ? "" : ",", i, i >> 8, i & 0xFF, i == 0 ? 13 : 6);
        networks += entry;
    }
    testenv::WriteFile(folder_ / "env.json", "{\"networks\": [" + networks + "]}");
    Start({"--environment", (folder_ / "env.json").string()});
    // The socket listens before the start-up lines are written.
    EXPECT_TRUE(WaitUntil([&] { return Log().find("warning: \"N0\" is on channel 13, which the fcc domain "
                                                  "does not allow") != std::string::npos; })) << Log();
    const RunResult full = Run({"ctl", "ap", "add", R"({"name":"More","bssid":"02:11:22:33:44:55","channel":6})"});
    EXPECT_EQ(full.exitCode, 6);
    EXPECT_THAT(full.err, HasSubstr("256 networks already"));
    EXPECT_EQ(Run({"ctl", "ap", "remove", "N1"}).exitCode, 0);
    EXPECT_EQ(Run({"ctl", "ap", "add", R"({"name":"More","bssid":"02:11:22:33:44:55","channel":6})"}).exitCode, 0);
}

TEST_F(CardsimProcessTest, NamesPrintAsTextWhereTheLocaleShowsThem)
{
    testenv::ScopedEnv locale("LC_ALL", "C.UTF-8");
    Start();
    EXPECT_EQ(Run({"ctl", "ap", "add", R"({"name":"Caf\u00e9 \"1\"","bssid":"02:11:22:33:44:55","channel":6})"}).exitCode, 0);
    const std::string out = Run({"ctl", "status"}).out;
    EXPECT_THAT(out, HasSubstr("\"Caf\xc3\xa9 \\x221\\x22\" 02:11:22:33:44:55")) << out;
}

TEST_F(CardsimProcessTest, DumpSaysWhenNobodyServesTheBlock)
{
    const RunResult nobody = Run({"dump"});
    EXPECT_EQ(nobody.exitCode, 5);
    EXPECT_THAT(nobody.err, HasSubstr("nobody serves the block " + block_));
    EXPECT_EQ(nobody.out, "");
}

TEST_F(CardsimProcessTest, ARuntimeFolderOthersMayEnterIsPassedOver)
{
    chmod(runtime_.c_str(), 0755);
    const auto privateSocket = std::filesystem::path("/tmp") / ("wlan-cardsim-" + std::to_string(geteuid())) /
                               ("wlan-cardsim-" + block_.substr(1) + ".sock");
    pid_ = testenv::SpawnCardsim({}, folder_ / "serve.out", folder_ / "serve.log");
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(privateSocket); })) << Log();
    EXPECT_FALSE(std::filesystem::exists(SocketPath()));
    EXPECT_EQ(Run({"ctl", "card", "out"}).exitCode, 0);
    EXPECT_EQ(Stop(), 0);
}

TEST_F(CardsimProcessTest, CtlBelievesOnlyASimulatorOfItsOwnUser)
{
    if (geteuid() != 0)
        WLAN_SKIP_UNLESS_CI("needs root to serve a socket as another user");
    // Another user's server at the simulator's path, answering as a simulator would. Its
    // credentials are those it listens with.
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const pid_t impostor = fork();
    if (impostor == 0) {
        if (setuid(65534) != 0 || listen(listener, 4) != 0)
            _exit(1);
        for (;;) {
            const int client = accept(listener, nullptr, nullptr);
            const char answer[] = "ok\ncard: in (says another user)\n";
            (void)!write(client, answer, sizeof answer - 1);
            close(client);
        }
    }
    close(listener);
    const RunResult status = Run({"ctl", "status"});
    kill(impostor, SIGKILL);
    waitpid(impostor, nullptr, 0);
    EXPECT_EQ(status.exitCode, 5);
    EXPECT_THAT(status.err, HasSubstr("is served by another user (uid 65534): not believed"));
    EXPECT_EQ(status.out, "");
}

} // namespace
