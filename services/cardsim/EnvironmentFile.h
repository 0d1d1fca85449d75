#pragma once
// The --environment file: a JSON object with a list of networks. The format is in the README
// ("The simulated card"); every mistake is reported with where it is and what was expected.
//
//   { "networks": [ { "name": "CafeNet", "bssid": "02:43:4E:00:00:01", "channel": 6,
//                     "type": "access-point", "wep": 0, "signal": 11, "drift": 2 } ] }

#include "RadioEnvironment.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cardsim {

class EnvironmentFile {
public:
    struct Result {
        std::optional<RadioEnvironment> environment;
        std::string error;   // set when environment is empty
    };
    struct NetworkResult {
        std::optional<Network> network;
        std::string error;
    };

    // Reads a regular file; anything else (a folder, a FIFO, a device) is refused with the reason.
    static Result Load(const std::filesystem::path& path);
    static Result Parse(std::string_view text);
    // One network object, as `ctl ap add` takes it.
    static NetworkResult ParseNetwork(std::string_view text);

    // No environment of a simulated card comes near this; a larger file is a mistake.
    static constexpr long kMaxFileSize = 4L * 1024 * 1024;
};

} // namespace cardsim
