#include "gl_device.h"

#include "dbg_log.h"
#include "usbio.h"

#include <new>

namespace {

bool bad_arguments(const GLDevice* dev, const uint8_t* buffer, size_t n)
{
    return dev == nullptr || (buffer == nullptr && n > 0);
}

eStatus result_of(int status, size_t moved, size_t n)
{
    if (status == USBIO_STATUS_DEVICE_GONE) return STATUS_DEVICE_GONE;
    return status == USBIO_STATUS_GOOD && moved == n ? STATUS_GOOD : STATUS_TRANSFER_FAILED;
}

} // namespace

eStatus device_OpenNamed(const char* name, int* dn)
{
    return usbio_open(name, dn) == USBIO_STATUS_GOOD ? STATUS_GOOD : STATUS_TRANSFER_FAILED;
}

void device_CloseNumber(int dn)
{
    usbio_close(dn);
}

eStatus device_New(GLDevice** dev)
{
    if (dev == nullptr) return STATUS_TRANSFER_FAILED;
    *dev = nullptr;
    *dev = new (std::nothrow) GLDevice{0};
    return *dev == nullptr ? STATUS_NO_MEMORY : STATUS_GOOD;
}

eStatus device_Free(GLDevice* dev)
{
    delete dev;
    return STATUS_GOOD;
}

eStatus device_Open(GLDevice* dev, uint32_t dn)
{
    if (dev == nullptr) return STATUS_TRANSFER_FAILED;
    dev->dn = dn;
    usbio_set_endpoint(static_cast<int>(dn), USBIO_EP_BULK_OUT, 0x02);
    usbio_set_endpoint(static_cast<int>(dn), USBIO_EP_BULK_IN, 0x81);
    return STATUS_GOOD;
}

eStatus device_Close(GLDevice*)
{
    return STATUS_GOOD;
}

eStatus device_DumpTopControlRegister(GLDevice*)
{
    return STATUS_GOOD;
}

eStatus device_DumpScannerControlRegister(GLDevice*)
{
    return STATUS_GOOD;
}

eStatus device_BulkWriteEx(GLDevice* dev, const uint8_t* buffer, size_t n)
{
    if (bad_arguments(dev, buffer, n)) return STATUS_TRANSFER_FAILED;
    size_t moved = n;
    const int status = usbio_write_bulk(static_cast<int>(dev->dn), buffer, &moved);
    DBG_HEX(kLogCommands, buffer, static_cast<unsigned>(moved));
    return result_of(status, moved, n);
}

eStatus device_BulkReadEx(GLDevice* dev, uint8_t* buffer, size_t n)
{
    if (bad_arguments(dev, buffer, n)) return STATUS_TRANSFER_FAILED;
    size_t moved = n;
    const int status = usbio_read_bulk(static_cast<int>(dev->dn), buffer, &moved);
    DBG_HEX(kLogCommands, buffer, static_cast<unsigned>(moved));
    return result_of(status, moved, n);
}
