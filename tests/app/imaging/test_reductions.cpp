#include "image_helpers.h"
#include "image_processor.h"
#include "reductions.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

TEST(Reductions, ReadBackRoundsAtByteBoundaries)
{
    for (int k = 0; k < 255; ++k) {
        EXPECT_EQ(readBack((k + 0.5 - 1e-6) / 255.0), k);
        EXPECT_EQ(readBack((k + 0.5 + 1e-6) / 255.0), k + 1);
    }
    EXPECT_EQ(readBack(-0.3), 0);
    EXPECT_EQ(readBack(1.7), 255);
    EXPECT_EQ(readBack(std::nan("")), 0);

    // The levels read the extremes back the same way.
    const Image image = floatImage(2, 1, [](int x, int) {
        return x == 0 ? Floats3{float(10.49 / 255), float(10.51 / 255), -0.5f}
                      : Floats3{float(200.2 / 255), 1.5f, float(0.6 / 255)};
    });
    const std::optional<ChannelLevels> levels = ImageProcessor::detectChannelLevels(image);
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->minimum.red * 255, 10);
    EXPECT_EQ(levels->minimum.green * 255, 11);
    EXPECT_EQ(levels->minimum.blue * 255, 0);
    EXPECT_EQ(levels->maximum.red * 255, 200);
    EXPECT_EQ(levels->maximum.green * 255, 255);
    EXPECT_EQ(levels->maximum.blue * 255, 1);
    EXPECT_EQ(levels->maximum.alpha, 1.0);
}

TEST(Reductions, HistogramSharesSumToTheScaleWithOneInTheLastBin)
{
    const Image image = floatImage(10, 10, [](int x, int y) {
        const float v = (x + 10 * y) / 99.0f; // 0 .. 1 inclusive
        return Floats3{v, 1.0f, y < 5 ? -0.2f : 1.3f};
    });
    for (int bins : {256, 350}) {
        const std::optional<AreaHistogram> histogram = areaHistogram(image, bins, 20.0);
        ASSERT_TRUE(histogram);
        ASSERT_EQ(histogram->shares.size(), size_t(bins));
        for (int b = 0; b < 3; ++b) {
            double sum = 0.0;
            for (const auto& share : histogram->shares) sum += share[b];
            EXPECT_NEAR(sum, 20.0, 1e-9);
        }
        EXPECT_NEAR(histogram->shares[bins - 1][1], 20.0, 1e-9); // every green pixel is 1.0
        EXPECT_NEAR(histogram->shares[0][2], 10.0, 1e-9);        // clamped below
        EXPECT_NEAR(histogram->shares[bins - 1][2], 10.0, 1e-9); // clamped above
        EXPECT_NEAR(histogram->shares[0][0], 20.0 / 100, 1e-9);  // red 0 only
    }
    EXPECT_FALSE(areaHistogram(image, 0, 1.0));
    EXPECT_FALSE(areaHistogram(image, 70000, 1.0));
}

TEST(Reductions, EightBitHistogramEqualsTheWorkingOne)
{
    const Image chart = testChart(120, 80);
    const Image working = floatImage(120, 80, [values = floatsOf(toWorking(chart))](int x, int y) {
        const size_t i = (size_t(y) * 120 + x) * 3;
        return Floats3{values[i], values[i + 1], values[i + 2]};
    });
    for (int bins : {7, 256, 1000}) {
        const auto fromBytes = areaHistogram(chart, bins, 1.0);
        const auto fromFloats = areaHistogram(working, bins, 1.0);
        ASSERT_TRUE(fromBytes && fromFloats);
        for (int i = 0; i < bins; ++i)
            for (int b = 0; b < 3; ++b)
                ASSERT_NEAR(fromBytes->shares[i][b], fromFloats->shares[i][b], 1e-12) << bins << " " << i;
    }
}

TEST(Reductions, AreaAverageAndExtremes)
{
    const Image image = floatImage(4, 2, [](int x, int y) { return Floats3{float(x) / 4, float(y), 0.5f}; });
    const std::array<double, 3> mean = areaAverage(image);
    EXPECT_NEAR(mean[0], 0.375, 1e-7);
    EXPECT_NEAR(mean[1], 0.5, 1e-7);
    EXPECT_NEAR(mean[2], 0.5, 1e-7);
    const ChannelExtremes extremes = areaMinMax(image);
    EXPECT_NEAR(extremes.minimum[0], 0.0, 1e-7);
    EXPECT_NEAR(extremes.maximum[0], 0.75, 1e-7);
    EXPECT_NEAR(extremes.maximum[1], 1.0, 1e-7);
    // An 8-bit image is measured in working values.
    const std::array<double, 3> grey = areaAverage(flatBytes(3, 3, {128, 128, 128}));
    EXPECT_NEAR(grey[0], srgb::decode(128 / 255.0), 1e-6);
}
