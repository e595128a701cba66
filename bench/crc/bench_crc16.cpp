// CRC-16 throughput over blocks of the sizes the driver checks (flash blocks to calibration files).
#include "crc16.h"

#include <benchmark/benchmark.h>

#include <vector>

static void BM_Crc16Block(benchmark::State& state)
{
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    for (auto _ : state) benchmark::DoNotOptimize(CRC16_BlockChecksum(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16Block)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);

BENCHMARK_MAIN();
