// The per-pixel filters of the post-processing chain, each as a fusable step and as a plain
// function giving an image of its own. The plain functions accept both image forms, give a working
// image and throw vips::VError when libvips cannot build the operation.
#pragma once

#include "point_program.h"
#include "vips_image.h"

#include <vector>

namespace lumenfield {

// CILinearToSRGBToneCurve: c' = E(c).
PointOpPtr encodeOp();
Image linearToSRGBToneCurve(const Image& image);
// CISRGBToneCurveToLinear: c' = D(c).
PointOpPtr decodeOp();
Image sRGBToneCurveToLinear(const Image& image);

// CIPhotoEffectTonal, CIPhotoEffectMono, CIPhotoEffectNoir. With L = E(clamp(Y)):
//   Tonal  L' = L
//   Mono   L' = 0.08 + 0.84 L
//   Noir   L' = 0.3 L + 0.7 L^2 (3 - 2 L)
// and r = g = b = D(L').
enum class PhotoEffect {
    tonal,
    mono,
    noir
};
double photoEffectLightness(PhotoEffect effect, double lightness);
PointOpPtr photoEffectOp(PhotoEffect effect);
Image photoEffect(const Image& image, PhotoEffect effect);

// CIColorThreshold: c' = 1 when c > t, else 0, per channel.
PointOpPtr colorThresholdOp(float threshold);
Image colorThreshold(const Image& image, float threshold);

// CIColorThresholdOtsu. Over the 256 bins of band 0, bin(v) = min(255, floor(256 clamp(v))), the k
// in 0..254 that maximises w0 w1 (m0 - m1)^2 with class 0 the bins <= k; ties go to the smallest k,
// and k is 127 when no k leaves both classes non-empty.
int otsuThreshold(const std::vector<double>& counts);
// c' = 1 when bin(c) > k, else 0, per channel.
PointOpPtr binThresholdOp(int k);
// Measures band 0 (one pass), then thresholds lazily.
Image colorThresholdOtsu(const Image& image);

// CIGammaAdjust: c' = sign(c) |c|^p.
PointOpPtr gammaOp(double power);
Image gammaAdjust(const Image& image, double power);

} // namespace lumenfield
