#include "auto_adjustment.h"

#include "color_matrix.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace lumenfield {

MonotoneCubic::MonotoneCubic(const CurvePoints& points) : points_(points)
{
    for (int k = 0; k < 5; ++k) {
        if (!std::isfinite(points[k][0]) || !std::isfinite(points[k][1]))
            throw vips::VError("tone curve: point is not finite");
        if (k > 0 && !(points[k][0] > points[k - 1][0])) throw vips::VError("tone curve: x values must increase");
    }
    std::array<double, 4> secants{};
    for (int k = 0; k < 4; ++k) secants[k] = (points[k + 1][1] - points[k][1]) / (points[k + 1][0] - points[k][0]);
    slopes_[0] = secants[0];
    slopes_[4] = secants[3];
    for (int k = 1; k < 4; ++k)
        slopes_[k] = secants[k - 1] * secants[k] <= 0.0 ? 0.0 : (secants[k - 1] + secants[k]) / 2.0;
    // Limit the slopes so that no segment overshoots.
    for (int k = 0; k < 4; ++k) {
        if (secants[k] == 0.0) {
            slopes_[k] = slopes_[k + 1] = 0.0;
            continue;
        }
        const double alpha = slopes_[k] / secants[k];
        const double beta = slopes_[k + 1] / secants[k];
        const double length = alpha * alpha + beta * beta;
        if (length > 9.0) {
            const double tau = 3.0 / std::sqrt(length);
            slopes_[k] = tau * alpha * secants[k];
            slopes_[k + 1] = tau * beta * secants[k];
        }
    }
}

double MonotoneCubic::operator()(double x) const
{
    if (!(x > points_[0][0])) return points_[0][1];
    if (x >= points_[4][0]) return points_[4][1];
    int k = 0;
    while (x >= points_[k + 1][0]) ++k;
    const double h = points_[k + 1][0] - points_[k][0];
    const double t = (x - points_[k][0]) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * points_[k][1] + (t3 - 2 * t2 + t) * h * slopes_[k] +
        (-2 * t3 + 3 * t2) * points_[k + 1][1] + (t3 - t2) * h * slopes_[k + 1];
}

PointOpPtr toneCurveOp(const CurvePoints& points)
{
    const MonotoneCubic curve(points);
    return unitCurveOp([&curve](double c) { return srgb::decode(curve(srgb::encode(c))); });
}

Image toneCurve(const Image& image, const CurvePoints& points)
{
    return applyPointOp(image, toneCurveOp(points));
}

namespace {

class VibranceOp final : public PointOp {
public:
    explicit VibranceOp(float amount) : amount_(amount) {}

    // In three simple passes over the row rather than one long chain per pixel, so that the
    // processor overlaps the table lookups of many pixels.
    void apply(float* rgb, int width, int, int) const override
    {
        const srgb::FastCurve& encode = srgb::fastEncode();
        const srgb::FastCurve& decode = srgb::fastDecode();
        const int n = 3 * width;
        for (int i = 0; i < n; ++i) rgb[i] = clampUnit(rgb[i]);
        encode.applyUnit(rgb, n);
        constexpr float wr = float(kLumaWeights[0]), wg = float(kLumaWeights[1]), wb = float(kLumaWeights[2]);
        for (int i = 0; i < width; ++i) {
            float* e = rgb + 3 * i;
            const float luma = wr * e[0] + wg * e[1] + wb * e[2];
            const float spread = std::max({e[0], e[1], e[2]}) - std::min({e[0], e[1], e[2]});
            const float factor = 1.0f + amount_ * (1.0f - spread);
            e[0] = luma + factor * (e[0] - luma);
            e[1] = luma + factor * (e[1] - luma);
            e[2] = luma + factor * (e[2] - luma);
        }
        decode.apply(rgb, n);
    }

private:
    float amount_;
};

// The first bin at which the cumulative count reaches `share` of `total`.
int quantileBin(const std::array<double, 256>& counts, double total, double share)
{
    double cumulative = 0.0;
    for (int bin = 0; bin < 256; ++bin) {
        cumulative += counts[bin];
        if (cumulative >= share * total) return bin;
    }
    return 255;
}

} // namespace

PointOpPtr vibranceOp(double amount)
{
    return std::make_shared<VibranceOp>(static_cast<float>(amount));
}

Image vibrance(const Image& image, double amount)
{
    return applyPointOp(image, vibranceOp(amount));
}

AutoAdjustment autoAdjustment(const Image& image)
{
    const Image working = toWorking(image);
    const int factor = static_cast<int>(std::ceil(std::max(working.width(), working.height()) / 1024.0));
    const Image reduced = (factor > 1 ? working.shrink(factor, factor) : working).copy_memory();

    size_t size = 0;
    void* memory = reduced.write_to_memory(&size);
    const std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const auto* c = static_cast<const float*>(memory);
    const size_t pixels = size / (3 * sizeof(float));

    std::array<double, 256> counts{};
    double saturationSum = 0.0;
    for (size_t i = 0; i < pixels; ++i) {
        std::array<double, 3> e{};
        for (int b = 0; b < 3; ++b) e[b] = srgb::encode(clampUnit(double(c[3 * i + b])));
        const double luma = kLumaWeights[0] * e[0] + kLumaWeights[1] * e[1] + kLumaWeights[2] * e[2];
        const int bin = std::min(255, static_cast<int>(256.0 * clampUnit(luma)));
        counts[bin] += 1.0;
        saturationSum += std::max({e[0], e[1], e[2]}) - std::min({e[0], e[1], e[2]});
    }

    AutoAdjustment result;
    if (pixels == 0) return result;
    const double total = double(pixels);
    const double black = (quantileBin(counts, total, 0.005) + 0.5) / 256.0;
    const double middle = (quantileBin(counts, total, 0.5) + 0.5) / 256.0;
    const double white = (quantileBin(counts, total, 0.995) + 0.5) / 256.0;
    if (white - black >= 0.05) {
        const double position = std::clamp((middle - black) / (white - black), 0.05, 0.95);
        const double gamma = std::clamp(std::log(0.5) / std::log(position), 0.75, 1.33);
        CurvePoints points{};
        for (int k = 0; k < 5; ++k) {
            const double q = k / 4.0;
            points[k] = {black + q * (white - black), std::pow(q, gamma)};
        }
        result.toneCurve = points;
    }
    const double meanSaturation = saturationSum / total;
    if (meanSaturation >= 0.01 && meanSaturation < 0.35) result.vibranceAmount = 0.5 * (0.35 - meanSaturation) / 0.35;
    return result;
}

} // namespace lumenfield
