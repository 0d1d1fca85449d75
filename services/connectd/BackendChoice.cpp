#include "BackendChoice.h"

#include "NetworkManagerCard.h"
#include "SupplicantPolledCard.h"

#include <net/if.h>

namespace connectd {

std::optional<Backend> ParseBackend(std::string_view word)
{
    if (word == "auto")
        return Backend::Auto;
    if (word == "networkmanager")
        return Backend::NetworkManager;
    if (word == "supplicant")
        return Backend::Supplicant;
    return std::nullopt;
}

BackendDecision DecideBackend(Backend requested, const NmPresence& presence, bool interfaceExists,
                              std::string_view interface)
{
    const std::string name(interface);
    if (requested == Backend::NetworkManager)
        return {Backend::NetworkManager, "--backend networkmanager"};
    if (requested == Backend::Supplicant)
        return {Backend::Supplicant, "--backend supplicant"};
    if (!presence.bus)
        return {Backend::Supplicant, "no system bus to reach NetworkManager on"};
    if (!presence.running)
        return {Backend::Supplicant, "NetworkManager is not running"};
    if (presence.device && !presence.wifi)
        return {Backend::Supplicant, "NetworkManager does not see " + name + " as a Wi-Fi device"};
    if (presence.device && !presence.managed)
        return {Backend::Supplicant, "NetworkManager does not manage " + name};
    if (presence.device)
        return {Backend::NetworkManager, "NetworkManager runs and manages " + name};
    // An interface NetworkManager does not list although it exists is kept from it (another
    // network namespace, or its configuration leaves it out); one that is not there yet is a
    // card to come, which NetworkManager takes as it comes.
    if (interfaceExists)
        return {Backend::Supplicant, "NetworkManager does not list " + name};
    return {Backend::NetworkManager, "NetworkManager runs and " + name + " is not there yet"};
}

std::unique_ptr<PolledCard> ChooseCard(Backend requested, CardOptions options, service::StationConfig config,
                                       service::WepSettings wep, service::Log& log)
{
    std::unique_ptr<NetworkManagerCard> managed;
    BackendDecision decision{requested, {}};
    if (requested != Backend::Supplicant) {
        managed = std::make_unique<NetworkManagerCard>(options, config, wep, log);
        decision = DecideBackend(requested, managed->Presence(), if_nametoindex(options.interface.c_str()) != 0,
                                 options.interface);
    } else {
        decision = DecideBackend(requested, NmPresence{}, true, options.interface);
    }
    if (decision.backend == Backend::NetworkManager) {
        log.Start("backend: NetworkManager (" + decision.reason + ")");
        if (options.domain)
            log.Start("NetworkManager sets no country: --domain gives only the channels reported when the driver lists none");
        return managed;
    }
    managed.reset();
    log.Start("backend: the supplicant's control socket in " + options.ctrlDir.string() + " (" + decision.reason + ")");
    return std::make_unique<SupplicantPolledCard>(std::move(options), std::move(config), wep, log);
}

} // namespace connectd
