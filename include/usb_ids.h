// USB identity of the one scanner model the driver serves: the driver looks for it on the bus, the
// application's presence check asks the bus for it when the driver lists none, and the simulated
// scanner presents it.
#pragma once

#include <cstdint>

constexpr uint16_t VARNOTH_USB_VENDOR_ID = 0xF0A2;
constexpr uint16_t VARNOTH_USB_PRODUCT_ID = 0x6204;
