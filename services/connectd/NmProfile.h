#pragma once
// The one connection profile wlan-connectd keeps in NetworkManager for an interface and a
// user, built from the utility's settings. The meaning of each setting is the supplicant
// backend's (SupplicantText's NetworkCommands and Refusal): the same settings refused, the same
// network joined, the same authentication asked for. Built here without NetworkManager, so the
// mapping can be read back and checked on any machine.

#include "CardTypes.h"
#include "GObjectRef.h"

#include <string>
#include <string_view>

typedef struct _NMConnection NMConnection;

namespace connectd {

struct ProfileOwner {
    // Fixed for the user and the interface (ProfileUuid): a restarted service finds its
    // profile again by it, and never takes another one for its own.
    std::string uuid;
    std::string interface;
    // The only user who may see, change and use the profile; empty when the user has no name
    // (the profile is then everyone's, which NetworkManager allows only to an administrator).
    std::string user;
};

// A name-based UUID (version 5 layout) of the uid and the interface.
std::string ProfileUuid(unsigned uid, std::string_view interface);
// The profile's name as the desktop's network menu lists it.
std::string ProfileName(std::string_view interface);

struct Profile {
    GObjectRef<NMConnection> connection;   // null when refused
    std::string refusal;                   // the one log line saying why, when refused
};

// The profile for these settings. An access point with an empty name cannot be expressed (a
// profile needs a network name): the card puts the name of the network it chose in `config`
// first, and an empty one left there is refused.
Profile BuildProfile(const ProfileOwner& owner, const service::StationConfig& config,
                     const service::WepSettings& wep);

} // namespace connectd
