// The NetworkManager backend on this machine, with no NetworkManager running: the profile the
// utility's settings become, read back after the trip through the D-Bus form NetworkManager
// receives, against the meaning the supplicant backend gives the same settings; the choice of
// backend from what is found at start; and libnm's main context run by a poll() of our own.
#include "BackendChoice.h"
#include "MainContextPoll.h"
#include "NmProfile.h"
#include "SupplicantText.h"

#include <NetworkManager.h>
#include <glib-unix.h>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace connectd;
using service::StationConfig;
using service::WepSettings;

namespace {

ProfileOwner Owner()
{
    return {ProfileUuid(1000, "wlan0"), "wlan0", "me"};
}

StationConfig Config(uint16_t networkType, std::string name, uint16_t psMode = 1)
{
    StationConfig config;
    config.networkType = networkType;
    config.name = std::move(name);
    config.psMode = psMode;
    config.dsChannel = 3;
    return config;
}

WepSettings Wep(uint8_t mode, uint8_t defaultKeyId = 1)
{
    WepSettings wep;
    wep.wepReq = mode;
    wep.defaultKeyId = defaultKeyId;
    for (size_t i = 0; i < wep.keys.size(); ++i)
        wep.keys[i] = static_cast<uint8_t>(0x8d + 7 * i);
    return wep;
}

// The profile as NetworkManager would receive it: serialised with its keys and read back.
GObjectRef<NMConnection> Received(const StationConfig& config, const WepSettings& wep)
{
    const Profile profile = BuildProfile(Owner(), config, wep);
    EXPECT_TRUE(profile.connection) << profile.refusal;
    if (!profile.connection)
        return nullptr;
    GError* error = nullptr;
    GVariant* wire = g_variant_ref_sink(nm_connection_to_dbus(profile.connection.get(), NM_CONNECTION_SERIALIZE_ALL));
    GObjectRef<NMConnection> back(nm_simple_connection_new_from_dbus(wire, &error));
    g_variant_unref(wire);
    EXPECT_EQ(error, nullptr) << error->message;
    if (error != nullptr)
        g_error_free(error);
    return back;
}

std::string Ssid(NMConnection* connection)
{
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(
        g_bytes_get_data(nm_setting_wireless_get_ssid(nm_connection_get_setting_wireless(connection)), &size));
    return std::string(bytes, size);
}

// The hex key the supplicant backend sets for key `index` of these settings.
std::string SupplicantKey(const StationConfig& config, const WepSettings& wep, int index)
{
    const std::string prefix = "SET_NETWORK 0 wep_key" + std::to_string(index) + " ";
    for (const std::string& command : NetworkCommands(0, config, wep))
        if (command.starts_with(prefix))
            return command.substr(prefix.size());
    return {};
}

} // namespace

TEST(NetworkManagerProfile, CarriesEachSettingAsTheSupplicantBackendMeansIt)
{
    // An access point, 64-bit WEP with key 3, power save on, a name with bytes beyond ASCII.
    const StationConfig harbour = Config(service::kAccessPoint, "Harbour\x01\xe9", 2);
    const WepSettings wep64 = Wep(service::kWep64, 3);
    const auto ap = Received(harbour, wep64);
    ASSERT_TRUE(ap);
    NMSettingConnection* identity = nm_connection_get_setting_connection(ap.get());
    EXPECT_STREQ(nm_setting_connection_get_uuid(identity), Owner().uuid.c_str());
    EXPECT_STREQ(nm_setting_connection_get_interface_name(identity), "wlan0");
    EXPECT_FALSE(nm_setting_connection_get_autoconnect(identity));
    ASSERT_EQ(nm_setting_connection_get_num_permissions(identity), 1u);
    const char* user = nullptr;
    nm_setting_connection_get_permission(identity, 0, nullptr, &user, nullptr);
    EXPECT_STREQ(user, "me");
    NMSettingWireless* wireless = nm_connection_get_setting_wireless(ap.get());
    EXPECT_EQ(Ssid(ap.get()), harbour.name);
    EXPECT_STREQ(nm_setting_wireless_get_mode(wireless), "infrastructure");
    EXPECT_STREQ(nm_setting_wireless_get_band(wireless), "bg");
    EXPECT_EQ(nm_setting_wireless_get_powersave(wireless), NM_SETTING_WIRELESS_POWERSAVE_ENABLE);
    NMSettingWirelessSecurity* security = nm_connection_get_setting_wireless_security(ap.get());
    ASSERT_NE(security, nullptr);
    EXPECT_STREQ(nm_setting_wireless_security_get_key_mgmt(security), "none");
    EXPECT_STREQ(nm_setting_wireless_security_get_auth_alg(security), "shared");
    EXPECT_EQ(nm_setting_wireless_security_get_wep_key_type(security), NM_WEP_KEY_TYPE_KEY);
    EXPECT_EQ(nm_setting_wireless_security_get_wep_tx_keyidx(security), 2u);
    for (guint key = 0; key < 4; ++key)
        EXPECT_EQ(nm_setting_wireless_security_get_wep_key(security, key), SupplicantKey(harbour, wep64, key)) << key;
    EXPECT_STREQ(nm_setting_ip_config_get_method(nm_connection_get_setting_ip4_config(ap.get())), "auto");

    // A peer-to-peer cell: ad-hoc on DSChannel in the 2.4 GHz band, open system, link-local
    // addresses; the 128-bit key as key 0; power save off.
    const StationConfig cell = Config(service::kPeerToPeer, "Ferry");
    const WepSettings wep128 = Wep(service::kWep128, 4);
    const auto adhoc = Received(cell, wep128);
    ASSERT_TRUE(adhoc);
    wireless = nm_connection_get_setting_wireless(adhoc.get());
    EXPECT_STREQ(nm_setting_wireless_get_mode(wireless), "adhoc");
    EXPECT_EQ(nm_setting_wireless_get_channel(wireless), 3u);
    EXPECT_STREQ(nm_setting_wireless_get_band(wireless), "bg");
    EXPECT_EQ(nm_setting_wireless_get_powersave(wireless), NM_SETTING_WIRELESS_POWERSAVE_DISABLE);
    security = nm_connection_get_setting_wireless_security(adhoc.get());
    ASSERT_NE(security, nullptr);
    EXPECT_STREQ(nm_setting_wireless_security_get_auth_alg(security), "open");
    EXPECT_EQ(nm_setting_wireless_security_get_wep_key(security, 0), SupplicantKey(cell, wep128, 0));
    EXPECT_EQ(std::string(nm_setting_wireless_security_get_wep_key(security, 0)).size(), 26u);
    EXPECT_EQ(nm_setting_wireless_security_get_wep_tx_keyidx(security), 0u);
    EXPECT_STREQ(nm_setting_ip_config_get_method(nm_connection_get_setting_ip4_config(adhoc.get())), "link-local");

    // Auto joins access points; WEP off leaves no security at all; 32 bytes is the longest name.
    const auto open = Received(Config(service::kAutoNetworkType, std::string(32, 'n')), Wep(service::kWepOff));
    ASSERT_TRUE(open);
    EXPECT_STREQ(nm_setting_wireless_get_mode(nm_connection_get_setting_wireless(open.get())), "infrastructure");
    EXPECT_EQ(nm_connection_get_setting_wireless_security(open.get()), nullptr);
}

TEST(NetworkManagerProfile, RefusesWhatTheSupplicantBackendRefusesAndANameItMustChooseItself)
{
    const std::vector<std::pair<StationConfig, WepSettings>> refused = {
        {Config(service::kAccessPoint, std::string(33, 'n')), Wep(service::kWepOff)},
        {Config(service::kAccessPoint, "Harbour"), Wep(service::kWep64, 5)},
        {Config(service::kPeerToPeer, ""), Wep(service::kWepOff)},
        {Config(7, "Harbour"), Wep(service::kWepOff)},
    };
    for (const auto& [config, wep] : refused) {
        const Profile profile = BuildProfile(Owner(), config, wep);
        EXPECT_FALSE(profile.connection);
        EXPECT_EQ(profile.refusal, Refusal(config, wep).value_or("accepted by the supplicant backend"));
    }
    StationConfig farChannel = Config(service::kPeerToPeer, "Ferry");
    farChannel.dsChannel = 15;
    EXPECT_FALSE(BuildProfile(Owner(), farChannel, Wep(service::kWepOff)).connection);
    // An empty name with an access point is the strongest network heard, which the card picks.
    EXPECT_FALSE(BuildProfile(Owner(), Config(service::kAccessPoint, ""), Wep(service::kWepOff)).connection);
}

TEST(NetworkManagerProfile, TheUuidIsTheSameForTheUserAndInterfaceAndNoOther)
{
    const std::string uuid = ProfileUuid(1000, "wlan0");
    // NetworkManager checks the form when the profile is built (above); this is a name-based one.
    ASSERT_EQ(uuid.size(), 36u);
    EXPECT_EQ(uuid[14], '5') << uuid;
    EXPECT_EQ(uuid, ProfileUuid(1000, "wlan0"));
    EXPECT_NE(uuid, ProfileUuid(1001, "wlan0"));
    EXPECT_NE(uuid, ProfileUuid(1000, "wlan1"));
}

TEST(BackendChoice, AutoTakesNetworkManagerOnlyWhereItManagesTheInterface)
{
    const auto choose = [](NmPresence presence, bool exists = true) {
        return DecideBackend(Backend::Auto, presence, exists, "wlan0").backend;
    };
    EXPECT_EQ(choose({true, true, true, true, true}), Backend::NetworkManager);
    // A card not plugged in yet goes to NetworkManager when it runs, as it will take the card.
    EXPECT_EQ(choose({true, true, false, false, false}, false), Backend::NetworkManager);
    EXPECT_EQ(choose({false, false, false, false, false}), Backend::Supplicant);
    EXPECT_EQ(choose({true, false, false, false, false}, false), Backend::Supplicant);
    EXPECT_EQ(choose({true, true, true, true, false}), Backend::Supplicant);
    EXPECT_EQ(choose({true, true, true, false, true}), Backend::Supplicant);
    EXPECT_EQ(choose({true, true, false, false, false}, true), Backend::Supplicant);
    const BackendDecision unmanaged = DecideBackend(Backend::Auto, {true, true, true, true, false}, true, "wlan0");
    EXPECT_EQ(unmanaged.reason, "NetworkManager does not manage wlan0");
    // Asked for by name, a backend is taken whatever is found.
    EXPECT_EQ(DecideBackend(Backend::NetworkManager, {}, true, "wlan0").backend, Backend::NetworkManager);
    EXPECT_EQ(DecideBackend(Backend::Supplicant, {true, true, true, true, true}, true, "wlan0").backend,
              Backend::Supplicant);
    EXPECT_EQ(ParseBackend("networkmanager"), Backend::NetworkManager);
    EXPECT_FALSE(ParseBackend("NetworkManager"));
}

TEST(MainContextPoll, ThePollWaitsForTheContextsDescriptorsAndTimersAndDispatchesWhatIsReady)
{
    using service::Millis;
    connectd::MainContextPoll main;
    int fired = 0;
    const auto count = [](gpointer data) -> gboolean {
        ++*static_cast<int*>(data);
        return G_SOURCE_REMOVE;
    };
    // A timer of the context's own lowers the loop's deadline to it, and nothing runs early.
    GSource* timer = g_timeout_source_new(30000);
    g_source_set_callback(timer, count, &fired, nullptr);
    g_source_attach(timer, main.Context());
    Millis due{600000};
    std::vector<pollfd> fds;
    main.Prepare(fds, Millis{1000}, due);
    EXPECT_GT(due, Millis{1000});
    EXPECT_LE(due, Millis{31000});
    main.Dispatch(fds);
    EXPECT_EQ(fired, 0);

    // A descriptor the context watches is among those the loop polls; once it is readable,
    // the step after the poll runs its source.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    int read = 0;
    GSource* readable = g_unix_fd_source_new(pipeFds[0], G_IO_IN);
    const GUnixFDSourceFunc onReadable = [](int, GIOCondition, gpointer data) -> gboolean {
        ++*static_cast<int*>(data);
        return G_SOURCE_REMOVE;
    };
    g_source_set_callback(readable, G_SOURCE_FUNC(onReadable), &read, nullptr);
    g_source_attach(readable, main.Context());
    ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
    fds.clear();
    due = Millis{600000};
    main.Prepare(fds, Millis{0}, due);
    ASSERT_TRUE(std::any_of(fds.begin(), fds.end(), [&](const pollfd& fd) { return fd.fd == pipeFds[0]; }));
    // Bounded: the pipe is readable already, so the poll returns at once.
    ASSERT_GT(poll(fds.data(), fds.size(), 10000), 0);
    main.Dispatch(fds);
    EXPECT_EQ(read, 1);

    g_source_destroy(timer);
    g_source_unref(timer);
    g_source_unref(readable);
    close(pipeFds[0]);
    close(pipeFds[1]);
}
