// Shading and calibration-parameter transfers. Each operation opens a device job of its own.
//
// Shading kinds: 1 front, 2 back, 3 both (front data, then back data). Each kind is sent at level
// 1, then level 0, from the data the shading state of the GLScanner points to.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>

struct GLScanner;

// Kind 3 (sent, then read back) when media 3 is present, kind 1, then kind 2 (sent, then read
// back) when media 3 is present. Both front pointers must be set (4 before anything is sent); a
// missing back pointer sends zeros. A failed transfer ends the job and answers 4.
eStatus scanner_send_shading_data(GLScanner* g);
// Nothing to do: answers 0.
eStatus scanner_read_shading_data(GLScanner* g);

// One calibration-parameter block between the device and the record. A failed create is returned
// at once; a failed transfer after the job was ended; otherwise the end's result.
eStatus scanner_read_calibration_data(GLScanner* g, uint16_t value, uint8_t index);
eStatus scanner_send_calibration_data(GLScanner* g, uint16_t value, uint8_t index);

// Multiple-light shading. Lights are 1, 2 and 4 (mask bits); their per-light data lie in the
// shading state's light slots, front lights first.
constexpr int SHADING_LIGHTS[] = {1, 2, 4};
// The slot of a light's front or back data in ShadingState::light_level0 and light_level1; -1 for
// a value that names no light.
int shading_light_slot(int light, bool back);
// Modes 0-3 select the light masks 7, 3, 5 and 1 (any other mode answers 4 with no traffic). The
// kinds follow the order of scanner_send_shading_data, without read-backs. A transfer carries the
// front data of each light in the mask in the order light 2, light 1, light 4, followed for kinds
// with bit 1 by the same lights' back data; a missing light sends zeros.
eStatus scanner_send_multilight_shading_data(GLScanner* g, int mode);
// Points each light's data at buffer + (the light's index in the record's light identifiers) ×
// the per-light size; a light that is not listed, or a null buffer, gives null.
void set_shading_data_point(GLScanner* g, const uint8_t* level0_front, const uint8_t* level0_back,
                            const uint8_t* level1_front, const uint8_t* level1_back);
