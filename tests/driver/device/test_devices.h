// Virtual devices for the USB layer's tests.
#pragma once

#include "usb_descriptors.h"
#include "usb_ids.h"

#include <initializer_list>

namespace lftest {

// A device of the scanner's vendor with one interface per class given, each with one alternate
// setting holding a bulk pair.
inline sim::DeviceDescription device_with_interfaces(uint16_t product, std::initializer_list<uint8_t> classes,
                                                     uint8_t device_class = 0)
{
    sim::DeviceDescription desc = sim::scanner_device();
    desc.product = product;
    desc.device_class = device_class;
    desc.configurations[0].interfaces.clear();
    for (uint8_t cls : classes) {
        sim::AltSettingDescription alt;
        alt.interface_class = cls;
        alt.endpoints = {{0x02, 2, 512, 0}, {0x81, 2, 512, 0}};
        desc.configurations[0].interfaces.push_back({{alt}});
    }
    return desc;
}

} // namespace lftest
