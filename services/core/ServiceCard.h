#pragma once
// The card behind a connection service, as the block side sees it: there or not, the link
// now, the channels it may use, and the settings it takes. The simulated station is one such
// card, a real one driven through wpa_supplicant the other; the block logic is written once.

#include "CardTypes.h"

#include <cstdint>

namespace service {

class ServiceCard {
public:
    virtual ~ServiceCard() = default;

    virtual Card CardState() const = 0;
    // Asked each time the block shows the link (every 250 ms while LINK_INFO stands, and
    // only then): a real card measures it at that moment.
    virtual LinkInfo Link() = 0;
    // Bit i set: channel i + 1 may be used.
    virtual uint16_t ChannelMask() const = 0;

    // The settings taken last; a payload field that cannot be meant keeps their value.
    virtual const StationConfig& Config() const = 0;
    virtual const WepSettings& Wep() const = 0;

    // Answer whether anything changed, so the log says so once.
    virtual bool TakeConfig(const StationConfig& config, Millis now) = 0;
    virtual bool TakeWep(const WepSettings& wep, Millis now) = 0;
};

} // namespace service
