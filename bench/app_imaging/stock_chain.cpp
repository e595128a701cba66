#include "stock_chain.h"

#include <cmath>
#include <vector>

using namespace lumenfield;

namespace {

constexpr double kLuma[3] = {0.2126, 0.7152, 0.0722};

double parameter(const FilterStep& step, const char* name, double fallback)
{
    const auto found = step.parameters.find(name);
    return found == step.parameters.end() ? fallback : found->second;
}

Image matrix(const Image& x, const std::vector<double>& m)
{
    return x.recomb(
        Image::new_from_memory(const_cast<double*>(m.data()), m.size() * sizeof(double), 3, 3, 1, VIPS_FORMAT_DOUBLE)
            .copy_memory());
}

// Each channel's value mixed with the luminance: s = 1 keeps the colour, 0 leaves the grey.
Image saturate(const Image& x, double s)
{
    std::vector<double> m(9);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m[size_t(r * 3 + c)] = (1 - s) * kLuma[c] + (r == c ? s : 0.0);
    return matrix(x, m);
}

// Rotation about the grey axis by `angle` radians.
Image rotateHue(const Image& x, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle), k = 1.0 / 3.0, q = std::sqrt(k);
    std::vector<double> m(9);
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col) {
            const double sign = (col - r + 3) % 3 == 1 ? -1.0 : 1.0;
            m[size_t(r * 3 + col)] = r == col ? c + (1 - c) * k : (1 - c) * k + sign * q * s;
        }
    return matrix(x, m);
}

// Every band stretched from its own minimum and maximum to 0..1, found by a statistics pass.
Image stretch(const Image& x)
{
    const Image stats = x.stats();
    std::vector<double> scale(3), offset(3);
    for (int b = 0; b < 3; ++b) {
        const double lo = stats.getpoint(0, b + 1)[0], hi = stats.getpoint(1, b + 1)[0];
        scale[size_t(b)] = hi > lo ? 1.0 / (hi - lo) : 1.0;
        offset[size_t(b)] = -lo * scale[size_t(b)];
    }
    return x.linear(scale, offset);
}

Image grey(const Image& x)
{
    const Image y = x.recomb(Image::new_matrixv(3, 1, kLuma[0], kLuma[1], kLuma[2]));
    return Image::bandjoin({y, y, y});
}

Image threshold(const Image& x, double t)
{
    return (x >= t) / 255.0;
}

// Otsu's threshold of band 0, from its 256-bin histogram.
double otsu(const Image& x)
{
    const Image hist = (x.extract_band(0) * 255.0).cast(VIPS_FORMAT_UCHAR).hist_find();
    std::vector<double> counts(256);
    double total = 0, sum = 0;
    for (int i = 0; i < 256; ++i) {
        counts[size_t(i)] = hist.getpoint(i, 0)[0];
        total += counts[size_t(i)];
        sum += i * counts[size_t(i)];
    }
    double below = 0, belowSum = 0, best = 0;
    int at = 0;
    for (int i = 0; i < 256; ++i) {
        below += counts[size_t(i)];
        belowSum += i * counts[size_t(i)];
        if (below == 0 || below == total) continue;
        const double m0 = belowSum / below, m1 = (sum - belowSum) / (total - below);
        const double between = below * (total - below) * (m0 - m1) * (m0 - m1);
        if (between > best) best = between, at = i;
    }
    return (at + 0.5) / 255.0;
}

// The sRGB tone curves through libvips' own 16-bit conversions.
Image toSRGB(const Image& x)
{
    const Image linear = x.copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
    return linear.colourspace(VIPS_INTERPRETATION_RGB16).cast(VIPS_FORMAT_FLOAT) / 65535.0;
}

Image toLinear(const Image& x)
{
    return (x * 65535.0)
        .cast(VIPS_FORMAT_USHORT)
        .copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .colourspace(VIPS_INTERPRETATION_scRGB);
}

Image unsharp(const Image& x, double radius, double intensity)
{
    const Image blurred = x.gaussblur(radius, Image::option()->set("precision", VIPS_PRECISION_FLOAT));
    return x + (x - blurred) * intensity;
}

Image step(const Image& x, const FilterStep& s)
{
    const std::string& name = s.name;
    if (name == "levels" || name == "CIContrastStretch") return stretch(x);
    if (name == "CILinearToSRGBToneCurve") return toSRGB(x);
    if (name == "CISRGBToneCurveToLinear") return toLinear(x);
    if (name == "CIExposureAdjust") return x * std::pow(2.0, parameter(s, "inputEV", 0));
    if (name == "CIColorControls") {
        const double contrast = parameter(s, "inputContrast", 1), brightness = parameter(s, "inputBrightness", 0);
        return saturate(x, parameter(s, "inputSaturation", 1)).linear(contrast, 0.5 - 0.5 * contrast + brightness);
    }
    if (name == "CIHueAdjust") return rotateHue(x, parameter(s, "inputAngle", 0));
    if (name == "CIUnsharpMask") return unsharp(x, 2.5, parameter(s, "inputIntensity", 0.5));
    if (name == "CIPhotoEffectNoir" || name == "CIPhotoEffectMono" || name == "CIPhotoEffectTonal") return grey(x);
    if (name == "CIColorThresholdOtsu") return threshold(x, otsu(x));
    if (name == "CIColorThreshold") return threshold(x, parameter(s, "inputThreshold", 0.5));
    if (name == "bilevel") return threshold(x, 0.5);
    if (name == "CIToneCurve") return x.pow(0.9);
    if (name == "CIVibrance") return saturate(x, 1 + parameter(s, "inputAmount", 0) / 2);
    if (name == "CIDocumentEnhancer") return unsharp(x, 10.0, 1.0).linear(1.2, -0.1);
    if (name == "CIColorInvert") return x.linear(-1.0, 1.0);
    return x;
}

} // namespace

Image stockChain(const Image& chart, const ProcessTrace& trace)
{
    if (trace.stages.empty()) return chart;
    Image x = chart.colourspace(VIPS_INTERPRETATION_scRGB);
    for (const FilterStep& s : trace.stages) x = step(x, s);
    return x.copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB))
        .colourspace(VIPS_INTERPRETATION_sRGB);
}
