// A hostile peer on the shared block: another process overwrites all 64 bytes with random
// ones thousands of times a second while the Status page and the Configuration page are both
// active and polling, by their own 500 ms timers and by ticks sent as fast as they are taken.
// After every tick every control must be in a state the pages can mean.
#include "PageSanity.h"

#include "app/nApp.h"
#include "framework/Types.h"
#include "pages/nPConfig.h"
#include "pages/nPLinkInfo.h"
#include "platform/SharedMemory.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kPeerRuns = 2500ms;

// The peer as a child process, its stdout kept for the count of writes it made.
class Peer {
public:
    Peer(const std::string& block, std::chrono::milliseconds runFor)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string ms = std::to_string(runFor.count());
        const std::string seed = std::to_string(getpid());
        const char* argv[] = {WLAN_HOSTILE_PEER, block.c_str(), ms.c_str(), seed.c_str(), nullptr};
        if (posix_spawn(&pid_, WLAN_HOSTILE_PEER, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Peer()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    bool Started() const { return pid_ > 0; }
    bool Running()
    {
        if (exited_)
            return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        return !exited_;
    }
    bool Succeeded() const { return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    long Writes() const
    {
        char text[32] = {};
        const ssize_t got = read(out_, text, sizeof text - 1);
        return got > 0 ? std::atol(text) : -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

std::string Check(const nPLinkInfo& status, const nPConfig& config)
{
    if (std::string wrong = hardening::CheckLinkInfoPage(status); !wrong.empty())
        return "Status page: " + wrong;
    if (std::string wrong = hardening::CheckConfigPage(config); !wrong.empty())
        return "Configuration page: " + wrong;
    return hardening::CheckBarDisplays();
}

TEST(HostilePeerTest, BothPollingPagesStaySaneWhileAPeerScribblesOverTheBlock)
{
    const std::string name = testenv::UniqueBlockName();
    platform::SharedMemory memory = platform::SharedMemory::CreateOrOpen(name, 64);
    ASSERT_FALSE(memory.IsPrivate());
    platform::MappedView view = platform::MappedView::Map(memory);
    ASSERT_NE(view.Data(), nullptr);
    ConnectBlock* const previous = theApp.connectView;
    theApp.connectView = static_cast<ConnectBlock*>(view.Data());
    theApp.DSChannel = 6;

    nPLinkInfo status;
    nPConfig config;
    ASSERT_TRUE(status.Create());
    ASSERT_TRUE(config.Create());
    // Both start their 500 ms timers; the peer's bytes may end either wait at any tick.
    status.SendMessage(fw::WM_ACTIVATE, fw::WA_ACTIVE);
    config.SendMessage(fw::WM_ACTIVATE, fw::WA_ACTIVE);

    Peer peer(name, kPeerRuns);
    ASSERT_TRUE(peer.Started());
    long ticks = 0;
    long rebuilds = 0;
    std::string wrong;
    const auto start = std::chrono::steady_clock::now();
    while (peer.Running() && wrong.empty()) {
        status.SendMessage(fw::WM_TIMER, 1);
        const int before = config.channelCount;
        config.SendMessage(fw::WM_TIMER, 1);
        rebuilds += config.channelCount != before;
        ++ticks;
        if (ticks % 16 == 0)
            QCoreApplication::processEvents();  // the pages' own timers
        wrong = Check(status, config);
        // The Configuration page leaves and comes back now and then, as a tab change does.
        if (ticks % 64 == 0) {
            config.SendMessage(fw::WM_ACTIVATE, fw::WA_INACTIVE);
            config.SendMessage(fw::WM_ACTIVATE, fw::WA_ACTIVE);
        }
        if (std::chrono::steady_clock::now() - start > kPeerRuns + 30s)
            wrong = "the peer did not end";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(wrong, "") << "after " << ticks << " ticks";
    while (peer.Running())
        QCoreApplication::processEvents();
    ASSERT_TRUE(peer.Succeeded());
    const long writes = peer.Writes();

    status.SendMessage(fw::WM_ACTIVATE, fw::WA_INACTIVE);
    config.SendMessage(fw::WM_ACTIVATE, fw::WA_INACTIVE);
    EXPECT_EQ(Check(status, config), "");
    theApp.connectView = previous;

    std::printf("hostile peer: %ld block writes in %.1f s, %ld ticks of each page, %ld list rebuilds\n", writes,
                seconds, ticks, rebuilds);
    ::testing::Test::RecordProperty("peer_writes", std::to_string(writes));
    ::testing::Test::RecordProperty("ticks", std::to_string(ticks));
    EXPECT_GT(writes, 1000) << "the peer must write thousands of times";
    EXPECT_GT(ticks, 100);
}

} // namespace
