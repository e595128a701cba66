#include "reductions.h"

#include "transfer_curves.h"
#include "vips_kernel.h"
#include "working_color.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace lumenfield {

namespace {

// The bin of a working value: min(n - 1, floor(n clamp(v))).
// Truncation is the floor here, since the clamped value is not negative.
int binOf(double v, int bins)
{
    const int bin = static_cast<int>(bins * clampUnit(v));
    return bin < bins - 1 ? bin : bins - 1;
}

template <typename Bin> class QuantiseKernel final : public RowKernel {
public:
    explicit QuantiseKernel(int bins) : bins_(bins) {}
    void row(const VipsPel* in, VipsPel* out, int width, int, int) const override
    {
        const auto* c = reinterpret_cast<const float*>(in);
        auto* q = reinterpret_cast<Bin*>(out);
        for (int i = 0; i < 3 * width; ++i) q[i] = static_cast<Bin>(binOf(c[i], bins_));
    }

private:
    int bins_;
};

// The histogram image of each band as doubles, [entry][band].
std::vector<std::array<double, 3>> readHistogram(const Image& quantised)
{
    const Image hist = quantised.hist_find(Image::option()->set("band", -1)).cast(VIPS_FORMAT_DOUBLE);
    size_t size = 0;
    void* memory = hist.write_to_memory(&size);
    const std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const auto* values = static_cast<const double*>(memory);
    const int entries = hist.width();
    const int bands = hist.bands();
    std::vector<std::array<double, 3>> counts(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i)
        for (int b = 0; b < 3; ++b) counts[i][b] = values[i * bands + (b < bands ? b : 0)];
    return counts;
}

// Marks each pixel's colour in a shared bit set. Most pixels repeat a colour already marked, so the
// word is read first and written only for a new colour.
class MarkColoursKernel final : public RowKernel {
public:
    explicit MarkColoursKernel(std::vector<std::atomic<std::uint64_t>>& bits) : bits_(bits) {}
    void row(const VipsPel* in, VipsPel* out, int width, int, int) const override
    {
        for (int i = 0; i < width; ++i, in += 3) {
            const std::uint32_t colour = std::uint32_t(in[0]) << 16 | std::uint32_t(in[1]) << 8 | in[2];
            std::atomic<std::uint64_t>& word = bits_[colour >> 6];
            const std::uint64_t bit = std::uint64_t(1) << (colour & 63);
            if ((word.load(std::memory_order_relaxed) & bit) == 0) word.fetch_or(bit, std::memory_order_relaxed);
        }
        std::memset(out, 0, static_cast<size_t>(width));
    }

private:
    std::vector<std::atomic<std::uint64_t>>& bits_;
};

} // namespace

ColourSet::ColourSet(const Image& eightBit)
{
    std::vector<std::atomic<std::uint64_t>> bits(size_t(1) << 18);
    for (auto& word : bits) word.store(0, std::memory_order_relaxed);
    // The marks are all the pass gives; the average of the zero image it makes drives the pass
    // over every tile on libvips' worker threads.
    const Image marks =
        pointOperation(threeBands(eightBit), kByteRGB, kByteGrey, std::make_shared<MarkColoursKernel>(bits));
    marks.avg();
    bits_.resize(bits.size());
    for (size_t i = 0; i < bits.size(); ++i) {
        bits_[i] = bits[i].load(std::memory_order_relaxed);
        size_ += static_cast<size_t>(__builtin_popcountll(bits_[i]));
    }
}

ChannelExtremes extremesOverColours(const ColourSet& colours,
                                    const std::function<void(const std::uint8_t*, float*, int)>& evaluate)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const auto parts = static_cast<size_t>(std::clamp(vips_concurrency_get(), 1, 16));
    std::vector<ChannelExtremes> found(parts);
    std::vector<std::exception_ptr> failures(parts);
    const auto measure = [&](size_t part) {
        try {
            constexpr int kRun = 4096;
            std::vector<float> rgb(3 * kRun);
            ChannelExtremes& e = found[part];
            e.minimum.fill(kInfinity);
            e.maximum.fill(-kInfinity);
            colours.forEachRun(
                kRun,
                [&](const std::uint8_t* bytes, int count) {
                    evaluate(bytes, rgb.data(), count);
                    for (int i = 0; i < count; ++i)
                        for (int b = 0; b < 3; ++b) {
                            const double v = rgb[3 * i + b];
                            if (v < e.minimum[b]) e.minimum[b] = v;
                            if (v > e.maximum[b]) e.maximum[b] = v;
                        }
                },
                part, parts);
        } catch (...) {
            failures[part] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    try {
        for (size_t part = 1; part < parts; ++part) threads.emplace_back(measure, part);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    if (!failures[0]) measure(0);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);

    ChannelExtremes all = found[0];
    for (const ChannelExtremes& e : found)
        for (int b = 0; b < 3; ++b) {
            all.minimum[b] = std::min(all.minimum[b], e.minimum[b]);
            all.maximum[b] = std::max(all.maximum[b], e.maximum[b]);
        }
    return all;
}

ChannelExtremes areaMinMax(const Image& image)
{
    const Image stats = toWorking(image).stats();
    size_t size = 0;
    void* memory = stats.write_to_memory(&size);
    const std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const auto* values = static_cast<const double*>(memory);
    const int columns = stats.width();
    ChannelExtremes extremes;
    for (int band = 0; band < 3; ++band) {
        // Row 0 is all bands together; columns 0 and 1 are the minimum and the maximum.
        extremes.minimum[band] = values[(band + 1) * columns + 0];
        extremes.maximum[band] = values[(band + 1) * columns + 1];
    }
    return extremes;
}

std::array<double, 3> areaAverage(const Image& image)
{
    const Image stats = toWorking(image).stats();
    std::array<double, 3> mean{};
    for (int band = 0; band < 3; ++band) mean[band] = stats.getpoint(4, band + 1)[0];
    return mean;
}

std::array<std::array<double, 256>, 3> byteHistogram(const Image& eightBit)
{
    const std::vector<std::array<double, 3>> counts = readHistogram(threeBands(eightBit));
    std::array<std::array<double, 256>, 3> result{};
    for (size_t x = 0; x < counts.size() && x < 256; ++x)
        for (int b = 0; b < 3; ++b) result[b][x] = counts[x][b];
    return result;
}

std::array<std::array<double, 256>, 3> readBackHistogram(const Image& image)
{
    // The linear encoding is the read-back byte of each working value.
    return byteHistogram(encode8(image, EncodeSpace::linear));
}

std::vector<std::array<double, 3>> histogramCounts(const Image& image, int bins)
{
    std::vector<std::array<double, 3>> counts(static_cast<size_t>(bins));
    if (isEightBit(image)) {
        // The working value of a byte is fixed, so the bytes' histogram gives the bins directly.
        const auto bytes = byteHistogram(image);
        const auto& decoded = srgb::byteDecodeTable();
        for (int x = 0; x < 256; ++x) {
            const int bin = binOf(decoded[x], bins);
            for (int b = 0; b < 3; ++b) counts[bin][b] += bytes[b][x];
        }
        return counts;
    }
    const Image working = toWorking(image);
    const Image quantised = bins <= 256
        ? pointOperation(working, kFloatRGB, kByteRGB, std::make_shared<QuantiseKernel<std::uint8_t>>(bins))
        : pointOperation(working, kFloatRGB, {3, VIPS_FORMAT_USHORT, VIPS_INTERPRETATION_RGB16},
                         std::make_shared<QuantiseKernel<std::uint16_t>>(bins));
    const std::vector<std::array<double, 3>> entries = readHistogram(quantised);
    for (size_t i = 0; i < entries.size() && i < counts.size(); ++i) counts[i] = entries[i];
    return counts;
}

std::optional<AreaHistogram> areaHistogram(const Image& image, int bins, double scale)
{
    if (bins < 1 || bins > 65536) return std::nullopt;
    try {
        const std::vector<std::array<double, 3>> counts = histogramCounts(image, bins);
        const double pixels = double(image.width()) * double(image.height());
        AreaHistogram histogram;
        histogram.shares.resize(counts.size());
        for (size_t i = 0; i < counts.size(); ++i)
            for (int b = 0; b < 3; ++b) histogram.shares[i][b] = scale * counts[i][b] / pixels;
        return histogram;
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

} // namespace lumenfield
