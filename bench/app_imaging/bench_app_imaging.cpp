// Post-processing of a 10000 x 10000 scan: processImage plus one streaming pass of the sRGB
// rendering into a sink that keeps no pixels, per adjustment case. Seconds per run (median of 5)
// and the process's peak resident memory. Run every case in a process of its own:
//   bench/app_imaging/run_cases build
#include "bench_input.h"
#include "image_processor.h"
#include "working_color.h"

namespace {

struct Case {
    const char* name;
    VekScanSource source;
    VekColorType colorType;
    AdjustmentMethod method;
};

constexpr Case kCases[] = {
    {"manual_colour", VekScanSource::reflective, VekColorType::color, AdjustmentMethod::manual},
    {"manual_grey_noir", VekScanSource::reflective, VekColorType::gray, AdjustmentMethod::manual},
    {"manual_bw_auto", VekScanSource::reflective, VekColorType::blackAndWhite, AdjustmentMethod::manual},
    {"manual_colour_negative", VekScanSource::negativeFilm, VekColorType::color, AdjustmentMethod::manual},
    {"photo_colour", VekScanSource::reflective, VekColorType::color, AdjustmentMethod::photo},
    {"doc_colour", VekScanSource::reflective, VekColorType::color, AdjustmentMethod::doc},
    {"raw_colour", VekScanSource::reflective, VekColorType::color, AdjustmentMethod::raw},
};

void processCase(benchmark::State& state, const Case& c) {
    const Image& chart = benchmarkChart();
    ScanSettings::Values scan = ScanSettings().values();
    scan.scanSource = c.source;
    scan.colorType = c.colorType;
    const ImageSettings::Values settings = benchmarkSettings(c.method);
    double mean = 0.0;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        const Image processed = ImageProcessor::processImage(chart, scan, settings);
        mean = encode8(processed, EncodeSpace::sRGB).avg();
        benchmark::DoNotOptimize(mean);
    }
    // All threads' CPU time: on a busy machine a steadier measure of the work than wall time.
    state.counters["all_threads_cpu_s"] =
        (processCpuSeconds() - cpuBefore) / double(state.iterations());
    state.counters["mean"] = mean;
    reportPeakMemory(state);
}

const bool registered = [] {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("process/") + c.name).c_str(), processCase, c)
            ->Unit(benchmark::kSecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(5);
    }
    return true;
}();

}  // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
