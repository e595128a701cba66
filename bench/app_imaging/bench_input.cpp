#include "bench_input.h"

#include "../process_cpu.h"

#include <sys/resource.h>

#include <cstdint>
#include <vector>

using namespace lumenfield;

namespace {

constexpr int kSide = 10000;

std::vector<std::uint8_t>& chartPixels()
{
    static std::vector<std::uint8_t> pixels = [] {
        std::vector<std::uint8_t> p(size_t(kSide) * kSide * 3);
        std::uint32_t noise = 12345;
        for (int y = 0; y < kSide; ++y) {
            std::uint8_t* row = p.data() + size_t(y) * kSide * 3;
            const bool textRow = (y / 40) % 6 == 2;
            for (int x = 0; x < kSide; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int jitter = int(noise >> 29); // 0..7
                std::uint8_t* px = row + 3 * x;
                if (textRow && (x / 25) % 7 < 4 && (x / 5 + y / 8) % 3 != 0) {
                    px[0] = std::uint8_t(25 + jitter);
                    px[1] = std::uint8_t(24 + jitter);
                    px[2] = std::uint8_t(30 + jitter);
                    continue;
                }
                px[0] = std::uint8_t(20 + (x * 207) / kSide + jitter);
                px[1] = std::uint8_t(20 + (y * 207) / kSide + jitter);
                px[2] = std::uint8_t(20 + ((x + y) * 207) / (2 * kSide) + jitter);
            }
        }
        return p;
    }();
    return pixels;
}

} // namespace

const Image& benchmarkChart()
{
    static const Image chart = [] {
        std::vector<std::uint8_t>& pixels = chartPixels();
        return Image::new_from_memory(pixels.data(), pixels.size(), kSide, kSide, 3, VIPS_FORMAT_UCHAR)
            .copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }();
    return chart;
}

ImageSettings::Values benchmarkSettings(AdjustmentMethod method)
{
    ImageSettings::Values settings = ImageSettings().values();
    settings.adjustmentMethod = method;
    settings.exposure = 0.5;
    settings.contrast = 1.2;
    settings.saturation = 1.3;
    settings.hue = 0.3;
    settings.sharpeness = 0.8;
    settings.grayMode = GrayMode::noir;
    settings.bwMode = BWMode::automatic;
    return settings;
}

void reportPeakMemory(benchmark::State& state)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss"] = benchmark::Counter(double(usage.ru_maxrss) * 1024.0, benchmark::Counter::kDefaults,
                                                    benchmark::Counter::kIs1024);
}

double processCpuSeconds()
{
    return lfbench::process_cpu_seconds();
}

int runBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter* reporter)
{
    if (VIPS_INIT(argv[0]) != 0) return 1;
    // Cached operations would keep whole images alive between runs.
    vips_cache_set_max(0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (reporter)
        benchmark::RunSpecifiedBenchmarks(reporter);
    else
        benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
