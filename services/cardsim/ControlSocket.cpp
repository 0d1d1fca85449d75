#include "ControlSocket.h"

#include "RuntimeFolder.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace cardsim {

namespace {

constexpr size_t kMaxRequest = 64 * 1024;

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string SocketName(std::string_view blockName)
{
    return service::FileNameFor("wlan-cardsim-", blockName, ".sock");
}

bool FillAddress(const std::filesystem::path& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    return true;
}

bool SomeoneAnswers(const std::filesystem::path& path)
{
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return false;
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool answers = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return answers;
}

std::optional<std::vector<std::string>> ParseRequest(const std::string& line)
{
    const auto request = nlohmann::json::parse(line, nullptr, false);
    if (request.is_discarded() || !request.is_array())
        return std::nullopt;
    std::vector<std::string> words;
    for (const auto& word : request) {
        if (!word.is_string())
            return std::nullopt;
        words.push_back(word.get<std::string>());
    }
    return words;
}

} // namespace

std::optional<std::filesystem::path> ControlSocket::PathFor(std::string_view blockName, std::string& error)
{
    const auto folder = service::RuntimeFolder(error);
    if (!folder)
        return std::nullopt;
    std::filesystem::path path = *folder / SocketName(blockName);
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        error = "the control socket's path is too long: " + path.string();
        return std::nullopt;
    }
    return path;
}

std::optional<ControlSocket> ControlSocket::Listen(const std::filesystem::path& path, std::string& error)
{
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        error = "the control socket's path is too long: " + path.string();
        return std::nullopt;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path.string() + " exists and is not a socket";
            return std::nullopt;
        }
        if (SomeoneAnswers(path)) {
            error = "another wlan-cardsim already serves this block (control socket " + path.string() + ")";
            return std::nullopt;
        }
        unlink(path.c_str());  // left by a simulator that ended without cleaning up
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = Errno("socket");
        return std::nullopt;
    }
    // The mask makes the socket 0600 from its first moment; the chmod states it outright.
    const mode_t oldMask = umask(0177);
    const int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(oldMask);
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, SOMAXCONN) != 0) {
        error = Errno("cannot listen on " + path.string());
        close(fd);
        if (bound == 0)
            unlink(path.c_str());
        return std::nullopt;
    }
    return ControlSocket(fd, path);
}

ControlSocket::ControlSocket(ControlSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), clients_(std::move(other.clients_))
{
    other.clients_.clear();
}

ControlSocket::~ControlSocket()
{
    for (const Client& client : clients_)
        close(client.fd);
    if (fd_ < 0)
        return;
    close(fd_);
    unlink(path_.c_str());
}

std::vector<pollfd> ControlSocket::WaitFds(Clock::time_point& wake) const
{
    std::vector<pollfd> entries{{fd_, clients_.size() < kMaxClients ? short(POLLIN) : short(0), 0}};
    for (const Client& client : clients_) {
        entries.push_back({client.fd, client.answer.empty() ? short(POLLIN) : short(POLLOUT), 0});
        wake = std::min(wake, client.deadline);
    }
    return entries;
}

void ControlSocket::Serve(std::span<const pollfd> fds, const ControlHandler& handler)
{
    const auto now = Clock::now();
    std::vector<Client> kept;
    for (size_t i = 0; i < clients_.size(); ++i) {
        Client& client = clients_[i];
        bool open = now < client.deadline;
        if (open && i + 1 < fds.size() && fds[i + 1].revents != 0)
            open = client.answer.empty() ? Read(client, handler) : Write(client);
        if (open)
            kept.push_back(std::move(client));
        else
            close(client.fd);
    }
    clients_ = std::move(kept);
    if (!fds.empty() && (fds[0].revents & POLLIN) != 0)
        Accept();
}

void ControlSocket::Accept()
{
    while (clients_.size() < kMaxClients) {
        const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        Client client{fd, Clock::now() + kRequestDeadline, {}, {}, 0};
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()) {
            client.answer = "error: refused: this simulator answers only its own user\n";
            client.deadline = Clock::now() + kReplyDeadline;
        }
        clients_.push_back(std::move(client));
    }
}

bool ControlSocket::Read(Client& client, const ControlHandler& handler)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return true;  // the rest of the request later
        if (got > 0)
            client.request.append(buffer, static_cast<size_t>(got));
        const bool complete = client.request.find('\n') != std::string::npos ||
                              client.request.size() >= kMaxRequest || got <= 0;
        if (!complete)
            continue;
        if (got < 0 && client.request.empty())
            return false;
        client.answer = Answer(client.request.substr(0, client.request.find('\n')), handler);
        client.request.clear();
        client.deadline = Clock::now() + kReplyDeadline;
        return Write(client);
    }
}

bool ControlSocket::Write(Client& client)
{
    while (client.sent < client.answer.size()) {
        const ssize_t written = send(client.fd, client.answer.data() + client.sent,
                                     client.answer.size() - client.sent, MSG_NOSIGNAL);
        if (written > 0)
            client.sent += static_cast<size_t>(written);
        else if (written < 0 && errno == EINTR)
            continue;
        else
            return written < 0 && errno == EAGAIN;  // full: the rest when it drains
    }
    return false;  // all said
}

std::string ControlSocket::Answer(const std::string& request, const ControlHandler& handler)
{
    const auto words = ParseRequest(request);
    const ControlReply reply =
        words ? handler(*words) : ControlReply{false, "the request is not a JSON list of words"};
    std::string answer = reply.ok ? "ok\n" : "error: ";
    answer += reply.text;
    if (!answer.ends_with('\n'))
        answer += '\n';
    return answer;
}

} // namespace cardsim
