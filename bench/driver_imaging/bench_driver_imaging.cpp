// Throughput of each image stage on one core, in MB/s (10^6 bytes) of stage input, median of
// repeated runs, with the budget each stage needs for the whole pipeline to keep ahead of the
// scanner. Run: build/bench/driver_imaging/bench_driver_imaging
#include "../median_reporter.h"
#include "../cpu_model.h"
#include "bench_common.h"
#include "halftone.h"
#include "image_mirror.h"
#include "interpolate.h"
#include "lookup_table.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// One whole image through the resize engine in 32-line chunks, as the pipeline feeds it; the
// same chunk of random samples stands for every chunk of the scan.
void resize_image(benchmark::State& state, uint32_t depth, uint32_t src_w, uint32_t src_h, uint32_t dst_w,
                  uint32_t dst_h)
{
    const uint32_t bps = depth / 8;
    const size_t src_row = static_cast<size_t>(src_w) * 3 * bps;
    const size_t dst_row = static_cast<size_t>(dst_w) * 3 * bps;
    const auto chunk = random_bytes(src_row * kChunkLines, 7);
    const uint32_t room = kChunkLines * (dst_h / src_h + 2);
    std::vector<uint8_t> out(dst_row * room);
    const interpolate_param_t param{depth, 3, src_w, src_h, dst_w, dst_h};
    for (auto _ : state) {
        interpolate_handle* h = nullptr;
        if (interpolate_init(&h, &param) != 0) {
            state.SkipWithError("interpolate_init failed");
            break;
        }
        uint32_t made_total = 0;
        for (uint32_t y = 0; y < src_h; y += kChunkLines) {
            const uint32_t n = std::min<uint32_t>(kChunkLines, src_h - y);
            interpolate_input_t in{chunk.data(), n};
            interpolate_output_t o{out.data(), room, 0};
            uint32_t made = 0;
            interpolate_block(&h, &in, &o, &made);
            made_total += made;
        }
        benchmark::DoNotOptimize(made_total);
        benchmark::DoNotOptimize(out.data());
        interpolate_exit(&h);
    }
    set_rate(state, static_cast<double>(src_row) * src_h);
}

void BM_resize_8u3ch_600_to_500dpi(benchmark::State& s)
{
    resize_image(s, 8, 5104, 7008, 4253, 5840);
}
void BM_resize_8u3ch_padding_squeeze(benchmark::State& s)
{
    resize_image(s, 8, 5104, 7008, 5100, 7001);
}
void BM_resize_16u3ch_600_to_500dpi(benchmark::State& s)
{
    resize_image(s, 16, 5104, 7008, 4253, 5840);
}
void BM_resize_16u3ch_padding_squeeze(benchmark::State& s)
{
    resize_image(s, 16, 5104, 7008, 5100, 7001);
}

// One 32-line chunk of a 5104-pixel colour scan per iteration.
constexpr uint32_t kWidth = 5104;

// The tables applied in place to the same chunk, over and over.
void run_lookup(benchmark::State& state, const lookup_table_info_t& info, lookup_table_image_param_t& image,
                std::vector<uint8_t>& data)
{
    for (auto _ : state) {
        apply_lookup_table(&info, &image);
        benchmark::DoNotOptimize(data.data());
    }
    set_rate(state, static_cast<double>(data.size()));
}

void BM_lookup_8u3ch_256(benchmark::State& state)
{
    auto data = random_bytes(static_cast<size_t>(kWidth) * 3 * kChunkLines, 11);
    std::vector<uint8_t> tables(3 * 256);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) tables[c * 256 + i] = static_cast<uint8_t>(255 - (i * (c + 2)) % 256);
    const lookup_table_info_t info{256, 1, {&tables[0], &tables[256], &tables[512]}};
    lookup_table_image_param_t image{data.data(), 8, kWidth * kChunkLines, 3};
    run_lookup(state, info, image, data);
}

void BM_lookup_16u3ch_65536(benchmark::State& state)
{
    auto data = random_bytes(static_cast<size_t>(kWidth) * 6 * kChunkLines, 12);
    std::vector<uint16_t> table(65536);
    for (uint32_t i = 0; i < 65536; ++i) table[i] = static_cast<uint16_t>(65535 - i);
    const lookup_table_info_t info{65536, 2, {table.data(), table.data(), table.data()}};
    lookup_table_image_param_t image{data.data(), 16, kWidth * kChunkLines, 3};
    run_lookup(state, info, image, data);
}

// As the 16-bit colour scans use it: a table of its own for each channel.
void BM_lookup_16u3ch_65536_per_channel(benchmark::State& state)
{
    auto data = random_bytes(static_cast<size_t>(kWidth) * 6 * kChunkLines, 12);
    std::vector<uint16_t> tables(3 * 65536);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < 65536; ++i) tables[c * 65536 + i] = static_cast<uint16_t>(65535 - i * (c + 1));
    const lookup_table_info_t info{65536, 2, {&tables[0], &tables[65536], &tables[131072]}};
    lookup_table_image_param_t image{data.data(), 16, kWidth * kChunkLines, 3};
    run_lookup(state, info, image, data);
}

void BM_mirror_8u3ch(benchmark::State& state)
{
    auto data = random_bytes(static_cast<size_t>(kWidth) * 3 * kChunkLines, 13);
    for (auto _ : state) {
        image_mirror_8u(data.data(), kWidth, kChunkLines, 3);
        benchmark::DoNotOptimize(data.data());
    }
    set_rate(state, static_cast<double>(data.size()));
}

void BM_mirror_16u3ch(benchmark::State& state)
{
    std::vector<uint16_t> data(static_cast<size_t>(kWidth) * 3 * kChunkLines, 1);
    for (auto _ : state) {
        image_mirror_16u(data.data(), kWidth, kChunkLines, 3);
        benchmark::DoNotOptimize(data.data());
    }
    set_rate(state, static_cast<double>(data.size() * 2));
}

void single_bit(benchmark::State& state, int index)
{
    constexpr int kGreyWidth = 10208;
    const auto src = random_bytes(static_cast<size_t>(kGreyWidth) * kChunkLines, 14);
    std::vector<uint8_t> dst(static_cast<size_t>((kGreyWidth + 7) / 8) * kChunkLines);
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
    uint8_t pattern[1 + 16 * 16];
    HALFTONE_PARAM* p = SingleBitProcessPrologue(1, map, index, pattern, 0, nullptr);
    for (auto _ : state) {
        for (int l = 0; l < kChunkLines; ++l)
            SingleBitProcess(p, &dst[static_cast<size_t>(l) * ((kGreyWidth + 7) / 8)],
                             &src[static_cast<size_t>(l) * kGreyWidth], kGreyWidth);
        benchmark::DoNotOptimize(dst.data());
    }
    SingleBitEpilogue(nullptr, &p);
    set_rate(state, static_cast<double>(src.size()));
}

void BM_single_bit_halftone_pattern0(benchmark::State& s)
{
    single_bit(s, 0);
}
void BM_single_bit_lineart(benchmark::State& s)
{
    single_bit(s, -1);
}

const std::map<std::string, double> kBudgets = {
    {"BM_resize_8u3ch_600_to_500dpi", 800},
    {"BM_resize_8u3ch_padding_squeeze", 600},
    {"BM_lookup_8u3ch_256", 1500},
    {"BM_mirror_8u3ch", 2000},
    {"BM_single_bit_halftone_pattern0", 400},
    {"BM_single_bit_lineart", 400},
    {"BM_magnification_8u3ch_5100", 400},
};

} // namespace

STAGE(BM_resize_8u3ch_600_to_500dpi);
STAGE(BM_resize_8u3ch_padding_squeeze);
STAGE(BM_resize_16u3ch_600_to_500dpi);
STAGE(BM_resize_16u3ch_padding_squeeze);
STAGE(BM_lookup_8u3ch_256);
STAGE(BM_lookup_16u3ch_65536);
STAGE(BM_lookup_16u3ch_65536_per_channel);
STAGE(BM_mirror_8u3ch);
STAGE(BM_mirror_16u3ch);
STAGE(BM_single_bit_halftone_pattern0);
STAGE(BM_single_bit_lineart);

int main(int argc, char** argv)
{
    const std::string model = lfbench::cpu_model();
    benchmark::AddCustomContext("cpu_model", model);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::map<std::string, double> medians;
    lfbench::MedianReporter reporter([&medians](const benchmark::BenchmarkReporter::Run& r) {
        const auto it = r.counters.find("MB/s");
        if (it != r.counters.end()) medians[r.run_name.function_name] = it->second.value;
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nProcessor: %s\nMedian MB/s (10^6 bytes of stage input per second, one core):\n", model.c_str());
    bool all_met = true;
    for (const auto& [name, mbps] : medians) {
        const auto b = kBudgets.find(name);
        if (b == kBudgets.end()) {
            std::printf("  %-36s %9.1f   (no budget)\n", name.c_str(), mbps);
            continue;
        }
        const bool met = mbps >= b->second;
        all_met = all_met && met;
        std::printf("  %-36s %9.1f   budget %6.0f  %s\n", name.c_str(), mbps, b->second, met ? "met" : "MISSED");
    }
    std::printf("%s\n", all_met ? "All budgets met." : "Some budgets missed.");
    return 0;
}
