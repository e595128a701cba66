#include "auto_adjustment.h"
#include "bilevel.h"
#include "color_matrix.h"
#include "document_enhancer.h"
#include "image_helpers.h"
#include "point_filters.h"
#include "transfer_curves.h"
#include "unsharp_mask.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace lumenfield;

namespace {

// Working pixels spread over 0..1 and a little beyond, with a few greys.
Image samplePixels()
{
    return floatImage(64, 8, [](int x, int y) {
        const float v = (x + 64 * y) / 511.0f;
        if (y == 7) return Floats3{v, v, v};
        return Floats3{v, std::fmod(v * 3.7f, 1.2f) - 0.05f, 1.0f - v};
    });
}

// The filter's output and the formula applied in double to the same input, pixel by pixel.
template <typename Formula>
void expectFormula(const Image& filtered, const Image& input, Formula formula, double tolerance)
{
    const std::vector<float> in = floatsOf(input), out = floatsOf(filtered);
    ASSERT_EQ(in.size(), out.size());
    for (size_t i = 0; i < in.size(); i += 3) {
        const std::array<double, 3> expected = formula(std::array<double, 3>{in[i], in[i + 1], in[i + 2]});
        for (int b = 0; b < 3; ++b)
            ASSERT_NEAR(out[i + b], expected[b], tolerance) << "pixel " << i / 3 << " band " << b;
    }
}

double luma(const std::array<double, 3>& c)
{
    return kLumaWeights[0] * c[0] + kLumaWeights[1] * c[1] + kLumaWeights[2] * c[2];
}

Image greyRamp(int steps)
{
    return floatImage(steps, 1, [steps](int x, int) {
        const float v = float(srgb::decode(double(x) / (steps - 1)));
        return Floats3{v, v, v};
    });
}

} // namespace

TEST(Filters, ExposureScalesByPowersOfTwo)
{
    const Image in = samplePixels();
    expectFormula(
        colorMatrix(in, exposureMatrix(0.7)), in,
        [](auto c) {
            for (double& v : c) v *= std::pow(2.0, 0.7);
            return c;
        },
        1e-6);
}

TEST(Filters, ColorControlsFollowTheirFormula)
{
    const Image in = samplePixels();
    const double s = 1.4, k = 1.3;
    expectFormula(
        colorMatrix(in, colorControlsMatrix(s, 0.0, k)), in,
        [&](auto c) {
            const double y = luma(c);
            for (double& v : c) v = ((y + s * (v - y)) - 0.5) * k + 0.5;
            return c;
        },
        1e-5);
    // Saturation leaves grey alone; contrast turns about 0.5.
    const Image grey = floatImage(3, 1, [](int x, int) {
        const float v = x == 0 ? 0.2f : x == 1 ? 0.5f : 0.9f;
        return Floats3{v, v, v};
    });
    const std::vector<float> saturated = floatsOf(colorMatrix(grey, colorControlsMatrix(0.0, 0.0, 1.0)));
    const std::vector<float> original = floatsOf(grey);
    for (size_t i = 0; i < original.size(); ++i) EXPECT_NEAR(saturated[i], original[i], 1e-6);
    const std::vector<float> contrasted = floatsOf(colorMatrix(grey, colorControlsMatrix(1.0, 0.0, 2.5)));
    EXPECT_NEAR(contrasted[3], 0.5f, 1e-6);
    EXPECT_NEAR(contrasted[0], (0.2 - 0.5) * 2.5 + 0.5, 1e-6);
}

TEST(Filters, HueRotatesAboutTheGreyAxis)
{
    const Image red = floatImage(1, 1, [](int, int) { return Floats3{1, 0, 0}; });
    const std::vector<float> green = floatsOf(colorMatrix(red, hueMatrix(2 * std::numbers::pi / 3)));
    EXPECT_NEAR(green[0], 0.0, 1e-6);
    EXPECT_NEAR(green[1], 1.0, 1e-6);
    EXPECT_NEAR(green[2], 0.0, 1e-6);
    const Image in = samplePixels();
    const std::vector<float> before = floatsOf(in), after = floatsOf(colorMatrix(in, hueMatrix(0.9)));
    for (size_t i = 0; i < before.size(); i += 3) {
        EXPECT_NEAR(after[i] + after[i + 1] + after[i + 2], before[i] + before[i + 1] + before[i + 2], 1e-5);
        if (before[i] == before[i + 1] && before[i] == before[i + 2]) {
            EXPECT_NEAR(after[i], before[i], 1e-6);
            EXPECT_NEAR(after[i + 2], before[i], 1e-6);
        }
    }
}

TEST(Filters, GaussianHasFifteenNormalisedTapsForTheDefaultRadius)
{
    const std::vector<float> taps = gaussianTaps(2.5);
    ASSERT_EQ(taps.size(), 15u);
    double sum = 0.0;
    for (float t : taps) sum += t;
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_NEAR(taps[0] / taps[7], std::exp(-49.0 / 12.5), 1e-6);
}

TEST(Filters, UnsharpMaskMatchesTheLibraryBlur)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    const Image in = floatImage(157, 93, [&](int, int) {
        return Floats3{value(random), value(random), value(random)};
    });
    const double intensity = 0.8;
    const Image blur =
        in.gaussblur(2.5, Image::option()->set("min_ampl", 0.01)->set("precision", VIPS_PRECISION_FLOAT));
    const std::vector<float> reference = floatsOf(in + intensity * (in - blur));
    const std::vector<float> own = floatsOf(unsharpMask(in, intensity));
    ASSERT_EQ(own.size(), reference.size());
    double worst = 0.0;
    for (size_t i = 0; i < own.size(); ++i) worst = std::max(worst, double(std::fabs(own[i] - reference[i])));
    EXPECT_LT(worst, 1e-4);
}

TEST(Filters, UnsharpMaskKeepsFlatAndSharpensSteps)
{
    const Image flat = floatImage(40, 30, [](int, int) { return Floats3{0.3f, 0.6f, 0.9f}; });
    for (float v : floatsOf(unsharpMask(flat, 2.0)))
        EXPECT_TRUE(std::fabs(v - 0.3f) < 1e-5 || std::fabs(v - 0.6f) < 1e-5 || std::fabs(v - 0.9f) < 1e-5);

    const Image step = floatImage(40, 5, [](int x, int) {
        const float v = x < 20 ? 0.2f : 0.8f;
        return Floats3{v, v, v};
    });
    const auto row = [&](double intensity) {
        const std::vector<float> all = floatsOf(unsharpMask(step, intensity));
        std::vector<float> r(40);
        for (int x = 0; x < 40; ++x) r[x] = all[(2 * 40 + x) * 3];
        return r;
    };
    const std::vector<float> one = row(1.0), two = row(2.0), soft = row(-0.5);
    EXPECT_LT(one[19], 0.2f);
    EXPECT_GT(one[20], 0.8f);
    EXPECT_NEAR(0.2f - two[19], 2 * (0.2f - one[19]), 1e-5);
    EXPECT_NEAR(two[20] - 0.8f, 2 * (one[20] - 0.8f), 1e-5);
    EXPECT_GT(soft[19], 0.2f);
    EXPECT_LT(soft[20], 0.8f);
    for (float v : soft) EXPECT_TRUE(v >= 0.2f - 1e-6f && v <= 0.8f + 1e-6f);
}

TEST(Filters, UnsharpMaskRefusesUnusableParameters)
{
    const Image in = flatBytes(4, 4, {1, 2, 3});
    EXPECT_THROW(unsharpMask(in, 1.0, -1.0), vips::VError);
    EXPECT_THROW(unsharpMask(in, NAN, 2.5), vips::VError);
    EXPECT_THROW(unsharpMask(in, 1.0, 1e6), vips::VError);
}

TEST(Filters, PhotoEffectsGiveMonotoneGrey)
{
    const Image in = samplePixels();
    for (PhotoEffect effect : {PhotoEffect::tonal, PhotoEffect::mono, PhotoEffect::noir}) {
        expectFormula(
            photoEffect(in, effect), in,
            [effect](auto c) {
                const double l = photoEffectLightness(effect, srgb::encode(clampUnit(luma(c))));
                const double v = srgb::decode(l);
                return std::array<double, 3>{v, v, v};
            },
            2e-4);
        const std::vector<float> ramp = floatsOf(photoEffect(greyRamp(101), effect));
        for (size_t i = 3; i < ramp.size(); i += 3) EXPECT_GE(ramp[i], ramp[i - 3]);
    }
    const std::vector<float> noir = floatsOf(photoEffect(greyRamp(2), PhotoEffect::noir));
    EXPECT_NEAR(noir[0], 0.0, 1e-6);
    EXPECT_NEAR(noir[3], 1.0, 1e-6);
    // Tonal keeps grey.
    const std::vector<float> ramp = floatsOf(greyRamp(11));
    const std::vector<float> tonal = floatsOf(photoEffect(greyRamp(11), PhotoEffect::tonal));
    for (size_t i = 0; i < ramp.size(); ++i) EXPECT_NEAR(tonal[i], ramp[i], 2e-4);
    // The mid-tone slope, in encoded terms.
    const auto slope = [](PhotoEffect effect) {
        const std::vector<float> v = floatsOf(photoEffect(floatImage(2, 1,
                                                                     [](int x, int) {
                                                                         const float c =
                                                                             float(srgb::decode(x == 0 ? 0.45 : 0.55));
                                                                         return Floats3{c, c, c};
                                                                     }),
                                                          effect));
        return (srgb::encode(v[3]) - srgb::encode(v[0])) / 0.1;
    };
    EXPECT_GT(slope(PhotoEffect::noir), slope(PhotoEffect::tonal));
    EXPECT_GT(slope(PhotoEffect::tonal), slope(PhotoEffect::mono));
}

TEST(Filters, ThresholdIsStrictlyGreater)
{
    const Image in = floatImage(3, 1, [](int x, int) {
        const float v = x == 0 ? 0.5f : x == 1 ? std::nextafter(0.5f, 1.0f) : 0.49f;
        return Floats3{v, v, v};
    });
    const std::vector<float> out = floatsOf(colorThreshold(in, 0.5f));
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[3], 1.0f);
    EXPECT_EQ(out[6], 0.0f);
}

TEST(Filters, OtsuSplitsBetweenModesAndDefaultsWhenFlat)
{
    std::vector<double> bimodal(256, 0.0);
    for (int i = 40; i < 60; ++i) bimodal[i] = 100;
    for (int i = 180; i < 200; ++i) bimodal[i] = 80;
    const int k = otsuThreshold(bimodal);
    EXPECT_GE(k, 59);
    EXPECT_LT(k, 180);
    std::vector<double> flat(256, 0.0);
    flat[90] = 1000;
    EXPECT_EQ(otsuThreshold(flat), 127);
    EXPECT_EQ(otsuThreshold(std::vector<double>(256, 0.0)), 127);

    const Image image = floatImage(20, 10, [](int x, int) {
        const float v = x < 10 ? 0.2f : 0.7f;
        return Floats3{v, v, v};
    });
    const std::vector<float> out = floatsOf(colorThresholdOtsu(image));
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[3 * 15], 1.0f);
}

TEST(Filters, ToneCurvePassesThroughItsPointsMonotonically)
{
    const CurvePoints points{{{0.1, 0.0}, {0.3, 0.2}, {0.5, 0.6}, {0.7, 0.65}, {0.9, 1.0}}};
    const MonotoneCubic curve(points);
    for (const auto& p : points) EXPECT_NEAR(curve(p[0]), p[1], 1e-12);
    EXPECT_EQ(curve(0.0), 0.0);
    EXPECT_EQ(curve(0.95), 1.0);
    double previous = -1.0;
    for (int i = 0; i <= 1000; ++i) {
        const double y = curve(i / 1000.0);
        EXPECT_GE(y, previous);
        previous = y;
    }
    const Image in = floatImage(5, 1, [&](int x, int) {
        const float c = float(srgb::decode(points[x][0]));
        return Floats3{c, c, c};
    });
    const std::vector<float> out = floatsOf(toneCurve(in, points));
    for (int x = 0; x < 5; ++x) EXPECT_NEAR(out[3 * x], srgb::decode(points[x][1]), 1e-4);
    EXPECT_THROW(MonotoneCubic({{{0, 0}, {0.5, 0.1}, {0.5, 0.5}, {0.7, 0.6}, {1, 1}}}), vips::VError);
}

TEST(Filters, VibranceLiftsDullColoursMore)
{
    const Image in = samplePixels();
    const double a = 0.4;
    expectFormula(
        vibrance(in, a), in,
        [a](auto c) {
            std::array<double, 3> e{};
            for (int b = 0; b < 3; ++b) e[b] = srgb::encode(clampUnit(c[b]));
            const double l = luma(e);
            const double spread = std::max({e[0], e[1], e[2]}) - std::min({e[0], e[1], e[2]});
            for (int b = 0; b < 3; ++b) c[b] = srgb::decode(l + (1 + a * (1 - spread)) * (e[b] - l));
            return c;
        },
        1e-4);
    // A dull and a vivid colour: the dull one's spread grows by a larger factor.
    const Image pair = floatImage(2, 1, [](int x, int) {
        return x == 0 ? Floats3{0.30f, 0.25f, 0.22f} : Floats3{0.9f, 0.1f, 0.05f};
    });
    const std::vector<float> before = floatsOf(pair), after = floatsOf(vibrance(pair, 0.5));
    const auto spread = [](const std::vector<float>& v, int p) {
        return srgb::encode(v[3 * p]) - srgb::encode(v[3 * p + 2]);
    };
    EXPECT_GT(spread(after, 0) / spread(before, 0), spread(after, 1) / spread(before, 1));
    const std::vector<float> grey = floatsOf(vibrance(greyRamp(11), 0.5)), ramp = floatsOf(greyRamp(11));
    for (size_t i = 0; i < ramp.size(); ++i) EXPECT_NEAR(grey[i], ramp[i], 1e-4);
}

TEST(Filters, DocumentEnhancerWhitensShadedPaperAndDeepensText)
{
    // Paper shaded smoothly from 200 to 255 (encoded) across the page, with dark text blocks.
    constexpr int width = 512, height = 384;
    const auto isText = [](int x, int y) { return (x / 8) % 6 == 2 && (y / 12) % 4 == 1; };
    const Image page = floatImage(width, height, [&](int x, int y) {
        const double paper = (200 + x * 55.0 / (width - 1)) / 255;
        const float v = float(srgb::decode(isText(x, y) ? paper / 3 : paper));
        return Floats3{v, v, v};
    });
    const std::vector<std::uint8_t> before = bytesOf(encode8(page, EncodeSpace::sRGB));
    const std::vector<std::uint8_t> after = bytesOf(encode8(documentEnhancer(page, 10.0), EncodeSpace::sRGB));
    int worstPaper = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = (size_t(y) * width + x) * 3;
            if (isText(x, y))
                ASSERT_LT(after[i], before[i]) << x << "," << y;
            else
                worstPaper = std::max(worstPaper, 255 - int(after[i]));
        }
    EXPECT_LE(worstPaper, 1);
    const Image white = flatBytes(50, 40, {255, 255, 255});
    for (std::uint8_t v : bytesOf(encode8(documentEnhancer(white, 10.0), EncodeSpace::sRGB))) ASSERT_EQ(v, 255);
}

TEST(Filters, InvertAndGamma)
{
    const Image in = samplePixels();
    expectFormula(
        colorMatrix(in, invertMatrix()), in,
        [](auto c) {
            for (double& v : c) v = 1.0 - v;
            return c;
        },
        1e-6);
    const Image signs = floatImage(2, 1, [](int x, int) {
        return x == 0 ? Floats3{0.25f, -0.25f, 0.0f} : Floats3{-0.64f, 0.64f, 1.0f};
    });
    const std::vector<float> out = floatsOf(gammaAdjust(signs, 0.5));
    EXPECT_NEAR(out[0], 0.5, 1e-6);
    EXPECT_NEAR(out[1], -0.5, 1e-6);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_NEAR(out[3], -0.8, 1e-6);
    EXPECT_NEAR(out[4], 0.8, 1e-6);
}

TEST(Filters, BilevelSplitsAtEncodedGrey128)
{
    const Image ramp = byteImage(256, 1, [](int x, int) -> Bytes3 {
        return {std::uint8_t(x), std::uint8_t(x), std::uint8_t(x)};
    });
    const Image bits = bilevelImage(ramp);
    EXPECT_EQ(bits.bands(), 1);
    const std::vector<std::uint8_t> out = bytesOf(bits);
    for (int x = 0; x < 256; ++x) EXPECT_EQ(out[x], x >= 128 ? 255 : 0) << x;
    // Colours by their luma: pure green (bright) is white, pure blue (dark) is black.
    EXPECT_EQ(bilevelByte(0, 255, 0), 255);
    EXPECT_EQ(bilevelByte(0, 0, 255), 0);
    // From a working image, the same rule after rendering to sRGB.
    const std::vector<std::uint8_t> fromWorking = bytesOf(bilevelImage(toWorking(ramp)));
    EXPECT_EQ(fromWorking, out);
}
