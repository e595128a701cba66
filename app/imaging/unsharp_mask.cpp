#include "unsharp_mask.h"

#include "float_vectors.h"
#include "vips_kernel.h"
#include "working_color.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace lumenfield {

namespace {

// out[i] = sum over k of taps[k] in[i + k stride] for i in 0..n-1.
inline void convolve(const float* in, size_t stride, const float* taps, int count, float* out, int n)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Floats4 a = taps[0] * loadFloats4(in + i), b = taps[0] * loadFloats4(in + i + 4),
                c = taps[0] * loadFloats4(in + i + 8), d = taps[0] * loadFloats4(in + i + 12);
        for (int k = 1; k < count; ++k) {
            const float* p = in + k * stride + i;
            a += taps[k] * loadFloats4(p);
            b += taps[k] * loadFloats4(p + 4);
            c += taps[k] * loadFloats4(p + 8);
            d += taps[k] * loadFloats4(p + 12);
        }
        storeFloats4(out + i, a);
        storeFloats4(out + i + 4, b);
        storeFloats4(out + i + 8, c);
        storeFloats4(out + i + 12, d);
    }
    for (; i + 4 <= n; i += 4) {
        Floats4 a = taps[0] * loadFloats4(in + i);
        for (int k = 1; k < count; ++k) a += taps[k] * loadFloats4(in + k * stride + i);
        storeFloats4(out + i, a);
    }
    for (; i < n; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < count; ++k) sum += taps[k] * in[k * stride + i];
        out[i] = sum;
    }
}

class UnsharpKernel final : public TileKernel {
public:
    UnsharpKernel(std::vector<float> taps, float intensity)
        : taps_(std::move(taps)), margin_(static_cast<int>(taps_.size() / 2)), intensity_(intensity)
    {}

    int margin() const override { return margin_; }

    void tile(VipsRegion* in, VipsRegion* out, std::vector<float>& scratch) const override
    {
        const VipsRect area = out->valid;
        const int n = 3 * area.width;               // floats per output row
        const int rows = area.height + 2 * margin_; // input rows
        const int taps = static_cast<int>(taps_.size());
        scratch.resize(static_cast<size_t>(rows) * n);

        // Horizontal pass: each input row to `n` blurred values.
        for (int j = 0; j < rows; ++j) {
            const auto* src = reinterpret_cast<const float*>(VIPS_REGION_ADDR(in, area.left, area.top + j));
            convolve(src, 3, taps_.data(), taps, scratch.data() + static_cast<size_t>(j) * n, n);
        }

        // Vertical pass into the output row, then c + I (c - blur) in place.
        for (int y = 0; y < area.height; ++y) {
            const auto* centre =
                reinterpret_cast<const float*>(VIPS_REGION_ADDR(in, area.left, area.top + y + margin_)) + 3 * margin_;
            auto* dst = reinterpret_cast<float*>(VIPS_REGION_ADDR(out, area.left, area.top + y));
            convolve(scratch.data() + static_cast<size_t>(y) * n, n, taps_.data(), taps, dst, n);
            for (int i = 0; i < n; ++i) dst[i] = centre[i] + intensity_ * (centre[i] - dst[i]);
        }
    }

private:
    std::vector<float> taps_;
    int margin_;
    float intensity_;
};

} // namespace

std::vector<float> gaussianTaps(double sigma)
{
    if (!(sigma > 0.0)) return {1.0f};
    const double twoSigmaSquared = 2.0 * sigma * sigma;
    int half = 0;
    while (std::exp(-double(half + 1) * (half + 1) / twoSigmaSquared) >= 0.01) ++half;
    std::vector<double> weights(static_cast<size_t>(2 * half + 1));
    double sum = 0.0;
    for (int x = -half; x <= half; ++x) {
        weights[x + half] = std::exp(-double(x) * x / twoSigmaSquared);
        sum += weights[x + half];
    }
    std::vector<float> taps(weights.size());
    for (size_t i = 0; i < weights.size(); ++i) taps[i] = static_cast<float>(weights[i] / sum);
    return taps;
}

Image unsharpMask(const Image& image, double intensity, double radius)
{
    if (!std::isfinite(intensity) || !std::isfinite(radius) || radius < 0.0 || radius > 100.0)
        throw vips::VError("unsharp mask: radius or intensity out of range");
    const Image working = toWorking(image);
    if (radius == 0.0) return working;
    return neighbourhoodOperation(working, kFloatRGB, kFloatRGB,
                                  std::make_shared<UnsharpKernel>(gaussianTaps(radius), static_cast<float>(intensity)));
}

} // namespace lumenfield
