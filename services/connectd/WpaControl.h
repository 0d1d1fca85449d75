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
#include <sys/socket.h>
#include <sys/types.h>
#include <utility>
#include <string>
#include <string_view>

namespace connectd {

class WpaControl {
public:
    // The largest datagram taken whole. The supplicant's replies stop at 4096 bytes; a longer
    // datagram is dropped as if it never came, rather than read cut short.
    static constexpr size_t kMaxMessage = 16384;

    // Whose supplicant is served: whoever owns the control folder, or, for a program with
    // raised privileges, only one whose folder and socket belong to root.
    enum class Owner { Folder, System };

    // Connects to the supplicant's socket, `<ctrl dir>/<interface>`; nothing and a reason in
    // `error` when it cannot. Messages from any uid but the control folder's owner are dropped.
    static std::optional<WpaControl> Open(const std::filesystem::path& socketPath, std::string& error,
                                          Owner owner = Owner::Folder);

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

    // Names drawn for the client socket before a folder is given up.
    static constexpr int kBindAttempts = 8;

private:
    using FileId = std::pair<dev_t, ino_t>;
    WpaControl(int fd, std::filesystem::path localPath, std::optional<FileId> localFile, uid_t peerUid)
        : fd_(fd), localPath_(std::move(localPath)), localFile_(localFile), peerUid_(peerUid)
    {
    }
    // One whole datagram, waiting at most `limit`; nothing on timeout, error or an oversized
    // one. `foreign` says its sender is not the supplicant's uid: it is to be dropped.
    std::optional<std::string> Receive(std::chrono::milliseconds limit, bool& foreign);
    bool FromPeer(const msghdr& message) const;
    void Close();

    int fd_ = -1;
    std::filesystem::path localPath_;
    std::optional<FileId> localFile_;
    uid_t peerUid_ = 0;
};

} // namespace connectd
