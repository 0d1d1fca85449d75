#pragma once
// `wlan-cardsim dump` and `wlan-cardsim watch`: the block of $WLAN_CONNECT_BLOCK (or
// /connect01) decoded, once or at every change.

#include "ExitCode.h"

#include <chrono>

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

class BlockMonitor {
public:
    static ExitCode Dump();
    // Until SIGINT or SIGTERM.
    static ExitCode Watch();

    static constexpr std::chrono::milliseconds kWatchPeriod{20};
};

} // namespace cardsim
