// What the bus itself shows of the scanners the driver is made for, asked when the driver listed
// none: whether one is attached at all, and whether another program holds it. The driver skips a
// scanner it cannot open without saying why, so only this look tells "no scanner" from "a scanner
// in use".
#pragma once

#include <string>

namespace lumenfield {

struct UsbPresence {
    int found = 0;       // attached scanners of the maker's vendor and product id
    bool busy = false;   // one of them is claimed by another program
    bool denied = false; // one of them may not be opened by this user
    std::string detail;  // the USB library's words for another failure to open one
};

// Opens each attached scanner briefly and tries to claim its interface, releasing it at once.
UsbPresence probeScannersOnBus();

} // namespace lumenfield
