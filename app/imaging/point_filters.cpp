#include "point_filters.h"

#include "reductions.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <algorithm>
#include <cmath>

namespace lumenfield {

PointOpPtr encodeOp()
{
    const srgb::FastCurve* encode = &srgb::fastEncode();
    return channelOp([encode](float c) { return (*encode)(c); });
}

Image linearToSRGBToneCurve(const Image& image)
{
    return applyPointOp(image, encodeOp());
}

PointOpPtr decodeOp()
{
    const srgb::FastCurve* decode = &srgb::fastDecode();
    return channelOp([decode](float c) { return (*decode)(c); });
}

Image sRGBToneCurveToLinear(const Image& image)
{
    return applyPointOp(image, decodeOp());
}

double photoEffectLightness(PhotoEffect effect, double lightness)
{
    switch (effect) {
    case PhotoEffect::tonal: return lightness;
    case PhotoEffect::mono: return 0.08 + 0.84 * lightness;
    case PhotoEffect::noir: return 0.3 * lightness + 0.7 * lightness * lightness * (3.0 - 2.0 * lightness);
    }
    return lightness;
}

PointOpPtr photoEffectOp(PhotoEffect effect)
{
    return lumaCurveOp(
        [effect](double luma) { return srgb::decode(photoEffectLightness(effect, srgb::encode(luma))); });
}

Image photoEffect(const Image& image, PhotoEffect effect)
{
    return applyPointOp(image, photoEffectOp(effect));
}

PointOpPtr colorThresholdOp(float threshold)
{
    return channelOp([threshold](float c) { return static_cast<float>(c > threshold); });
}

Image colorThreshold(const Image& image, float threshold)
{
    return applyPointOp(image, colorThresholdOp(threshold));
}

int otsuThreshold(const std::vector<double>& counts)
{
    double total = 0.0, weightedTotal = 0.0;
    for (size_t i = 0; i < counts.size() && i < 256; ++i) {
        total += counts[i];
        weightedTotal += double(i) * counts[i];
    }
    int best = 127;
    double bestSpread = -1.0;
    double lower = 0.0, weightedLower = 0.0;
    for (int k = 0; k <= 254 && k < static_cast<int>(counts.size()); ++k) {
        lower += counts[k];
        weightedLower += double(k) * counts[k];
        const double upper = total - lower;
        if (lower <= 0.0 || upper <= 0.0) continue;
        const double meanLower = weightedLower / lower;
        const double meanUpper = (weightedTotal - weightedLower) / upper;
        const double spread = (lower / total) * (upper / total) * (meanLower - meanUpper) * (meanLower - meanUpper);
        if (spread > bestSpread) {
            bestSpread = spread;
            best = k;
        }
    }
    return best;
}

PointOpPtr binThresholdOp(int k)
{
    // For k in 0..254, bin(c) > k exactly when c >= (k + 1) / 256: scaling by 256 is exact, values
    // above 1 fall in the last bin and so above k, and NaN fails the comparison as it falls in bin 0.
    const float bound = float(std::clamp(k, 0, 254) + 1) / 256.0f;
    return channelOp([bound](float c) { return static_cast<float>(c >= bound); });
}

Image colorThresholdOtsu(const Image& image)
{
    const Image working = toWorking(image);
    const std::vector<std::array<double, 3>> counts = histogramCounts(working, 256);
    std::vector<double> band0(counts.size());
    for (size_t i = 0; i < counts.size(); ++i) band0[i] = counts[i][0];
    return applyPointOp(working, binThresholdOp(otsuThreshold(band0)));
}

PointOpPtr gammaOp(double power)
{
    return channelOp([power](float c) {
        const double magnitude = std::pow(std::fabs(double(c)), power);
        return static_cast<float>(c < 0.0f ? -magnitude : magnitude);
    });
}

Image gammaAdjust(const Image& image, double power)
{
    return applyPointOp(image, gammaOp(power));
}

} // namespace lumenfield
