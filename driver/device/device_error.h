// From the statuses of device access to the driver's result codes (driver_result.h): the one
// mapping at the device layer's upper edge.
#pragma once

#include "device_status.h"
#include "driver_result.h"

#include <cstdint>

struct GLScanner;

// The driver code of a device status. A refused request (18) reads the device's sense data and
// answers DrvResult::refusal of them; a sense read that fails itself is mapped without another
// sense read, 18 then giving DRV_STAGE_FAILURE.
DrvResult get_scanner_error_code(GLScanner* g, eStatus status);
