#pragma once
// One connection to wpa_supplicant's control socket: its datagram protocol over AF_UNIX, one
// request and its reply at a time, or (attached) the events it sends. The supplicant answers
// to the address the request came from, so the client socket is bound to a name of its own:
// a file beside the supplicant's socket when that folder lets us, else in /tmp. An abstract
// address would leave no file behind, but it lives in the network namespace of the process
// that bound it: a supplicant in another namespace cannot answer it.
//
// Our own client rather than the supplicant's static client library: that library brings its
// os_* and wpa_printf symbols into our process, a fixed socket folder and fixed waits; this
// protocol is a few lines of POSIX, and here every wait has the caller's limit.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace connectd {

class WpaControl {
public:
    // The largest datagram taken whole. The supplicant's replies stop at 4096 bytes; a longer
    // datagram is dropped as if it never came, rather than read cut short.
    static constexpr size_t kMaxMessage = 16384;

    // Connects to the supplicant's socket, `<ctrl dir>/<interface>`; nothing and a reason in
    // `error` when it cannot.
    static std::optional<WpaControl> Open(const std::filesystem::path& socketPath, std::string& error);

    WpaControl(WpaControl&& other) noexcept;
    WpaControl& operator=(WpaControl&& other) noexcept;
    WpaControl(const WpaControl&) = delete;
    WpaControl& operator=(const WpaControl&) = delete;
    ~WpaControl();

    // Sends `command` and answers its reply; nothing when none came within `limit` or the
    // supplicant's socket is gone. Events arriving meanwhile ("<N>...") are skipped: ask on a
    // connection that is not attached.
    std::optional<std::string> Request(std::string_view command, std::chrono::milliseconds limit);
    // Asks for events on this connection; whether the supplicant agreed within `limit`.
    bool Attach(std::chrono::milliseconds limit);
    // For poll(): readable when an event is waiting.
    int Fd() const { return fd_; }
    // The next waiting event without its priority prefix, at once; nothing when none waits.
    // Anything that is not an event (a late reply) is passed over.
    std::optional<std::string> ReadEvent();

private:
    WpaControl(int fd, std::filesystem::path localPath) : fd_(fd), localPath_(std::move(localPath)) {}
    // One whole datagram, waiting at most `limit`; nothing on timeout, error or an oversized one.
    std::optional<std::string> Receive(std::chrono::milliseconds limit);
    void Close();

    int fd_ = -1;
    std::filesystem::path localPath_;
};

} // namespace connectd
