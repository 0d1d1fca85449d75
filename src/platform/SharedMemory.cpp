#include "platform/SharedMemory.h"

#include "platform/FileLock.h"

// The lifetime protocol. A POSIX object outlives its users until someone removes its name,
// while the platform's object vanishes with its last handle. Every holder therefore keeps a
// shared flock on its descriptor for as long as it has the object open:
//
// - Open: shm_open (create or open, no difference made), refuse an object that is not ours,
//   then try an exclusive lock without waiting. If that succeeds nobody holds the object, so
//   whatever it contains was left by a process that ended, even by SIGKILL (the kernel drops
//   its lock): clear it to zero bytes, then go down to the shared lock. If it fails, someone
//   holds the object and its contents stay untouched: wait for the shared lock.
// - Once the shared lock is held, check that the object still has its name (st_nlink is not
//   0). A closer may have removed the name between our shm_open and our lock; then the object
//   is a dead one that nobody else will ever open, so start over with a fresh shm_open.
// - Close: try an exclusive lock without waiting. Whoever gets it is the last holder and
//   removes the name, but only if the object still has it: otherwise another closer removed
//   it already and the name may belong to a newer object by now.
//
// Why this holds: a clear or a removal happens only under the exclusive lock, which no one
// gets while any holder keeps its shared lock, and every opener that returns holds the shared
// lock on an object that had its name while the lock was held, so all live holders share one
// object. On Linux flock converts a lock by dropping it and taking the new one; in the gap of
// an opener's downgrade another opener may clear the object again, which is harmless because
// neither has returned yet, and a closer may remove the name, which the check after the
// shared lock catches.
//
// The descriptor is close-on-exec. The lock belongs to the open file description, so a
// process that forks without exec shares it with its child.
//
// A shrunk object. Any process that may write the object may also truncate it (`: >
// /dev/shm/connect01`); a page of a mapping past the object's end then raises SIGBUS on the
// next access. So every mapping is registered, and a SIGBUS inside one replaces that
// mapping in place (MAP_FIXED) with private zero memory: the faulting access is retried
// there and the process carries on as on a private block, said once on stderr. A SIGBUS
// anywhere else goes to whoever handled it before, or kills as it always did.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr mode_t kMode = S_IRUSR | S_IWUSR;  // 0600: the block carries WEP keys
constexpr int kOpenAttempts = 100;

enum class Step { Opened, Retry, Failed };

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool HasLostItsName(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) != 0 || status.st_nlink == 0;
}

bool EnsureSize(int fd, size_t size, std::string& why)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        why = Errno("fstat");
        return false;
    }
    if (static_cast<size_t>(status.st_size) >= size)
        return true;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        why = "it is " + std::to_string(status.st_size) + " bytes and cannot be grown ("
            + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool ClearLeftovers(int fd, size_t size, std::string& why)
{
    if (!EnsureSize(fd, size, why))
        return false;
    const std::string zeros(size, '\0');
    size_t written = 0;
    while (written < size) {
        ssize_t n = ::pwrite(fd, zeros.data() + written, size - written, static_cast<off_t>(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = Errno("clearing it");
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// Ours, a plain object, and only ours to read: another user's object of that name is never
// used, as its owner could read or drive the utility through it.
bool CheckOwnership(int fd, std::string& why)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        why = Errno("fstat");
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = "it is not a shared-memory object";
        return false;
    }
    if (status.st_uid != ::geteuid()) {
        why = "it belongs to uid " + std::to_string(status.st_uid);
        return false;
    }
    if ((status.st_mode & 07777) != kMode && ::fchmod(fd, kMode) != 0) {
        why = Errno("fchmod");
        return false;
    }
    return true;
}

Step OpenOnce(const std::string& name, size_t size, int& opened, std::string& why)
{
    UniqueFd fd(::shm_open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kMode));
    if (fd.Get() < 0) {
        why = Errno("shm_open");
        return Step::Failed;
    }
    if (!CheckOwnership(fd.Get(), why))
        return Step::Failed;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
        if (HasLostItsName(fd.Get()))
            return Step::Retry;
        if (!ClearLeftovers(fd.Get(), size, why))
            return Step::Failed;
    } else if (errno != EWOULDBLOCK && errno != EINTR) {
        why = Errno("flock");
        return Step::Failed;
    }
    // Taking the shared lock also downgrades our exclusive one, if we had it.
    if (!LockWithinPatience(fd.Get(), LOCK_SH)) {
        why = "another process keeps it locked";
        return Step::Failed;
    }
    if (HasLostItsName(fd.Get()))
        return Step::Retry;
    if (!EnsureSize(fd.Get(), size, why))
        return Step::Failed;
    opened = fd.Release();
    return Step::Opened;
}

void SayWhyPrivate(const std::string& name, const std::string& why)
{
    std::fprintf(stderr, "%s: shared memory \"%s\" not used: %s; running with a private block\n",
                 program_invocation_short_name, name.c_str(), why.c_str());
}

// One registered mapping. Written by Map and Unmap, read by the signal handler: lock-free.
struct Region {
    std::atomic<uintptr_t> start{0};
    std::atomic<size_t> length{0};
    std::atomic<bool> lost{false};
    char message[256] = {};  // formatted when the mapping is made: the handler cannot format
    size_t messageLength = 0;
};

constexpr size_t kRegions = 16;
Region regions[kRegions];
std::atomic_flag handlerInstalled = ATOMIC_FLAG_INIT;
struct sigaction previousBusAction {};

size_t PageRounded(size_t size)
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

void OnBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Region& region : regions) {
        const uintptr_t start = region.start.load(std::memory_order_acquire);
        const size_t length = region.length.load(std::memory_order_acquire);
        if (start == 0 || address < start || address - start >= length)
            continue;
        void* replaced = ::mmap(reinterpret_cast<void*>(start), length, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (replaced == MAP_FAILED)
            break;
        if (!region.lost.exchange(true)) {
            const int saved = errno;
            [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, region.message, region.messageLength);
            errno = saved;
        }
        return;  // the access is retried on the private memory
    }
    // Not one of ours: as if this handler had never been installed.
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
        previousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);  // the retried access faults again and ends the process
}

void InstallBusHandler()
{
    if (handlerInstalled.test_and_set())
        return;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
}

// The index of the region now watching [data, data + size), or kRegions when all are taken
// (the mapping then simply is not watched).
size_t Register(void* data, size_t size, const std::string& name)
{
    InstallBusHandler();
    for (size_t i = 0; i < kRegions; ++i) {
        Region& region = regions[i];
        uintptr_t expected = 0;
        if (!region.start.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(data)))
            continue;
        const int length = std::snprintf(region.message, sizeof region.message,
                                         "%s: shared memory \"%s\" was shrunk by another process; "
                                         "running with a private block\n",
                                         program_invocation_short_name, name.c_str());
        region.messageLength = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof region.message - 1);
        region.lost.store(false);
        region.length.store(PageRounded(size), std::memory_order_release);
        return i;
    }
    return kRegions;
}

void Unregister(size_t index)
{
    if (index >= kRegions)
        return;
    regions[index].length.store(0, std::memory_order_release);
    regions[index].start.store(0, std::memory_order_release);
}

} // namespace

std::string DefaultBlockName()
{
    const char* name = std::getenv("WLAN_CONNECT_BLOCK");
    return name && *name ? name : "/connect01";
}

SharedMemory SharedMemory::CreateOrOpen(std::string_view name, size_t size)
{
    SharedMemory memory;
    memory.name_ = std::string(name);
    memory.size_ = size;
    std::string why = size == 0 ? "a size of 0 bytes" : "it was removed each time it was opened";
    for (int attempt = 0; size > 0 && attempt < kOpenAttempts; ++attempt) {
        int fd = -1;
        Step step = OpenOnce(memory.name_, size, fd, why);
        if (step == Step::Opened) {
            memory.fd_ = fd;
            return memory;
        }
        if (step == Step::Failed)
            break;
    }
    SayWhyPrivate(memory.name_, why);
    memory.private_ = new unsigned char[size]();
    return memory;
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , size_(std::exchange(other.size_, 0))
    , name_(std::move(other.name_))
    , private_(std::exchange(other.private_, nullptr))
{
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
        name_ = std::move(other.name_);
        private_ = std::exchange(other.private_, nullptr);
    }
    return *this;
}

SharedMemory::~SharedMemory()
{
    Close();
}

void SharedMemory::Close()
{
    delete[] std::exchange(private_, nullptr);
    if (fd_ >= 0) {
        // Converting to exclusive without waiting succeeds only for the last holder, who
        // removes the name as the platform's object vanishes with its last handle.
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0 && !HasLostItsName(fd_))
            ::shm_unlink(name_.c_str());
        ::close(std::exchange(fd_, -1));
    }
    size_ = 0;
}

bool SharedMemory::IsOpen() const
{
    return fd_ >= 0 || private_ != nullptr;
}

MappedView MappedView::Map(SharedMemory& memory)
{
    MappedView view;
    if (memory.fd_ >= 0) {
        void* data = ::mmap(nullptr, memory.size_, PROT_READ | PROT_WRITE, MAP_SHARED, memory.fd_, 0);
        if (data != MAP_FAILED) {
            view.data_ = data;
            view.size_ = memory.size_;
            view.mapped_ = true;
            view.region_ = Register(data, memory.size_, memory.name_);
            return view;
        }
        // The caller still gets a block to run with: the handle turns into the fallback.
        std::string why = Errno("mmap");
        size_t size = memory.size_;
        memory.Close();
        SayWhyPrivate(memory.name_, why);
        memory.private_ = new unsigned char[size]();
        memory.size_ = size;
    }
    if (memory.private_) {
        view.data_ = memory.private_;
        view.size_ = memory.size_;
    }
    return view;
}

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr))
    , size_(std::exchange(other.size_, 0))
    , mapped_(std::exchange(other.mapped_, false))
    , region_(std::exchange(other.region_, kRegions))
{
}

MappedView& MappedView::operator=(MappedView&& other) noexcept
{
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
        region_ = std::exchange(other.region_, kRegions);
    }
    return *this;
}

MappedView::~MappedView()
{
    Unmap();
}

void MappedView::Unmap()
{
    Unregister(std::exchange(region_, kRegions));
    if (mapped_)
        ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

bool MappedView::IsPrivate() const
{
    return !mapped_ || (region_ < kRegions && regions[region_].lost.load());
}

} // namespace platform
