// The magnification correction stage: 32-line blocks of a colour scan corrected with a model of
// the simulated scanner's flatbed (4800 dpi marks with a bent middle, RGB alignment at both ends),
// MB/s of source lines.
#include "bench_common.h"
#include "magnification_correction.h"

#include <vector>

namespace {

void correction(benchmark::State& state, uint8_t depth, uint32_t resolution, uint32_t width)
{
    CoordinateCorrectionParameter p{};
    p.coords_data.table_length = 40800;
    p.coords_data.coords_resolution = 4800;
    p.coords_data.coords_count = kMagnificationMarks;
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) {
        p.coords_data.ideal[i] = 1360 * i;
        p.coords_data.measured[i] = 1360 * i + 24 * std::min(i > 10 ? i - 10 : 0, 10u);
    }
    p.settings = {resolution, depth, 3, 0, width - 1};
    p.pixel_position_left = 200;
    p.pixel_position_right = 40600;
    p.red_offset_left = 0.5;
    p.green_offset_right = 0.3;
    p.blue_offset_right = 0.1;
    horizontal_magnification_correction_t* model = nullptr;
    CoordinateCorrectionInformation info{};
    if (MagnificationCorrectionInit(&model, &p, &info) != 1) {
        state.SkipWithError("MagnificationCorrectionInit failed");
        MagnificationCorrectionExit(model);
        return;
    }
    const uint32_t bytes = depth / 8 * 3;
    const uint32_t src_width = info.corrected_end_x - info.corrected_start_x + 2;
    auto src = random_bytes(static_cast<size_t>(src_width) * bytes * kChunkLines, 21);
    std::vector<uint8_t> out(static_cast<size_t>(width) * bytes * kChunkLines);
    const magnification_line_block_t in{kChunkLines, 0, src_width, src_width * bytes, src.data()};
    const magnification_line_block_t o{kChunkLines, 0, width, width * bytes, out.data()};
    for (auto _ : state) {
        MagnificationCorrectionProcess(model, &in, &o);
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, static_cast<double>(src.size()));
    MagnificationCorrectionExit(model);
}

void BM_magnification_8u3ch_5100(benchmark::State& s)
{
    correction(s, 8, 600, 5100);
}
void BM_magnification_16u3ch_10200(benchmark::State& s)
{
    correction(s, 16, 1200, 10200);
}

} // namespace

STAGE(BM_magnification_8u3ch_5100);
STAGE(BM_magnification_16u3ch_10200);
