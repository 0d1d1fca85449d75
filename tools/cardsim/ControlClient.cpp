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
    const Descriptor socketFd{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (socketFd.fd < 0 || connect(socketFd.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "no simulator answers on " + path.string() + " (" + std::strerror(errno) +
                "); is wlan-cardsim running for this block (WLAN_CONNECT_BLOCK)?";
        return std::nullopt;
    }
    const std::string request = nlohmann::json(words).dump() + "\n";
    if (send(socketFd.fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        error = std::string("cannot send the request: ") + std::strerror(errno);
        return std::nullopt;
    }
    shutdown(socketFd.fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + kReplyDeadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{socketFd.fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            error = "the simulator did not answer in time";
            return std::nullopt;
        }
        const ssize_t got = recv(socketFd.fd, buffer, sizeof buffer, 0);
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
