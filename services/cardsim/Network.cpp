#include "Network.h"

#include <algorithm>
#include <cstdio>

namespace cardsim {

bool WepMatches(const WepSettings& station, const WepSettings& network)
{
    if (station.wepReq != network.wepReq)
        return false;
    if (station.wepReq == kWepOff)
        return true;
    const auto mine = station.DefaultKey();
    const auto theirs = network.DefaultKey();
    return mine && theirs && std::ranges::equal(*mine, *theirs);
}

} // namespace cardsim
