#include "replay_usb.h"

#include "device_status.h"
#include "usbio.h"

#include <algorithm>
#include <cstring>

namespace fuzz {

namespace {

Transport* installed = nullptr;

} // namespace

void set_transport(Transport* transport)
{
    installed = transport;
}

size_t StreamTransport::read(uint8_t* data, size_t n)
{
    const size_t k = std::min(n, size_ - at_);
    if (k > 0) std::memcpy(data, data_ + at_, k);
    at_ += k;
    return k;
}

} // namespace fuzz

// The entry points of the USB layer that the device protocol uses.
int usbio_read_bulk(int, unsigned char* buffer, size_t* size)
{
    if (fuzz::installed == nullptr || size == nullptr) return USBIO_STATUS_IO_ERROR;
    *size = fuzz::installed->read(buffer, *size);
    return USBIO_STATUS_GOOD;
}

int usbio_write_bulk(int, const unsigned char* buffer, size_t* size)
{
    if (fuzz::installed == nullptr || size == nullptr) return USBIO_STATUS_IO_ERROR;
    *size = fuzz::installed->write(buffer, *size);
    return USBIO_STATUS_GOOD;
}

void usbio_set_endpoint(int, int, int) {}

// The bus the root object enumerates and opens: one scanner, device number 0, whose transfers go
// to the installed transport.
int usbio_init()
{
    return USBIO_STATUS_GOOD;
}

void usbio_exit() {}

int usbio_find_devices(int, int, usbio_attach_fn attach)
{
    if (attach != nullptr) attach("replay:001:001");
    return 0;
}

int usbio_open(const char* devname, int* dn)
{
    if (devname == nullptr || dn == nullptr) return USBIO_STATUS_IO_ERROR;
    *dn = 0;
    return USBIO_STATUS_GOOD;
}

void usbio_close(int) {}
