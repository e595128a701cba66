// Whole-image reductions: the per-channel extremes, average and histogram of the working values.
// Each is one streaming pass over the image; none keeps the pixels.
#pragma once

#include "vips_image.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace lumenfield {

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

// Pixel counts per channel of the bytes the working values read back as (readBack), from one
// streaming pass. Throws vips::VError when the pixels cannot be computed.
std::array<std::array<double, 256>, 3> readBackHistogram(const Image& image);

// Which of the 2^24 colours a 3-band 8-bit image holds, from one streaming pass (2 MB whatever the
// image's size). Throws vips::VError when the pixels cannot be read.
class ColourSet {
public:
    explicit ColourSet(const Image& eightBit);

    // The number of colours held.
    size_t size() const { return size_; }

    // Calls `each(bytes, count)` for the colours held, in runs of at most `run` colours given as
    // interleaved r, g, b bytes. With `parts` > 1, only the colours of part `part` (0 to parts - 1)
    // of the colour space: the parts together give every colour once.
    template <typename Each> void forEachRun(int run, Each&& each, size_t part = 0, size_t parts = 1) const;

private:
    std::vector<std::uint64_t> bits_; // bit (r << 16 | g << 8 | b)
    size_t size_ = 0;
};

template <typename Each> void ColourSet::forEachRun(int run, Each&& each, size_t part, size_t parts) const
{
    std::vector<std::uint8_t> bytes(3 * static_cast<size_t>(run));
    int count = 0;
    const size_t end = bits_.size() * (part + 1) / parts;
    for (size_t word = bits_.size() * part / parts; word < end; ++word) {
        for (std::uint64_t w = bits_[word]; w != 0; w &= w - 1) {
            const auto colour = static_cast<std::uint32_t>(word * 64 + static_cast<size_t>(__builtin_ctzll(w)));
            bytes[3 * count] = static_cast<std::uint8_t>(colour >> 16);
            bytes[3 * count + 1] = static_cast<std::uint8_t>(colour >> 8);
            bytes[3 * count + 2] = static_cast<std::uint8_t>(colour);
            if (++count == run) {
                each(bytes.data(), count);
                count = 0;
            }
        }
    }
    if (count > 0) each(bytes.data(), count);
}

// Per-channel extremes of `evaluate`'s working values over the colours of `colours`, the colour
// space split among up to libvips' concurrency of threads. `evaluate(bytes, rgb, count)` turns
// `count` colours (interleaved r, g, b bytes) into their working values; it is called from several
// threads at once. An exception from it, or a thread that cannot be started (std::system_error), is
// passed on once every thread has ended.
ChannelExtremes extremesOverColours(const ColourSet& colours,
                                    const std::function<void(const std::uint8_t*, float*, int)>& evaluate);

// CIAreaHistogram with n bins and scale s: per channel, share_i = s count_i / N over the N pixels.
struct AreaHistogram {
    std::vector<std::array<double, 3>> shares; // [bin][channel]
};

// Nothing when `bins` lies outside 1..65536 or the pixels cannot be computed (libvips' error buffer
// is then cleared).
std::optional<AreaHistogram> areaHistogram(const Image& image, int bins, double scale);

} // namespace lumenfield
