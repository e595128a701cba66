// The dark and white shading reductions over a whole flatbed line at 4800 dpi: 40 800 pixels × 3
// channels × 256 sample lines, each column reduced by the median-window statistic. Samples look
// like the device's: a level per column, a little noise and 4 outliers in 256.
#include "calibration.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

constexpr uint32_t kPixels = 40800;
constexpr uint32_t kChannels = 3;
constexpr uint32_t kLines = 256;

CALI_PARAM& record()
{
    static CALI_PARAM c = [] {
        CALI_PARAM r{};
        r.colour = 1;
        r.pixels = kPixels;
        r.lines = kLines;
        r.column_statistic = cali_sortMid;
        const size_t width = size_t{kPixels} * kChannels;
        r.dark_samples.resize(width * kLines);
        r.white_samples.resize(width * kLines);
        r.dark_line.resize(width);
        r.white_line.resize(width);
        std::mt19937 random(1);
        for (size_t l = 0; l < kLines; ++l)
            for (size_t k = 0; k < width; ++k) {
                const bool outlier = (k / kChannels + 3 * (k % kChannels) + 7 * l) % 64 == 0;
                const auto noise = static_cast<int>(random() % 21) - 10;
                r.dark_samples[l * width + k] = outlier ? 0 : static_cast<uint16_t>(800 + k % 300 + noise);
                r.white_samples[l * width + k] = outlier ? 65535 : static_cast<uint16_t>(40000 + k % 9000 + 40 * noise);
            }
        return r;
    }();
    return c;
}

void run(benchmark::State& state, void (*reduction)(CALI_PARAM*))
{
    CALI_PARAM& c = record();
    for (auto _ : state) {
        reduction(&c);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels * kChannels * kLines);
    state.counters["columns"] = kPixels * kChannels;
}

void BM_DarkReduction(benchmark::State& state)
{
    run(state, cali_shadingForDarkChunky);
}

void BM_WhiteReduction(benchmark::State& state)
{
    run(state, cali_shadingForWhiteChunky);
}

} // namespace

BENCHMARK(BM_DarkReduction)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_WhiteReduction)->Unit(benchmark::kMillisecond)->MinTime(2);

BENCHMARK_MAIN();
