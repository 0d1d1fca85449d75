#include "SupplicantCard.h"

#include "Privileges.h"

#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace connectd {

namespace {

// The rate code of the fastest rate in a set: what the card sends with when nothing measures
// the link (a peer-to-peer cell, or a driver without signal figures).
uint16_t FastestOf(uint16_t rateSet)
{
    for (uint16_t code : {8, 4, 2, 1})
        if ((rateSet & code) != 0)
            return code;
    return 8;
}

// LIST_NETWORKS' lines: "network id / ssid / bssid / flags", then one per network.
struct ListedNetwork {
    int id = 0;
    bool disabled = false;
};

std::vector<ListedNetwork> ListedNetworks(std::string_view list)
{
    std::vector<ListedNetwork> networks;
    size_t start = list.find('\n');
    while (start != std::string_view::npos && start + 1 < list.size()) {
        const size_t end = list.find('\n', start + 1);
        const std::string_view line = list.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        int id = 0;
        size_t digits = 0;
        while (digits < line.size() && digits < 9 && line[digits] >= '0' && line[digits] <= '9')
            id = id * 10 + (line[digits++] - '0');
        if (digits > 0 && digits < line.size() && line[digits] == '\t')
            networks.push_back({id, line.substr(line.rfind('\t') + 1).find("[DISABLED]") != std::string_view::npos});
        start = end;
    }
    return networks;
}

// The id ADD_NETWORK answers: up to nine digits and a line end, nothing else.
std::optional<int> NetworkIdOf(std::string_view reply)
{
    if (reply.ends_with('\n'))
        reply.remove_suffix(1);
    if (reply.empty() || reply.size() > 9 || !std::all_of(reply.begin(), reply.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int id = 0;
    for (const char c : reply)
        id = id * 10 + (c - '0');
    return id;
}

} // namespace

SupplicantCard::SupplicantCard(CardOptions options, StationConfig config, WepSettings wep, Log& log)
    : options_(std::move(options)), config_(std::move(config)), wep_(wep), log_(log)
{
    std::string error;
    nl80211_ = Nl80211::Open(error);
    if (!nl80211_)
        log_.Start(error + "; signal of peers and transmit rates are not available");
    watch_ = LinkWatch::Open(error);
    if (!watch_)
        log_.Start("rtnetlink: " + error + "; the interface's comings and goings are seen by the look each second alone");
    mask_ = options_.FallbackMask();
}


std::vector<int> SupplicantCard::WaitFds() const
{
    std::vector<int> fds;
    if (events_)
        fds.push_back(events_->Fd());
    if (watch_)
        fds.push_back(watch_->Fd());
    return fds;
}

bool SupplicantCard::InterfacePresent() const
{
    return if_nametoindex(options_.interface.c_str()) != 0;
}

std::optional<std::string> SupplicantCard::Request(std::string_view command)
{
    if (!requests_)
        return std::nullopt;
    auto reply = requests_->Request(command, kReplyLimit);
    if (!reply)
        GoOut("the supplicant does not answer on " + (options_.ctrlDir / options_.interface).string());
    return reply;
}

bool SupplicantCard::RequestOk(std::string_view command)
{
    const auto reply = Request(command);
    if (!reply)
        return false;
    if (reply->rfind("OK", 0) == 0)
        return true;
    // The command's first two words name it; values stay out of the log (keys among them).
    const size_t cut = command.find(' ', command.find(' ') + 1);
    log_.Warn("the supplicant refused " + std::string(command.substr(0, std::min(cut, command.size()))));
    return false;
}

void SupplicantCard::GoOut(const std::string& reason)
{
    requests_.reset();
    events_.reset();
    lastStatus_.reset();
    networkId_ = -1;
    othersEnabled_.clear();
    othersNoted_ = false;
    link_ = LinkInfo{};
    // One line per outage; what the retries find meanwhile only with -v.
    if (card_ == Card::In || !outSaid_)
        log_.Info("card out: " + reason + "; looking again every second");
    else if (reason != outReason_)
        log_.Detail("still out: " + reason);
    outSaid_ = true;
    outReason_ = reason;
    card_ = Card::Out;
}

void SupplicantCard::TryIn(Millis now)
{
    nextAttempt_ = now + kRetryPeriod;
    const std::filesystem::path socket = options_.ctrlDir / options_.interface;
    if (!InterfacePresent()) {
        GoOut("no interface " + options_.interface);
        return;
    }
    std::string error;
    auto requests = WpaControl::Open(socket, error, options_.owner);
    auto events = requests ? WpaControl::Open(socket, error, options_.owner) : std::nullopt;
    if (!requests || !events) {
        GoOut("no supplicant on " + socket.string() + " (" + error + ")");
        return;
    }
    const auto pong = requests->Request("PING", kReplyLimit);
    if (!pong || pong->rfind("PONG", 0) != 0 || !events->Attach(kReplyLimit)) {
        GoOut("the supplicant does not answer on " + socket.string());
        return;
    }
    const auto status = ParseStatus(requests->Request("STATUS", kReplyLimit).value_or(""));
    if (!status || status->wpaState == "INTERFACE_DISABLED") {
        GoOut("the supplicant has disabled " + options_.interface);
        return;
    }
    requests_ = std::move(requests);
    events_ = std::move(events);
    card_ = Card::In;
    outReason_.clear();
    log_.Info("card in: " + options_.interface + ", supplicant on " + socket.string());

    if (nl80211_ && !wirelessNoted_) {
        const unsigned index = if_nametoindex(options_.interface.c_str());
        if (index != 0 && !nl80211_->IsWireless(index)) {
            log_.Info(options_.interface + " is not a wireless device: signal, channels and rates take fixed values");
            wirelessNoted_ = true;
        }
    }
    if (options_.domain)
        RequestOk(CountryCommand(*options_.domain));
    RefreshMask();
    RemoveOurNetworks();
    ApplySettings();
    nextLook_ = now + kLookPeriod;
}

void SupplicantCard::RefreshMask()
{
    const auto reply = Request("GET_CAPABILITY channels");
    const auto mask = reply ? connectd::ChannelMask(*reply) : std::nullopt;
    mask_ = mask.value_or(options_.FallbackMask());
}

std::string SupplicantCard::NetworkTag()
{
    return "wlan-connectd-" + std::to_string(getuid());
}

void SupplicantCard::RemoveOurNetworks()
{
    const auto list = Request("LIST_NETWORKS");
    if (!list)
        return;
    const std::string tag = "\"" + NetworkTag() + "\"";
    for (const ListedNetwork& network : ListedNetworks(*list)) {
        const auto idStr = Request("GET_NETWORK " + std::to_string(network.id) + " id_str");
        if (idStr && *idStr == tag)
            RequestOk("REMOVE_NETWORK " + std::to_string(network.id));
    }
}

void SupplicantCard::NoteEnabledNetworks()
{
    const auto list = Request("LIST_NETWORKS");
    if (!list)
        return;
    othersEnabled_.clear();
    for (const ListedNetwork& network : ListedNetworks(*list))
        if (!network.disabled && network.id != networkId_)
            othersEnabled_.push_back(network.id);
    othersNoted_ = true;
}

void SupplicantCard::Leave()
{
    if (card_ != Card::In)
        return;
    if (networkId_ >= 0)
        RequestOk("REMOVE_NETWORK " + std::to_string(networkId_));
    networkId_ = -1;
    for (const int id : othersEnabled_)
        if (card_ == Card::In)
            Request("ENABLE_NETWORK " + std::to_string(id));
    log_.Info("left the supplicant: our network removed, its other networks as they were");
}

void SupplicantCard::ApplySettings()
{
    if (card_ != Card::In)
        return;
    if (networkId_ >= 0) {
        RequestOk("REMOVE_NETWORK " + std::to_string(networkId_));
        networkId_ = -1;
    }
    link_ = LinkInfo{};
    lastStatus_.reset();
    if (const auto refusal = Refusal(config_, wep_)) {
        log_.Warn("settings refused: " + *refusal + "; the card stays unassociated");
        refused_ = true;
        RequestOk("DISCONNECT");
        return;
    }
    refused_ = false;
    const auto added = Request("ADD_NETWORK");
    const auto id = added ? NetworkIdOf(*added) : std::nullopt;
    if (!id) {
        if (added)
            log_.Warn("the supplicant refused ADD_NETWORK");
        return;
    }
    networkId_ = *id;
    const std::string idText = std::to_string(networkId_);
    bool ok = RequestOk("SET_NETWORK " + idText + " id_str \"" + NetworkTag() + "\"");
    for (const std::string& command : NetworkCommands(networkId_, config_, wep_))
        ok = ok && RequestOk(command);
    if (!ok)
        return;
    // Selecting ours disables every other network: note once which were enabled, to give
    // them back when the service stops.
    if (!othersNoted_)
        NoteEnabledNetworks();
    RequestOk("SELECT_NETWORK " + idText);
    // Power save is the driver's; a driver without it (a wired test bench) refuses, once per apply.
    if (const auto reply = Request(PowerSaveCommand(config_.psMode)); reply && reply->rfind("OK", 0) != 0)
        log_.Detail("power save not available on " + options_.interface);
    ApplyRates();
}

void SupplicantCard::ApplyRates()
{
    const unsigned index = if_nametoindex(options_.interface.c_str());
    if (!nl80211_ || index == 0 || !nl80211_->IsWireless(index))
        return;
    const int result = WithNetAdmin([&] { return nl80211_->SetTxRates(index, config_.txRate); });
    if (result == -EPERM || result == -EACCES) {
        if (!ratesWarned_)
            log_.Warn("no CAP_NET_ADMIN: the transmit rates stay the driver's choice (see the README)");
        ratesWarned_ = true;
    } else if (result != 0) {
        log_.Warn(std::string("the driver refused the transmit rates: ") + std::strerror(-result));
    }
}

bool SupplicantCard::TakeConfig(const StationConfig& config, Millis)
{
    if (config == config_ && !refused_)
        return false;
    config_ = config;
    ApplySettings();
    return true;
}

bool SupplicantCard::TakeWep(const WepSettings& wep, Millis)
{
    if (wep == wep_ && !refused_)
        return false;
    wep_ = wep;
    ApplySettings();
    return true;
}

LinkInfo SupplicantCard::Link()
{
    if (card_ == Card::In)
        RefreshLink();
    return link_;
}

void SupplicantCard::RefreshLink()
{
    LinkInfo link;
    // The state and the BSSID change only with an event, or show at the look each second:
    // between those, the signal alone is asked for.
    if (!lastStatus_)
        lastStatus_ = ParseStatus(Request("STATUS").value_or(""));
    const std::optional<SupplicantStatus> status = lastStatus_;
    if (!status) {
        link_ = link;
        return;
    }
    if (status->wpaState == "INTERFACE_DISABLED") {
        GoOut("the supplicant has disabled " + options_.interface);
        return;
    }
    if (refused_ || status->wpaState != "COMPLETED" || !status->bssid) {
        link_ = link;
        return;
    }
    link.associated = true;
    link.bssid = *status->bssid;
    link.channel = ChannelFromFrequency(status->freq).value_or(0);
    link.rate = FastestOf(config_.txRate);
    if (status->mode == "IBSS") {
        // The cell has no access point to measure: its strongest peer is the signal.
        const unsigned index = if_nametoindex(options_.interface.c_str());
        const auto peer = nl80211_ && index != 0 ? nl80211_->StrongestPeerSignal(index) : std::nullopt;
        if (peer) {
            link.strength = Strength(*peer);
            link.quality = Quality(*peer, std::nullopt);
        }
    } else if (const auto signal = ParseSignalPoll(Request("SIGNAL_POLL").value_or("FAIL"))) {
        if (const uint16_t code = RateCode(signal->linkSpeed); code != 0)
            link.rate = code;
        if (signal->rssi) {
            link.strength = Strength(*signal->rssi);
            link.quality = Quality(*signal->rssi, signal->noise);
        }
    }
    if (card_ == Card::In)
        link_ = link;
}

void SupplicantCard::ReadEvents()
{
    while (events_) {
        const auto text = events_->ReadEvent();
        if (!text)
            return;
        const SupplicantEvent event = ParseEvent(*text);
        lastStatus_.reset();
        switch (event.kind) {
        case EventKind::Terminating:
            GoOut("the supplicant stopped");
            return;
        case EventKind::Other:
            // A new country reaches the driver some time after SET country is answered.
            if (event.text.starts_with("CTRL-EVENT-REGDOM-CHANGE"))
                RefreshMask();
            break;
        case EventKind::TempDisabled:
            log_.Info("the network was refused: " + event.text);
            break;
        case EventKind::Connected:
        case EventKind::Disconnected:
        case EventKind::StateChange:
            log_.Detail(event.text);
            break;
        default:
            break;
        }
    }
}

void SupplicantCard::Step(Millis now)
{
    const bool interfaceChanged = watch_ && watch_->Drain(options_.interface);
    if (card_ == Card::Out) {
        if (interfaceChanged || now >= nextAttempt_)
            TryIn(now);
        return;
    }
    if (interfaceChanged && !InterfacePresent()) {
        GoOut("the interface " + options_.interface + " went away");
        return;
    }
    ReadEvents();
    if (card_ == Card::In && now >= nextLook_) {
        nextLook_ = now + kLookPeriod;
        const auto status = ParseStatus(Request("STATUS").value_or(""));
        lastStatus_ = status;
        if (card_ == Card::In && status && status->wpaState == "INTERFACE_DISABLED")
            GoOut("the supplicant has disabled " + options_.interface);
    }
    if (card_ == Card::Out)
        nextAttempt_ = now + kRetryPeriod;
}

} // namespace connectd
