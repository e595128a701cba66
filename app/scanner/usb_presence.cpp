#include "usb_presence.h"

#include "usb_ids.h"

#include <libusb.h>

namespace lumenfield {

namespace {

// The scanner's one interface, the one the driver claims.
constexpr int kInterface = 0;

} // namespace

UsbPresence probeScannersOnBus()
{
    UsbPresence presence;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return presence;
    libusb_device** devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0) continue;
        if (descriptor.idVendor != VARNOTH_USB_VENDOR_ID || descriptor.idProduct != VARNOTH_USB_PRODUCT_ID) continue;
        ++presence.found;
        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(devices[i], &handle);
        if (opened == LIBUSB_ERROR_ACCESS) {
            presence.denied = true;
            continue;
        }
        if (opened == LIBUSB_ERROR_BUSY) {
            presence.busy = true;
            continue;
        }
        if (opened != 0) {
            presence.detail = libusb_strerror(opened);
            continue;
        }
        const int claimed = libusb_claim_interface(handle, kInterface);
        if (claimed == 0) {
            libusb_release_interface(handle, kInterface);
        } else if (claimed == LIBUSB_ERROR_BUSY) {
            presence.busy = true;
        } else if (claimed == LIBUSB_ERROR_ACCESS) {
            presence.denied = true;
        } else {
            presence.detail = libusb_strerror(claimed);
        }
        libusb_close(handle);
    }
    // The list is allocated also when it holds no device.
    if (count >= 0) libusb_free_device_list(devices, 1);
    libusb_exit(context);
    return presence;
}

} // namespace lumenfield
