#include "platform/RegistryStore.h"

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
#include <set>

namespace platform {

namespace {

constexpr int32_t ERROR_WRITE_FAULT = 29;

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

int32_t Fail(const std::filesystem::path& file, const char* what, int error)
{
    RegistryStore::Report(file.string() + ": " + what + ": " + std::strerror(error));
    return StatusOf(error);
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
int32_t Replace(const std::filesystem::path& file, const std::string& bytes, mode_t mode)
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
    const bool written = ::fchmod(out.get(), mode & 0777) == 0 && WriteAll(out.get(), bytes) &&
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

RegistryStore::Snapshot RegistryStore::Load(const std::filesystem::path& file)
{
    Snapshot snapshot;
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
        Report(file.string() + ": not a regular file");
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    std::string bytes;
    if (!ReadBounded(in.get(), bytes)) {
        snapshot.status = Fail(file, "cannot read", errno);
        return snapshot;
    }
    if (bytes.size() > regfile::kMaxFileBytes) {
        Report(file.string() + ": larger than 16 MiB, not read");
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    auto parsed = regfile::Document::Parse(bytes);
    if (const auto* error = std::get_if<regfile::ParseError>(&parsed)) {
        Report(file.string() + ":" + std::to_string(error->line) + ": " + error->message);
        snapshot.status = ERROR_INVALID_DATA;
        return snapshot;
    }
    snapshot.document = std::move(std::get<regfile::Document>(parsed));
    snapshot.mode = st.st_mode & 07777;
    snapshot.status = ERROR_SUCCESS;
    return snapshot;
}

int32_t RegistryStore::Update(const std::filesystem::path& file, FolderCreation creation,
                              const std::function<int32_t(regfile::Document&)>& change)
{
    if (creation == FolderCreation::WhenMissing && !CreateFolders(FolderOf(file)))
        return Fail(file, "cannot create its folder", errno);

    const std::filesystem::path lockPath = file.string() + ".lock";
    // Opened for writing, as network file systems want for an exclusive lock; its mode is
    // set whatever a umask took away, so that the next writer can open it too.
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock)
        return Fail(lockPath, "cannot open the lock file", errno);
    struct stat lockStat {};
    if (::fstat(lock.get(), &lockStat) == 0 && (lockStat.st_mode & 0777) != 0600)
        ::fchmod(lock.get(), 0600);
    while (::flock(lock.get(), LOCK_EX) < 0) {
        if (errno != EINTR)
            return Fail(lockPath, "cannot lock", errno);
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
    // entries) or read differently.
    const std::string bytes = current.document.Serialize();
    auto reread = regfile::Document::Parse(bytes);
    if (const auto* error = std::get_if<regfile::ParseError>(&reread)) {
        Report(file.string() + ": nothing written, the result would be unreadable: " + error->message);
        return ERROR_INVALID_DATA;
    }
    if (!(std::get<regfile::Document>(reread) == current.document)) {
        Report(file.string() + ": nothing written, the result would not read back the same");
        return ERROR_INVALID_DATA;
    }
    return Replace(file, bytes, missing ? 0600 : current.mode);
}

} // namespace platform
