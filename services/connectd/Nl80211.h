#pragma once
// The card's driver as the kernel's 802.11 configuration interface (nl80211) shows it: whether
// an interface is a wireless device, the network it has joined, the peers it hears, the noise
// on its channel, the channels its regulatory domain allows, its power save, and the transmit
// rates it may use. Everything but the rates is read without privilege, so a card that
// NetworkManager drives is measured here without asking it anything.
//
// Every request waits for its answer a bounded time (kReplyTimeout) and reads a bounded
// number of messages, so a driver that never answers holds the service up for a moment only.
// Answers that belong to an earlier request that timed out are recognised by their sequence
// number and skipped.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <functional>
#include <string>
#include <vector>

struct nl_sock;
struct nl_msg;
struct nlattr;

namespace connectd {

// What one request collects from its answers (defined with the requests).
struct Nl80211Reply;

// Transmit rates as the block and the registry carry them: one bit a rate.
inline constexpr uint16_t kRate1 = 1;      // 1 Mbps
inline constexpr uint16_t kRate2 = 2;      // 2 Mbps
inline constexpr uint16_t kRate5_5 = 4;    // 5.5 Mbps
inline constexpr uint16_t kRate11 = 8;     // 11 Mbps
inline constexpr uint16_t kAllRates = kRate1 | kRate2 | kRate5_5 | kRate11;

// The rates of a rate set in nl80211's legacy units (500 kb/s), in the order of the bits:
// 1, 2, 5.5 and 11 Mbps are 2, 4, 11 and 22. Bits beyond the four are not rates.
std::vector<uint8_t> RateBitrates(uint16_t rateSet);

// The network an interface has joined, as the kernel's scan results mark it.
struct Nl80211Association {
    std::array<uint8_t, 6> bssid{};
    int frequency = 0;       // MHz
    bool ibss = false;       // a peer-to-peer cell rather than an access point
};

class Nl80211 {
public:
    // Connects to generic netlink and resolves the nl80211 family once. Nothing, with the
    // reason in `error`, when the kernel has no 802.11 stack loaded.
    static std::optional<Nl80211> Open(std::string& error);

    Nl80211(Nl80211&& other) noexcept;
    Nl80211& operator=(Nl80211&& other) noexcept;
    Nl80211(const Nl80211&) = delete;
    Nl80211& operator=(const Nl80211&) = delete;
    ~Nl80211();

    // The interface is a wireless device: the driver describes it when asked by its index.
    bool IsWireless(unsigned ifindex);
    // The strongest signal (dBm) among the stations the interface knows; nothing when it
    // knows none or cannot be asked. In a peer-to-peer cell these are the other members.
    std::optional<int> StrongestPeerSignal(unsigned ifindex);
    // The highest rate (in 100 kb/s) the interface last sent a peer with; nothing when it
    // knows no peer. This is how a rate mask shows: nl80211 cannot read the mask back.
    std::optional<int> FastestPeerTxRate(unsigned ifindex);
    // Restricts the 2.4 GHz band to the legacy rates of `rateSet` (kRate1..kRate11), and turns
    // the band's HT rates off, which an 802.11b card does not have. Answers 0 or -errno:
    // -EINVAL for an empty set or unknown bits (nothing is sent), -EPERM without
    // CAP_NET_ADMIN, -ENODEV when the interface is not a wireless device.
    int SetTxRates(unsigned ifindex, uint16_t rateSet);
    // Whether power save is on, as the driver reports it; nothing when it cannot be asked.
    std::optional<bool> PowerSave(unsigned ifindex);
    // The access point the interface is associated with, or the peer-to-peer cell it has
    // joined; nothing while it has neither.
    std::optional<Nl80211Association> Associated(unsigned ifindex);
    // The noise floor (dBm) the driver measured on the channel in use; nothing when the
    // driver keeps no survey or reports no noise.
    std::optional<int> NoiseInUse(unsigned ifindex);
    // The 2.4 GHz channels of the interface's radio that the regulatory domain in force does
    // not disable (bit i: channel i + 1); nothing when it lists none or cannot be asked.
    std::optional<uint16_t> UsableChannels(unsigned ifindex);

    // How long one request waits for the kernel's answer, and how many messages one dump may
    // bring (more are dropped, the request still ends).
    static constexpr std::chrono::milliseconds kReplyTimeout{1000};
    static constexpr int kMaxMessages = 1024;

private:
    Nl80211(nl_sock* socket, int family) : socket_(socket), family_(family) {}
    // Builds a request for `command` on `ifindex`; null when memory runs out.
    nl_msg* Request(uint8_t command, unsigned ifindex, bool dump) const;
    // Sends `message` (always freed) and collects its answer into `reply`: 0 or -errno.
    int Exchange(nl_msg* message, Nl80211Reply& reply);
    // The highest value `read` finds among the stations the interface knows (from each
    // station's info attributes); nothing when it knows none or cannot be asked.
    std::optional<int> HighestOfStations(unsigned ifindex,
                                         const std::function<std::optional<int>(nlattr* const* info)>& read);

    nl_sock* socket_ = nullptr;
    int family_ = -1;
};

} // namespace connectd
