// The image pipeline of one scan: per side (0 front, 1 back) a chain of stages in a fixed order
// (scan, multiple-exposure merge, horizontal magnification correction, resize, gamma, mirror,
// single-bit) turns the lines the device delivers into the lines the host asked for. A stage that
// makes new data owns a line FIFO; gamma and mirror work in place. Reads are pull-driven: whenever
// the last FIFO runs dry, at most 32 more scan lines are read and pushed through every stage.
//
// The pipeline reads the scan setting that the scan set-up filled and the device record's scan
// job. Results are driver results (driver_result.h).
#pragma once

#include "driver_result.h"
#include "gl_scanner.h"

struct SCAN_SETTING;

// Builds the stages of one side, first releasing whatever the side holds. DRV_SUCCESS;
// DRV_STAGE_FAILURE for a scan width or line count of 0 or scan row bytes that do not match them;
// DRV_NOT_SUPPORTED for a geometry, depth, image type or gamma set the stages cannot handle, or a
// multiple-exposure switch that is on; DRV_NO_MEMORY when a FIFO or the resize handle cannot be
// made (a FIFO above INT32_MAX bytes included), or for line art without halftone parameters. Stages
// made before a failure stay until ip_release; only a side whose every stage was built can be read.
DrvResult ip_initial(SCAN_SETTING* s, GLScanner* g, int side);

// Fills buffer with min(lines, lines_to_deliver) finished lines. *lines_left receives the lines
// still to deliver and *end 1 when that is 0 and the read succeeded, else 0. When the device ended
// its page early, the lines after its last one are made of zeros, and the side's lines_made tells
// how many output lines came before them. A request below one line delivers nothing and answers
// DRV_SUCCESS. DRV_SUCCESS, or: DRV_STAGE_FAILURE for a side that is not built (then nothing is
// touched), a pop that fails or a chain that runs dry before its last line; DRV_NO_MEMORY for a
// resize that has no room; the mapped device status of a failed scan read.
DrvResult ip_read(SCAN_SETTING* s, GLScanner* g, int side, unsigned char* buffer, int lines, int* lines_left, int* end);

// Releases the stages of both sides; when the scan stage took time, logs the seven stage totals
// at level 20 and clears them.
void ip_release(SCAN_SETTING* s);

// Seconds of processor time each stage took since the last successful ip_initial.
extern double measure_scan_process;
extern double measure_bqm_process;
extern double measure_horizontal_correction_process;
extern double measure_interpolation_process;
extern double measure_gamma_process;
extern double measure_mirror_process;
extern double measure_lineart_process;

// The scan stage reads through one function, scanner_read unless replaced: tests and benchmarks
// serve prepared lines through it. Null restores scanner_read; the previous replacement (or null)
// is returned.
scanner_read_fn ip_set_scan_read_function(scanner_read_fn fn);
