#include "calibration_page.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uint32_t kLargestSide = 65535;
constexpr uint8_t kWhiteWindow = 2;

// The levels of one window kind for every sample of a line Wpx wide.
std::vector<uint16_t> levels(uint64_t pixels, uint16_t exposure_ratio, unsigned channels, bool white, Sensor sensor)
{
    const uint64_t width = std::min<uint64_t>(pixels, kLargestSide);
    std::vector<uint16_t> out(width * channels);
    for (uint64_t s = 0; s < width; ++s) {
        const double u = sensor_position(s, pixels);
        for (unsigned c = 0; c < channels; ++c) {
            const int channel = channels == 1 ? 1 : static_cast<int>(c);
            int64_t v = 0;
            if (sensor == Sensor::Ideal) {
                v = white ? 65535 : 0;
            } else {
                v = sensor_dark(channel, u);
                if (white) v += std::lround(sensor_gain(channel, u) * sensor_white(exposure_ratio));
            }
            out[s * channels + c] = static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535));
        }
    }
    return out;
}

// A deterministic value in -1000 … 1000 for each sample.
int64_t noise(uint64_t s, uint64_t c, uint64_t l)
{
    uint64_t x = (s * 0x9E3779B97F4A7C15ull) ^ (c * 0xC2B2AE3D27D4EB4Full) ^ (l * 0x165667B19E3779F9ull);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return static_cast<int64_t>(x % 2001) - 1000;
}

class CalibrationPage final : public PageGenerator {
public:
    CalibrationPage(Sensor sensor, bool noisy) : sensor_(sensor), noisy_(noisy) {}

    void begin(PageSetup& page, const ScannerRecords&) override
    {
        page.width = static_cast<uint32_t>(std::min<uint64_t>(page.sensor_pixels, kLargestSide));
        channels_ = page.channels;
        levels_ = levels(page.sensor_pixels, page.exposure_ratio, channels_, page.kind == kWhiteWindow, sensor_);
    }

    void line(uint64_t l, std::span<uint16_t> samples) override
    {
        const size_t count = std::min(samples.size(), levels_.size());
        for (size_t k = 0; k < count; ++k) {
            const uint64_t s = k / channels_;
            const uint64_t c = channels_ == 1 ? 1 : k % channels_;
            int64_t v = levels_[k];
            if (sensor_ == Sensor::Realistic) {
                if ((s + 3 * c + 7 * l) % 64 == 0)
                    v = l % 2 == 0 ? 0 : 65535;
                else if (noisy_)
                    v += v * noise(s, c, l) / 100000;
            }
            samples[k] = static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535));
        }
    }

private:
    Sensor sensor_;
    bool noisy_;
    unsigned channels_ = 1;
    std::vector<uint16_t> levels_;
};

} // namespace

ExpectedShading expected_shading(const ScannerRecords& records, uint8_t media, uint16_t resolution,
                                 uint16_t exposure_ratio, unsigned channels, Sensor sensor)
{
    const uint64_t pixels = sensor_pixels(records, media, resolution);
    return {levels(pixels, exposure_ratio, channels, false, sensor),
            levels(pixels, exposure_ratio, channels, true, sensor)};
}

std::unique_ptr<PageGenerator> calibration_page(Sensor sensor, bool noisy)
{
    return std::make_unique<CalibrationPage>(sensor, noisy);
}

} // namespace sim
