// The utility as a process, started when a block of its name already exists that another
// user owns, open for anyone to write: it must not use it. It runs on its own private block,
// says so in one line on stderr, and leaves the other user's bytes exactly as they were:
// not even the Status page's request reaches them.
#include "support/TestEnvironment.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>

extern char** environ;

namespace {

constexpr uid_t kNobody = 65534;

struct UtilityRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The start-up probe (the utility with a hook that closes its sheet once shown).
UtilityRun RunUtility()
{
    UtilityRun run;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    char* argv[] = {const_cast<char*>(STARTUP_PROBE), const_cast<char*>("cancel"), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, STARTUP_PROBE, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        int open = 2;
        while (open > 0 && std::chrono::steady_clock::now() < deadline) {
            if (poll(fds, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                    continue;
                char buffer[512];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
                }
            }
        }
        if (open > 0)
            kill(pid, SIGKILL);
        waitpid(pid, &run.status, 0);
    }
    close(out[0]);
    close(err[0]);
    return run;
}

class ForeignBlockTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            WLAN_SKIP_UNLESS_CI("needs root to give a block to another user");
        fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        ASSERT_GE(fd_, 0);
        ASSERT_EQ(ftruncate(fd_, static_cast<off_t>(GetParam())), 0);
        ASSERT_EQ(pwrite(fd_, std::string(GetParam(), '\x5A').data(), GetParam(), 0), static_cast<ssize_t>(GetParam()));
        ASSERT_EQ(fchown(fd_, kNobody, kNobody), 0);
        ASSERT_EQ(fchmod(fd_, 0666), 0);
    }
    void TearDown() override
    {
        if (fd_ >= 0) {
            close(fd_);
            shm_unlink(name_.c_str());
        }
    }

    std::string Bytes() const
    {
        std::string bytes(4096, '\0');
        const ssize_t n = pread(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }

    const std::string name_ = testenv::UniqueBlockName();
    testenv::TempDir dir_;
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", (dir_ / "registry.reg").string()};
    testenv::ScopedEnv block_{"WLAN_CONNECT_BLOCK", name_};
    testenv::ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
    int fd_ = -1;
};

TEST_P(ForeignBlockTest, TheUtilityRunsOnAPrivateBlockAndLeavesTheOtherUsersAlone)
{
    const UtilityRun run = RunUtility();

    ASSERT_TRUE(WIFEXITED(run.status)) << "status " << run.status << "\n" << run.err;
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_NE(run.out.find("show Setup"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("ended\n")) << run.out;

    // One line that names the block; Qt's own chatter aside.
    size_t said = 0;
    size_t start = 0;
    for (size_t end; (end = run.err.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = run.err.substr(start, end - start);
        said += line.find(name_) != std::string::npos;
    }
    EXPECT_EQ(said, 1u) << run.err;

    EXPECT_EQ(Bytes(), std::string(GetParam(), '\x5A')) << "the other user's block was written";
    struct stat info {};
    ASSERT_EQ(fstat(fd_, &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_mode & 07777, 0666u);
}

// A block of the right size, and one too small that its owner alone could grow.
INSTANTIATE_TEST_SUITE_P(Sizes, ForeignBlockTest, ::testing::Values(size_t{64}, size_t{16}));

} // namespace
