// The driver's result codes: the one vocabulary of every operation below the plug-in boundary
// (device-access statuses are mapped to it in device_error.h; the driver object's FUNC_STATUS and
// the command handlers' results use it). 1 is success, a negative value a failure. At the
// plug-in boundary EBase::TransferErrCodePC2Mac maps these to the host's SE_ codes.
#pragma once

#include <cstdint>

constexpr int32_t DRV_SUCCESS = 1;

// The device could not be reached: a failed transfer, or an operation of the driver object that
// needs the device record and has none. The host reads both as a failed transfer.
constexpr int32_t DRV_TRANSFER_FAILURE = -1000;
// The device left the bus. The host reads it as a scanner that is no longer there.
constexpr int32_t DRV_DEVICE_GONE = -1005;
constexpr int32_t DRV_NO_MEMORY = -1007;
constexpr int32_t DRV_STAGE_FAILURE = -1008; // a step of the scan that cannot go on
constexpr int32_t DRV_NOT_SUPPORTED = -1010;
constexpr int32_t DRV_CALIBRATION_FILE = -2003;
constexpr int32_t DRV_UNSUPPORTED_FLASH_AREA = -601; // a flash area the driver does not know

// Device statuses of scanning, as device_error.h maps them.
constexpr int32_t DRV_DEVICE_STATUS_1 = -8000;
constexpr int32_t DRV_DEVICE_STATUS_6 = -2;
constexpr int32_t DRV_DEVICE_BUSY = -1002; // device status 7; the host reads it as busy
constexpr int32_t DRV_DEVICE_STATUS_9 = -600;
constexpr int32_t DRV_DEVICE_STATUS_19 = -602;
constexpr int32_t DRV_DEVICE_ERROR = -502; // a device error during the scan
constexpr int32_t DRV_PAPER_JAM = -206;
constexpr int32_t DRV_DOUBLE_FEED = -8001;
constexpr int32_t DRV_NO_PAPER = -309;
// A refused request: -1000000 - sense key × 1000 - sense code; every such code is at or below.
constexpr int32_t DRV_SENSE_BASE = -1000000;

// Codes of the driver object's wider vocabulary that the boundary still maps, though nothing in
// this driver answers them today.
constexpr int32_t DRV_CODE_2000 = -2000;
constexpr int32_t DRV_CODE_1004 = -1004;     // read as a failed transfer
constexpr int32_t DRV_NO_MORE_LINES = -1003; // an image read with nothing left: success
constexpr int32_t DRV_BUSY = -1001;
constexpr int32_t DRV_CODE_704 = -704;
constexpr int32_t DRV_CODE_3 = -3;
