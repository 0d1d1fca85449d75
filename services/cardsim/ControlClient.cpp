#include "ControlClient.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace cardsim {

namespace {

// Closes the descriptor however the exchange ends.
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

using Clock = std::chrono::steady_clock;

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{fd, events, 0};
    return left.count() > 0 && poll(&entry, 1, static_cast<int>(left.count())) > 0;
}

// A simulator whose listen queue is full makes a Unix socket's connect fail at once with
// EAGAIN; try again until the deadline rather than wait on it without a limit.
bool Connect(int fd, const sockaddr_un& address, Clock::time_point deadline)
{
    if (fd < 0)
        return false;
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        if ((errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline) {
            if (errno == EAGAIN)
                errno = ETIMEDOUT;
            return false;
        }
        poll(nullptr, 0, 10);
    }
}

bool SendAll(int fd, std::string_view text, Clock::time_point deadline)
{
    while (!text.empty()) {
        const ssize_t written = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (written > 0)
            text.remove_prefix(static_cast<size_t>(written));
        else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline)) {
                errno = ETIMEDOUT;
                return false;
            }
        } else
            return false;
    }
    return true;
}

} // namespace

std::optional<ControlReply> ControlClient::Send(const std::filesystem::path& path,
                                                const std::vector<std::string>& words, std::string& error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) {
        error = "the control socket's path is too long: " + path.string();
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const Descriptor socketFd{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (!Connect(socketFd.fd, address, Clock::now() + kConnectDeadline)) {
        error = "no simulator answers on " + path.string() + " (" + std::strerror(errno) +
                "); is wlan-cardsim running for this block (WLAN_CONNECT_BLOCK)?";
        return std::nullopt;
    }
    // Only a simulator of our own user is believed: anyone who could place a socket at this
    // path could otherwise answer in its name.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(socketFd.fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()) {
        error = "the control socket " + path.string() + " is served by another user (uid " +
                std::to_string(peer.uid) + "): not believed";
        return std::nullopt;
    }
    const auto deadline = Clock::now() + kReplyDeadline;
    const std::string request = nlohmann::json(words).dump() + "\n";
    if (!SendAll(socketFd.fd, request, deadline)) {
        error = std::string("cannot send the request: ") + std::strerror(errno);
        return std::nullopt;
    }
    shutdown(socketFd.fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{socketFd.fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            error = "the simulator did not answer in time";
            return std::nullopt;
        }
        const ssize_t got = recv(socketFd.fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(got));
    }
    if (answer.starts_with("ok\n"))
        return ControlReply{true, answer.substr(3)};
    if (answer.starts_with("error: "))
        return ControlReply{false, answer.substr(7)};
    error = "the simulator's answer makes no sense: " + answer;
    return std::nullopt;
}

} // namespace cardsim
