// The scan session's share of a scan: 256-line blocks of an RGB image read straight into the
// canvas's rows, then the canvas written as raw_image.tiff. Reports seconds and the peak resident
// memory of each run (the high-water mark is reset before it), also as the growth over the memory
// held before the run.
// Run: build/bench/scanner/bench_scan_session
#include "process_memory.h"
#include "raw_image.h"

#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <string>

using namespace lumenfield;

namespace {

constexpr int kBlockLines = 256;

void scanSession(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(0));
    const std::size_t rowBytes = std::size_t(width) * 3;
    QTemporaryDir folder(QDir::tempPath() + "/bench_scan_session.XXXXXX");
    const QString path = folder.path() + "/raw_image.tiff";
    double peak = 0;
    double growth = 0;
    double placing = 0;
    double writing = 0;
    const bool peakReset = resetPeak();
    for (auto _ : state) {
        resetPeak();
        const double before = statusBytes("VmRSS");
        const auto begin = std::chrono::steady_clock::now();
        std::optional<RawCanvas> canvas = RawCanvas::create(width, height);
        if (!canvas) {
            state.SkipWithError("no canvas");
            break;
        }
        for (int first = 0; first < height; first += kBlockLines) {
            const int lines = std::min(kBlockLines, height - first);
            uint8_t* rows = canvas->row(first);
            state.PauseTiming(); // the driver's share: filling the lines
            for (int line = 0; line < lines; line++)
                std::memset(rows + std::size_t(line) * rowBytes, (first + line) & 0xFF, rowBytes);
            state.ResumeTiming();
        }
        canvas->whiten(height);
        const auto placed = std::chrono::steady_clock::now();
        if (!writeTIFF(*canvas, path, 300)) {
            state.SkipWithError("writing failed");
            break;
        }
        const auto written = std::chrono::steady_clock::now();
        placing += std::chrono::duration<double>(placed - begin).count();
        writing += std::chrono::duration<double>(written - placed).count();
        canvas.reset();
        const double high = statusBytes("VmHWM");
        peak = std::max(peak, high);
        growth = std::max(growth, high - before);
    }
    state.counters["place_s"] = benchmark::Counter(placing, benchmark::Counter::kAvgIterations);
    state.counters["write_s"] = benchmark::Counter(writing, benchmark::Counter::kAvgIterations);
    state.counters["canvas_MB"] = double(rowBytes) * height / 1e6;
    state.counters["peak_RSS_MB"] = peak / 1e6;
    state.counters["peak_growth_MB"] = growth / 1e6;
    if (!peakReset) state.SetLabel("peak since start: the kernel refused to reset it");
}

BENCHMARK(scanSession)->Arg(5000)->Arg(10000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]) != 0) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
