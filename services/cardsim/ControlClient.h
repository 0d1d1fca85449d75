#pragma once
// The other end of the control socket: `wlan-cardsim ctl ...`.

#include "ControlSocket.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

class ControlClient {
public:
    // Sends one request and answers the reply; empty with `error` set when no simulator
    // answers on `path`.
    static std::optional<ControlReply> Send(const std::filesystem::path& path,
                                            const std::vector<std::string>& words, std::string& error);

    // How long a simulator may take to accept the connection, and then to answer.
    static constexpr std::chrono::milliseconds kConnectDeadline{2000};
    static constexpr std::chrono::milliseconds kReplyDeadline{5000};
};

} // namespace cardsim
