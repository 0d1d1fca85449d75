#include "LinkWatch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace connectd {

namespace {

// The interface name of a link message's attributes, without its terminating zero; empty
// when it carries none. The attributes are walked with RTA_OK, so a length that points past
// the message ends the walk.
std::string_view NameOf(const ifinfomsg* info, int attributesLength)
{
    int left = attributesLength;
    for (const rtattr* attr = IFLA_RTA(info); RTA_OK(attr, left); attr = RTA_NEXT(attr, left)) {
        if (attr->rta_type != IFLA_IFNAME)
            continue;
        const auto* text = static_cast<const char*>(RTA_DATA(attr));
        return std::string_view(text, strnlen(text, RTA_PAYLOAD(attr)));
    }
    return {};
}

} // namespace

std::optional<LinkWatch> LinkWatch::Open(std::string& error)
{
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        error = std::string("link watch: no rtnetlink socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        error = std::string("link watch: cannot join the link group: ") + std::strerror(errno);
        close(fd);
        return std::nullopt;
    }
    return LinkWatch(fd);
}

LinkWatch::LinkWatch(LinkWatch&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)),
      knownIndex_(std::exchange(other.knownIndex_, 0))
{
}

LinkWatch& LinkWatch::operator=(LinkWatch&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
        knownIndex_ = std::exchange(other.knownIndex_, 0);
    }
    return *this;
}

LinkWatch::~LinkWatch()
{
    if (fd_ >= 0)
        close(fd_);
}

bool LinkWatch::Mentions(std::span<const uint8_t> bytes, const std::string& name, int& knownIndex)
{
    // The headers are laid over the bytes, which needs their alignment; bytes that come from
    // elsewhere than our own buffer are copied first.
    bytes = bytes.first(std::min(bytes.size(), kBufferSize));
    std::vector<uint32_t> aligned;
    const void* start = bytes.data();
    if (reinterpret_cast<uintptr_t>(start) % alignof(nlmsghdr) != 0) {
        aligned.resize((bytes.size() + 3) / 4);
        std::memcpy(aligned.data(), bytes.data(), bytes.size());
        start = aligned.data();
    }
    // NLMSG_NEXT wants an int it can count down; kBufferSize keeps it small.
    int left = static_cast<int>(bytes.size());
    bool mentioned = false;
    for (auto* header = static_cast<const nlmsghdr*>(start); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_type != RTM_NEWLINK && header->nlmsg_type != RTM_DELLINK)
            continue;
        if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
            continue;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
        const std::string_view named = NameOf(info, static_cast<int>(IFLA_PAYLOAD(header)));
        if (!name.empty() && named == name) {
            mentioned = true;
            knownIndex = header->nlmsg_type == RTM_DELLINK ? 0 : info->ifi_index;
        } else if (knownIndex != 0 && info->ifi_index == knownIndex) {
            // Renamed away or deleted under another name: the interface we knew is gone.
            mentioned = true;
            knownIndex = 0;
        }
    }
    return mentioned;
}

bool LinkWatch::Drain(const std::string& name)
{
    if (fd_ < 0)
        return false;
    if (name != name_) {
        name_ = name;
        knownIndex_ = 0;
    }
    // 8-byte aligned, as the netlink headers laid over it expect.
    std::vector<uint64_t> buffer(kBufferSize / sizeof(uint64_t));
    bool mentioned = false;
    for (int reads = 0; reads < kMaxReads; ++reads) {
        sockaddr_nl sender{};
        iovec part{buffer.data(), kBufferSize};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t got = recvmsg(fd_, &message, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // ENOBUFS: the kernel dropped news for us; the socket itself goes on.
            if (errno == ENOBUFS)
                mentioned = true;
            else
                break;   // EAGAIN: all read
            continue;
        }
        if (got == 0)
            break;
        // Only the kernel speaks for interfaces.
        if (sender.nl_pid != 0)
            continue;
        // A datagram larger than the buffer lost its end, which may have named the interface.
        if (message.msg_flags & MSG_TRUNC)
            mentioned = true;
        const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
        if (Mentions({bytes, static_cast<size_t>(got)}, name_, knownIndex_))
            mentioned = true;
    }
    return mentioned;
}

} // namespace connectd
