// Gathers, at scan start, the parameters of the horizontal magnification correction from the
// device record and the scan setting, and builds the correction's model from them. A device whose
// data cannot make a usable model gets no correction: the scan goes on with the plain window.
#pragma once

#include "driver_result.h"
#include "magnification_correction.h"

struct GLScanner;
struct stScannerAttri;
struct SCAN_SETTING;

// Frees a context the setting still holds, then builds the model into the setting's context and
// corrected range. DRV_SUCCESS, also when the correction is skipped (no coordinates, unusable
// parameters: one level-1 line, no context); DRV_NO_MEMORY when the model cannot be built for want
// of memory or for a channel count other than 1 or 3 (the context it stored stays for the scan's
// release).
DrvResult init_magnification_correction_module(GLScanner* g, stScannerAttri* attributes, SCAN_SETTING* setting);

// The device's coordinates for the attributes' media: true, or false (record untouched) when the
// device has none (coordinate resolution or count 0).
bool init_magnification_correction_coords(GLScanner* g, stScannerAttri* attributes,
                                          CoordinateCorrectionParameter* parameter);
// Channels, depth, resolution and the front side's frame at that resolution.
void init_magnification_correction_settings(GLScanner* g, SCAN_SETTING* setting,
                                            CoordinateCorrectionParameter* parameter);
// The RGB alignment of both line ends from the device's alignment record, unless the record says
// none, the configuration disables it, or its positions fall outside the table.
void init_magnification_rgb_alignment_settings(GLScanner* g, CoordinateCorrectionParameter* parameter);

// Releases the setting's context, if any, and nulls it.
void free_magnification_correction_module(SCAN_SETTING* setting);
