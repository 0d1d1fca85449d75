#include "NmProfile.h"

#include "SupplicantText.h"

#include <NetworkManager.h>

#include <array>
#include <cstdio>

namespace connectd {

using service::StationConfig;
using service::WepSettings;

namespace {

std::string HexKey(const uint8_t* bytes, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", bytes[i]);
        text += pair.data();
    }
    return text;
}

void AddConnectionSetting(NMConnection* connection, const ProfileOwner& owner)
{
    NMSetting* setting = nm_setting_connection_new();
    const std::string name = ProfileName(owner.interface);
    // Never brought up by NetworkManager on its own: the service activates it at start and on
    // each Apply, and a network the person picks in the desktop's menu stays picked.
    g_object_set(setting, NM_SETTING_CONNECTION_ID, name.c_str(), NM_SETTING_CONNECTION_UUID, owner.uuid.c_str(),
                 NM_SETTING_CONNECTION_TYPE, NM_SETTING_WIRELESS_SETTING_NAME, NM_SETTING_CONNECTION_INTERFACE_NAME,
                 owner.interface.c_str(), NM_SETTING_CONNECTION_AUTOCONNECT, FALSE, nullptr);
    // One user named: NetworkManager asks polkit for settings.modify.own rather than
    // .modify.system, hides the profile from other users, and takes the link down when this
    // user's last session ends.
    if (!owner.user.empty())
        nm_setting_connection_add_permission(NM_SETTING_CONNECTION(setting), "user", owner.user.c_str(), nullptr);
    nm_connection_add_setting(connection, setting);
}

void AddWirelessSetting(NMConnection* connection, const StationConfig& config)
{
    NMSetting* setting = nm_setting_wireless_new();
    const bool peerToPeer = config.networkType == service::kPeerToPeer;
    GBytes* ssid = g_bytes_new(config.name.data(), config.name.size());
    // Band bg keeps every mode on 2.4 GHz, where an 802.11b card lives. Power save enabled is
    // 2 in the registry; anything else leaves it off, as the supplicant backend's "SET ps".
    g_object_set(setting, NM_SETTING_WIRELESS_SSID, ssid, NM_SETTING_WIRELESS_MODE,
                 peerToPeer ? NM_SETTING_WIRELESS_MODE_ADHOC : NM_SETTING_WIRELESS_MODE_INFRA,
                 NM_SETTING_WIRELESS_BAND, "bg", NM_SETTING_WIRELESS_POWERSAVE,
                 static_cast<guint>(config.psMode == 2 ? NM_SETTING_WIRELESS_POWERSAVE_ENABLE
                                                       : NM_SETTING_WIRELESS_POWERSAVE_DISABLE),
                 nullptr);
    g_bytes_unref(ssid);
    // No `hidden`: NetworkManager has the supplicant probe for the name of every access-point
    // profile (scan_ssid 1), as the card did, so a network that hides its name is found
    // anyway; `hidden` would only add NetworkManager's own probing scans, every few minutes.
    if (peerToPeer)
        g_object_set(setting, NM_SETTING_WIRELESS_CHANNEL, static_cast<guint>(config.dsChannel), nullptr);
    nm_connection_add_setting(connection, setting);
}

void AddWepSetting(NMConnection* connection, const StationConfig& config, const WepSettings& wep)
{
    if (wep.wepReq == service::kWepOff)
        return;
    NMSetting* setting = nm_setting_wireless_security_new();
    auto* security = NM_SETTING_WIRELESS_SECURITY(setting);
    const bool peerToPeer = config.networkType == service::kPeerToPeer;
    // Our own keys as hex (key type 1): NetworkManager's passphrase type would hash a phrase
    // into a 128-bit key, which is not the utility's key generator. Shared-key authentication
    // with an access point, open system in a cell, as the supplicant backend says why.
    g_object_set(setting, NM_SETTING_WIRELESS_SECURITY_KEY_MGMT, "none", NM_SETTING_WIRELESS_SECURITY_AUTH_ALG,
                 peerToPeer ? "open" : "shared", NM_SETTING_WIRELESS_SECURITY_WEP_KEY_TYPE,
                 static_cast<int>(NM_WEP_KEY_TYPE_KEY), NM_SETTING_WIRELESS_SECURITY_WEP_KEY_FLAGS,
                 static_cast<guint>(NM_SETTING_SECRET_FLAG_NONE), nullptr);
    if (wep.wepReq == service::kWep64) {
        for (guint key = 0; key < 4; ++key)
            nm_setting_wireless_security_set_wep_key(security, key, HexKey(wep.keys.data() + key * 5, 5).c_str());
        g_object_set(setting, NM_SETTING_WIRELESS_SECURITY_WEP_TX_KEYIDX, static_cast<guint>(wep.defaultKeyId - 1),
                     nullptr);
    } else {
        nm_setting_wireless_security_set_wep_key(security, 0, HexKey(wep.keys.data(), 13).c_str());
        g_object_set(setting, NM_SETTING_WIRELESS_SECURITY_WEP_TX_KEYIDX, 0u, nullptr);
    }
    nm_connection_add_setting(connection, setting);
}

void AddAddressSettings(NMConnection* connection, const StationConfig& config)
{
    // An access point's network hands out addresses; a peer-to-peer cell has no server, so
    // link-local addresses there, or the activation would wait for DHCP, fail and leave the
    // cell.
    const bool peerToPeer = config.networkType == service::kPeerToPeer;
    NMSetting* ip4 = nm_setting_ip4_config_new();
    g_object_set(ip4, NM_SETTING_IP_CONFIG_METHOD,
                 peerToPeer ? NM_SETTING_IP4_CONFIG_METHOD_LINK_LOCAL : NM_SETTING_IP4_CONFIG_METHOD_AUTO, nullptr);
    nm_connection_add_setting(connection, ip4);
    NMSetting* ip6 = nm_setting_ip6_config_new();
    g_object_set(ip6, NM_SETTING_IP_CONFIG_METHOD,
                 peerToPeer ? NM_SETTING_IP6_CONFIG_METHOD_LINK_LOCAL : NM_SETTING_IP6_CONFIG_METHOD_AUTO, nullptr);
    nm_connection_add_setting(connection, ip6);
}

} // namespace

std::string ProfileUuid(unsigned uid, std::string_view interface)
{
    const std::string seed = "wlan-connectd/" + std::to_string(uid) + "/" + std::string(interface);
    std::array<guint8, 20> digest{};
    gsize length = digest.size();
    GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA1);
    g_checksum_update(checksum, reinterpret_cast<const guchar*>(seed.data()), static_cast<gssize>(seed.size()));
    g_checksum_get_digest(checksum, digest.data(), &length);
    g_checksum_free(checksum);
    digest[6] = static_cast<guint8>((digest[6] & 0x0F) | 0x50);   // version 5: from a name
    digest[8] = static_cast<guint8>((digest[8] & 0x3F) | 0x80);   // the RFC 4122 variant
    std::string hex = HexKey(digest.data(), 16);
    for (size_t at : {8u, 13u, 18u, 23u})
        hex.insert(at, "-");
    return hex;
}

std::string ProfileName(std::string_view interface)
{
    return "WLAN Utility (" + std::string(interface) + ")";
}

Profile BuildProfile(const ProfileOwner& owner, const StationConfig& config, const WepSettings& wep)
{
    Profile profile;
    if (const auto refusal = Refusal(config, wep)) {
        profile.refusal = *refusal;
        return profile;
    }
    if (config.name.empty()) {
        profile.refusal = "no network without a name heard yet to join: not applied";
        return profile;
    }
    GObjectRef<NMConnection> connection(nm_simple_connection_new());
    AddConnectionSetting(connection.get(), owner);
    AddWirelessSetting(connection.get(), config);
    AddWepSetting(connection.get(), config, wep);
    AddAddressSettings(connection.get(), config);
    GError* error = nullptr;
    if (!nm_connection_verify(connection.get(), &error)) {
        profile.refusal = std::string("NetworkManager would not take the profile: ") + error->message;
        g_error_free(error);
        return profile;
    }
    profile.connection = std::move(connection);
    return profile;
}

} // namespace connectd
