#pragma once
// A client of the control sockets of wpa_supplicant and hostapd: their datagram protocol over
// AF_UNIX, one request and its reply at a time, and the events of an attached connection. The
// lab reads the other side of every scenario through it, as wpa_cli and hostapd_cli do.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class CtrlSocket {
public:
    // Connects to the server socket at `path`; nothing when it is not there.
    static std::optional<CtrlSocket> Open(const std::string& path);
    CtrlSocket(CtrlSocket&& other) noexcept;
    CtrlSocket& operator=(CtrlSocket&& other) = delete;
    CtrlSocket(const CtrlSocket&) = delete;
    ~CtrlSocket();

    // The reply to `command`, or "(no reply)" when none came within a few seconds. Events that
    // arrive meanwhile on an attached connection are kept for Events().
    std::string Request(const std::string& command);
    // Asks for events; answers whether the server agreed.
    bool Attach();
    // The events received so far and those waiting now, oldest first; each is removed.
    std::vector<std::string> Events();
    // Waits up to `limit` for an event containing `text`; answers it, consuming the events
    // before it, or nothing.
    std::optional<std::string> WaitForEvent(const std::string& text, std::chrono::milliseconds limit);

    // The value of `name=` in a reply of name=value lines ("" when absent).
    static std::string Field(const std::string& reply, const std::string& name);

private:
    CtrlSocket(int fd, std::string localPath) : fd_(fd), localPath_(std::move(localPath)) {}
    std::optional<std::string> Receive(std::chrono::milliseconds limit);

    int fd_ = -1;
    std::string localPath_;
    std::vector<std::string> pending_;
};
