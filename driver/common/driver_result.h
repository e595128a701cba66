// The driver's result codes: what every operation below the plug-in boundary answers. 1 is
// success, a negative value a failure. The codes the host sees are these mapped at the boundary
// (EBase::TransferErrCodePC2Mac); device statuses are mapped to these at the device layer
// (device_error.h).
#pragma once

#include <cstdint>

constexpr int32_t DRV_SUCCESS = 1;
constexpr int32_t DRV_TRANSFER_FAILURE = -1000;
constexpr int32_t DRV_NO_MEMORY = -1007;
constexpr int32_t DRV_STAGE_FAILURE = -1008;
constexpr int32_t DRV_NOT_SUPPORTED = -1010;
constexpr int32_t DRV_CALIBRATION_FILE = -2003;
