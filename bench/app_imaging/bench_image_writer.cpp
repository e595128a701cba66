// Writing a 10000 x 10000 scan, each format and compression: the chart processed and written by
// writeImage, beside the same work in stock libvips in the same run: the chain's steps from stock
// operations (stock_chain.h) and libvips' own saver with the options the writer once handed it.
// Seconds of each (median of 3) and their ratio, the processor time of all threads of each and its
// ratio, the file sizes, the memory each write added at its peak and the machine's load average
// over the runs. A busy machine slows our writer, which compresses on every core, more than libvips,
// whose savers compress on one thread: the wall ratio holds only at the load beside it, while the
// processor-time ratio says how much work each did. The input is the chart processed with raw,
// that is the 8-bit image itself, except for the last case, which writes the manual colour
// chain's result. Run every case in a process of its own:
//   bench/app_imaging/run_cases build
#include "../median_reporter.h"
#include "../cpu_model.h"
#include "../load_average.h"
#include "atomic_file.h"
#include "bench_input.h"
#include "image_file.h"
#include "image_processor.h"
#include "stock_chain.h"
#include "vips_save_options.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

using namespace lumenfield;

namespace {

struct Case {
    const char* name;
    OutputFormat format;
    TIFFCompression compression;
    ICCProfile profile;
    bool manualChain;
};

constexpr Case kCases[] = {
    {"jpeg_q75", OutputFormat::jpeg, TIFFCompression::none, ICCProfile::sRGB, false},
    {"png", OutputFormat::png, TIFFCompression::none, ICCProfile::sRGB, false},
    {"tiff_none_srgb", OutputFormat::tiff, TIFFCompression::none, ICCProfile::sRGB, false},
    {"tiff_lzw_srgb", OutputFormat::tiff, TIFFCompression::lzw, ICCProfile::sRGB, false},
    {"tiff_jpeg_srgb", OutputFormat::tiff, TIFFCompression::jpeg, ICCProfile::sRGB, false},
    {"tiff_zip_srgb", OutputFormat::tiff, TIFFCompression::zip, ICCProfile::sRGB, false},
    {"tiff_none_generic", OutputFormat::tiff, TIFFCompression::none, ICCProfile::generic, false},
    {"tiff_none_adobe", OutputFormat::tiff, TIFFCompression::none, ICCProfile::adobeRGB, false},
    {"tiff_none_manual_chain", OutputFormat::tiff, TIFFCompression::none, ICCProfile::sRGB, true},
};

// The process's resident memory, sampled every millisecond between start() and stop(): the most
// it rose above where it was at start().
class ResidentPeak {
public:
    void start()
    {
        base_ = resident();
        peak_ = base_.load();
        running_ = true;
        sampler_ = std::thread([this] {
            while (running_) {
                peak_ = std::max(peak_.load(), resident());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    double stop()
    {
        running_ = false;
        sampler_.join();
        return double(std::max(peak_.load(), resident()) - base_);
    }

private:
    static long long resident()
    {
        std::ifstream statm("/proc/self/statm");
        long long size = 0, pages = 0;
        statm >> size >> pages;
        return pages * 4096;
    }
    std::atomic<long long> base_ = 0, peak_ = 0;
    std::atomic<bool> running_ = false;
    std::thread sampler_;
};

// What the writer did before: libvips' saver of the format on the rendering, into the file
// replaced as the writer replaces it.
bool writeWithLibvips(const Image& image, const QString& path, const Case& c, const WriteOptions& options)
{
    return replaceFileAtomically(path, [&](int descriptor) {
        const Image pixels = fileRendering(image, c.format, options);
        const vips::VTarget target = vips::VTarget::new_to_descriptor(descriptor);
        switch (c.format) {
        case OutputFormat::png: pixels.pngsave_target(target); break;
        case OutputFormat::tiff: {
            const double bytes = double(pixels.width()) * pixels.height() * pixels.bands();
            pixels.tiffsave_target(target,
                                   Image::option()
                                       ->set("compression", vipsTiffCompression(c.compression))
                                       ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                                       ->set("xres", pixels.xres())
                                       ->set("yres", pixels.yres())
                                       ->set("bigtiff", bytes >= 4294967296.0 - 1048576.0));
            break;
        }
        default: pixels.jpegsave_target(target, Image::option()->set("Q", vipsJpegQuality(options.jpegQuality))); break;
        }
        return true;
    });
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The load average over each case's runs, by the benchmark's name.
std::map<std::string, lfbench::LoadRange> loads;

void writeCase(benchmark::State& state, const Case& c)
{
    lfbench::LoadRange& load = loads[std::string("write/") + c.name];
    const Image& chart = benchmarkChart();
    ScanSettings::Values scan = ScanSettings().values();
    const ImageSettings::Values settings =
        benchmarkSettings(c.manualChain ? AdjustmentMethod::manual : AdjustmentMethod::raw);
    WriteOptions options;
    options.format = c.format;
    options.tiffCompression = c.compression;
    options.jpegQuality = JPEGQuality::high;
    options.embedProfile = true;
    options.iccProfile = c.profile;
    options.dpi = 300;
    // Each iteration writes the same file again.
    options.takenName = TakenName::replace;
    QTemporaryDir folder(QDir::tempPath() + "/lumenfield-bench-XXXXXX");
    const QString extension = "." + displayName(c.format).toLower();
    const QString ours = folder.path() + "/ours" + extension, theirs = folder.path() + "/libvips" + extension;
    ProcessTrace trace;
    ImageProcessor::processImage(chart, scan, settings, &trace);
    bool ok = true;
    double oursSeconds = 0, libvipsSeconds = 0, oursPeak = 0, libvipsPeak = 0, oursCpu = 0, libvipsCpu = 0;
    ResidentPeak peak;
    // Which of the two goes first alternates, so that neither always meets a warmer machine.
    static int turn = 0;
    for (auto _ : state) {
        load.sample();
        for (int k = 0; k < 2; ++k) {
            const bool writer = (k + turn) % 2 == 0;
            peak.start();
            const auto started = std::chrono::steady_clock::now();
            const double cpuBefore = processCpuSeconds();
            if (writer)
                ok = writeImage(ImageProcessor::processImage(chart, scan, settings), ours, c.format, options)
                         .has_value() &&
                    ok;
            else
                ok = writeWithLibvips(stockChain(chart, trace), theirs, c, options) && ok;
            (writer ? oursSeconds : libvipsSeconds) = seconds(started);
            (writer ? oursCpu : libvipsCpu) = processCpuSeconds() - cpuBefore;
            (writer ? oursPeak : libvipsPeak) = peak.stop();
        }
        ++turn;
        load.sample();
        state.SetIterationTime(oursSeconds);
    }
    state.counters["libvips_s"] = libvipsSeconds;
    // All threads' processor time: what the work costs, whatever share of a busy machine it got.
    state.counters["cpu_s"] = oursCpu;
    state.counters["libvips_cpu_s"] = libvipsCpu;
    state.counters["ratio"] = oursSeconds / libvipsSeconds;
    state.counters["cpu_ratio"] = oursCpu / libvipsCpu;
    state.counters["file_MB"] = double(QFileInfo(ours).size()) / 1e6;
    state.counters["libvips_file_MB"] = double(QFileInfo(theirs).size()) / 1e6;
    state.counters["peak_MB"] = oursPeak / 1e6;
    state.counters["libvips_peak_MB"] = libvipsPeak / 1e6;
    if (!ok) state.SkipWithError("a file was not written");
}

std::map<std::string, std::map<std::string, double>> medians;

// Each median's seconds and counters, for the table after the runs.
void collectMedian(const benchmark::BenchmarkReporter::Run& r)
{
    auto& figures = medians[r.run_name.function_name];
    figures["s"] = r.GetAdjustedRealTime();
    for (const auto& [name, counter] : r.counters) figures[name] = counter.value;
}

// The table of medians, after the runs.
void printSummary()
{
    std::printf("\nProcessor: %s, %d threads for libvips and the writer\n", lfbench::cpu_model().c_str(),
                vips_concurrency_get());
    std::printf("Medians. Seconds include processing; ratio is ours over libvips in wall time, cpu ratio in\n"
                "the processor time of all threads (cpu s), each the median of the runs' own ratios; peak\n"
                "is the memory a write added; load is the machine's one-minute load average over the\n"
                "case's runs.\n");
    std::printf("%-30s %7s %7s %6s  %7s %7s %6s  %7s %7s %6s  %7s %7s  %s\n", "case", "ours s", "libvips", "ratio",
                "cpu s", "libvips", "ratio", "ours MB", "libvips", "size", "peak MB", "libvips", "load");
    for (const auto& [name, f] : medians)
        std::printf("%-30s %7.2f %7.2f %6.3f  %7.2f %7.2f %6.3f  %7.1f %7.1f %6.3f  %7.0f %7.0f  %s\n", name.c_str(),
                    f.at("s"), f.at("libvips_s"), f.at("ratio"), f.at("cpu_s"), f.at("libvips_cpu_s"),
                    f.at("cpu_ratio"), f.at("file_MB"), f.at("libvips_file_MB"),
                    f.at("file_MB") / f.at("libvips_file_MB"), f.at("peak_MB"), f.at("libvips_peak_MB"),
                    loads[name].text().c_str());
}

const bool registered = [] {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("write/") + c.name).c_str(), writeCase, c)
            ->Unit(benchmark::kSecond)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
    benchmark::AddCustomContext("cpu_model", lfbench::cpu_model());
    return true;
}();

} // namespace

int main(int argc, char** argv)
{
    lfbench::MedianReporter reporter(collectMedian);
    const int status = runBenchmarks(argc, argv, &reporter);
    if (status == 0) printSummary();
    return status;
}
