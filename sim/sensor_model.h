// The simulated scanner's sensor: what one sample reads for a chart reflectance P (0-65535). The
// realistic sensor has a dark level that varies across the sensor and a white level that falls off
// towards the edges and ripples per channel, so an uncalibrated scan shows vignetting and only a
// matching dark and white shading makes a flat chart come out flat. The ideal sensor reads P.
//
// A sample at sensor position s of a sensor Wpx pixels wide lies at u = (s + 0.5) / Wpx; c is the
// channel (0 R, 1 G, 2 B; single-channel scans read channel 1); e is the window's exposure ratio.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace sim {

enum class Sensor {
    Realistic,
    Ideal
};

inline double sensor_position(uint64_t s, uint64_t pixels)
{
    return (static_cast<double>(s) + 0.5) / static_cast<double>(std::max<uint64_t>(pixels, 1));
}

// D_c(u) = round(800 + 150 sin(6πu) + 40c)
inline int sensor_dark(int c, double u)
{
    return static_cast<int>(std::lround(800.0 + 150.0 * std::sin(6.0 * std::numbers::pi * u) + 40.0 * c));
}

// G_c(u) = (1 - 0.25 (2u - 1)²)(1 + 0.02 sin(40πu + c))
inline double sensor_gain(int c, double u)
{
    const double t = 2.0 * u - 1.0;
    return (1.0 - 0.25 * t * t) * (1.0 + 0.02 * std::sin(40.0 * std::numbers::pi * u + c));
}

// W(e) = 50000 × min(max(e, 25), 120) / 100
inline double sensor_white(uint16_t exposure_ratio)
{
    return 50000.0 * std::clamp<double>(exposure_ratio, 25.0, 120.0) / 100.0;
}

// raw = D_c(u) + round(G_c(u) · W(e) · P / 65535)
inline uint32_t sensor_raw(int c, double u, uint16_t exposure_ratio, uint16_t p)
{
    const double lit = sensor_gain(c, u) * sensor_white(exposure_ratio) * p / 65535.0;
    return static_cast<uint32_t>(sensor_dark(c, u) + std::lround(lit));
}

} // namespace sim
