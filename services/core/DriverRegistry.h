#pragma once
// The card driver's side of the registry key Comm\VQ731\Parms: at start the driver reads the
// eight values the utility saves there. A missing key is created with the values a fresh
// installation of the driver writes; the utility itself only ever opens it.

#include "CardTypes.h"

#include <string>
#include <vector>

namespace service {

struct DriverSettings {
    StationConfig config;
    WepSettings wep;
};

class DriverRegistry {
public:
    // Access Point, any open network, Fully Automatic, power save off, channel 6, WEP off
    // with zero keys and Key 1.
    static DriverSettings Defaults();

    // Reads the key, or creates it with the defaults. A value that is missing, of the wrong
    // size or out of range keeps its default; `notes` says which, and what was done.
    static DriverSettings Load(std::vector<std::string>& notes);
};

} // namespace service
