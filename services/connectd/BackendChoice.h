#pragma once
// Which card serves: NetworkManager's when it runs and manages the interface (a desktop), else
// the supplicant's control socket (a machine set up by hand). Chosen once at start and said
// once in the log with the reason.

#include "Log.h"
#include "PolledCard.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace connectd {

struct CardOptions;

enum class Backend { Auto, NetworkManager, Supplicant };

// "auto", "networkmanager" or "supplicant"; nothing for any other word.
std::optional<Backend> ParseBackend(std::string_view word);

// What the service learnt of NetworkManager and the interface at start.
struct NmPresence {
    bool bus = false;        // the system bus answered
    bool running = false;    // NetworkManager owns its name on it
    bool device = false;     // NetworkManager lists a device of the interface's name
    bool wifi = false;       // ... and it is a Wi-Fi device
    bool managed = false;    // ... and NetworkManager manages it (unavailable still counts)
};

struct BackendDecision {
    Backend backend = Backend::Supplicant;
    std::string reason;      // for the log: "backend: ... (reason)"
};

BackendDecision DecideBackend(Backend requested, const NmPresence& presence, bool interfaceExists,
                              std::string_view interface);

// The card that serves, its choice logged.
std::unique_ptr<PolledCard> ChooseCard(Backend requested, CardOptions options, service::StationConfig config,
                                       service::WepSettings wep, service::Log& log);

} // namespace connectd
