#include "SupplicantText.h"

#include "CommandDecoder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <tuple>
#include <utility>

namespace connectd {

using service::StationConfig;
using service::WepSettings;

namespace {

// Calls `visit(line)` for each line of `text`, without its '\n'.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const size_t end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

// The value of the first "name=value" line; nothing when no line has the name.
std::optional<std::string_view> Field(std::string_view reply, std::string_view name)
{
    std::optional<std::string_view> found;
    ForEachLine(reply, [&](std::string_view line) {
        if (!found && line.size() > name.size() && line.starts_with(name) && line[name.size()] == '=')
            found = line.substr(name.size() + 1);
    });
    return found;
}

// The whole text as a decimal number, optionally negative; nothing for anything else,
// including numbers beyond int.
std::optional<int> Number(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<int> NumberField(std::string_view reply, std::string_view name)
{
    const auto text = Field(reply, name);
    return text ? Number(*text) : std::nullopt;
}

bool StartsWithWord(std::string_view text, std::string_view word)
{
    return text.starts_with(word) && (text.size() == word.size() || text[word.size()] == ' ');
}

// The value after " name=" up to the next space.
std::string WordAfter(std::string_view text, std::string_view name)
{
    const std::string key = " " + std::string(name) + "=";
    const size_t at = text.find(key);
    if (at == std::string_view::npos)
        return {};
    const std::string_view rest = text.substr(at + key.size());
    return std::string(rest.substr(0, rest.find(' ')));
}

// The text between `ssid="` and its closing quote, and what follows that quote; the
// supplicant escapes a quote inside the name as \", so an escaped quote does not end it.
std::pair<std::string, std::string_view> QuotedSsid(std::string_view text)
{
    const size_t at = text.find(" ssid=\"");
    if (at == std::string_view::npos)
        return {{}, text};
    const std::string_view rest = text.substr(at + 7);
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\')
            ++i;
        else if (rest[i] == '"')
            return {std::string(rest.substr(0, i)), rest.substr(i + 1)};
    }
    return {{}, {}};
}

// The supplicant numbers its states in this order.
constexpr std::array<std::string_view, 10> kStateNames = {
    "DISCONNECTED", "INTERFACE_DISABLED", "INACTIVE", "SCANNING", "AUTHENTICATING",
    "ASSOCIATING", "ASSOCIATED", "4WAY_HANDSHAKE", "GROUP_HANDSHAKE", "COMPLETED",
};

std::string StateName(std::string_view number)
{
    const auto value = Number(number);
    if (value && *value >= 0 && static_cast<size_t>(*value) < kStateNames.size())
        return std::string(kStateNames[static_cast<size_t>(*value)]);
    return std::string(number);
}

std::string Hex(const uint8_t* bytes, size_t count)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

// A value from 0 to 15 for `value` on a scale where `low` is 0 and `high` is 15: each level
// is a fifteenth of the way, and the top one is reached only at `high`.
uint8_t Level(int value, int low, int high)
{
    if (value <= low)
        return 0;
    if (value >= high)
        return service::kLevelMax;
    return static_cast<uint8_t>((value - low) * service::kLevelMax / (high - low));
}

// Bit i set for each channel i + 1 listed after "Mode[X] Channels:" in 1..14.
uint16_t ListedChannels(std::string_view list)
{
    uint16_t mask = 0;
    while (!list.empty()) {
        const size_t end = list.find(' ');
        const auto channel = Number(list.substr(0, end));
        if (channel && *channel >= 1 && *channel <= 14)
            mask = static_cast<uint16_t>(mask | 1u << (*channel - 1));
        if (end == std::string_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return mask;
}

uint16_t ModeChannels(std::string_view reply, std::string_view mode)
{
    const std::string prefix = "Mode[" + std::string(mode) + "] Channels:";
    uint16_t mask = 0;
    ForEachLine(reply, [&](std::string_view line) {
        if (line.starts_with(prefix))
            mask = static_cast<uint16_t>(mask | ListedChannels(line.substr(prefix.size())));
    });
    return mask;
}

int FrequencyOfChannel(unsigned channel)
{
    return channel == 14 ? 2484 : 2407 + 5 * static_cast<int>(channel);
}

// The centre frequencies of channels 1-14, each after a space.
std::string Band24Frequencies()
{
    std::string list;
    for (unsigned channel = 1; channel <= 14; ++channel)
        list += " " + std::to_string(FrequencyOfChannel(channel));
    return list;
}

} // namespace

std::optional<SupplicantStatus> ParseStatus(std::string_view reply)
{
    const auto state = Field(reply, "wpa_state");
    if (!state || state->empty())
        return std::nullopt;
    SupplicantStatus status;
    status.wpaState = std::string(*state);
    if (const auto bssid = Field(reply, "bssid"))
        status.bssid = service::ParseBssid(*bssid);
    status.freq = std::max(0, NumberField(reply, "freq").value_or(0));
    status.mode = std::string(Field(reply, "mode").value_or(""));
    status.ssid = std::string(Field(reply, "ssid").value_or(""));
    return status;
}

std::optional<SignalPoll> ParseSignalPoll(std::string_view reply)
{
    const auto rssi = NumberField(reply, "RSSI");
    const auto linkSpeed = NumberField(reply, "LINKSPEED");
    if (!rssi || !linkSpeed)
        return std::nullopt;
    // Drivers say "no noise figure" with 9999; no real floor lies at or above 0 dBm.
    constexpr int kUnknownNoise = 9999;
    SignalPoll poll;
    if (*rssi != 0)
        poll.rssi = rssi;
    poll.linkSpeed = std::max(0, *linkSpeed);
    const auto noise = NumberField(reply, "NOISE");
    if (noise && *noise != kUnknownNoise && *noise < 0)
        poll.noise = noise;
    poll.frequency = std::max(0, NumberField(reply, "FREQUENCY").value_or(0));
    return poll;
}

std::optional<uint8_t> ChannelFromFrequency(int mhz)
{
    if (mhz == 2484)
        return 14;
    if (mhz >= 2412 && mhz <= 2472 && (mhz - 2407) % 5 == 0)
        return static_cast<uint8_t>((mhz - 2407) / 5);
    return std::nullopt;
}

uint16_t RateCode(int linkSpeedMbps)
{
    if (linkSpeedMbps >= 11)
        return 8;
    if (linkSpeedMbps >= 5)
        return 4;
    if (linkSpeedMbps >= 2)
        return 2;
    if (linkSpeedMbps >= 1)
        return 1;
    return 0;
}

uint8_t Strength(int rssiDbm)
{
    return Level(rssiDbm, -90, -35);
}

uint8_t Quality(int rssiDbm, std::optional<int> noiseDbm)
{
    // Widen before subtracting: both come from another process and may be far apart.
    const long long snr = static_cast<long long>(rssiDbm) - noiseDbm.value_or(kAssumedNoiseDbm);
    return Level(static_cast<int>(std::clamp<long long>(snr, -1, 41)), 0, 40);
}

std::optional<uint16_t> ChannelMask(std::string_view reply)
{
    if (const uint16_t b = ModeChannels(reply, "B"))
        return b;
    if (const uint16_t g = ModeChannels(reply, "G"))
        return g;
    return std::nullopt;
}

SupplicantEvent ParseEvent(std::string_view text)
{
    // "<3>" is the priority the supplicant puts in front of every attached event.
    if (text.starts_with('<')) {
        const size_t close = text.find('>');
        if (close != std::string_view::npos)
            text.remove_prefix(close + 1);
    }
    SupplicantEvent event;
    event.text = std::string(text);
    if (StartsWithWord(text, "CTRL-EVENT-CONNECTED"))
        event.kind = EventKind::Connected;
    else if (StartsWithWord(text, "CTRL-EVENT-DISCONNECTED"))
        event.kind = EventKind::Disconnected;
    else if (StartsWithWord(text, "CTRL-EVENT-TERMINATING"))
        event.kind = EventKind::Terminating;
    else if (StartsWithWord(text, "CTRL-EVENT-SCAN-RESULTS"))
        event.kind = EventKind::ScanResults;
    else if (StartsWithWord(text, "CTRL-EVENT-STATE-CHANGE")) {
        event.kind = EventKind::StateChange;
        event.state = StateName(WordAfter(text, "state"));
    } else if (StartsWithWord(text, "CTRL-EVENT-SSID-TEMP-DISABLED")) {
        event.kind = EventKind::TempDisabled;
        // The name may hold " reason=" itself: read the reason after it.
        std::string_view after;
        std::tie(event.ssid, after) = QuotedSsid(text);
        event.reason = WordAfter(after, "reason");
    }
    return event;
}

std::optional<std::string> Refusal(const StationConfig& config, const WepSettings& wep)
{
    constexpr size_t kLongestName = 32;   // 802.11's limit; the block carries one byte more
    const std::string name = "\"" + service::CommandDecoder::EscapedName(config.name) + "\"";
    if (config.name.size() > kLongestName)
        return "network name " + name + " has " + std::to_string(config.name.size()) +
               " bytes, more than the 32 a network name may have: not applied";
    if (config.networkType != service::kPeerToPeer && config.networkType != service::kAccessPoint &&
        config.networkType != service::kAutoNetworkType)
        return "network type " + std::to_string(config.networkType) + " is not 0, 1 or 3: not applied";
    if (config.networkType == service::kPeerToPeer && config.name.empty())
        return "a peer-to-peer network needs a name: not applied";
    if (config.networkType == service::kPeerToPeer && (config.dsChannel < 1 || config.dsChannel > 14))
        return "channel " + std::to_string(config.dsChannel) +
               " for a peer-to-peer network is not 1 to 14: not applied";
    if (wep.wepReq != service::kWepOff && wep.wepReq != service::kWep64 && wep.wepReq != service::kWep128)
        return "WEP mode " + std::to_string(wep.wepReq) + " is not 0, 2 or 6: not applied";
    if (wep.wepReq == service::kWep64 && (wep.defaultKeyId < 1 || wep.defaultKeyId > 4))
        return "default key " + std::to_string(wep.defaultKeyId) + " is not 1 to 4: not applied";
    return std::nullopt;
}

std::vector<std::string> NetworkCommands(int id, const StationConfig& config, const WepSettings& wep)
{
    if (Refusal(config, wep))
        return {};
    const std::string prefix = "SET_NETWORK " + std::to_string(id) + " ";
    const bool peerToPeer = config.networkType == service::kPeerToPeer;
    std::vector<std::string> commands;
    // Unquoted hexadecimal is the supplicant's form for any bytes; without an ssid line the
    // network matches any network of its security, the strongest one winning.
    if (!config.name.empty())
        commands.push_back(prefix + "ssid " +
                           Hex(reinterpret_cast<const uint8_t*>(config.name.data()), config.name.size()));
    commands.push_back(prefix + "key_mgmt NONE");
    // An 802.11b card knows the 2.4 GHz band alone: a dual-band card must not join a 5 GHz
    // network of the same name, whose channel the block could not even carry.
    commands.push_back(prefix + "freq_list" + Band24Frequencies());
    if (peerToPeer) {
        commands.push_back(prefix + "mode 1");
        commands.push_back(prefix + "frequency " + std::to_string(FrequencyOfChannel(config.dsChannel)));
    } else {
        commands.push_back(prefix + "mode 0");
        // Probe for the name, as the card did, so a network that hides its name is found too.
        if (!config.name.empty())
            commands.push_back(prefix + "scan_ssid 1");
    }
    if (wep.wepReq == service::kWepOff)
        return commands;
    if (wep.wepReq == service::kWep64) {
        for (int key = 0; key < 4; ++key)
            commands.push_back(prefix + "wep_key" + std::to_string(key) + " " + Hex(wep.keys.data() + key * 5, 5));
        commands.push_back(prefix + "wep_tx_keyidx " + std::to_string(wep.defaultKeyId - 1));
    } else {
        commands.push_back(prefix + "wep_key0 " + Hex(wep.keys.data(), 13));
        commands.push_back(prefix + "wep_tx_keyidx 0");
    }
    // Shared-key authentication proves the key before the link comes up, so a wrong key
    // leaves the station unassociated, as the card's default did. A peer-to-peer cell has no
    // authentication exchange at all, so only open system works there.
    commands.push_back(prefix + (peerToPeer ? "auth_alg OPEN" : "auth_alg SHARED"));
    return commands;
}

std::string PowerSaveCommand(uint16_t psMode)
{
    return psMode == 2 ? "SET ps 1" : "SET ps 0";
}

std::string CountryCommand(const service::RegulatoryDomain& domain)
{
    // One country whose rules give each domain's channels: 1-11, 1-13, 1-14.
    if (domain.Name() == "fcc")
        return "SET country US";
    if (domain.Name() == "etsi")
        return "SET country DE";
    return "SET country JP";
}

} // namespace connectd
