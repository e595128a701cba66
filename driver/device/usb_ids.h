// USB identity of the one scanner model the driver serves. The simulated scanner uses the same.
#pragma once

#include <cstdint>

constexpr uint16_t VARNOTH_USB_VENDOR_ID = 0xF0A2;
constexpr uint16_t VARNOTH_USB_PRODUCT_ID = 0x6204;
