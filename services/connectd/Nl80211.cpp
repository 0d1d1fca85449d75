#include "Nl80211.h"

#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>

#include <linux/nl80211.h>

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

namespace connectd {

struct Nl80211Reply {
    // Called for each answer message of this request, with its top-level attributes.
    std::function<void(nlattr* const* attrs)> onMessage;
    uint32_t sequence = 0;
    int messages = 0;
    int status = 1;    // 1 while waiting, then 0 or -errno
};

namespace {

using Clock = std::chrono::steady_clock;

// Attribute readers that check the length first: nothing the kernel (or anything posing as
// it) sends is read past its end.
std::optional<uint32_t> U32(const nlattr* attr)
{
    if (attr == nullptr || nla_len(attr) < static_cast<int>(sizeof(uint32_t)))
        return std::nullopt;
    return nla_get_u32(const_cast<nlattr*>(attr));
}

std::optional<int> SignedByte(const nlattr* attr)
{
    if (attr == nullptr || nla_len(attr) < 1)
        return std::nullopt;
    return static_cast<int8_t>(nla_get_u8(const_cast<nlattr*>(attr)));
}

std::optional<int> RateOf(nlattr* txBitrate)
{
    if (txBitrate == nullptr)
        return std::nullopt;
    std::array<nlattr*, NL80211_RATE_INFO_MAX + 1> rate{};
    if (nla_parse_nested(rate.data(), NL80211_RATE_INFO_MAX, txBitrate, nullptr) < 0)
        return std::nullopt;
    if (const auto wide = U32(rate[NL80211_RATE_INFO_BITRATE32]))
        return static_cast<int>(*wide);
    const nlattr* narrow = rate[NL80211_RATE_INFO_BITRATE];
    if (narrow == nullptr || nla_len(narrow) < static_cast<int>(sizeof(uint16_t)))
        return std::nullopt;
    return nla_get_u16(const_cast<nlattr*>(narrow));
}

bool Flag(const nlattr* attr)
{
    return attr != nullptr;
}

// Bit i for channel i + 1 of the 2.4 GHz band; 0 for any other frequency.
uint16_t ChannelBit(uint32_t mhz)
{
    if (mhz == 2484)
        return 1u << 13;
    if (mhz >= 2412 && mhz <= 2472 && (mhz - 2407) % 5 == 0)
        return static_cast<uint16_t>(1u << ((mhz - 2407) / 5 - 1));
    return 0;
}

// The channels a GET_WIPHY answer lists for the 2.4 GHz band and does not disable. A split
// dump spreads the bands over several answers; each adds what it carries.
uint16_t EnabledChannels(nlattr* bands)
{
    uint16_t mask = 0;
    nlattr* band = nullptr;
    int left = 0;
    nla_for_each_nested(band, bands, left) {
        if (nla_type(band) != NL80211_BAND_2GHZ)
            continue;
        std::array<nlattr*, NL80211_BAND_ATTR_MAX + 1> bandAttrs{};
        if (nla_parse_nested(bandAttrs.data(), NL80211_BAND_ATTR_MAX, band, nullptr) < 0
            || bandAttrs[NL80211_BAND_ATTR_FREQS] == nullptr)
            continue;
        nlattr* freq = nullptr;
        int freqsLeft = 0;
        nla_for_each_nested(freq, bandAttrs[NL80211_BAND_ATTR_FREQS], freqsLeft) {
            std::array<nlattr*, NL80211_FREQUENCY_ATTR_MAX + 1> freqAttrs{};
            if (nla_parse_nested(freqAttrs.data(), NL80211_FREQUENCY_ATTR_MAX, freq, nullptr) < 0)
                continue;
            const auto mhz = U32(freqAttrs[NL80211_FREQUENCY_ATTR_FREQ]);
            if (mhz && !Flag(freqAttrs[NL80211_FREQUENCY_ATTR_DISABLED]))
                mask = static_cast<uint16_t>(mask | ChannelBit(*mhz));
        }
    }
    return mask;
}

// The station's nested information of one GET_STATION answer; false when it has none.
bool ParseStation(nlattr* const* attrs, std::array<nlattr*, NL80211_STA_INFO_MAX + 1>& info)
{
    nlattr* nested = attrs[NL80211_ATTR_STA_INFO];
    return nested != nullptr
        && nla_parse_nested(info.data(), NL80211_STA_INFO_MAX, nested, nullptr) == 0;
}

int OnValid(nl_msg* message, void* arg)
{
    auto& reply = *static_cast<Nl80211Reply*>(arg);
    if (++reply.messages > Nl80211::kMaxMessages)
        return NL_SKIP;
    std::array<nlattr*, NL80211_ATTR_MAX + 1> attrs{};
    if (genlmsg_parse(nlmsg_hdr(message), 0, attrs.data(), NL80211_ATTR_MAX, nullptr) < 0)
        return NL_SKIP;
    if (reply.onMessage)
        reply.onMessage(attrs.data());
    return NL_SKIP;
}

// Answers to an earlier request that timed out may still arrive; they are not ours.
int OnSequence(nl_msg* message, void* arg)
{
    auto& reply = *static_cast<Nl80211Reply*>(arg);
    return nlmsg_hdr(message)->nlmsg_seq == reply.sequence ? NL_OK : NL_SKIP;
}

int OnFinish(nl_msg*, void* arg)
{
    static_cast<Nl80211Reply*>(arg)->status = 0;
    return NL_STOP;
}

int OnAck(nl_msg*, void* arg)
{
    static_cast<Nl80211Reply*>(arg)->status = 0;
    return NL_STOP;
}

int OnError(sockaddr_nl*, nlmsgerr* error, void* arg)
{
    auto& reply = *static_cast<Nl80211Reply*>(arg);
    if (error->msg.nlmsg_seq != reply.sequence)
        return NL_SKIP;
    // The kernel answers -errno; a positive number would be nonsense, so it counts as EIO.
    reply.status = error->error < 0 ? error->error : (error->error == 0 ? 0 : -EIO);
    return NL_STOP;
}

// Only the kernel answers for nl80211. Our port is listed in /proc/net/netlink, so another
// process could send to it, with the next sequence number, and pose as the kernel.
int OnMessageIn(nl_msg* message, void*)
{
    const sockaddr_nl* sender = nlmsg_get_src(message);
    return sender != nullptr && sender->nl_pid == 0 ? NL_OK : NL_SKIP;
}

// Reads and drops whatever an earlier request that timed out left behind. A dump the kernel
// had not finished goes on as it is read, and a new dump would be refused while it runs.
void DiscardStale(int fd)
{
    std::array<char, 8192> sink;
    for (int reads = 0; reads < Nl80211::kMaxMessages; ++reads) {
        if (recv(fd, sink.data(), sink.size(), MSG_DONTWAIT | MSG_TRUNC) < 0 && errno != EINTR)
            return;
    }
}

} // namespace

std::vector<uint8_t> RateBitrates(uint16_t rateSet)
{
    static constexpr std::array<uint8_t, 4> kLegacyRates = {2, 4, 11, 22};
    std::vector<uint8_t> rates;
    for (size_t bit = 0; bit < kLegacyRates.size(); ++bit)
        if ((rateSet & (1u << bit)) != 0)
            rates.push_back(kLegacyRates[bit]);
    return rates;
}

std::optional<Nl80211> Nl80211::Open(std::string& error)
{
    nl_sock* socket = nl_socket_alloc();
    if (socket == nullptr) {
        error = "nl80211: out of memory for a netlink socket";
        return std::nullopt;
    }
    if (const int rc = genl_connect(socket); rc < 0) {
        error = std::string("nl80211: cannot reach generic netlink: ") + nl_geterror(rc);
        nl_socket_free(socket);
        return std::nullopt;
    }
    const int family = genl_ctrl_resolve(socket, "nl80211");
    if (family < 0) {
        error = std::string("nl80211: the kernel has no nl80211 family (no 802.11 stack loaded): ")
              + nl_geterror(family);
        nl_socket_free(socket);
        return std::nullopt;
    }
    // From here every read waits in poll() first, with a limit, never in recvmsg().
    if (const int rc = nl_socket_set_nonblocking(socket); rc < 0) {
        error = std::string("nl80211: cannot make the socket non-blocking: ") + nl_geterror(rc);
        nl_socket_free(socket);
        return std::nullopt;
    }
    return Nl80211(socket, family);
}

Nl80211::Nl80211(Nl80211&& other) noexcept
    : socket_(std::exchange(other.socket_, nullptr)), family_(std::exchange(other.family_, -1))
{
}

Nl80211& Nl80211::operator=(Nl80211&& other) noexcept
{
    if (this != &other) {
        if (socket_ != nullptr)
            nl_socket_free(socket_);
        socket_ = std::exchange(other.socket_, nullptr);
        family_ = std::exchange(other.family_, -1);
    }
    return *this;
}

Nl80211::~Nl80211()
{
    if (socket_ != nullptr)
        nl_socket_free(socket_);
}

nl_msg* Nl80211::Request(uint8_t command, unsigned ifindex, bool dump) const
{
    nl_msg* message = nlmsg_alloc();
    if (message == nullptr)
        return nullptr;
    if (genlmsg_put(message, NL_AUTO_PORT, NL_AUTO_SEQ, family_, 0, dump ? NLM_F_DUMP : 0,
                    command, 0) == nullptr
        || nla_put_u32(message, NL80211_ATTR_IFINDEX, ifindex) < 0) {
        nlmsg_free(message);
        return nullptr;
    }
    return message;
}

int Nl80211::Exchange(nl_msg* message, Nl80211Reply& reply)
{
    if (message == nullptr)
        return -ENOMEM;
    if (socket_ == nullptr) {
        nlmsg_free(message);
        return -EBADF;
    }
    DiscardStale(nl_socket_get_fd(socket_));
    const int sent = nl_send_auto(socket_, message);
    reply.sequence = nlmsg_hdr(message)->nlmsg_seq;
    nlmsg_free(message);
    if (sent < 0)
        return -EIO;

    nl_cb* callbacks = nl_cb_alloc(NL_CB_DEFAULT);
    if (callbacks == nullptr)
        return -ENOMEM;
    nl_cb_set(callbacks, NL_CB_MSG_IN, NL_CB_CUSTOM, OnMessageIn, nullptr);
    nl_cb_set(callbacks, NL_CB_SEQ_CHECK, NL_CB_CUSTOM, OnSequence, &reply);
    nl_cb_set(callbacks, NL_CB_VALID, NL_CB_CUSTOM, OnValid, &reply);
    nl_cb_set(callbacks, NL_CB_FINISH, NL_CB_CUSTOM, OnFinish, &reply);
    nl_cb_set(callbacks, NL_CB_ACK, NL_CB_CUSTOM, OnAck, &reply);
    nl_cb_err(callbacks, NL_CB_CUSTOM, OnError, &reply);

    const auto deadline = Clock::now() + kReplyTimeout;
    pollfd waiting{nl_socket_get_fd(socket_), POLLIN, 0};
    while (reply.status > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            reply.status = -ETIMEDOUT;
            break;
        }
        const int rc = nl_recvmsgs(socket_, callbacks);
        if (rc < 0 && rc != -NLE_AGAIN && reply.status > 0)
            reply.status = rc == -NLE_NOMEM ? -ENOMEM : -EIO;
    }
    nl_cb_put(callbacks);
    return reply.status;
}

bool Nl80211::IsWireless(unsigned ifindex)
{
    bool described = false;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        described = described || U32(attrs[NL80211_ATTR_IFINDEX]) == ifindex;
    };
    return Exchange(Request(NL80211_CMD_GET_INTERFACE, ifindex, false), reply) == 0 && described;
}

std::optional<int> Nl80211::HighestOfStations(unsigned ifindex,
                                              const std::function<std::optional<int>(nlattr* const* info)>& read)
{
    std::optional<int> highest;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        std::array<nlattr*, NL80211_STA_INFO_MAX + 1> info{};
        if (!ParseStation(attrs, info))
            return;
        const auto value = read(info.data());
        if (value && (!highest || *value > *highest))
            highest = value;
    };
    if (Exchange(Request(NL80211_CMD_GET_STATION, ifindex, true), reply) != 0)
        return std::nullopt;
    return highest;
}

std::optional<int> Nl80211::StrongestPeerSignal(unsigned ifindex)
{
    return HighestOfStations(ifindex, [](nlattr* const* info) { return SignedByte(info[NL80211_STA_INFO_SIGNAL]); });
}

std::optional<int> Nl80211::FastestPeerTxRate(unsigned ifindex)
{
    return HighestOfStations(ifindex, [](nlattr* const* info) { return RateOf(info[NL80211_STA_INFO_TX_BITRATE]); });
}

int Nl80211::SetTxRates(unsigned ifindex, uint16_t rateSet)
{
    if (rateSet == 0 || (rateSet & ~kAllRates) != 0)
        return -EINVAL;
    const std::vector<uint8_t> legacy = RateBitrates(rateSet);

    nl_msg* message = Request(NL80211_CMD_SET_TX_BITRATE_MASK, ifindex, false);
    if (message == nullptr)
        return -ENOMEM;
    // Only the 2.4 GHz band is restricted; the kernel keeps every rate of the bands not named.
    // An empty HT list turns the band's HT rates off: left out, the kernel would keep them all
    // and the driver could still send faster than the set allows.
    nlattr* rates = nla_nest_start(message, NL80211_ATTR_TX_RATES);
    nlattr* band = rates != nullptr ? nla_nest_start(message, NL80211_BAND_2GHZ) : nullptr;
    if (band == nullptr || nla_put(message, NL80211_TXRATE_LEGACY, static_cast<int>(legacy.size()), legacy.data()) < 0
        || nla_put(message, NL80211_TXRATE_HT, 0, nullptr) < 0) {
        nlmsg_free(message);
        return -ENOMEM;
    }
    nla_nest_end(message, band);
    nla_nest_end(message, rates);

    Nl80211Reply reply;
    return Exchange(message, reply);
}

std::optional<bool> Nl80211::PowerSave(unsigned ifindex)
{
    std::optional<bool> on;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        if (const auto state = U32(attrs[NL80211_ATTR_PS_STATE]))
            on = *state == NL80211_PS_ENABLED;
    };
    if (Exchange(Request(NL80211_CMD_GET_POWER_SAVE, ifindex, false), reply) != 0)
        return std::nullopt;
    return on;
}

std::optional<Nl80211Association> Nl80211::Associated(unsigned ifindex)
{
    std::optional<Nl80211Association> joined;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        std::array<nlattr*, NL80211_BSS_MAX + 1> bss{};
        if (joined || attrs[NL80211_ATTR_BSS] == nullptr
            || nla_parse_nested(bss.data(), NL80211_BSS_MAX, attrs[NL80211_ATTR_BSS], nullptr) < 0)
            return;
        const auto status = U32(bss[NL80211_BSS_STATUS]);
        const nlattr* bssid = bss[NL80211_BSS_BSSID];
        if (!status || (*status != NL80211_BSS_STATUS_ASSOCIATED && *status != NL80211_BSS_STATUS_IBSS_JOINED)
            || bssid == nullptr || nla_len(bssid) < 6)
            return;
        Nl80211Association association;
        std::memcpy(association.bssid.data(), nla_data(bssid), association.bssid.size());
        association.frequency = static_cast<int>(U32(bss[NL80211_BSS_FREQUENCY]).value_or(0));
        association.ibss = *status == NL80211_BSS_STATUS_IBSS_JOINED;
        joined = association;
    };
    if (Exchange(Request(NL80211_CMD_GET_SCAN, ifindex, true), reply) != 0)
        return std::nullopt;
    return joined;
}

std::optional<int> Nl80211::NoiseInUse(unsigned ifindex)
{
    std::optional<int> noise;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        std::array<nlattr*, NL80211_SURVEY_INFO_MAX + 1> survey{};
        if (attrs[NL80211_ATTR_SURVEY_INFO] == nullptr
            || nla_parse_nested(survey.data(), NL80211_SURVEY_INFO_MAX, attrs[NL80211_ATTR_SURVEY_INFO], nullptr) < 0)
            return;
        if (Flag(survey[NL80211_SURVEY_INFO_IN_USE]))
            if (const auto value = SignedByte(survey[NL80211_SURVEY_INFO_NOISE]); value && *value < 0)
                noise = value;
    };
    if (Exchange(Request(NL80211_CMD_GET_SURVEY, ifindex, true), reply) != 0)
        return std::nullopt;
    return noise;
}

std::optional<uint16_t> Nl80211::UsableChannels(unsigned ifindex)
{
    // The kernel narrows the dump to the interface's radio only when the interface is a
    // wireless one; for any other it lists every radio's channels.
    if (!IsWireless(ifindex))
        return std::nullopt;
    nl_msg* message = Request(NL80211_CMD_GET_WIPHY, ifindex, true);
    // The split dump is the form every kernel answers in full; the old single answer leaves
    // out what does not fit in one message.
    if (message != nullptr && nla_put_flag(message, NL80211_ATTR_SPLIT_WIPHY_DUMP) < 0) {
        nlmsg_free(message);
        message = nullptr;
    }
    uint16_t mask = 0;
    Nl80211Reply reply;
    reply.onMessage = [&](nlattr* const* attrs) {
        if (attrs[NL80211_ATTR_WIPHY_BANDS] != nullptr)
            mask = static_cast<uint16_t>(mask | EnabledChannels(attrs[NL80211_ATTR_WIPHY_BANDS]));
    };
    if (Exchange(message, reply) != 0 || mask == 0)
        return std::nullopt;
    return mask;
}

} // namespace connectd
