#include "usb_descriptors.h"

#include <cstddef>

#include "usb_ids.h"

namespace sim {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

} // namespace

DeviceDescription scanner_device(bool interrupt_endpoint)
{
    DeviceDescription desc;
    desc.vendor = VARNOTH_USB_VENDOR_ID;
    desc.product = VARNOTH_USB_PRODUCT_ID;
    AltSettingDescription alt;
    alt.interface_class = 0xFF;
    alt.endpoints = {{0x02, 2, 512, 0}, {0x81, 2, 512, 0}};
    if (interrupt_endpoint) alt.endpoints.push_back({0x83, 3, 64, 8});
    ConfigDescription config;
    config.value = 1;
    config.interfaces = {InterfaceDescription{{alt}}};
    desc.configurations = {config};
    return desc;
}

DeviceDescription root_hub(int bus)
{
    DeviceDescription desc;
    desc.vendor = 0x1d6b;
    desc.product = 0x0002;
    desc.device_class = 9;
    desc.bus = bus;
    desc.address = 1;
    AltSettingDescription alt;
    alt.interface_class = 9;
    alt.endpoints = {{0x81, 3, 4, 12}};
    ConfigDescription config;
    config.attributes = 0xE0;
    config.max_power = 0;
    config.interfaces = {InterfaceDescription{{alt}}};
    desc.configurations = {config};
    return desc;
}

std::vector<uint8_t> descriptor_bytes(const DeviceDescription& desc)
{
    std::vector<uint8_t> out;
    out.push_back(18);
    out.push_back(1); // DEVICE
    put16(out, desc.bcd_usb);
    out.push_back(desc.device_class);
    out.push_back(desc.device_subclass);
    out.push_back(desc.device_protocol);
    out.push_back(desc.max_packet0);
    put16(out, desc.vendor);
    put16(out, desc.product);
    put16(out, desc.bcd_device);
    out.push_back(0); // iManufacturer
    out.push_back(0); // iProduct
    out.push_back(0); // iSerialNumber
    out.push_back(static_cast<uint8_t>(desc.configurations.size()));

    for (const ConfigDescription& config : desc.configurations) {
        const size_t start = out.size();
        out.push_back(9);
        out.push_back(2); // CONFIGURATION
        put16(out, 0);    // wTotalLength, filled below
        out.push_back(static_cast<uint8_t>(config.interfaces.size()));
        out.push_back(config.value);
        out.push_back(0); // iConfiguration
        out.push_back(config.attributes);
        out.push_back(config.max_power);
        for (size_t i = 0; i < config.interfaces.size(); ++i) {
            const InterfaceDescription& itf = config.interfaces[i];
            for (size_t a = 0; a < itf.alt_settings.size(); ++a) {
                const AltSettingDescription& alt = itf.alt_settings[a];
                out.push_back(9);
                out.push_back(4); // INTERFACE
                out.push_back(static_cast<uint8_t>(i));
                out.push_back(static_cast<uint8_t>(a));
                out.push_back(static_cast<uint8_t>(alt.endpoints.size()));
                out.push_back(alt.interface_class);
                out.push_back(alt.interface_subclass);
                out.push_back(alt.interface_protocol);
                out.push_back(0); // iInterface
                for (const EndpointDescription& ep : alt.endpoints) {
                    out.push_back(7);
                    out.push_back(5); // ENDPOINT
                    out.push_back(ep.address);
                    out.push_back(ep.attributes);
                    put16(out, ep.max_packet);
                    out.push_back(ep.interval);
                }
            }
        }
        const size_t total = out.size() - start;
        out[start + 2] = static_cast<uint8_t>(total & 0xFF);
        out[start + 3] = static_cast<uint8_t>(total >> 8);
    }
    return out;
}

} // namespace sim
