// What the driver image stage benchmarks share: the pipeline's chunk, random input and the rate
// counter every summary reads.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

constexpr int kChunkLines = 32; // the pipeline's chunk

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// MB/s (10^6 bytes) of stage input.
inline void set_rate(benchmark::State& state, double bytes_per_iteration)
{
    state.counters["MB/s"] = benchmark::Counter(bytes_per_iteration / 1e6 * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

// Every stage: median of 5 runs.
#define STAGE(fn) BENCHMARK(fn)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond)
