// Writing a 10000 x 10000 scan: each format and compression, seconds per file (median of 3) and
// the process's peak resident memory. The input is the chart processed with raw, that is the
// 8-bit image itself, except for the last case, which writes the manual colour chain's result.
// Run every case in a process of its own:
//   bench/app_imaging/run_cases build
#include "bench_input.h"
#include "image_file.h"
#include "image_processor.h"

#include <QDir>
#include <QTemporaryDir>

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

void writeCase(benchmark::State& state, const Case& c) {
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
    QTemporaryDir folder(QDir::tempPath() + "/lumenfield-bench-XXXXXX");
    const QString path = folder.path() + "/out." + displayName(c.format).toLower();
    bool ok = true;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        const Image processed = ImageProcessor::processImage(chart, scan, settings);
        ok = writeImage(processed, path, c.format, options).has_value() && ok;
    }
    state.counters["all_threads_cpu_s"] =
        (processCpuSeconds() - cpuBefore) / double(state.iterations());
    state.counters["file_bytes"] = double(QFileInfo(path).size());
    if (!ok) state.SkipWithError("the file was not written");
    reportPeakMemory(state);
}

const bool registered = [] {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("write/") + c.name).c_str(), writeCase, c)
            ->Unit(benchmark::kSecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(3);
    }
    return true;
}();

}  // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
