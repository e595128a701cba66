#include "image_helpers.h"
#include "auto_adjustment.h"
#include "document_enhancer.h"
#include "image_processor.h"
#include "point_filters.h"
#include "reductions.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <set>

using namespace lumenfield;

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

TEST(Reductions, TheColoursAnImageHoldsGiveTheProgramsExtremesOverIt)
{
    // Noise with a narrow range in one channel and a wide one in another: many colours, some
    // repeated, spread over many words of the set and none at the edges of the range.
    std::mt19937 random(7);
    const Image image = byteImage(640, 480, [&](int, int) {
        return Bytes3{std::uint8_t(40 + random() % 90), std::uint8_t(random() % 256), std::uint8_t(100 + random() % 3)};
    });
    std::set<std::uint32_t> expected;
    const std::vector<std::uint8_t> bytes = bytesOf(image);
    for (size_t i = 0; i < bytes.size(); i += 3) expected.insert(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);

    const ColourSet colours(image);
    std::vector<std::uint32_t> listed;
    colours.forEachRun(1000, [&](const std::uint8_t* run, int count) {
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 1000);
        for (int i = 0; i < count; ++i) listed.push_back(run[3 * i] << 16 | run[3 * i + 1] << 8 | run[3 * i + 2]);
    });
    EXPECT_EQ(listed, std::vector<std::uint32_t>(expected.begin(), expected.end()));
    EXPECT_EQ(colours.size(), expected.size());
    std::vector<std::uint32_t> inParts;
    for (size_t part = 0; part < 7; ++part)
        colours.forEachRun(
            333,
            [&](const std::uint8_t* run, int count) {
                for (int i = 0; i < count; ++i)
                    inParts.push_back(run[3 * i] << 16 | run[3 * i + 1] << 8 | run[3 * i + 2]);
            },
            part, 7);
    EXPECT_EQ(inParts, listed);

    // The photo adjustment's steps, which mix the channels: evaluated once per colour they give the
    // same extremes, to the bit, as the whole image evaluated and measured.
    PointProgram program(image);
    program.append(encodeOp());
    program.append(toneCurveOp({{{0.1, 0.0}, {0.3, 0.2}, {0.5, 0.45}, {0.7, 0.8}, {0.9, 1.0}}}));
    program.append(vibranceOp(0.4));
    program.append(matrixOp(ColorMatrix::diagonal({1.2, 0.9, 1.1}, {-0.05, 0.02, 0.0})));
    ASSERT_NE(program.colourSource(), nullptr);
    const ChannelExtremes whole = areaMinMax(program.image());
    const ChannelExtremes overColours = extremesOverColours(
        colours, [&](const std::uint8_t* run, float* rgb, int count) { program.applyToBytes(run, rgb, count); });
    const std::array<double, 3> minimum = overColours.minimum, maximum = overColours.maximum;
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(minimum[b], whole.minimum[b]) << "band " << b;
        EXPECT_EQ(maximum[b], whole.maximum[b]) << "band " << b;
    }

    // A failure on any thread comes back to the caller once every thread has ended.
    const auto failOnRed100 = [](const std::uint8_t* run, float*, int count) {
        for (int i = 0; i < count; ++i)
            if (run[3 * i] == 100) throw vips::VError("no working values");
    };
    EXPECT_THROW(extremesOverColours(colours, failOnRed100), vips::VError);

    // A step that looks at where a pixel lies ends the shortcut.
    PointProgram document(image);
    document.append(encodeOp());
    ASSERT_NE(document.colourSource(), nullptr);
    document.append(documentEnhancerOp(documentBackground(document.image()), 10.0));
    EXPECT_EQ(document.colourSource(), nullptr);
}
