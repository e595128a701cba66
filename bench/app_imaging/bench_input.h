// What the post-processing and writer benchmarks share: the 10000 x 10000 input chart, libvips'
// start, and the peak resident memory counter.
#pragma once

#include "image_settings.h"
#include "vips_image.h"

#include <benchmark/benchmark.h>

// A 10000 x 10000 8-bit RGB chart in memory (300,000,000 bytes): gradients within 20..235, dark
// text-like blocks and light noise. Made once per process, outside any timing.
const lumenfield::Image& benchmarkChart();

// The image settings of the benchmarks' manual chain with the given method: exposure 0.5, contrast
// 1.2, saturation 1.3, hue 0.3, sharpness 0.8, grey Noir, automatic black and white.
lumenfield::ImageSettings::Values benchmarkSettings(lumenfield::AdjustmentMethod method);

// The process's peak resident memory in bytes, as the counter "peak_rss".
void reportPeakMemory(benchmark::State& state);

// CPU seconds of the whole process (all threads, user and system) since the process started.
double processCpuSeconds();

// Starts libvips with its operation cache off, then runs the selected benchmarks, reporting
// through `reporter` when one is given.
int runBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter* reporter = nullptr);
