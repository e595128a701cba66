// The handle the device protocol moves whole buffers through: one opened usbio device. A transfer
// is good only when every byte moved; a short transfer is never continued.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>

struct GLDevice {
    uint32_t dn; // usbio device number
};

// Opens the USB device of this name ("libusb:BBB:DDD", as the bus scan reports it) and gives its
// device number, which device_Open binds. STATUS_TRANSFER_FAILED when it cannot be opened.
eStatus device_OpenNamed(const char* name, int* dn);
// Releases a device number that device_OpenNamed gave; one not open is ignored.
void device_CloseNumber(int dn);
// Sets *dev to null first; STATUS_NO_MEMORY when out of memory.
eStatus device_New(GLDevice** dev);
// Null is accepted.
eStatus device_Free(GLDevice* dev);
// Binds the device number and fixes the bulk endpoints at 0x02 (out) and 0x81 (in), whatever the
// descriptors said.
eStatus device_Open(GLDevice* dev, uint32_t dn);
eStatus device_Close(GLDevice* dev);
eStatus device_DumpTopControlRegister(GLDevice* dev);
eStatus device_DumpScannerControlRegister(GLDevice* dev);
// One bulk transfer of n bytes; STATUS_GOOD only when exactly n bytes moved, STATUS_DEVICE_GONE
// when the device has left the bus, else STATUS_TRANSFER_FAILED.
eStatus device_BulkWriteEx(GLDevice* dev, const uint8_t* buffer, size_t n);
eStatus device_BulkReadEx(GLDevice* dev, uint8_t* buffer, size_t n);
