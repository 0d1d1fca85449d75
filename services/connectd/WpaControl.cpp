#include "WpaControl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace connectd {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<sockaddr_un> Address(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

// A name no interface can have (interface names are at most 15 bytes) and no other user can
// guess ahead of us: in a folder others may write (/tmp), a predictable name could be taken
// first and block the bind.
std::string ClientName()
{
    uint8_t bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
        // Without the kernel's randomness the clock and a counter must do; a taken name is
        // still only a retry (EADDRINUSE), never someone else's file unlinked.
        static std::atomic<uint64_t> counter{0};
        const uint64_t value = static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^ (++counter << 48);
        std::memcpy(bytes, &value, sizeof bytes);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = "wlan-connectd-";
    for (const uint8_t byte : bytes) {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0xF];
    }
    return name;
}

// The file a bound socket made, so that only that file is ever unlinked.
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::filesystem::path& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return std::nullopt;
    return std::pair{info.st_dev, info.st_ino};
}

bool IsEvent(const std::string& message)
{
    // Replies never start with '<'; events always carry their priority as "<N>".
    return !message.empty() && message.front() == '<';
}

int PollMillis(std::chrono::milliseconds limit)
{
    return static_cast<int>(std::clamp<long long>(limit.count(), 0, 60'000));
}

} // namespace

std::optional<WpaControl> WpaControl::Open(const std::filesystem::path& socketPath, std::string& error,
                                           Owner owner)
{
    const auto server = Address(socketPath);
    if (!server) {
        error = "control socket path \"" + socketPath.string() + "\" is empty or too long";
        return std::nullopt;
    }
    // The supplicant is whoever owns its control folder; a reply from anyone else (a member of
    // the folder's group who took the socket's name) is not believed, and never gets a key.
    struct stat folder {};
    if (stat(socketPath.parent_path().c_str(), &folder) != 0) {
        error = "no control folder " + socketPath.parent_path().string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat socketFile {};
    if (owner == Owner::System && (folder.st_uid != 0 || stat(socketPath.c_str(), &socketFile) != 0 || socketFile.st_uid != 0)) {
        error = socketPath.string() + " does not belong to the system (root); with raised privileges only a "
                "supplicant of the system is served";
        return std::nullopt;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        error = std::string("socket: ") + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return std::nullopt;
    }
    // Beside the supplicant's socket first: that folder is the one it surely sees, also from
    // another mount namespace. /tmp when we may not write there. A name found taken is never
    // unlinked (it is not ours): another one is drawn.
    std::string bindError = "no folder for the client socket";
    for (const std::filesystem::path& folderPath : {socketPath.parent_path(), std::filesystem::path("/tmp")}) {
        for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
            const std::filesystem::path local = folderPath / ClientName();
            const auto address = Address(local);
            if (!address)
                break;
            if (bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
                bindError = "bind " + local.string() + ": " + std::strerror(errno);
                if (errno == EADDRINUSE)
                    continue;
                break;
            }
            const auto identity = FileIdentity(local);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&*server), sizeof *server) != 0) {
                error = "connect " + socketPath.string() + ": " + std::strerror(errno);
                close(fd);
                if (identity && FileIdentity(local) == identity)
                    unlink(local.c_str());
                return std::nullopt;
            }
            return WpaControl(fd, local, identity, folder.st_uid);
        }
    }
    error = bindError;
    close(fd);
    return std::nullopt;
}

WpaControl::WpaControl(WpaControl&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), localPath_(std::exchange(other.localPath_, {})),
      localFile_(std::exchange(other.localFile_, std::nullopt)), peerUid_(other.peerUid_)
{
}

WpaControl& WpaControl::operator=(WpaControl&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        localPath_ = std::exchange(other.localPath_, {});
        localFile_ = std::exchange(other.localFile_, std::nullopt);
        peerUid_ = other.peerUid_;
    }
    return *this;
}

WpaControl::~WpaControl()
{
    Close();
}

void WpaControl::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    // Only the very file our bind made: whatever another process put there since is not ours.
    if (!localPath_.empty() && localFile_ && FileIdentity(localPath_) == localFile_)
        unlink(localPath_.c_str());
    localPath_.clear();
    localFile_.reset();
}

std::optional<std::string> WpaControl::Receive(std::chrono::milliseconds limit, bool& foreign)
{
    foreign = false;
    if (fd_ < 0)
        return std::nullopt;
    pollfd waiting{fd_, POLLIN, 0};
    int ready = 0;
    do
        ready = poll(&waiting, 1, PollMillis(limit));
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return std::nullopt;
    std::vector<char> buffer(kMaxMessage);
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // MSG_TRUNC answers the datagram's real length, so a longer one is seen and dropped.
    const ssize_t length = recvmsg(fd_, &message, MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0 || static_cast<size_t>(length) > buffer.size())
        return std::nullopt;
    foreign = !FromPeer(message);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

bool WpaControl::FromPeer(const msghdr& message) const
{
    for (const cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(header))) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS &&
            header->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred sender{};
            std::memcpy(&sender, CMSG_DATA(header), sizeof sender);
            return sender.uid == peerUid_;
        }
    }
    return false;
}

std::optional<std::string> WpaControl::Request(std::string_view command, std::chrono::milliseconds limit)
{
    if (fd_ < 0 || command.empty())
        return std::nullopt;
    // Whatever is still waiting belongs to an earlier request that ran out of time.
    bool foreign = false;
    while (Receive(std::chrono::milliseconds(0), foreign)) {
    }
    // Never waits: a supplicant that stopped reading (SIGSTOP) fills its queue, and a blocking
    // send would then hold the service until a signal. A full queue is an unanswered request.
    if (send(fd_, command.data(), command.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(command.size()))
        return std::nullopt;
    const auto end = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() < 0)
            return std::nullopt;
        std::optional<std::string> message = Receive(left, foreign);
        if (!message)
            return std::nullopt;
        if (!foreign && !IsEvent(*message))
            return message;
    }
}

bool WpaControl::Attach(std::chrono::milliseconds limit)
{
    const auto reply = Request("ATTACH", limit);
    return reply && reply->starts_with("OK");
}

std::optional<std::string> WpaControl::ReadEvent()
{
    bool foreign = false;
    while (std::optional<std::string> message = Receive(std::chrono::milliseconds(0), foreign)) {
        if (foreign || !IsEvent(*message))
            continue;
        const size_t close = message->find('>');
        if (close == std::string::npos)
            continue;
        return message->substr(close + 1);
    }
    return std::nullopt;
}

} // namespace connectd
