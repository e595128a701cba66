// The yardstick of the post-processing and writer benchmarks: the steps a processImage call ran
// (its trace), built again from stock libvips operations alone, each step an image of its own.
#pragma once

#include "image_processor.h"
#include "vips_image.h"

// The 8-bit sRGB result of `trace`'s steps on the 8-bit chart in stock libvips, lazy: each step
// with the filter's formula where libvips has the operations for it (exposure, colour controls,
// hue rotation, unsharp mask, grey effects, thresholds, levels and stretches from statistics
// passes, inversion, the sRGB tone curves as its 16-bit colour conversions) and the nearest
// operation where it does not (the tone curve as a power, vibrance as saturation, the document
// enhancer as a wide unsharp mask). Statistics passes run as the
// chain is built, as the project's own levels steps do. No steps: the chart as it is.
lumenfield::Image stockChain(const lumenfield::Image& chart, const lumenfield::ProcessTrace& trace);
