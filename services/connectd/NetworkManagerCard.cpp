#include "NetworkManagerCard.h"

#include "SupplicantText.h"

#include <glib-object.h>
// libnm's error header declares its quark functions without C linkage for C++; the library
// exports them as C functions.
extern "C" {
#include <nm-errors.h>
}
#include <NetworkManager.h>

#include <net/if.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace connectd {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kModifyOwn = "org.freedesktop.NetworkManager.settings.modify.own";
constexpr const char* kModifySystem = "org.freedesktop.NetworkManager.settings.modify.system";
constexpr const char* kNetworkControl = "org.freedesktop.NetworkManager.network-control";
// Channel 14: the profile keeps to the 2.4 GHz band, so a network heard above it cannot be
// joined.
constexpr guint32 kLastBgMhz = 2484;

std::string UserName()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return {};
    return found->pw_name;
}

bool IsPermissionError(const GError* error)
{
    return g_error_matches(error, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_PERMISSION_DENIED)
        || g_error_matches(error, NM_MANAGER_ERROR, NM_MANAGER_ERROR_PERMISSION_DENIED)
        || g_error_matches(error, NM_DEVICE_ERROR, NM_DEVICE_ERROR_NOT_ALLOWED);
}

std::string EnumName(GType type, int value)
{
    char* text = nm_utils_enum_to_str(type, value);
    std::string name = text != nullptr ? text : std::to_string(value);
    g_free(text);
    return name;
}

// Runs the thread's default context until `done` says so or `limit` has passed, whatever the
// other side does: a timer of the context's own ends a wait in which nothing else comes.
template <typename Done>
void RunUntil(GMainContext* context, Done done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    GSource* tick = g_timeout_source_new(50);
    g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    while (!done() && Clock::now() < deadline)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
}

} // namespace

// libnm's answers, handed back to the card. A cancelled request (the service stops) touches
// nothing but the count of requests under way.
struct NmCallbacks {
    static void Written(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto& card = *static_cast<NetworkManagerCard*>(data);
        --card.inFlight_;
        GError* error = nullptr;
        GObjectRef<NMRemoteConnection> remote;
        if (NM_IS_CLIENT(source)) {
            remote.reset(nm_client_add_connection2_finish(NM_CLIENT(source), result, nullptr, &error));
        } else if (GVariant* out = nm_remote_connection_update2_finish(NM_REMOTE_CONNECTION(source), result, &error)) {
            g_variant_unref(out);
            remote = ShareGObject(NM_REMOTE_CONNECTION(source));
        }
        if (error != nullptr) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                card.Refused(card.owner_.user.empty() ? kModifySystem : kModifyOwn, "writing the service's profile",
                             error->message, IsPermissionError(error));
            }
            g_error_free(error);
            return;
        }
        card.Activate(remote.get());
    }

    static void Activated(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto& card = *static_cast<NetworkManagerCard*>(data);
        --card.inFlight_;
        GError* error = nullptr;
        GObjectRef<NMActiveConnection> active(nm_client_activate_connection_finish(NM_CLIENT(source), result, &error));
        if (error != nullptr) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                card.Refused(kNetworkControl, "activating the service's profile", error->message,
                             IsPermissionError(error));
            }
            g_error_free(error);
            return;
        }
        card.watched_ = std::move(active);
        card.watchedState_ = -1;
        card.watchedReached_ = false;
        card.log_.Detail("NetworkManager is activating the service's profile");
    }

    static void Scanned(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto& card = *static_cast<NetworkManagerCard*>(data);
        --card.inFlight_;
        GError* error = nullptr;
        // Refused or not, NetworkManager scans on its own too: the wait for a scan goes on.
        if (!nm_device_wifi_request_scan_finish(NM_DEVICE_WIFI(source), result, &error)) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
                card.log_.Detail(std::string("NetworkManager did not scan when asked: ") + error->message);
            g_error_free(error);
        }
    }

    static void Deactivated(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto& card = *static_cast<NetworkManagerCard*>(data);
        --card.inFlight_;
        GError* error = nullptr;
        nm_client_deactivate_connection_finish(NM_CLIENT(source), result, &error);
        if (error != nullptr) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                card.Refused(kNetworkControl, "leaving the network", error->message, IsPermissionError(error));
            }
            g_error_free(error);
            return;
        }
    }
};

NetworkManagerCard::NetworkManagerCard(CardOptions options, StationConfig config, WepSettings wep, Log& log)
    : options_(std::move(options)), config_(std::move(config)), wep_(wep), log_(log),
      cancellable_(g_cancellable_new())
{
    owner_.uuid = ProfileUuid(getuid(), options_.interface);
    owner_.interface = options_.interface;
    owner_.user = UserName();
    nl80211_ = Nl80211::Open(nlError_);
    mask_ = options_.FallbackMask();
    OpenClient(Millis{0});
}

NetworkManagerCard::~NetworkManagerCard()
{
    Shutdown();
}

void NetworkManagerCard::OpenClient(Millis now)
{
    // A connection of the client's own rather than GLib's shared one: GLib ends a process
    // whose shared system bus goes away, and keeps handing out the closed one after. The
    // service rather waits for the bus to come back, as it waits for NetworkManager.
    GError* error = nullptr;
    char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    GObjectRef<GDBusConnection> bus(
        address == nullptr ? nullptr
                           : g_dbus_connection_new_for_address_sync(
                                 address,
                                 static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                 nullptr, nullptr, &error));
    g_free(address);
    if (bus)
        client_.reset(static_cast<NMClient*>(
            g_initable_new(NM_TYPE_CLIENT, nullptr, &error, NM_CLIENT_DBUS_CONNECTION, bus.get(), nullptr)));
    if (error != nullptr) {
        clientError_ = std::string("no system bus to reach NetworkManager on (") + error->message + ")";
        g_error_free(error);
        client_.reset();
        nextClient_ = now + kClientRetry;
    }
}

bool NetworkManagerCard::BusLost(Millis now)
{
    if (!client_ || !g_dbus_connection_is_closed(nm_client_get_dbus_connection(client_.get())))
        return false;
    clientError_ = "the system bus went away";
    client_.reset();
    watched_.reset();
    nextClient_ = now + kClientRetry;
    return true;
}

NmPresence NetworkManagerCard::Presence() const
{
    NmPresence presence;
    presence.bus = client_ != nullptr;
    presence.running = client_ && nm_client_get_nm_running(client_.get());
    NMDevice* device = presence.running ? nm_client_get_device_by_iface(client_.get(), options_.interface.c_str()) : nullptr;
    presence.device = device != nullptr;
    presence.wifi = device != nullptr && NM_IS_DEVICE_WIFI(device);
    presence.managed = device != nullptr && nm_device_get_state(device) > NM_DEVICE_STATE_UNMANAGED;
    return presence;
}

NMDevice* NetworkManagerCard::UsableDevice(std::string& reason) const
{
    if (!client_) {
        reason = clientError_;
        return nullptr;
    }
    if (!nm_client_get_nm_running(client_.get())) {
        reason = "NetworkManager is not running";
        return nullptr;
    }
    NMDevice* device = nm_client_get_device_by_iface(client_.get(), options_.interface.c_str());
    // A card pulled out passes through NetworkManager's unmanaged state on its way out: the
    // interface's absence is the reason to name then.
    if (device == nullptr || if_nametoindex(options_.interface.c_str()) == 0) {
        reason = device == nullptr ? "NetworkManager has no device " + options_.interface
                                   : "no interface " + options_.interface;
        return nullptr;
    }
    if (!NM_IS_DEVICE_WIFI(device)) {
        reason = options_.interface + " is not a Wi-Fi device to NetworkManager";
        return nullptr;
    }
    switch (nm_device_get_state(device)) {
    case NM_DEVICE_STATE_UNKNOWN:
    case NM_DEVICE_STATE_UNMANAGED:
        reason = "NetworkManager does not manage " + options_.interface + " (nmcli device set " +
                 options_.interface + " managed yes)";
        return nullptr;
    case NM_DEVICE_STATE_UNAVAILABLE:
        reason = options_.interface + " is unavailable to NetworkManager (Wi-Fi switched off, or not ready)";
        return nullptr;
    default:
        return device;
    }
}

void NetworkManagerCard::GoOut(const std::string& reason)
{
    link_ = LinkInfo{};
    watched_.reset();
    retryCheckAt_.reset();
    if (card_ == Card::In || !outSaid_)
        log_.Info("card out: " + reason + "; waiting for NetworkManager to offer the card");
    else if (reason != outReason_)
        log_.Detail("still out: " + reason);
    outSaid_ = true;
    outReason_ = reason;
    card_ = Card::Out;
}

void NetworkManagerCard::ComeIn(Millis now)
{
    card_ = Card::In;
    outReason_.clear();
    const char* version = nm_client_get_version(client_.get());
    log_.Info("card in: " + options_.interface + ", managed by NetworkManager " + (version != nullptr ? version : "") +
              "; the service's profile is " + owner_.uuid);
    RefreshMask();
    nextLook_ = now + kLookPeriod;
    // Like a card put in: the settings are applied again.
    applyAt_ = now;
    retries_ = kRetries;
}

bool NetworkManagerCard::ApplyDue(Millis now) const
{
    return applyAt_ && *applyAt_ <= now && inFlight_ == 0 && card_ == Card::In;
}

void NetworkManagerCard::Evaluate(Millis now)
{
    std::string reason;
    NMDevice* device = UsableDevice(reason);
    if (device == nullptr) {
        if (card_ == Card::In || outReason_ != reason || !outSaid_)
            GoOut(reason);
        return;
    }
    if (card_ == Card::Out)
        ComeIn(now);
    WatchActivation(now);
    RetryIfNobodyElse(device, now);
    if (waitedScan_ && nm_device_wifi_get_last_scan(NM_DEVICE_WIFI(device)) > *waitedScan_)
        applyAt_ = now;
    if (ApplyDue(now))
        StartApply(device);
}

std::string NetworkManagerCard::StrongestHeardName(NMDevice* device) const
{
    // An empty name means the strongest network the keys fit, as for the supplicant backend:
    // without WEP an open one, with WEP one that asks for WEP and nothing newer.
    const bool wantWep = wep_.wepReq != service::kWepOff;
    const GPtrArray* points = nm_device_wifi_get_access_points(NM_DEVICE_WIFI(device));
    std::string name;
    int strongest = -1;
    for (guint i = 0; points != nullptr && i < points->len; ++i) {
        auto* point = static_cast<NMAccessPoint*>(g_ptr_array_index(points, i));
        GBytes* ssid = nm_access_point_get_ssid(point);
        const bool privacy = (nm_access_point_get_flags(point) & NM_802_11_AP_FLAGS_PRIVACY) != 0;
        const bool newer = nm_access_point_get_wpa_flags(point) != NM_802_11_AP_SEC_NONE
                        || nm_access_point_get_rsn_flags(point) != NM_802_11_AP_SEC_NONE;
        if (ssid == nullptr || g_bytes_get_size(ssid) == 0 || nm_access_point_get_mode(point) != NM_802_11_MODE_INFRA
            || nm_access_point_get_frequency(point) > kLastBgMhz || privacy != wantWep || newer
            || nm_access_point_get_strength(point) <= strongest)
            continue;
        strongest = nm_access_point_get_strength(point);
        gsize size = 0;
        const auto* bytes = static_cast<const char*>(g_bytes_get_data(ssid, &size));
        name.assign(bytes, size);
    }
    return name;
}

bool NetworkManagerCard::OursActive(NMDevice* device) const
{
    NMActiveConnection* active = nm_device_get_active_connection(device);
    const char* uuid = active != nullptr ? nm_active_connection_get_uuid(active) : nullptr;
    return uuid != nullptr && owner_.uuid == uuid;
}

void NetworkManagerCard::StartApply(NMDevice* device)
{
    applyAt_.reset();
    waitedScan_.reset();
    // The activation under way, if any, gives way to this one: its end is ours, not a failure.
    watched_.reset();
    watchedReached_ = false;
    retryCheckAt_.reset();
    StationConfig config = config_;
    if (config.name.empty() && config.networkType != service::kPeerToPeer) {
        config.name = StrongestHeardName(device);
        if (config.name.empty() && !Refusal(config, wep_)) {
            log_.Info("no network that the settings fit is heard yet: joining the strongest one after the next scan");
            waitedScan_ = nm_device_wifi_get_last_scan(NM_DEVICE_WIFI(device));
            ++inFlight_;
            nm_device_wifi_request_scan_async(NM_DEVICE_WIFI(device), cancellable_.get(), &NmCallbacks::Scanned, this);
            return;
        }
        log_.Detail("the strongest network heard that the settings fit: \"" + config.name + "\"");
    }
    const Profile profile = BuildProfile(owner_, config, wep_);
    if (!profile.connection) {
        log_.Warn("settings refused: " + profile.refusal + "; the card stays unassociated");
        refused_ = true;
        if (OursActive(device))
            Deactivate(nm_device_get_active_connection(device));
        return;
    }
    refused_ = false;
    SayRatesOnce();
    GVariant* settings = nm_connection_to_dbus(profile.connection.get(), NM_CONNECTION_SERIALIZE_ALL);
    NMRemoteConnection* remote = nm_client_get_connection_by_uuid(client_.get(), owner_.uuid.c_str());
    ++inFlight_;
    // In memory only: NetworkManager forgets it when it stops, and nothing of the keys goes to
    // its disk; the service writes it again whenever it starts or the card comes back.
    if (remote != nullptr)
        nm_remote_connection_update2(remote, settings, NM_SETTINGS_UPDATE2_FLAG_IN_MEMORY_ONLY, nullptr,
                                     cancellable_.get(), &NmCallbacks::Written, this);
    else
        nm_client_add_connection2(client_.get(), settings, NM_SETTINGS_ADD_CONNECTION2_FLAG_IN_MEMORY, nullptr, TRUE,
                                  cancellable_.get(), &NmCallbacks::Written, this);
}

void NetworkManagerCard::Activate(void* remote)
{
    std::string reason;
    NMDevice* device = UsableDevice(reason);
    if (device == nullptr || remote == nullptr) {
        // The card went out meanwhile: it is applied again when it comes back.
        return;
    }
    ++inFlight_;
    nm_client_activate_connection_async(client_.get(), NM_CONNECTION(remote), device, nullptr, cancellable_.get(),
                                        &NmCallbacks::Activated, this);
}

void NetworkManagerCard::Deactivate(NMActiveConnection* active)
{
    ++inFlight_;
    nm_client_deactivate_connection_async(client_.get(), active, cancellable_.get(), &NmCallbacks::Deactivated, this);
}

void NetworkManagerCard::WatchActivation(Millis now)
{
    if (!watched_)
        return;
    const NMActiveConnectionState state = nm_active_connection_get_state(watched_.get());
    if (static_cast<int>(state) == watchedState_)
        return;
    watchedState_ = static_cast<int>(state);
    if (state == NM_ACTIVE_CONNECTION_STATE_ACTIVATED) {
        watchedReached_ = true;
        log_.Info("NetworkManager has brought the service's profile up");
        return;
    }
    if (state != NM_ACTIVE_CONNECTION_STATE_DEACTIVATED)
        return;
    const auto reason = nm_active_connection_get_state_reason(watched_.get());
    downReason_ = EnumName(NM_TYPE_ACTIVE_CONNECTION_STATE_REASON, static_cast<int>(reason));
    watched_.reset();
    // NetworkManager gives a network one attempt of about 25 s, where the supplicant backend's
    // supplicant keeps trying: an activation that never came up is asked again once per Apply,
    // unless the person ended it ("Disconnect") or brought up another network meanwhile,
    // which the device shows a moment later.
    if (!watchedReached_ && retries_ > 0 && reason != NM_ACTIVE_CONNECTION_STATE_REASON_USER_DISCONNECTED) {
        retryCheckAt_ = now + kRetryGrace;
        return;
    }
    SayDown();
}

void NetworkManagerCard::RetryIfNobodyElse(NMDevice* device, Millis now)
{
    if (!retryCheckAt_ || now < *retryCheckAt_)
        return;
    retryCheckAt_.reset();
    if (nm_device_get_active_connection(device) != nullptr) {
        SayDown();
        return;
    }
    --retries_;
    log_.Info("NetworkManager gave the service's profile up (" + downReason_ + "); asking it once more");
    applyAt_ = now;
}

void NetworkManagerCard::SayDown()
{
    // A wrong key, a network gone, or the person's own choice in the desktop's menu: said
    // once, and left as it is until the next Apply.
    log_.Info("NetworkManager took the service's profile down (" + downReason_ +
              "); the card stays as NetworkManager has it until the next Apply");
}

void NetworkManagerCard::SayRatesOnce()
{
    if (ratesSaid_ || (config_.txRate & kAllRates) == kAllRates)
        return;
    ratesSaid_ = true;
    log_.Info("NetworkManager has no transmit-rate setting: the rate set " + std::to_string(config_.txRate) +
              " is kept for the utility and the driver chooses the rates (see the README)");
}

void NetworkManagerCard::Refused(const std::string& action, const std::string& what, const std::string& message,
                                 bool permission)
{
    if (permission)
        log_.Warn("NetworkManager refused " + action + " (" + what + "): " + message +
                  "; start the service from your own desktop session (systemctl --user start wlan-connectd@" +
                  options_.interface + " while logged in at the machine), or see the README for a polkit rule");
    else
        log_.Warn("NetworkManager refused " + what + ": " + message);
}

bool NetworkManagerCard::TakeConfig(const StationConfig& config, Millis now)
{
    if (config == config_ && !refused_) {
        // An Apply of the same settings still takes the card back when it serves another
        // network (the person picked one in the desktop's menu) or none.
        std::string reason;
        NMDevice* device = card_ == Card::In ? UsableDevice(reason) : nullptr;
        if (device != nullptr && inFlight_ == 0 && !OursActive(device)) {
            log_.Info("Apply: joining again with the service's profile");
            applyAt_ = now + kSettle;
            retries_ = kRetries;
        }
        return false;
    }
    config_ = config;
    applyAt_ = now + kSettle;
    retries_ = kRetries;
    return true;
}

bool NetworkManagerCard::TakeWep(const WepSettings& wep, Millis now)
{
    if (wep == wep_ && !refused_)
        return false;
    wep_ = wep;
    applyAt_ = now + kSettle;
    retries_ = kRetries;
    return true;
}

LinkInfo NetworkManagerCard::Link()
{
    // Measured at the next step, which the loop runs at once: asked every 250 ms, the block
    // shows a measurement at most one step old.
    linkWanted_ = true;
    return link_;
}

std::vector<pollfd> NetworkManagerCard::WaitFds(Millis now, Millis& due)
{
    std::vector<pollfd> fds;
    main_.Prepare(fds, now, due);
    if (linkWanted_)
        due = std::min(due, now);
    if (applyAt_ && inFlight_ == 0 && card_ == Card::In)
        due = std::min(due, *applyAt_);
    if (retryCheckAt_)
        due = std::min(due, *retryCheckAt_);
    if (!client_)
        due = std::min(due, nextClient_);
    if (card_ == Card::In)
        due = std::min(due, nextLook_);
    return fds;
}

void NetworkManagerCard::Step(std::span<const pollfd> fds, Millis now)
{
    if (shutDown_)
        return;
    // Said at the first step, once this card serves: the backend choice may have made it and
    // let it go.
    if (!nl80211_ && !nlError_.empty()) {
        log_.Start(nlError_ + "; the link shows the access point NetworkManager names, without signal figures");
        nlError_.clear();
    }
    main_.Dispatch(fds);
    if (!BusLost(now) && !client_ && now >= nextClient_)
        OpenClient(now);
    Evaluate(now);
    if (card_ == Card::In && now >= nextLook_) {
        nextLook_ = now + kLookPeriod;
        RefreshMask();
    }
    if (linkWanted_) {
        linkWanted_ = false;
        MeasureLink();
    }
}

void NetworkManagerCard::MeasureLink()
{
    LinkInfo link;
    const unsigned index = if_nametoindex(options_.interface.c_str());
    if (card_ != Card::In || index == 0) {
        link_ = link;
        return;
    }
    if (!nl80211_) {
        // Without nl80211, the access point NetworkManager names, and no signal figures.
        std::string reason;
        NMDevice* device = UsableDevice(reason);
        NMAccessPoint* point = device != nullptr ? nm_device_wifi_get_active_access_point(NM_DEVICE_WIFI(device)) : nullptr;
        const char* bssid = point != nullptr ? nm_access_point_get_bssid(point) : nullptr;
        if (const auto parsed = bssid != nullptr ? service::ParseBssid(bssid) : std::nullopt) {
            link.associated = true;
            link.bssid = *parsed;
            link.channel = ChannelFromFrequency(static_cast<int>(nm_access_point_get_frequency(point))).value_or(0);
            link.rate = RateCode(static_cast<int>(nm_access_point_get_max_bitrate(point) / 1000));
        }
        link_ = link;
        return;
    }
    const auto joined = nl80211_->Associated(index);
    if (!joined) {
        link_ = link;
        return;
    }
    link.associated = true;
    link.bssid = joined->bssid;
    link.channel = ChannelFromFrequency(joined->frequency).value_or(0);
    // Station mode knows one station, the access point; a cell knows its members, the
    // strongest of which is the signal, as under the supplicant backend.
    const auto signal = nl80211_->StrongestPeerSignal(index);
    const auto rate = nl80211_->FastestPeerTxRate(index);
    link.rate = rate ? RateCode(*rate / 10) : 0;
    if (link.rate == 0)
        link.rate = kRate11;
    if (signal) {
        link.strength = Strength(*signal);
        link.quality = Quality(*signal, nl80211_->NoiseInUse(index));
    }
    link_ = link;
}

void NetworkManagerCard::RefreshMask()
{
    const unsigned index = if_nametoindex(options_.interface.c_str());
    const auto mask = nl80211_ && index != 0 ? nl80211_->UsableChannels(index) : std::nullopt;
    mask_ = mask.value_or(options_.FallbackMask());
}


void NetworkManagerCard::Stop()
{
    log_.Detail("stopping: the profile and the link stay with NetworkManager");
    Shutdown();
}

void NetworkManagerCard::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    g_cancellable_cancel(cancellable_.get());
    RunUntil(main_.Context(), [this] { return inFlight_ == 0; }, kStopLimit);
    if (!client_)
        return;
    // libnm keeps the context busy until the client's last D-Bus call is let go of; waiting
    // for that frees everything before the context goes.
    bool released = false;
    GObject* watcher = nm_client_get_context_busy_watcher(client_.get());
    const GWeakNotify notify = [](gpointer data, GObject*) { *static_cast<bool*>(data) = true; };
    g_object_weak_ref(watcher, notify, &released);
    watched_.reset();
    client_.reset();
    RunUntil(main_.Context(), [&released] { return released; }, kStopLimit);
    if (!released)
        g_object_weak_unref(watcher, notify, &released);
}

} // namespace connectd
