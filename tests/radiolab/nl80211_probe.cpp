// radiolab_nl80211_probe IFACE [--set-rates SET]
//
// Shows what reached the driver of IFACE, on one line:
//   wireless=1|0 ps=on|off|unknown peer_signal=DBM|none peer_tx_rate=MBPS|none
// peer_tx_rate is the fastest rate frames to a peer last went out with; nl80211 cannot read a
// rate mask back, so this is how a mask shows (after some traffic).
// With --set-rates SET (the rate set of the registry: bits 1, 2, 4, 8 = 1, 2, 5.5, 11 Mbps)
// the mask is set first, as the service sets it, and a line before says how that went:
//   set_rates=SET result=0|-ERRNO [error=TEXT]
// Exit status: 0 done, 1 the interface or nl80211 is missing or the mask was refused, 2 usage.

#include "Nl80211.h"

#include <net/if.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: radiolab_nl80211_probe IFACE [--set-rates SET]\n");
    return 2;
}

std::optional<uint16_t> ParseRateSet(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (*text == '\0' || *end != '\0' || errno != 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::string Mbps(std::optional<int> hundredKbps)
{
    if (!hundredKbps)
        return "none";
    char text[32];
    if (*hundredKbps % 10 == 0)
        std::snprintf(text, sizeof text, "%d", *hundredKbps / 10);
    else
        std::snprintf(text, sizeof text, "%d.%d", *hundredKbps / 10, *hundredKbps % 10);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4)
        return Usage();
    std::optional<uint16_t> rateSet;
    if (argc == 4) {
        if (std::strcmp(argv[2], "--set-rates") != 0 || !(rateSet = ParseRateSet(argv[3])))
            return Usage();
    }
    const unsigned ifindex = if_nametoindex(argv[1]);
    if (ifindex == 0) {
        std::fprintf(stderr, "radiolab_nl80211_probe: no interface %s\n", argv[1]);
        return 1;
    }
    std::string error;
    auto nl = connectd::Nl80211::Open(error);
    if (!nl) {
        std::fprintf(stderr, "radiolab_nl80211_probe: %s\n", error.c_str());
        return 1;
    }

    int status = 0;
    if (rateSet) {
        const int result = nl->SetTxRates(ifindex, *rateSet);
        if (result == 0) {
            std::printf("set_rates=%u result=0\n", *rateSet);
        } else {
            std::printf("set_rates=%u result=%d error=%s\n", *rateSet, result, std::strerror(-result));
            status = 1;
        }
    }
    const auto ps = nl->PowerSave(ifindex);
    const auto signal = nl->StrongestPeerSignal(ifindex);
    std::printf("wireless=%d ps=%s peer_signal=%s peer_tx_rate=%s\n", nl->IsWireless(ifindex) ? 1 : 0,
                !ps ? "unknown" : (*ps ? "on" : "off"), signal ? std::to_string(*signal).c_str() : "none",
                Mbps(nl->FastestPeerTxRate(ifindex)).c_str());
    return status;
}
