// The whole image pipeline (ip_initial, ip_read, ip_release) on one core, fed by a stand-in line
// source that copies prepared lines from a ring, for the typical scans: MB/s (10^6 bytes) of
// device data consumed and of output made, the ratio to the USB 2.0 high-speed bulk rate
// (53 MB/s), and the split over the stages from the pipeline's own timers. Beside each case, the
// nearest stock libvips comes to the same work on one thread in the same run, from the same scan
// lines in memory: the stages it has (the resize with its linear kernel, the gamma tables through
// maplut, the mirror as a flip, line art as a comparison with the tiled pattern, left as bytes),
// none for the magnification correction. Our speed over its speed is given in wall time and in
// processor time, with the machine's load average over the case's runs: neither figure is free of
// the load (other work takes a share of the core and of the caches and memory bandwidth it
// shares), which is why the load stands beside them. `outside` is the share of our processor time
// spent outside the stages' own timers: setting up and releasing the pipeline (`set-up`, measured
// here), and the rest of ip_read, which moves the lines into the caller's buffer.
// Run: build/bench/driver_pipeline/bench_pipeline
#include "../median_reporter.h"
#include "../cpu_model.h"
#include "../load_average.h"
#include "halftone.h"
#include "image_pipeline.h"
#include "pipeline_setup.h"

#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <time.h>

namespace {

using lftest::Gamma;
using lftest::PipelineConfig;

constexpr double kUsbRate = 53.0;     // MB/s
constexpr double kGoal = 530.0;       // MB/s of device data for A, B, D and E
constexpr uint32_t kRingLines = 64;   // prepared lines the source cycles through
constexpr int64_t kLeastLines = 4000; // output lines per repetition

struct Case {
    const char* name;
    PipelineConfig config;
    int host_lines; // lines per host read
    bool goal;      // held to the ten-times goal
};

PipelineConfig colour_600dpi()
{
    PipelineConfig c;
    c.scan_width = 5104;
    c.scan_lines = 7008;
    c.output_width = 5100;
    c.output_lines = 7001;
    c.gamma = Gamma::Identity;
    return c;
}

std::vector<Case> cases()
{
    std::vector<Case> all;
    all.push_back({"A_colour8_600dpi_identity_gamma", colour_600dpi(), 256, true});
    PipelineConfig b = colour_600dpi();
    b.output_width = 4253;
    b.output_lines = 5840;
    b.gamma = Gamma::PerChannel;
    all.push_back({"B_colour8_600_to_500dpi_gamma", b, 256, true});
    PipelineConfig c = colour_600dpi();
    c.correction = true;
    c.mirror = true;
    all.push_back({"C_A_with_correction_and_mirror", c, 256, false});
    PipelineConfig d;
    d.depth = 16;
    d.output_width = 10200;
    d.scan_lines = 1024;
    d.output_lines = 2037;
    d.correction = true;
    d.gamma = Gamma::PerChannel;
    d.mirror = true;
    all.push_back({"D_colour16_1200dpi_correction_gamma_mirror", d, 256, true});
    PipelineConfig e;
    e.image_type = IMAGE_TYPE_LINE_ART;
    e.scan_width = 10208;
    e.scan_lines = 4096;
    e.output_width = 10200;
    e.output_lines = 4090;
    e.halftone = 0;
    all.push_back({"E_line_art_1200dpi_pattern0", e, 256, true});
    all.push_back({"F_A_with_1_line_reads", colour_600dpi(), 1, false});
    return all;
}

// The process's processor time, all its threads: what the work cost on the core it ran on,
// however much of that core other processes took meanwhile. The whole process rather than the
// calling thread, because libvips computes on a worker of its own even with one thread.
double cpu_seconds_now()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Figures {
    double device_mbps = 0;
    double device_cpu_mbps = 0;
    double libvips_cpu_mbps = 0;
    double output_mbps = 0;
    double libvips_mbps = 0;
    double outside = 0; // share of the processor time outside the stages
    double setup = 0;   // of which in ip_initial and ip_release
    lfbench::LoadRange load;
    std::map<std::string, double> stage_share; // of the pipeline's own stage time
};
std::map<std::string, Figures> medians;

using vips::VImage;

// The libvips form of a case: from the scan lines the line source serves (its ring repeated) to
// the output size, in a memory image. Seconds of one run on one thread, wall and processor time.
std::pair<double, double> libvips_run(const Case& c, lftest::PipelineSetting& setting, const std::vector<uint8_t>& ring)
{
    const IMAGE_SETTING& f = setting.front();
    const PipelineConfig& cfg = c.config;
    const int bands = cfg.image_type == IMAGE_TYPE_COLOUR ? 3 : 1;
    const VipsBandFormat format = cfg.depth == 16 ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR;
    const int width = static_cast<int>(f.scan_width);
    const VImage lines = VImage::new_from_memory(const_cast<uint8_t*>(ring.data()), ring.size(), width,
                                                 static_cast<int>(kRingLines), bands, format);
    const int repeats = static_cast<int>((f.scan_lines + kRingLines - 1) / kRingLines);
    const VImage scan = lines.replicate(1, repeats).crop(0, 0, width, static_cast<int>(f.scan_lines)).copy_memory();

    const auto started = std::chrono::steady_clock::now();
    const double cpu_started = cpu_seconds_now();
    VImage x = scan;
    const int out_width = static_cast<int>(f.output_width), out_lines = static_cast<int>(f.output_lines);
    if (out_width != width || out_lines != static_cast<int>(f.scan_lines))
        x = x.resize(
            double(out_width) / width,
            VImage::option()->set("vscale", double(out_lines) / f.scan_lines)->set("kernel", VIPS_KERNEL_LINEAR));
    if (cfg.gamma != Gamma::None) {
        const std::vector<uint8_t> tables = lftest::gamma_tables(cfg);
        const int entries = static_cast<int>(tables.size() / bands / (cfg.depth == 16 ? 2 : 1));
        std::vector<VImage> planes;
        for (int b = 0; b < bands; ++b)
            planes.push_back(VImage::new_from_memory(const_cast<uint8_t*>(tables.data()) + tables.size() / bands * b,
                                                     tables.size() / bands, entries, 1, 1, format)
                                 .copy_memory());
        x = x.maplut(VImage::bandjoin(planes));
    }
    if (cfg.mirror) x = x.flip(VIPS_DIRECTION_HORIZONTAL);
    // The resize may round the size its own way; the threshold follows what it made.
    const int made_width = x.width(), made_lines = x.height();
    if (cfg.image_type == IMAGE_TYPE_LINE_ART) {
        uint16_t descriptor = 0x0100; // a side of 1 for the plain threshold
        if (cfg.halftone >= 0) GetHTPatStruct(&descriptor, cfg.halftone, 1);
        const int side = (descriptor >> 8) & 0xF;
        const uint8_t middle = 128;
        const uint8_t* pattern = cfg.halftone >= 0 ? getPattern(cfg.halftone) : &middle;
        const VImage tile = VImage::new_from_memory(const_cast<uint8_t*>(pattern), size_t(side) * side, side, side, 1,
                                                    VIPS_FORMAT_UCHAR);
        x = x.relational(tile.replicate((made_width + side - 1) / side, (made_lines + side - 1) / side)
                             .crop(0, 0, made_width, made_lines),
                         VIPS_OPERATION_RELATIONAL_LESS);
    }
    const VImage done = x.copy_memory();
    benchmark::DoNotOptimize(done.get_image());
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
            cpu_seconds_now() - cpu_started};
}

void run_case(benchmark::State& state, const Case& c)
{
    lftest::PipelineSetting setting(c.config);
    IMAGE_SETTING& f = setting.front();
    lftest::LineSource source(lftest::test_image(uint64_t{kRingLines} * f.scan_row_bytes, 3));
    std::vector<uint8_t> buffer(size_t{f.output_row_bytes} * c.host_lines);
    double stage_time[7] = {};
    double cpu_seconds = 0;
    double setup_seconds = 0; // in ip_initial and ip_release
    lfbench::LoadRange& load = medians[c.name].load;
    load.sample();
    for (auto _ : state) {
        const double cpu_started = cpu_seconds_now();
        f.lines_to_deliver = f.output_lines;
        if (!ip_initial(setting.get(), nullptr, 0).ok()) {
            state.SkipWithError("ip_initial failed");
            return;
        }
        setup_seconds += cpu_seconds_now() - cpu_started;
        int left = 0, end = 0;
        while (end == 0) {
            if (!ip_read(setting.get(), nullptr, 0, buffer.data(), c.host_lines, &left, &end).ok()) {
                state.SkipWithError("ip_read failed");
                return;
            }
            benchmark::DoNotOptimize(buffer.data());
        }
        const double t[7] = {
            measure_scan_process,          measure_bqm_process,   measure_horizontal_correction_process,
            measure_interpolation_process, measure_gamma_process, measure_mirror_process,
            measure_lineart_process};
        for (int i = 0; i < 7; ++i) stage_time[i] += t[i];
        const double releasing = cpu_seconds_now();
        ip_release(setting.get());
        const double done = cpu_seconds_now();
        setup_seconds += done - releasing;
        cpu_seconds += done - cpu_started;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double device = static_cast<double>(setting.scan_bytes());
    const double output = static_cast<double>(f.output_row_bytes) * f.output_lines;
    state.counters["dev_MB/s"] = benchmark::Counter(device / 1e6 * iterations, benchmark::Counter::kIsRate);
    state.counters["out_MB/s"] = benchmark::Counter(output / 1e6 * iterations, benchmark::Counter::kIsRate);
    state.counters["x53"] = benchmark::Counter(device / 1e6 / kUsbRate * iterations, benchmark::Counter::kIsRate);
    // Each stage's speed over its own time, in MB/s of device data.
    static const char* const kStages[7] = {"scan", "bqm", "corr", "resize", "gamma", "mirror", "lineart"};
    for (int i = 0; i < 7; ++i)
        if (stage_time[i] > 0) state.counters[kStages[i]] = device * iterations / stage_time[i] / 1e6;
    // libvips' run after ours in every repetition, so that both meet the same machine.
    state.counters["cpu_MB/s"] = device * iterations / cpu_seconds / 1e6;
    const auto [seconds, libvips_cpu] = libvips_run(c, setting, source.image());
    state.counters["libvips_MB/s"] = device / 1e6 / seconds;
    state.counters["libvips_cpu_MB/s"] = device / 1e6 / libvips_cpu;
    double staged = 0;
    for (const double t : stage_time) staged += t;
    state.counters["outside"] = 1.0 - staged / cpu_seconds;
    state.counters["setup"] = setup_seconds / cpu_seconds;
    load.sample();
}

// Each median's figures, for the summary after the runs.
void collectMedian(const benchmark::BenchmarkReporter::Run& r)
{
    Figures& f = medians[r.run_name.function_name];
    for (const auto& [name, counter] : r.counters) {
        if (name == "dev_MB/s")
            f.device_mbps = counter.value;
        else if (name == "out_MB/s")
            f.output_mbps = counter.value;
        else if (name == "libvips_MB/s")
            f.libvips_mbps = counter.value;
        else if (name == "cpu_MB/s")
            f.device_cpu_mbps = counter.value;
        else if (name == "libvips_cpu_MB/s")
            f.libvips_cpu_mbps = counter.value;
        else if (name == "outside")
            f.outside = counter.value;
        else if (name == "setup")
            f.setup = counter.value;
        else if (name != "x53")
            f.stage_share[name] = counter.value;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]) != 0) return 1;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    const std::string model = lfbench::cpu_model();
    benchmark::AddCustomContext("cpu_model", model);
    const std::vector<Case> all = cases();
    for (const Case& c : all) {
        // Every repetition makes at least kLeastLines output lines, in at least three images.
        const int64_t images = std::max<int64_t>(3, (kLeastLines + c.config.output_lines - 1) / c.config.output_lines);
        benchmark::RegisterBenchmark(c.name, [&c](benchmark::State& s) { run_case(s, c); })
            ->Iterations(images)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    lfbench::MedianReporter reporter(collectMedian);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nProcessor: %s (one thread)\n", model.c_str());
    std::printf("Medians; stage columns are MB/s of device data over that stage's own time; libvips is\n"
                "its MB/s of device data for the same stages on one thread, x vips our speed over it.\n"
                "per core is MB/s of device data over the process's processor time, beside libvips' in the\n"
                "same terms and x cpu, our speed over libvips' in processor time. The goals are held to\n"
                "per core, which a share of the core taken by other work does not lower, but which still\n"
                "falls on a busy machine (the caches and memory bandwidth are shared): load is the\n"
                "one-minute load average over the case's runs. outside is the share of our processor\n"
                "time outside the stages' timers, set-up the part of it in ip_initial and ip_release; the\n"
                "rest is ip_read moving lines into the caller's buffer.\n");
    std::printf("%-44s %9s %9s %6s %8s %6s %9s %8s %6s %7s %6s %9s  %s\n", "case", "dev MB/s", "out MB/s", "x53",
                "libvips", "x vips", "per core", "libvips", "x cpu", "outside", "set-up", "load", "stages");
    bool all_met = true;
    for (const Case& c : all) {
        const auto it = medians.find(c.name);
        if (it == medians.end()) continue;
        const Figures& f = it->second;
        const double floor = c.goal ? kGoal : kUsbRate;
        const bool met = f.device_cpu_mbps >= floor;
        all_met = all_met && met;
        std::printf("%-44s %9.1f %9.1f %6.1f %8.1f %6.2f %9.1f %8.1f %6.2f %6.1f%% %5.1f%% %9s ", c.name, f.device_mbps,
                    f.output_mbps, f.device_mbps / kUsbRate, f.libvips_mbps, f.device_mbps / f.libvips_mbps,
                    f.device_cpu_mbps, f.libvips_cpu_mbps, f.device_cpu_mbps / f.libvips_cpu_mbps, 100.0 * f.outside,
                    100.0 * f.setup, f.load.text().c_str());
        for (const auto& [stage, mbps] : f.stage_share) std::printf(" %s %.0f", stage.c_str(), mbps);
        std::printf("  [%s %.0f MB/s]\n", met ? "meets" : "BELOW", floor);
    }
    std::printf(all_met ? "Every case meets its goal.\n" : "A case is below its goal.\n");
    vips_shutdown();
    return 0;
}
