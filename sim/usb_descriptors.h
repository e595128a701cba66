// Description of a virtual USB device: ids, place on the bus, speed, active configuration and the
// descriptor tree (configurations, interfaces, alternate settings, endpoints).
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct EndpointDescription {
    uint8_t address = 0;    // direction bit 0x80 plus number
    uint8_t attributes = 2; // transfer type: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint16_t max_packet = 512;
    uint8_t interval = 0;
};

struct AltSettingDescription {
    uint8_t interface_class = 0xFF;
    uint8_t interface_subclass = 0;
    uint8_t interface_protocol = 0;
    std::vector<EndpointDescription> endpoints;
};

struct InterfaceDescription {
    std::vector<AltSettingDescription> alt_settings;
};

struct ConfigDescription {
    uint8_t value = 1;
    uint8_t attributes = 0x80;
    uint8_t max_power = 50; // in 2 mA units
    std::vector<InterfaceDescription> interfaces;
};

struct DeviceDescription {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t bcd_device = 0x0100;
    uint16_t bcd_usb = 0x0200;
    uint8_t device_class = 0;
    uint8_t device_subclass = 0;
    uint8_t device_protocol = 0;
    uint8_t max_packet0 = 64;
    int bus = 1;
    int address = 0;              // 0: the next free address on the bus
    int speed = 480;              // Mbit/s, as sysfs shows it
    int active_configuration = 1; // sysfs bConfigurationValue; 0 means unconfigured
    std::vector<ConfigDescription> configurations;
};

// The scanner: class 0, configuration 1 with interface 0 (class 0xFF) holding bulk OUT 0x02 and
// bulk IN 0x81 (512-byte packets) and, when asked, interrupt IN 0x83.
DeviceDescription scanner_device(bool interrupt_endpoint = false);
// A bus's root hub, 1d6b:0002, class 9, at address 1.
DeviceDescription root_hub(int bus);

// The sysfs `descriptors` attribute: the device descriptor followed by every configuration.
std::vector<uint8_t> descriptor_bytes(const DeviceDescription& desc);

} // namespace sim
