#pragma once
// What `wlan-cardsim ctl ...` can ask of a running simulator:
//   card out | card in
//   signal N [NAME|BSSID]      fix a signal at N (0..15): the joined network's, or the named one's
//   signal auto [NAME|BSSID]   let it wander again from where it is
//   ap add JSON                add a network, given as in the --environment file
//   ap remove NAME|BSSID
//   status

#include "BlockService.h"
#include "ControlSocket.h"
#include "RadioEnvironment.h"
#include "Random.h"
#include "Station.h"

#include <string>
#include <vector>

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

// A warning when the domain forbids the network's channel, else empty. Such a network is kept
// (an environment may well describe a neighbour abroad), but the card never joins it.
std::string ChannelWarning(const Network& network, const RegulatoryDomain& domain);

class ControlCommands {
public:
    ControlCommands(RadioEnvironment& environment, Station& station, const BlockService& service,
                    Random& random, Log& log);

    ControlReply Execute(const std::vector<std::string>& words, Millis now);

    static constexpr const char* kUsage =
        "card in|out; signal N|auto [NAME|BSSID]; ap add JSON; ap remove NAME|BSSID; status";
    // More networks than any air holds; a runaway script stops here.
    static constexpr size_t kMaxNetworks = 256;

private:
    ControlReply Card(const std::vector<std::string>& words, Millis now);
    ControlReply Signal(const std::vector<std::string>& words);
    ControlReply AccessPoint(const std::vector<std::string>& words);
    ControlReply Status() const;

    RadioEnvironment& environment_;
    Station& station_;
    const BlockService& service_;
    Random& random_;
    Log& log_;
};

} // namespace cardsim
