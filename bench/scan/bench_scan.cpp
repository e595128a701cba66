// The scan data flow's throughput:
//   BM_CacheDelivery     the cached delivery path on one core: 1 MiB whole-line fills, 32-line
//                        requests, for several line sizes (argument: bytes per line)
//   BM_EngineLines       the simulated scanner generating 24-bit lines (argument: 0 ideal, 1
//                        realistic sensor, 2 realistic with a shading pair)
//   BM_ScannerRead       scanner_read of 32-line requests through the virtual USB device from
//                        the chart engine (argument: 0 ideal, 1 realistic sensor)
#include "bytes.h"
#include "scan_side_cache.h"
#include "chart_scan_engine.h"
#include "driver_sleep.h"
#include "gl_scan.h"
#include "preload.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "testbed.h"
#include "usbio.h"

#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kLines = 32;

// What read_cache does once the device has answered: deliver what the cache holds, refill it with
// the whole lines of one device read of at most 1 MiB, deliver the rest of the request.
void BM_CacheDelivery(benchmark::State& state)
{
    const auto line = static_cast<uint32_t>(state.range(0));
    const uint32_t fill = SCAN_CACHE_SIZE / line * line;
    const uint32_t request = kLines * line;
    std::vector<uint8_t> device(fill, 0x5A), out(request);
    cache_t* cache = cache_new(SCAN_CACHE_SIZE);
    for (auto _ : state) {
        uint32_t held = cache_remain_data(cache);
        uint32_t done = std::min(held, request);
        cache_read(cache, out.data(), done);
        while (done < request) {
            std::memcpy(cache_get_ptr(cache), device.data(), fill);
            cache_update_ptr(cache, cache_get_ptr(cache) + fill);
            const uint32_t take = std::min(fill, request - done);
            cache_read(cache, out.data() + done, take);
            done += take;
        }
        benchmark::DoNotOptimize(out.data());
    }
    cache_free(cache);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * request);
}
// 1000-pixel grey, 2550-pixel (8.5" at 300 dpi) and 10200-pixel RGB, 40800-pixel RGB lines.
BENCHMARK(BM_CacheDelivery)->Arg(1000)->Arg(7650)->Arg(30600)->Arg(122400);

std::array<uint8_t, sim::kParametersSize> parameters(uint32_t width, uint32_t height)
{
    std::array<uint8_t, sim::kParametersSize> p{};
    p[10] = 1;
    p[18] = 24;
    sim::set_le16(&p[20], 300);
    sim::set_le16(&p[22], 300);
    sim::set_le32(&p[32], width);
    sim::set_le32(&p[36], height);
    return p;
}

void BM_EngineLines(benchmark::State& state)
{
    constexpr uint32_t kWidth = 2552, kHeight = 3304;
    sim::ScannerRecords records = *sim::scanner_profile("default");
    if (state.range(0) == 2) {
        const std::vector<uint8_t> dark(size_t{kWidth} * 6, 0x03), white(size_t{kWidth} * 6, 0xF0);
        records.front_shading[1] = {300, 4, dark};
        records.front_shading[0] = {300, 4, white};
    }
    sim::ChartScanEngine engine;
    engine.set_sensor(state.range(0) == 0 ? sim::Sensor::Ideal : sim::Sensor::Realistic);
    std::array<uint8_t, sim::kWindowSize> window{};
    sim::set_le16(&window[1], 100);
    std::vector<uint8_t> out(1 << 20);
    engine.scan(parameters(kWidth, kHeight), window, records);
    for (auto _ : state) {
        if (engine.ready(0) < out.size()) engine.scan(parameters(kWidth, kHeight), window, records);
        engine.read(0, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_EngineLines)->Arg(0)->Arg(1)->Arg(2);

// A letter page at 300 dpi, 24 bits, read in 32-line requests; the scan restarts at its end.
void BM_ScannerRead(benchmark::State& state)
{
    driver_set_sleep_function([](uint32_t) {});
    sim::Testbed testbed;
    auto [virtual_device, model] = testbed.add_with<sim::ScannerModel>(sim::scanner_device());
    model.with_chart_engine([&](sim::ChartScanEngine& e) {
        e.set_sensor(state.range(0) == 0 ? sim::Sensor::Ideal : sim::Sensor::Realistic);
    });
    usbio_init();
    int dn = -1;
    GLDevice* device = nullptr;
    GLScanner* g = nullptr;
    if (usbio_open(virtual_device.name().c_str(), &dn) != USBIO_STATUS_GOOD || device_New(&device) != STATUS_GOOD) {
        state.SkipWithError("cannot open the virtual scanner");
    } else {
        device_Open(device, static_cast<uint32_t>(dn));
        if (scanner_new(device, &g) != STATUS_GOOD) state.SkipWithError("scanner_new failed");
    }
    if (g != nullptr) {
        constexpr uint32_t kWidth = 2552, kHeight = 3304;
        ScanJob* job = g->scan_job;
        const auto para = parameters(kWidth, kHeight);
        std::memcpy(job->para().data(), para.data(), para.size());
        job->set_exposure_ratio(100);
        std::vector<uint8_t> out(size_t{kLines} * kWidth * 3);
        uint32_t length = static_cast<uint32_t>(out.size());
        uint8_t end = 1;
        for (auto _ : state) {
            if (end != 0) {
                state.PauseTiming();
                scanner_stop_scan(g, job);
                if (scanner_start_scan(g, job) != STATUS_GOOD) state.SkipWithError("the scan did not start");
                state.ResumeTiming();
            }
            const eStatus s = scanner_read(g, job, 0, out.data(), &length, &end);
            if (s != STATUS_GOOD && s != STATUS_UNEXPECTED_JOB_REPLY) {
                state.SkipWithError("read failed");
                break;
            }
            if (s == STATUS_UNEXPECTED_JOB_REPLY) end = 1; // the page's last, shorter chunk
        }
        scanner_stop_scan(g, job);
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
    }
    scanner_free(g);
    device_Free(device);
    if (dn >= 0) usbio_close(dn);
    usbio_exit();
    driver_set_sleep_function(nullptr);
}
BENCHMARK(BM_ScannerRead)->Arg(0)->Arg(1)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    sim::reexec_with_preload(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
