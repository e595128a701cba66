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

// Result of every device-access operation above the USB layer: a status code whose one test of
// success is ok(). Statuses are compared as wholes; only the log and the mapping to driver results
// (device_error.h) read the number.
class eStatus {
public:
    constexpr explicit eStatus(uint32_t code) : code_(code) {}

    constexpr bool ok() const { return code_ == 0; }
    constexpr uint32_t code() const { return code_; }

    constexpr bool operator==(const eStatus&) const = default;

private:
    uint32_t code_;
};

inline constexpr eStatus STATUS_GOOD{0};
inline constexpr eStatus STATUS_NO_MEMORY{3};
inline constexpr eStatus STATUS_TRANSFER_FAILED{4};
inline constexpr eStatus STATUS_DEVICE_ERROR{10};
inline constexpr eStatus STATUS_PAPER_JAM{11};
inline constexpr eStatus STATUS_DOUBLE_FEED{12};
inline constexpr eStatus STATUS_NO_PAPER{13};
inline constexpr eStatus STATUS_MOTOR_NOT_STOPPED{14};
inline constexpr eStatus STATUS_UNEXPECTED_JOB_REPLY{17};
inline constexpr eStatus STATUS_REFUSED_REQUEST{18};
// The device left the bus. Told apart from a failed transfer (a time-out, a stall), after which the
// device may still be there: only this one means the scanner is gone.
inline constexpr eStatus STATUS_DEVICE_GONE{20};

// Statuses of the wider device family that no operation here returns; only the mapping to driver
// results reads them, which keeps a code for each (driver_result.h).
inline constexpr eStatus STATUS_REPORTED_FAILURE{1};
inline constexpr eStatus STATUS_UNASSIGNED_6{6};
inline constexpr eStatus STATUS_BUSY{7};
inline constexpr eStatus STATUS_UNASSIGNED_9{9};
inline constexpr eStatus STATUS_UNASSIGNED_19{19};
