#pragma once
// The simulator's control socket: a Unix stream socket that only its own user may reach.
// It lives in $XDG_RUNTIME_DIR, or else in a private folder /tmp/wlan-cardsim-<uid>
// (mode 0700), and is named after the block it serves, so simulators of different blocks
// never meet. The socket file has mode 0600, and a peer of another user is refused even so.
//
// One request a connection: a JSON list of words and a newline ("[\"card\",\"out\"]\n");
// one answer: "ok" or "error: <why>" on the first line, then any text.
//
// Clients never hold up the block: the socket and every client are non-blocking, a call to
// Serve waits at most the time it is given, and each client has its own time limits. A client
// that is slow to ask or to read is dropped without delaying the others.

#include <poll.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

struct ControlReply {
    bool ok = true;
    std::string text;
};

using ControlHandler = std::function<ControlReply(const std::vector<std::string>& words)>;

class ControlSocket {
public:
    // The socket's path for a block name; empty with `error` set when no private folder can be had.
    static std::optional<std::filesystem::path> PathFor(std::string_view blockName, std::string& error);
    // Binds and listens. Refuses when a simulator already answers on that path; a socket file
    // left by one that ended is replaced.
    static std::optional<ControlSocket> Listen(const std::filesystem::path& path, std::string& error);

    ControlSocket(ControlSocket&& other) noexcept;
    ControlSocket& operator=(ControlSocket&& other) = delete;
    ~ControlSocket();

    // The descriptors to wait on: the socket, and each client for what it is to do next.
    // `wake` is lowered to the nearest client's deadline, so a late client is dropped on time.
    std::vector<pollfd> WaitFds(std::chrono::steady_clock::time_point& wake) const;
    // After the wait, with the descriptors WaitFds gave and their revents: does for each client
    // whatever it is ready for, drops those past their deadline, and takes new ones.
    void Serve(std::span<const pollfd> fds, const ControlHandler& handler);

    const std::filesystem::path& Path() const { return path_; }

    // How long a client may take to send its request, and then to take the answer.
    static constexpr std::chrono::milliseconds kRequestDeadline{200};
    static constexpr std::chrono::milliseconds kReplyDeadline{1000};
    // Clients served at once; more wait in the listen queue.
    static constexpr size_t kMaxClients = 256;

private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd = -1;
        Clock::time_point deadline;
        std::string request;
        std::string answer;  // empty while the request is still coming
        size_t sent = 0;
    };

    ControlSocket(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    void Accept();
    // Answers false when the client is done with, one way or another.
    bool Read(Client& client, const ControlHandler& handler);
    bool Write(Client& client);
    static std::string Answer(const std::string& request, const ControlHandler& handler);

    int fd_ = -1;
    std::filesystem::path path_;
    std::vector<Client> clients_;
};

} // namespace cardsim
