#include "CtrlSocket.h"

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr std::chrono::seconds kReplyLimit{10};

bool FillAddress(sockaddr_un& address, const std::string& path)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}
} // namespace

std::optional<CtrlSocket> CtrlSocket::Open(const std::string& path)
{
    static int counter = 0;
    sockaddr_un server{};
    sockaddr_un local{};
    // The server answers to the client's bound address, so the client needs a name too.
    const std::string localPath = "/tmp/radiolab-ctrl-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (!FillAddress(server, path) || !FillAddress(local, localPath))
        return std::nullopt;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    unlink(localPath.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        close(fd);
        unlink(localPath.c_str());
        return std::nullopt;
    }
    return CtrlSocket(fd, localPath);
}

CtrlSocket::CtrlSocket(CtrlSocket&& other) noexcept
    : fd_(other.fd_), localPath_(std::move(other.localPath_)), pending_(std::move(other.pending_))
{
    other.fd_ = -1;
    other.localPath_.clear();
}

CtrlSocket::~CtrlSocket()
{
    if (fd_ >= 0)
        close(fd_);
    if (!localPath_.empty())
        unlink(localPath_.c_str());
}

std::optional<std::string> CtrlSocket::Receive(std::chrono::milliseconds limit)
{
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(limit.count())) <= 0)
        return std::nullopt;
    char buffer[8192];
    const ssize_t length = recv(fd_, buffer, sizeof buffer, 0);
    if (length < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<size_t>(length));
}

std::string CtrlSocket::Request(const std::string& command)
{
    if (send(fd_, command.data(), command.size(), 0) < 0)
        return "(no reply)";
    const auto end = std::chrono::steady_clock::now() + kReplyLimit;
    while (std::chrono::steady_clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        std::optional<std::string> message = Receive(left);
        if (!message)
            break;
        // Events are "<level>text"; a reply never starts with '<'.
        if (!message->empty() && message->front() == '<')
            pending_.push_back(*message);
        else
            return *message;
    }
    return "(no reply)";
}

bool CtrlSocket::Attach()
{
    return Request("ATTACH").rfind("OK", 0) == 0;
}

std::vector<std::string> CtrlSocket::Events()
{
    while (std::optional<std::string> message = Receive(std::chrono::milliseconds(0)))
        pending_.push_back(*message);
    std::vector<std::string> events;
    events.swap(pending_);
    return events;
}

std::optional<std::string> CtrlSocket::WaitForEvent(const std::string& text, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        while (!pending_.empty()) {
            std::string event = pending_.front();
            pending_.erase(pending_.begin());
            if (event.find(text) != std::string::npos)
                return event;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return std::nullopt;
        if (std::optional<std::string> message =
                Receive(std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
            pending_.push_back(*message);
    }
}

std::string CtrlSocket::Field(const std::string& reply, const std::string& name)
{
    const std::string key = name + "=";
    size_t at = 0;
    while (at < reply.size()) {
        const size_t endOfLine = reply.find('\n', at);
        const std::string line = reply.substr(at, endOfLine == std::string::npos ? std::string::npos : endOfLine - at);
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size());
        if (endOfLine == std::string::npos)
            break;
        at = endOfLine + 1;
    }
    return {};
}
