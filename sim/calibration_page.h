// What the simulated scanner delivers for a calibration window (window kind 1 dark, 2 white). The
// device calibrates its whole sensor whatever dot_x, dot_y and width ask for: a page is Wpx(R)
// pixels wide (R the para x resolution, at most 65535) and para height lines high.
//
// For line l, sensor position s and channel c (single-channel scans read channel 1), with
// u = (s + 0.5) / Wpx(R) and e the window's exposure ratio, the realistic sensor reads
//   dark  = D_c(u),   white = D_c(u) + round(G_c(u) · W(e))   (sensor_model.h, at most 65535)
// except where (s + 3c + 7l) mod 64 = 0: there the sample is 0 for even l and 65535 for odd l, 4
// of 256 lines per column, all outside 95-105 % of the level, so a median-window reduction gives
// the level exactly. With noise on, every other sample is moved deterministically by at most 1 %
// of its level. The ideal sensor reads dark 0 and white 65535 exactly, with no outliers or noise.
#pragma once

#include "chart_scan_engine.h"
#include "scanner_records.h"
#include "sensor_model.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

// The dark and white lines a calibration at (media, R, e) must produce: Wpx(R) pixels of
// `channels` (1 or 3) samples each, pixel by pixel.
struct ExpectedShading {
    std::vector<uint16_t> dark;
    std::vector<uint16_t> white;
};
ExpectedShading expected_shading(const ScannerRecords& records, uint8_t media, uint16_t resolution,
                                 uint16_t exposure_ratio, unsigned channels, Sensor sensor = Sensor::Realistic);

std::unique_ptr<PageGenerator> calibration_page(Sensor sensor, bool noisy);

} // namespace sim
