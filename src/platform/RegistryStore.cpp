#include "platform/RegistryStore.h"

#include "platform/FileLock.h"
#include "platform/RegistryKey.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace platform {

namespace {

constexpr int32_t ERROR_WRITE_FAULT = 29;
constexpr int32_t ERROR_LOCK_VIOLATION = 33;


// What the last operation of this thread could not do, for the caller to show the person.
thread_local std::string lastFailure;
// Inside an update every failure is said, each time: a save that fails is never silent.
thread_local bool saying = false;

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Close()
    {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

int32_t StatusOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_WRITE_FAULT;
    }
}

void Say(const std::string& line)
{
    lastFailure = line;
    if (saying)
        std::fprintf(stderr, "%s\n", line.c_str());
    else
        RegistryStore::Report(line);
}

int32_t Fail(const std::filesystem::path& file, const char* what, int error)
{
    Say(file.string() + ": " + what + ": " + std::strerror(error));
    return StatusOf(error);
}

class Saying {
public:
    Saying() : previous_(std::exchange(saying, true)) {}
    ~Saying() { saying = previous_; }
    Saying(const Saying&) = delete;
    Saying& operator=(const Saying&) = delete;

private:
    bool previous_;
};

// The file holds WEP keys, and a rename replaces whatever is in its folder: a folder that
// someone else could write into (or swap) is not used at all, as ssh treats its own files.
// Root is trusted, like the system itself; a sticky folder such as /tmp lets nobody else
// rename or remove our entries.
std::optional<std::string> UntrustedFolder(const std::filesystem::path& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return std::nullopt;  // a missing folder is reported by what needs it
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "its folder " + folder.string() + " belongs to uid " + std::to_string(st.st_uid);
    if ((st.st_mode & S_ISVTX) != 0)
        return std::nullopt;
    if ((st.st_mode & S_IWOTH) != 0)
        return "its folder " + folder.string() + " is writable by others";
    if ((st.st_mode & S_IWGRP) != 0)
        return "its folder " + folder.string() + " is writable by its group";
    return std::nullopt;
}

// Reads at most kMaxFileBytes + 1 bytes, so a file that grows while it is read is still
// recognised as too large without reading all of it.
bool ReadBounded(int fd, std::string& bytes)
{
    constexpr size_t kLimit = regfile::kMaxFileBytes + 1;
    char buffer[65536];
    while (bytes.size() < kLimit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kLimit - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::filesystem::path FolderOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// The folder holds WEP keys too (in the file and its temporaries): whatever we create is 0700.
bool CreateFolders(const std::filesystem::path& folder)
{
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0)
            ::chmod(partial.c_str(), 0700);  // whatever the umask took away
        else if (errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TemporaryPrefix(const std::filesystem::path& file)
{
    return file.filename().string() + ".tmp-";
}

// Temporaries exist only while their writer holds the lock. Holding it ourselves, any we
// find belong to a writer that died between creating and renaming one: remove them, so
// killed writers do not leave files behind for ever.
void RemoveStaleTemporaries(int dirFd, const std::string& prefix)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return;
    DIR* listing = ::fdopendir(listFd);
    if (listing == nullptr) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (std::string_view(entry->d_name).starts_with(prefix))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(listing);
}

std::string TemporaryName(const std::filesystem::path& file)
{
    static std::atomic<unsigned> counter{0};
    return TemporaryPrefix(file) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Write-to-temporary, fsync, rename, fsync of the folder: a kill at any moment leaves either
// the old file or the new one. The temporary is created exclusively and never through a
// symbolic link, so nothing planted under its name is followed or overwritten.
int32_t Replace(const std::filesystem::path& file, const std::string& bytes)
{
    const std::filesystem::path folder = FolderOf(file);
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return Fail(file, "cannot open its folder", errno);
    RemoveStaleTemporaries(dir.get(), TemporaryPrefix(file));

    const std::string temporary = TemporaryName(file);
    UniqueFd out(::openat(dir.get(), temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out)
        return Fail(file, "cannot create a temporary file", errno);
    const std::string target = file.filename().string();
    // Always the user's own file and only the user's to read, whatever the old file was or
    // a planted link pointed at: it carries the WEP keys.
    const bool written = ::fchmod(out.get(), 0600) == 0 && WriteAll(out.get(), bytes) &&
                         ::fsync(out.get()) == 0 && out.Close() == 0 &&
                         ::renameat(dir.get(), temporary.c_str(), dir.get(), target.c_str()) == 0;
    if (!written) {
        const int error = errno;
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return Fail(file, "cannot write", error);
    }
    // The new file is in place; only its durability across a power cut depends on this.
    if (::fsync(dir.get()) < 0)
        Fail(file, "cannot sync its folder", errno);
    return ERROR_SUCCESS;
}

} // namespace

void RegistryStore::Report(const std::string& line)
{
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    if (said.insert(line).second)
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::string RegistryStore::LastFailure()
{
    return lastFailure;
}

RegistryStore::Snapshot RegistryStore::Load(const std::filesystem::path& file)
{
    Snapshot snapshot;
    lastFailure.clear();
    if (const auto why = UntrustedFolder(FolderOf(file))) {
        Say(file.string() + ": not used: " + *why);
        snapshot.status = ERROR_ACCESS_DENIED;
        return snapshot;
    }
    // Non-blocking, so that a FIFO planted under the name cannot hang the reader.
    UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!in) {
        const int error = errno;
        snapshot.status = StatusOf(error);
        if (snapshot.status != ERROR_FILE_NOT_FOUND)
            Fail(file, "cannot read", error);
        return snapshot;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) < 0) {
        snapshot.status = Fail(file, "cannot read", errno);
        return snapshot;
    }
    if (!S_ISREG(st.st_mode)) {
        Say(file.string() + ": not a regular file");
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    std::string bytes;
    if (!ReadBounded(in.get(), bytes)) {
        snapshot.status = Fail(file, "cannot read", errno);
        return snapshot;
    }
    if (bytes.size() > regfile::kMaxFileBytes) {
        Say(file.string() + ": larger than 16 MiB, not read");
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    auto parsed = regfile::Document::Parse(bytes);
    if (const auto* error = std::get_if<regfile::ParseError>(&parsed)) {
        Say(file.string() + ":" + std::to_string(error->line) + ": " + error->message);
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    snapshot.document = std::move(std::get<regfile::Document>(parsed));
    snapshot.status = ERROR_SUCCESS;
    return snapshot;
}

int32_t RegistryStore::Update(const std::filesystem::path& file, FolderCreation creation,
                              const std::function<int32_t(regfile::Document&)>& change)
{
    const Saying everyFailure;
    lastFailure.clear();
    if (creation == FolderCreation::WhenMissing && !CreateFolders(FolderOf(file)))
        return Fail(file, "cannot create its folder", errno);
    if (const auto why = UntrustedFolder(FolderOf(file))) {
        Say(file.string() + ": not used: " + *why);
        return ERROR_ACCESS_DENIED;
    }

    const std::filesystem::path lockPath = file.string() + ".lock";
    // Opened for writing, as network file systems want for an exclusive lock; its mode is
    // set whatever a umask took away, so that the next writer can open it too.
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock)
        return Fail(lockPath, "cannot open the lock file", errno);
    struct stat lockStat {};
    if (::fstat(lock.get(), &lockStat) == 0 && (lockStat.st_mode & 0777) != 0600)
        ::fchmod(lock.get(), 0600);
    // A writer holds the lock for one read, write and rename. One that holds it longer is
    // stuck or hostile (the lock file may be another user's in a shared folder): the save
    // fails rather than freezing the utility or the simulator's start.
    if (!LockWithinPatience(lock.get(), LOCK_EX)) {
        if (errno != EWOULDBLOCK)
            return Fail(lockPath, "cannot lock", errno);
        Say(lockPath.string() + ": another process has held the lock for more than 2 s");
        return ERROR_LOCK_VIOLATION;
    }

    Snapshot current = Load(file);
    const bool missing = current.status == ERROR_FILE_NOT_FOUND;
    if (current.status != ERROR_SUCCESS && !(missing && creation == FolderCreation::WhenMissing))
        return current.status;
    const int32_t status = change(current.document);
    if (status == kUnchanged)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return status;

    // Never write a file that this store would then refuse to read (too large, too many
    // entries), nor one that reads back as anything but what was saved: a regedit 4 file's
    // 8-bit text cannot carry every character. That everything else reads back as saved is
    // the writer's own promise, held by the registry fuzz target on every input it tries.
    const std::string bytes = current.document.Serialize();
    const auto reread = regfile::Document::Parse(bytes);
    if (const auto* error = std::get_if<regfile::ParseError>(&reread)) {
        Say(file.string() + ": nothing written, the result would be unreadable: " + error->message);
        return ERROR_INVALID_DATA;
    }
    if (!(std::get<regfile::Document>(reread) == current.document)) {
        Say(file.string() + ": nothing written, its text cannot carry the values as they are "
                            "(a regedit 4 file holds 8-bit text)");
        return ERROR_INVALID_DATA;
    }
    return Replace(file, bytes);
}

} // namespace platform
