// The two status families of device access. Their numbers overlap with different meanings (3 is
// "busy" for the USB layer and "out of memory" for device operations), so they are distinct types.
#pragma once

#include <cstdint>

// Results of the usbio layer.
enum UsbioStatus : int {
    USBIO_STATUS_GOOD = 0,
    USBIO_STATUS_UNSUPPORTED = 1,
    USBIO_STATUS_DEVICE_BUSY = 3,
    USBIO_STATUS_INVAL = 4,
    USBIO_STATUS_EOF = 5,
    USBIO_STATUS_IO_ERROR = 9,
    USBIO_STATUS_NO_MEM = 10,
    USBIO_STATUS_ACCESS_DENIED = 11,
    USBIO_STATUS_DEVICE_GONE = 12, // the device left the bus (unplugged, switched off)
};

// Result of every device-access operation above the USB layer.
enum eStatus : uint32_t {
    STATUS_GOOD = 0,
    STATUS_NO_MEMORY = 3,
    STATUS_TRANSFER_FAILED = 4,
    STATUS_DEVICE_ERROR = 10,
    STATUS_PAPER_JAM = 11,
    STATUS_DOUBLE_FEED = 12,
    STATUS_NO_PAPER = 13,
    STATUS_MOTOR_NOT_STOPPED = 14,
    STATUS_UNEXPECTED_JOB_REPLY = 17,
    STATUS_REFUSED_REQUEST = 18,
    // The device left the bus. Told apart from a failed transfer (a time-out, a stall), after
    // which the device may still be there: only this one means the scanner is gone.
    STATUS_DEVICE_GONE = 20,
};
