// Post-processing of a 10000 x 10000 scan: processImage plus one streaming pass of the sRGB
// rendering into a sink that keeps no pixels, per adjustment case, beside the same steps built
// from stock libvips operations (stock_chain.h) streamed the same way in the same run. Seconds per
// run of each (median of 5) and their ratio, the processor time of all threads of each and its
// ratio (a busy machine slows the two unlike each other in wall time), the machine's load average
// at the end of the case, and the process's peak resident memory. Run every case
// in a process of its own:
//   bench/app_imaging/run_cases build
#include "../load_average.h"
#include "bench_input.h"
#include "image_processor.h"
#include "stock_chain.h"
#include "working_color.h"

#include <chrono>

using namespace lumenfield;

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

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void processCase(benchmark::State& state, const Case& c)
{
    const Image& chart = benchmarkChart();
    ScanSettings::Values scan = ScanSettings().values();
    scan.scanSource = c.source;
    scan.colorType = c.colorType;
    const ImageSettings::Values settings = benchmarkSettings(c.method);
    ProcessTrace trace;
    ImageProcessor::processImage(chart, scan, settings, &trace);
    double mean = 0.0, libvipsMean = 0.0, ours = 0.0, libvips = 0.0, cpu = 0.0, libvipsCpu = 0.0;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        const double cpuBefore = processCpuSeconds();
        const Image processed = ImageProcessor::processImage(chart, scan, settings);
        mean = encode8(processed, EncodeSpace::sRGB).avg();
        ours = seconds(started);
        cpu += processCpuSeconds() - cpuBefore;
        benchmark::DoNotOptimize(mean);
        state.SetIterationTime(ours);
        started = std::chrono::steady_clock::now();
        const double libvipsCpuBefore = processCpuSeconds();
        libvipsMean = stockChain(chart, trace).avg();
        libvips = seconds(started);
        libvipsCpu += processCpuSeconds() - libvipsCpuBefore;
    }
    // All threads' CPU time of our runs: on a busy machine a steadier measure of the work than
    // wall time.
    state.counters["all_threads_cpu_s"] = cpu / double(state.iterations());
    state.counters["mean"] = mean;
    state.counters["libvips_mean"] = libvipsMean;
    state.counters["libvips_s"] = libvips;
    state.counters["ratio"] = ours / libvips;
    state.counters["libvips_cpu_s"] = libvipsCpu / double(state.iterations());
    state.counters["cpu_ratio"] = cpu / libvipsCpu;
    state.counters["load"] = lfbench::load_average();
    reportPeakMemory(state);
}

const bool registered = [] {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("process/") + c.name).c_str(), processCase, c)
            ->Unit(benchmark::kSecond)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5);
    }
    return true;
}();

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv);
}
