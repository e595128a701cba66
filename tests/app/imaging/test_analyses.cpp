#include "contrast_stretch.h"
#include "image_analyses.h"
#include "image_helpers.h"
#include "image_processor.h"
#include "point_filters.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lumenfield;

namespace {

Image horizontalGradient(float from, float to, int width = 200, int height = 10)
{
    return floatImage(width, height, [=](int x, int) {
        const float v = from + (to - from) * float(x) / float(width - 1);
        return Floats3{v, v, v};
    });
}

std::pair<float, float> range(const std::vector<float>& values)
{
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    return {*lo, *hi};
}

} // namespace

TEST(ContrastStretch, WithoutInputGivesNothing)
{
    EXPECT_FALSE(CIContrastStretch().outputImage());
}

TEST(ContrastStretch, SpreadsAGradientAndKeepsTheSize)
{
    const Image gradient = horizontalGradient(0.3f, 0.6f, 300, 7);
    const std::optional<Image> stretched = ImageProcessor::contrastStretch(gradient);
    ASSERT_TRUE(stretched);
    EXPECT_EQ(stretched->width(), 300);
    EXPECT_EQ(stretched->height(), 7);
    const auto [lo, hi] = range(floatsOf(*stretched));
    EXPECT_GE(std::min(hi, 1.0f) - std::max(lo, 0.0f), 0.98f);
}

TEST(ContrastStretch, FlatImageStaysUnchangedAndFinite)
{
    const Image flat = horizontalGradient(0.4f, 0.4f);
    const std::optional<Image> stretched = ImageProcessor::contrastStretch(flat);
    ASSERT_TRUE(stretched);
    for (float v : floatsOf(*stretched)) ASSERT_FLOAT_EQ(v, 0.4f);
    const LinearStretch none = stretchFromShares(std::vector<double>(256, 0.0));
    EXPECT_EQ(none.scale, 1.0);
    EXPECT_EQ(none.offset, 0.0);
}

TEST(ContrastStretch, BrokenInputGivesNothingAndTheChainKeepsItsImage)
{
    // An image whose evaluation is cancelled fails only while its pixels are computed, as a
    // truncated file does.
    const Image good = horizontalGradient(0.2f, 0.5f);
    const Image broken = good.linear({1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}).crop(0, 0, 200, 10);
    vips_image_set_kill(broken.get_image(), TRUE);
    EXPECT_FALSE(ImageProcessor::contrastStretch(broken));
    EXPECT_EQ(vips_error_buffer(), std::string());

    ImageSettings::Values settings = ImageSettings().values();
    settings.adjustmentMethod = AdjustmentMethod::raw;
    settings.experiment = true;
    ProcessTrace trace;
    vips_image_set_kill(broken.get_image(), TRUE); // a killed evaluation clears the flag
    const Image kept = ImageProcessor::processImage(broken, ScanSettings().values(), settings, &trace);
    // Raw runs only the tone curve ahead of the experiment.
    EXPECT_EQ(trace.names(), (std::vector<std::string>{"CILinearToSRGBToneCurve", "CIContrastStretch"}));
    vips_image_set_kill(broken.get_image(), FALSE);
    EXPECT_EQ(floatsOf(kept), floatsOf(linearToSRGBToneCurve(good)));
}

TEST(Analyses, AverageBrightnessPrintsTheWorkingAverage)
{
    testing::internal::CaptureStdout();
    const std::optional<double> brightness = ImageProcessor::averageBrightness(flatBytes(5, 5, {128, 128, 128}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "🎨 平均顏色 - R:55 G:55 B:55 A:255\n");
    ASSERT_TRUE(brightness);
    EXPECT_EQ(*brightness, 55.0);
}

TEST(Analyses, ThresholdToBilevelLimitsTheThreshold)
{
    const Image ramp = horizontalGradient(-0.1f, 1.1f, 240, 2);
    const auto bits = [&](double t) {
        const std::optional<Image> image = ImageProcessor::thresholdToBilevel(ramp, t);
        EXPECT_TRUE(image);
        return image ? bytesOf(*image) : std::vector<std::uint8_t>{};
    };
    EXPECT_EQ(bits(1.5), bits(1.0));
    EXPECT_EQ(bits(-0.2), bits(0.0));
    const std::vector<std::uint8_t> half = bits(0.5);
    EXPECT_EQ(half.front(), 0);
    EXPECT_EQ(half.back(), 255);
}

TEST(Analyses, GreyWorldFloorsAMissingChannel)
{
    const Image noBlue = floatImage(4, 4, [](int, int) { return Floats3{0.4f, 0.2f, 0.0f}; });
    for (auto balance : {ImageProcessor::whiteBalanceGrayWorld, ImageProcessor::whiteBalanceGrayWorldFloored}) {
        const std::optional<Image> balanced = balance(noBlue);
        ASSERT_TRUE(balanced);
        const std::vector<float> v = floatsOf(*balanced);
        const double r = readBack(0.4) / 255.0, g = readBack(0.2) / 255.0, m = (r + g) / 3.0;
        EXPECT_NEAR(v[0], 0.4 * m / r, 1e-5);
        EXPECT_NEAR(v[1], 0.2 * m / g, 1e-5);
        EXPECT_EQ(v[2], 0.0f); // 0 times m / 0.0001, finite
    }
    // A blue-only average: the divisor of red and green is 0.0001, so they stay finite.
    const Image blue = floatImage(2, 2, [](int, int) { return Floats3{0.0f, 0.0f, 0.5f}; });
    for (float v : floatsOf(*ImageProcessor::whiteBalanceGrayWorld(blue))) EXPECT_TRUE(std::isfinite(v));
}

TEST(Analyses, NormaliseMinMaxMapsTheDarkestToZero)
{
    const Image gradient = floatImage(100, 3, [](int x, int) {
        return Floats3{0.2f + 0.5f * x / 99.0f, 0.1f + 0.3f * x / 99.0f, 0.6f};
    });
    const std::optional<Image> normalised = ImageProcessor::normalizeChannelsMinMax(gradient);
    ASSERT_TRUE(normalised);
    const std::vector<float> v = floatsOf(*normalised);
    EXPECT_NEAR(v[0], 0.0, 2e-3);
    EXPECT_NEAR(v[1], 0.0, 2e-3);
    EXPECT_NEAR(v[3 * 99], 1.0, 5e-3);
    EXPECT_NEAR(v[3 * 99 + 1], 1.0, 5e-3);
    // The flat blue channel only passes through the tone curve, which keeps 0.6 within its curve.
    for (size_t i = 2; i < v.size(); i += 3) ASSERT_TRUE(std::isfinite(v[i]));
    EXPECT_EQ(v[2], v[3 * 50 + 2]);
}

TEST(Analyses, NormaliseKeepsAFlatImageFinite)
{
    const Image flat = horizontalGradient(0.3f, 0.3f, 10, 10);
    testing::internal::CaptureStdout();
    CINormalize normalize;
    normalize.inputImage = flat;
    const std::optional<Image> out = normalize.outputImage();
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(out);
    for (float v : floatsOf(*out)) ASSERT_FLOAT_EQ(v, 0.3f);
    const double grey = readBack(0.3); // 0.3 R + 0.59 G + 0.11 B of equal bytes
    EXPECT_EQ(printed,
              "minGray: " + formatNumber(0.3 * grey + 0.59 * grey + 0.11 * grey) +
                  ", maxGray: " + formatNumber(0.3 * grey + 0.59 * grey + 0.11 * grey) + "\nscale: 1.0, bias: 0.0\n" +
                  std::string(45, '-') + "\n");
    const std::optional<Image> minMax = ImageProcessor::normalizeChannelsMinMax(flat);
    ASSERT_TRUE(minMax);
    for (float v : floatsOf(*minMax)) ASSERT_TRUE(std::isfinite(v));
}

TEST(Analyses, NormalizePrintsItsThreeLinesAndStretches)
{
    CINormalize normalize;
    EXPECT_FALSE(normalize.outputImage());
    normalize.inputImage = horizontalGradient(float(51 / 255.0), float(204 / 255.0), 50, 2);
    testing::internal::CaptureStdout();
    const std::optional<Image> out = normalize.outputImage();
    const double minGray = 0.3 * 51 + 0.59 * 51 + 0.11 * 51, maxGray = 0.3 * 204 + 0.59 * 204 + 0.11 * 204;
    const double scale = 255 / (maxGray - minGray);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "minGray: " + formatNumber(minGray) + ", maxGray: " + formatNumber(maxGray) +
                  "\nscale: " + formatNumber(scale) + ", bias: " + formatNumber(-minGray * scale) + "\n" +
                  std::string(45, '-') + "\n");
    ASSERT_TRUE(out);
    const auto [lo, hi] = range(floatsOf(*out));
    EXPECT_NEAR(lo, 0.0, 1e-5);
    EXPECT_NEAR(hi, 1.0, 1e-5);
}

TEST(Analyses, NumbersPrintInShortestForm)
{
    EXPECT_EQ(formatNumber(12), "12.0");
    EXPECT_EQ(formatNumber(-3), "-3.0");
    EXPECT_EQ(formatNumber(0.1), "0.1");
    EXPECT_EQ(formatNumber(1.0 / 3), "0.3333333333333333");
}

TEST(Analyses, NegativeFilmTestAlwaysGivesAnImage)
{
    const Image chart = testChart(40, 30);
    const Image out = ImageProcessor::negativeFilmTest(chart);
    EXPECT_EQ(out.width(), 40);
    const std::vector<float> v = floatsOf(out);
    const std::vector<float> in = floatsOf(toWorking(chart));
    // Red: ((1 - c^(1/2.2)) 0.5)^2.2.
    EXPECT_NEAR(v[0], std::pow((1 - std::pow(in[0], 1 / 2.2f)) * 0.5, 2.2f), 1e-4);
}

TEST(Analyses, PixelComponentsReadThroughTheDeviceSpace)
{
    const std::optional<std::array<double, 4>> components =
        ImageProcessor::pixelComponents(flatBytes(1, 1, {10, 128, 250}));
    ASSERT_TRUE(components);
    EXPECT_EQ((*components)[0] * 255, 10);
    EXPECT_EQ((*components)[1] * 255, 128);
    EXPECT_EQ((*components)[2] * 255, 250);
    EXPECT_EQ((*components)[3], 1.0);
}

TEST(Analyses, HistogramStretchesPerChannelAndByLuma)
{
    const Image image = floatImage(256, 2, [](int x, int) {
        return Floats3{0.25f + 0.25f * x / 255.0f, 0.5f + 0.5f * x / 255.0f, 0.1f * x / 255.0f};
    });
    const std::optional<Image> perChannel = ImageProcessor::histogramStretchPerChannel(image);
    ASSERT_TRUE(perChannel);
    const std::vector<float> v = floatsOf(*perChannel);
    for (int b = 0; b < 3; ++b) {
        EXPECT_LT(v[b], 0.02) << b;
        EXPECT_GT(v[3 * 255 + b], 0.97) << b;
    }
    const std::optional<Image> luma = ImageProcessor::histogramStretchLuma(image);
    ASSERT_TRUE(luma);
    const std::vector<float> l = floatsOf(*luma);
    // One scale for all: the channels keep their order.
    EXPECT_LT(l[3 * 128 + 2], l[3 * 128]);
    EXPECT_LT(l[3 * 128], l[3 * 128 + 1]);
}
