#include "platform/SharedMemory.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using platform::MappedView;
using platform::SharedMemory;

namespace {

constexpr size_t kSize = 64;
const std::string kZeros(kSize * 2, '0');

// A helper program run as a real second process, with its stdin, stdout and stderr on pipes.
class Child {
public:
    explicit Child(std::vector<std::string> args)
    {
        args.insert(args.begin(), WLAN_SHM_HOLDER);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Child()
    {
        if (pid_ > 0)
            Kill();
        for (int fd : {stdin_, stdout_, stderr_})
            if (fd >= 0)
                close(fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of the child's stdout, however long the child takes: ctest's timeout is
    // the only clock, so a loaded machine makes the test slower, never wrong.
    std::string ReadLine()
    {
        for (;;) {
            if (auto end = out_.find('\n'); end != std::string::npos) {
                std::string line = out_.substr(0, end);
                out_.erase(0, end + 1);
                return line;
            }
            char buffer[256];
            ssize_t n = read(stdout_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return "(end of output)";
            out_.append(buffer, static_cast<size_t>(n));
        }
    }

    // Lets a holding child go by ending its input; answers its exit status.
    int Finish()
    {
        close(std::exchange(stdin_, -1));
        return Wait();
    }

    void Kill()
    {
        kill(pid_, SIGKILL);
        Wait();
    }

    std::string Stderr()
    {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = read(stderr_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }

private:
    int Wait()
    {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::string out_;
};

std::string SharedLine(const std::string& hex) { return "shared " + hex; }

std::string HexWith(std::initializer_list<std::pair<size_t, const char*>> bytes)
{
    std::string hex = kZeros;
    for (auto [offset, digits] : bytes)
        hex.replace(offset * 2, 2, digits);
    return hex;
}

size_t CountLines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class SharedMemoryTest : public ::testing::Test {
protected:
    void TearDown() override { shm_unlink(name_.c_str()); }

    std::string Path() const { return "/dev/shm" + name_; }
    bool NameExists() const
    {
        struct stat status {};
        return stat(Path().c_str(), &status) == 0;
    }
    struct stat StatOfName() const
    {
        struct stat status {};
        EXPECT_EQ(stat(Path().c_str(), &status), 0) << Path();
        return status;
    }
    // Leaves an object of the name behind as a process that ended would: not held by anyone.
    void LeaveObject(const std::string& bytes, mode_t mode = 0600)
    {
        int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fchmod(fd, mode), 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    std::string ObjectBytes() const { return testenv::ReadFile(Path()); }

    std::string name_ = testenv::UniqueBlockName();
};

TEST(DefaultBlockName, IsTheEnvironmentsNameOrConnect01)
{
    {
        testenv::ScopedEnv env("WLAN_CONNECT_BLOCK", "/elsewhere");
        EXPECT_EQ(platform::DefaultBlockName(), "/elsewhere");
    }
    {
        testenv::ScopedEnv env("WLAN_CONNECT_BLOCK", "");
        EXPECT_EQ(platform::DefaultBlockName(), "/connect01");
    }
    unsetenv("WLAN_CONNECT_BLOCK");
    EXPECT_EQ(platform::DefaultBlockName(), "/connect01");
}

TEST_F(SharedMemoryTest, NewBlockIs64ZeroBytesReadableOnlyByItsOwnerWhateverTheUmask)
{
    mode_t old = umask(0);
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    umask(old);
    ASSERT_TRUE(memory.IsOpen());
    EXPECT_FALSE(memory.IsPrivate());
    struct stat status = StatOfName();
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(status.st_size, 64);
    EXPECT_EQ(status.st_uid, geteuid());

    MappedView view = MappedView::Map(memory);
    ASSERT_NE(view.Data(), nullptr);
    ASSERT_EQ(view.Size(), kSize);
    std::array<unsigned char, kSize> zeros{};
    EXPECT_EQ(std::memcmp(view.Data(), zeros.data(), kSize), 0);
}

// Any process that may write the object may shrink it, as `: > /dev/shm/connect01` does.
// The holder's next access must not die of SIGBUS: the view turns into private zero memory at
// the same address, and one line says so however often it happens again.
TEST_F(SharedMemoryTest, AShrunkObjectTurnsTheViewPrivateInsteadOfKillingTheHolder)
{
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    MappedView view = MappedView::Map(memory);
    ASSERT_NE(view.Data(), nullptr);
    auto* bytes = static_cast<volatile unsigned char*>(view.Data());
    bytes[0] = 0x5a;
    ASSERT_FALSE(view.IsPrivate());
    ::testing::internal::CaptureStderr();
    for (int shrink = 0; shrink < 2; ++shrink) {
        const int fd = shm_open(name_.c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0), 0);
        close(fd);
        EXPECT_EQ(bytes[0], shrink == 0 ? 0 : 0x33);
        bytes[0] = 0x33;
        bytes[kSize - 1] = 0x44;
        EXPECT_EQ(bytes[kSize - 1], 0x44);
    }
    EXPECT_TRUE(view.IsPrivate());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": shared memory \"" + name_ +
                  "\" was shrunk by another process; running with a private block\n");
    // The private memory is not the object's: the object stays as the shrinker left it.
    EXPECT_EQ(StatOfName().st_size, 0);
}

TEST_F(SharedMemoryTest, AnObjectOfOursWithAWiderModeIsNarrowedTo0600)
{
    LeaveObject(std::string(kSize, '\0'), 0644);
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    EXPECT_FALSE(memory.IsPrivate());
    EXPECT_EQ(StatOfName().st_mode & 07777, 0600u);
}

TEST_F(SharedMemoryTest, TwoHandlesShareOneObjectAndTheLastCloseRemovesTheName)
{
    SharedMemory first = SharedMemory::CreateOrOpen(name_, kSize);
    MappedView firstView = MappedView::Map(first);
    static_cast<unsigned char*>(firstView.Data())[10] = 0xAB;

    SharedMemory second = SharedMemory::CreateOrOpen(name_, kSize);
    MappedView secondView = MappedView::Map(second);
    EXPECT_EQ(static_cast<unsigned char*>(secondView.Data())[10], 0xAB) << "opened while held: untouched";
    EXPECT_NE(firstView.Data(), secondView.Data());

    firstView.Unmap();
    first.Close();
    EXPECT_TRUE(NameExists()) << "the second handle still holds it";
    EXPECT_EQ(static_cast<unsigned char*>(secondView.Data())[10], 0xAB);
    secondView.Unmap();
    second.Close();
    EXPECT_FALSE(NameExists());
    second.Close();  // idempotent
    EXPECT_FALSE(second.IsOpen());
}

TEST_F(SharedMemoryTest, AHolderKeepsItsContentsForOtherOpenersUntilItEnds)
{
    Child holder({name_, "--write", "8:0x5a", "--hold"});
    ASSERT_EQ(holder.ReadLine(), SharedLine(kZeros));

    {
        SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
        MappedView view = MappedView::Map(memory);
        auto* bytes = static_cast<unsigned char*>(view.Data());
        EXPECT_EQ(bytes[8], 0x5A);
        bytes[63] = 0xC3;
        Child third({name_});
        EXPECT_EQ(third.ReadLine(), SharedLine(HexWith({{8, "5a"}, {63, "c3"}})));
        EXPECT_EQ(third.Finish(), 0);
    }
    // We were not the last holder: the name and the contents stay.
    ASSERT_TRUE(NameExists());
    Child fourth({name_});
    EXPECT_EQ(fourth.ReadLine(), SharedLine(HexWith({{8, "5a"}, {63, "c3"}})));
    EXPECT_EQ(fourth.Finish(), 0);

    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_FALSE(NameExists()) << "the last holder removes the name";
    Child next({name_});
    EXPECT_EQ(next.ReadLine(), SharedLine(kZeros));
    EXPECT_EQ(next.Finish(), 0);
}

TEST_F(SharedMemoryTest, AHolderOfARemovedBlockLeavesTheNameOfItsSuccessorWhenItCloses)
{
    SharedMemory first = SharedMemory::CreateOrOpen(name_, kSize);
    ASSERT_FALSE(first.IsPrivate());
    // Someone removes the name under the holder, and another process starts a block of it.
    ASSERT_EQ(shm_unlink(name_.c_str()), 0);
    Child second({name_, "--write", "9:0x42", "--hold"});
    ASSERT_EQ(second.ReadLine(), SharedLine(kZeros));

    first.Close();  // the last holder of the old object, but the name is no longer its own
    ASSERT_TRUE(NameExists()) << "the first holder removed its successor's name";
    Child third({name_});
    EXPECT_EQ(third.ReadLine(), SharedLine(HexWith({{9, "42"}})));
    EXPECT_EQ(third.Finish(), 0);
    EXPECT_EQ(second.Finish(), 0);
    EXPECT_FALSE(NameExists());
}

TEST_F(SharedMemoryTest, AHolderKilledWithSigkillLeavesZerosForTheNextOpener)
{
    Child holder({name_, "--write", "20:0x77", "--hold"});
    ASSERT_EQ(holder.ReadLine(), SharedLine(kZeros));
    holder.Kill();
    // The killed process could not remove the name: its bytes are still in the object.
    ASSERT_TRUE(NameExists());
    ASSERT_EQ(static_cast<unsigned char>(ObjectBytes().at(20)), 0x77);

    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    MappedView view = MappedView::Map(memory);
    EXPECT_FALSE(memory.IsPrivate());
    std::array<unsigned char, kSize> zeros{};
    EXPECT_EQ(std::memcmp(view.Data(), zeros.data(), kSize), 0);
}

TEST_F(SharedMemoryTest, ALeftoverObjectIsClearedAndASmallOneGrown)
{
    LeaveObject(std::string(16, '\x5A'));
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    EXPECT_FALSE(memory.IsPrivate());
    EXPECT_EQ(StatOfName().st_size, 64);
    EXPECT_EQ(ObjectBytes(), std::string(kSize, '\0'));
}

TEST_F(SharedMemoryTest, AnotherUsersObjectIsNotUsed)
{
    if (geteuid() != 0)
        WLAN_SKIP_UNLESS_CI("giving an object to another user needs root");
    LeaveObject(std::string(kSize, '\x11'), 0666);
    int fd = shm_open(name_.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    close(fd);

    testing::internal::CaptureStderr();
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    MappedView view = MappedView::Map(memory);
    std::string said = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(memory.IsPrivate());
    ASSERT_NE(view.Data(), nullptr);
    ASSERT_EQ(view.Size(), kSize);
    std::array<unsigned char, kSize> zeros{};
    EXPECT_EQ(std::memcmp(view.Data(), zeros.data(), kSize), 0);
    static_cast<unsigned char*>(view.Data())[8] = 0x99;
    EXPECT_EQ(CountLines(said), 1u) << said;
    EXPECT_NE(said.find(name_), std::string::npos) << said;
    EXPECT_NE(said.find("uid 65534"), std::string::npos) << said;

    view.Unmap();
    memory.Close();
    // Neither cleared, written, narrowed nor removed.
    struct stat status = StatOfName();
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_mode & 07777, 0666u);
    EXPECT_EQ(ObjectBytes(), std::string(kSize, '\x11'));
}

TEST_F(SharedMemoryTest, ATooSmallObjectThatCannotBeGrownIsNotUsed)
{
    LeaveObject(std::string(16, '\x22'));
    Child opener({name_, "--fsize-limit", "32"});
    EXPECT_EQ(opener.ReadLine(), "private " + kZeros);
    EXPECT_EQ(opener.Finish(), 0);
    std::string said = opener.Stderr();
    EXPECT_EQ(CountLines(said), 1u) << said;
    EXPECT_NE(said.find("cannot be grown"), std::string::npos) << said;
    EXPECT_EQ(ObjectBytes(), std::string(16, '\x22'));
}

TEST_F(SharedMemoryTest, AnObjectKeptLockedExclusivelyDoesNotHangTheOpener)
{
    LeaveObject(std::string(kSize, '\x33'));
    int fd = shm_open(name_.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);

    testing::internal::CaptureStderr();
    SharedMemory memory = SharedMemory::CreateOrOpen(name_, kSize);
    std::string said = testing::internal::GetCapturedStderr();
    close(fd);
    EXPECT_TRUE(memory.IsPrivate());
    EXPECT_EQ(CountLines(said), 1u) << said;
    EXPECT_EQ(ObjectBytes(), std::string(kSize, '\x33'));
}

TEST_F(SharedMemoryTest, PrivateFallbackBehavesAsABlockAndMovesWithItsHandle)
{
    testing::internal::CaptureStderr();
    SharedMemory memory = SharedMemory::CreateOrOpen("/bad/name", kSize);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountLines(said), 1u) << said;
    ASSERT_TRUE(memory.IsPrivate());

    SharedMemory moved = std::move(memory);
    EXPECT_FALSE(memory.IsOpen());
    MappedView view = MappedView::Map(moved);
    ASSERT_NE(view.Data(), nullptr);
    std::memset(view.Data(), 0xFF, view.Size());  // the whole block is writable
    MappedView movedView = std::move(view);
    EXPECT_EQ(view.Data(), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(movedView.Data())[63], 0xFF);
}

TEST_F(SharedMemoryTest, OpenersAndClosersRacingNeverClearOrSplitAHeldBlock)
{
    Child holder({name_, "--write", "40:0x77", "--hold"});
    ASSERT_EQ(holder.ReadLine(), SharedLine(kZeros));
    Child a({name_, "--cycles", "300", "--expect", "40:0x77", "--mark", "50:0xa1"});
    Child b({name_, "--cycles", "300", "--expect", "40:0x77", "--mark", "51:0xb2"});
    EXPECT_EQ(a.ReadLine(), "ok");
    EXPECT_EQ(b.ReadLine(), "ok");
    EXPECT_EQ(a.Finish(), 0);
    EXPECT_EQ(b.Finish(), 0);
    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_FALSE(NameExists());
}

TEST_F(SharedMemoryTest, OpenersAndClosersRacingWithoutAHolderKeepWhatEachHoldsAndLeaveNoName)
{
    Child a({name_, "--cycles", "300", "--mark", "50:0xa1"});
    Child b({name_, "--cycles", "300", "--mark", "51:0xb2"});
    Child c({name_, "--cycles", "300", "--mark", "52:0xc3"});
    EXPECT_EQ(a.ReadLine(), "ok");
    EXPECT_EQ(b.ReadLine(), "ok");
    EXPECT_EQ(c.ReadLine(), "ok");
    EXPECT_EQ(a.Finish(), 0);
    EXPECT_EQ(b.Finish(), 0);
    EXPECT_EQ(c.Finish(), 0);
    EXPECT_FALSE(NameExists()) << "the last closer removes the name";
}

} // namespace
