#include "ControlSocket.h"

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

// A folder only we may enter: our own, a real folder (not a link), no access for others.
bool IsPrivateFolder(const std::filesystem::path& folder)
{
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

std::string SocketName(std::string_view blockName)
{
    std::string name = "wlan-cardsim-";
    for (const char c : blockName.substr(blockName.starts_with('/') ? 1 : 0)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".sock";
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

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool WriteAll(int fd, std::string_view text, std::chrono::steady_clock::time_point deadline)
{
    while (!text.empty()) {
        const ssize_t written = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (written > 0) {
            text.remove_prefix(static_cast<size_t>(written));
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
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
    std::filesystem::path folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        folder = runtime;
    } else {
        const char* temp = std::getenv("TMPDIR");
        folder = std::filesystem::path(temp != nullptr && *temp != '\0' ? temp : "/tmp") /
                 ("wlan-cardsim-" + std::to_string(geteuid()));
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Errno("cannot create " + folder.string());
            return std::nullopt;
        }
        if (!IsPrivateFolder(folder)) {
            error = folder.string() + " is not a private folder of this user (mode 0700): refusing to use it";
            return std::nullopt;
        }
    }
    std::filesystem::path path = folder / SocketName(blockName);
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
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        error = Errno("cannot listen on " + path.string());
        close(fd);
        if (bound == 0)
            unlink(path.c_str());
        return std::nullopt;
    }
    return ControlSocket(fd, path);
}

ControlSocket::ControlSocket(ControlSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

ControlSocket::~ControlSocket()
{
    if (fd_ < 0)
        return;
    close(fd_);
    unlink(path_.c_str());
}

bool ControlSocket::ServeOne(std::chrono::milliseconds timeout, const ControlHandler& handler)
{
    pollfd entry{fd_, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
    if (ready < 0)
        return errno != EINTR;
    if (ready == 0)
        return true;
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0)
        return true;
    Serve(client, handler);
    close(client);
    return true;
}

void ControlSocket::Serve(int client, const ControlHandler& handler)
{
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()) {
        WriteAll(client, "error: refused: this simulator answers only its own user\n", deadline);
        return;
    }
    std::string request;
    char buffer[4096];
    while (request.find('\n') == std::string::npos && request.size() < kMaxRequest) {
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got > 0) {
            request.append(buffer, static_cast<size_t>(got));
        } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(client, POLLIN, deadline))
                return;
        } else {
            break;
        }
    }
    const auto words = ParseRequest(request.substr(0, request.find('\n')));
    const ControlReply reply =
        words ? handler(*words) : ControlReply{false, "the request is not a JSON list of words"};
    std::string answer = reply.ok ? "ok\n" : "error: ";
    answer += reply.text;
    if (!answer.ends_with('\n'))
        answer += '\n';
    WriteAll(client, answer, deadline + std::chrono::seconds(1));
}

} // namespace cardsim
