// Whole-image reductions: the per-channel extremes, average and histogram of the working values.
// Each is one streaming pass over the image; none keeps the pixels.
#pragma once

#include "image.h"

#include <array>
#include <optional>
#include <vector>

struct ChannelExtremes {
    std::array<double, 3> minimum{};
    std::array<double, 3> maximum{};
};

// Per-channel minimum and maximum of the working values (CIAreaMinimum, CIAreaMaximum, CIAreaMinMax)
// from one statistics pass. Throws vips::VError when the pixels cannot be computed.
ChannelExtremes areaMinMax(const Image& image);

// Per-channel mean of the working values (CIAreaAverage). Throws vips::VError when the pixels cannot
// be computed.
std::array<double, 3> areaAverage(const Image& image);

// Pixel counts per bin and channel, bin(v) = min(n - 1, floor(n clamp(v))) for n = `bins` (1 to
// 65536). Throws vips::VError when the pixels cannot be computed.
std::vector<std::array<double, 3>> histogramCounts(const Image& image, int bins);

// Pixel counts per byte value and band of a 3-band 8-bit image. Throws vips::VError.
std::array<std::array<double, 256>, 3> byteHistogram(const Image& eightBit);

// CIAreaHistogram with n bins and scale s: per channel, share_i = s count_i / N over the N pixels.
struct AreaHistogram {
    std::vector<std::array<double, 3>> shares; // [bin][channel]
};

// Nothing when `bins` lies outside 1..65536 or the pixels cannot be computed (libvips' error buffer
// is then cleared).
std::optional<AreaHistogram> areaHistogram(const Image& image, int bins, double scale);
