#include "WpaControl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
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

// A name no interface can have (interface names are at most 15 bytes), unique in this process.
std::string ClientName()
{
    static std::atomic<unsigned> counter{0};
    return "wlan-connectd-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
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

std::optional<WpaControl> WpaControl::Open(const std::filesystem::path& socketPath, std::string& error)
{
    const auto server = Address(socketPath);
    if (!server) {
        error = "control socket path \"" + socketPath.string() + "\" is empty or too long";
        return std::nullopt;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    // Beside the supplicant's socket first: that folder is the one it surely sees, also from
    // another mount namespace. /tmp when we may not write there.
    const std::string name = ClientName();
    std::string bindError;
    for (const std::filesystem::path& folder : {socketPath.parent_path(), std::filesystem::path("/tmp")}) {
        const std::filesystem::path local = folder / name;
        const auto address = Address(local);
        if (!address)
            continue;
        unlink(local.c_str());
        if (bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
            bindError = "bind " + local.string() + ": " + std::strerror(errno);
            continue;
        }
        if (connect(fd, reinterpret_cast<const sockaddr*>(&*server), sizeof *server) != 0) {
            error = "connect " + socketPath.string() + ": " + std::strerror(errno);
            close(fd);
            unlink(local.c_str());
            return std::nullopt;
        }
        return WpaControl(fd, local);
    }
    error = bindError.empty() ? "no folder for the client socket" : bindError;
    close(fd);
    return std::nullopt;
}

WpaControl::WpaControl(WpaControl&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), localPath_(std::exchange(other.localPath_, {}))
{
}

WpaControl& WpaControl::operator=(WpaControl&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        localPath_ = std::exchange(other.localPath_, {});
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
    if (!localPath_.empty())
        unlink(localPath_.c_str());
    localPath_.clear();
}

std::optional<std::string> WpaControl::Receive(std::chrono::milliseconds limit)
{
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
    // MSG_TRUNC answers the datagram's real length, so a longer one is seen and dropped.
    const ssize_t length = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0 || static_cast<size_t>(length) > buffer.size())
        return std::nullopt;
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::optional<std::string> WpaControl::Request(std::string_view command, std::chrono::milliseconds limit)
{
    if (fd_ < 0 || command.empty())
        return std::nullopt;
    // Whatever is still waiting belongs to an earlier request that ran out of time.
    while (Receive(std::chrono::milliseconds(0))) {
    }
    if (send(fd_, command.data(), command.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(command.size()))
        return std::nullopt;
    const auto end = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() < 0)
            return std::nullopt;
        std::optional<std::string> message = Receive(left);
        if (!message)
            return std::nullopt;
        if (!IsEvent(*message))
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
    while (std::optional<std::string> message = Receive(std::chrono::milliseconds(0))) {
        if (!IsEvent(*message))
            continue;
        const size_t close = message->find('>');
        if (close == std::string::npos)
            continue;
        return message->substr(close + 1);
    }
    return std::nullopt;
}

} // namespace connectd
