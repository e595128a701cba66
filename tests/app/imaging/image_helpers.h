// Small images built from functions of the pixel position, and their pixels read back.
#pragma once

#include "vips_image.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

using Bytes3 = std::array<std::uint8_t, 3>;
using Floats3 = std::array<float, 3>;

// An 8-bit RGB image that owns its pixels.
lumenfield::Image byteImage(int width, int height, const std::function<Bytes3(int x, int y)>& pixel);
lumenfield::Image flatBytes(int width, int height, Bytes3 value);
// A working image (3 bands of float, scRGB) that owns its pixels.
lumenfield::Image floatImage(int width, int height, const std::function<Floats3(int x, int y)>& pixel);

// All pixels, interleaved, after casting to the type.
std::vector<std::uint8_t> bytesOf(const lumenfield::Image& image);
std::vector<float> floatsOf(const lumenfield::Image& image);

// The largest difference between two equally sized byte buffers.
int maxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// A 600 x 400 test chart: gradients, saturated patches, dark text-like blocks and light noise.
lumenfield::Image testChart(int width = 600, int height = 400);
