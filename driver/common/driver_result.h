// The driver's results: the one vocabulary of every operation below the plug-in boundary. A result
// is a 32-bit code whose one test of success is ok(); the driver object's records carry the code
// itself (FUNC_STATUS), read and written through their header. Device-access statuses are mapped
// to it in device_error.h, and at the plug-in boundary EBase::TransferErrCodePC2Mac maps it to the
// host's SE_ codes: those two places alone read the numbers.
#pragma once

#include <cstdint>

class DrvResult {
public:
    constexpr explicit DrvResult(int32_t code) : code_(code) {}

    // The operation did what it was asked.
    constexpr bool ok() const { return code_ == kSuccess; }
    constexpr int32_t code() const { return code_; }

    // A request the device refused: kSenseBase - sense key × 1000 - sense code, every such code at
    // or below kSenseBase.
    static constexpr DrvResult refusal(uint8_t key, uint8_t code)
    {
        return DrvResult{kSenseBase - int32_t{key} * 1000 - int32_t{code}};
    }
    constexpr bool refused() const { return code_ <= kSenseBase; }

    constexpr bool operator==(const DrvResult&) const = default;

private:
    static constexpr int32_t kSuccess = 1;
    static constexpr int32_t kSenseBase = -1000000;

    int32_t code_;
};

inline constexpr DrvResult DRV_SUCCESS{1};

// The device could not be reached: a failed transfer, or an operation of the driver object that
// needs the device record and has none. The host reads both as a failed transfer.
inline constexpr DrvResult DRV_TRANSFER_FAILURE{-1000};
// The device left the bus. The host reads it as a scanner that is no longer there.
inline constexpr DrvResult DRV_DEVICE_GONE{-1005};
inline constexpr DrvResult DRV_NO_MEMORY{-1007};
inline constexpr DrvResult DRV_STAGE_FAILURE{-1008}; // a step of the scan that cannot go on
inline constexpr DrvResult DRV_NOT_SUPPORTED{-1010};
inline constexpr DrvResult DRV_CALIBRATION_FILE{-2003};
inline constexpr DrvResult DRV_UNSUPPORTED_FLASH_AREA{-601}; // a flash area the driver does not know
// The driver object's flat C interface has no current instance to forward to.
inline constexpr DrvResult DRV_NO_INSTANCE{-4001};

// Device statuses of scanning, as device_error.h maps them.
inline constexpr DrvResult DRV_DEVICE_ERROR{-502}; // a device error during the scan
inline constexpr DrvResult DRV_PAPER_JAM{-206};
inline constexpr DrvResult DRV_DOUBLE_FEED{-8001};
inline constexpr DrvResult DRV_NO_PAPER{-309};

// Codes of the driver object's wider vocabulary that the two mappings keep whole, though no
// operation of this driver answers them: the device-status codes of statuses the device layer never
// returns (device_status.h), and codes of the boundary's table.
//
// A failure the device reports through its status (status 1); the host's SE_ERR_DEVICE_STATUS.
inline constexpr DrvResult DRV_DEVICE_STATUS_FAILURE{-8000};
// The device is busy (status 7); the host reads it as busy.
inline constexpr DrvResult DRV_DEVICE_BUSY{-1002};
// Another form of a failed transfer; the host reads it as one.
inline constexpr DrvResult DRV_OTHER_TRANSFER_FAILURE{-1004};
// An image read with nothing left: the boundary answers success when no lines were asked for.
inline constexpr DrvResult DRV_NO_MORE_LINES{-1003};
inline constexpr DrvResult DRV_BUSY{-1001};
// Codes that nothing in this system gives a meaning: each is known only by where it goes (the
// statuses 6, 9 and 19 of the device-status map, which the host receives as they are; the host
// forms SE_ERR_DRIVER_2000, _704 and _3 at the boundary). They are failures, nothing more.
inline constexpr DrvResult DRV_UNASSIGNED_STATUS_6{-2};
inline constexpr DrvResult DRV_UNASSIGNED_STATUS_9{-600};
inline constexpr DrvResult DRV_UNASSIGNED_STATUS_19{-602};
inline constexpr DrvResult DRV_UNASSIGNED_2000{-2000};
inline constexpr DrvResult DRV_UNASSIGNED_704{-704};
inline constexpr DrvResult DRV_UNASSIGNED_3{-3};
