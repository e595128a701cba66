// From the statuses of device access to the driver's result codes (driver_result.h): the one
// mapping at the device layer's upper edge.
#pragma once

#include "device_status.h"

#include <cstdint>

struct GLScanner;

// -1000000 - key × 1000 - code.
int32_t combine_sense_key_code(uint8_t key, uint8_t code);
// The driver code of a device status. A refused request (18) reads the device's sense data and
// answers their combined code; a sense read that fails itself is mapped without another sense
// read, 18 then giving -1008.
int32_t get_scanner_error_code(GLScanner* g, eStatus status);
