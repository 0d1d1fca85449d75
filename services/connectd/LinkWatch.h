#pragma once
// News of network interfaces from the kernel (rtnetlink's link group): the service learns that
// its card's interface appeared, changed or went away when it happens, instead of asking
// every so often. The socket is non-blocking and belongs in the service's poll() set.
//
// An interface is recognised by its name, and by the index it last had under that name, so a
// rename away (the message then carries the new name) still counts as news of it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace connectd {

class LinkWatch {
public:
    // A NETLINK_ROUTE socket joined to the link group, in the calling thread's network
    // namespace. Nothing, with the reason in `error`, when the kernel refuses one.
    static std::optional<LinkWatch> Open(std::string& error);

    LinkWatch(LinkWatch&& other) noexcept;
    LinkWatch& operator=(LinkWatch&& other) noexcept;
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;
    ~LinkWatch();

    int Fd() const { return fd_; }

    // Reads the messages waiting (at most kMaxReads datagrams; the socket stays readable when
    // more wait) and answers whether any said that interface `name` appeared, changed or went
    // away. Also true when the kernel dropped messages because the socket's buffer ran full:
    // whatever was lost may have been about `name`, so the caller looks again.
    bool Drain(const std::string& name);

    // One datagram's worth of messages: whether any is a link message about `name`, or about
    // the interface `knownIndex` (0: none known), which it updates from messages that carry
    // `name`. Messages cut short or with odd lengths end the walk; nothing is read past `bytes`.
    static bool Mentions(std::span<const uint8_t> bytes, const std::string& name, int& knownIndex);

    static constexpr int kMaxReads = 64;
    static constexpr size_t kBufferSize = 32 * 1024;

private:
    explicit LinkWatch(int fd) : fd_(fd) {}

    int fd_ = -1;
    std::string name_;      // the name knownIndex_ belongs to
    int knownIndex_ = 0;
};

} // namespace connectd
