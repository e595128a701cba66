// usb-demo: finds the scanner through the driver's USB layer, opens it, shows what it found and
// makes one write/read round trip. Exit status 0 only when a scanner was found, opened and
// answered. Run it on the simulated bus: varnoth-sim -- usb-demo
#include "gl_device.h"
#include "usb_ids.h"
#include "usbio.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> found;

int remember(const char* devname)
{
    std::printf("found scanner %s\n", devname);
    found.emplace_back(devname);
    return 0;
}

int round_trip(int dn)
{
    GLDevice* dev = nullptr;
    if (device_New(&dev) != STATUS_GOOD) {
        std::printf("out of memory\n");
        return 1;
    }
    device_Open(dev, static_cast<uint32_t>(dn));
    int vendor = 0;
    int product = 0;
    usbio_get_vendor_product(dn, &vendor, &product);
    std::printf("ids %04x:%04x\n", vendor, product);
    std::printf("interface %d\n", usbio_get_interface(dn));
    std::printf("endpoints bulk-out 0x%02x bulk-in 0x%02x\n", usbio_get_endpoint(dn, USBIO_EP_BULK_OUT),
                usbio_get_endpoint(dn, USBIO_EP_BULK_IN));

    static const char kMessage[] = "Varnoth USB round trip";
    const size_t n = sizeof kMessage - 1;
    std::vector<uint8_t> back(n);
    const eStatus wrote = device_BulkWriteEx(dev, reinterpret_cast<const uint8_t*>(kMessage), n);
    const eStatus read = wrote == STATUS_GOOD ? device_BulkReadEx(dev, back.data(), n) : wrote;
    device_Close(dev);
    device_Free(dev);
    if (wrote != STATUS_GOOD || read != STATUS_GOOD) {
        std::printf("round trip failed: write status %u, read status %u\n", wrote.code(), read.code());
        return 1;
    }
    if (std::memcmp(back.data(), kMessage, n) != 0) {
        std::printf("round trip failed: the reply differs from what was written\n");
        return 1;
    }
    std::printf("round trip ok: %zu bytes written and read back\n", n);
    return 0;
}

} // namespace

int main()
{
    if (usbio_init() != USBIO_STATUS_GOOD) {
        std::printf("libusb could not start\n");
        return 1;
    }
    usbio_set_timeout(5000);
    usbio_find_devices(VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID, remember);
    int result = 1;
    if (found.empty()) {
        std::printf("no scanner found (vendor %04x, product %04x)\n", VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID);
    } else {
        int dn = -1;
        const int status = usbio_open(found.front().c_str(), &dn);
        if (status != USBIO_STATUS_GOOD) {
            std::printf("cannot open %s: usbio status %d\n", found.front().c_str(), status);
        } else {
            std::printf("opened %s as device %d\n", found.front().c_str(), dn);
            result = round_trip(dn);
            usbio_close(dn);
        }
    }
    usbio_exit();
    return result;
}
