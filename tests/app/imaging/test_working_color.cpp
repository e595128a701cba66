#include "color_space.h"
#include "image_helpers.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>

using namespace lumenfield;

namespace {

// The exact byte of a working value in each space, computed in double.
int exactSRGB(double c)
{
    return static_cast<int>(std::floor(255.0 * srgb::encode(clampUnit(c)) + 0.5));
}

int exactAdobe(const std::array<double, 3>& c, int band)
{
    double v = 0.0;
    for (int k = 0; k < 3; ++k) v += kSRGBToAdobeRGB[band][k] * c[k];
    return static_cast<int>(std::floor(255.0 * std::pow(clampUnit(v), 256.0 / 563.0) + 0.5));
}

} // namespace

TEST(WorkingColor, EveryByteSurvivesDecodingAndEncoding)
{
    const Image bytes = byteImage(256, 1, [](int x, int) -> Bytes3 {
        return {std::uint8_t(x), std::uint8_t(255 - x), std::uint8_t((x * 7) % 256)};
    });
    const Image working = toWorking(bytes);
    EXPECT_EQ(working.format(), VIPS_FORMAT_FLOAT);
    EXPECT_EQ(working.interpretation(), VIPS_INTERPRETATION_scRGB);
    // Through a materialised float copy, so the encode cannot see the bytes.
    const std::vector<float> values = floatsOf(working);
    const Image copy = floatImage(256, 1, [&](int x, int) {
        return Floats3{values[3 * x], values[3 * x + 1], values[3 * x + 2]};
    });
    EXPECT_EQ(bytesOf(encode8(copy, EncodeSpace::sRGB)), bytesOf(bytes));
    EXPECT_NEAR(values[3 * 128], srgb::decode(128 / 255.0), 1e-7);
}

TEST(WorkingColor, BandsAreRepeatedOrDropped)
{
    const Image grey = flatBytes(4, 4, {90, 90, 90}).extract_band(0);
    const std::vector<float> fromGrey = floatsOf(toWorking(grey));
    ASSERT_EQ(fromGrey.size(), 48u);
    EXPECT_FLOAT_EQ(fromGrey[0], fromGrey[1]);
    EXPECT_FLOAT_EQ(fromGrey[0], fromGrey[2]);

    const Image rgba = flatBytes(4, 4, {10, 20, 30}).bandjoin_const({0});
    const std::vector<std::uint8_t> back = bytesOf(encode8(rgba, EncodeSpace::sRGB));
    ASSERT_EQ(back.size(), 48u);
    EXPECT_EQ((Bytes3{back[0], back[1], back[2]}), (Bytes3{10, 20, 30}));
}

TEST(WorkingColor, EightBitImageComesBackItselfForSRGB)
{
    const Image bytes = flatBytes(3, 3, {1, 2, 3});
    EXPECT_EQ(encode8(bytes, EncodeSpace::sRGB).get_image(), bytes.get_image());
}

TEST(WorkingColor, LinearEncodeRoundsAndClamps)
{
    const Image values = floatImage(3, 1, [](int x, int) {
        const float v = x == 0 ? 0.5f : x == 1 ? 1.2f : -0.1f;
        return Floats3{v, v, v};
    });
    const std::vector<std::uint8_t> bytes = bytesOf(encode8(values, EncodeSpace::linear));
    EXPECT_EQ(bytes[0], 128);
    EXPECT_EQ(bytes[3], 255);
    EXPECT_EQ(bytes[6], 0);
}

TEST(WorkingColor, AdobeEncodeMatchesTheAdobeProfile)
{
    const ColorProfile linear = colorSpace(ICCProfile::generic);
    const ColorProfile adobe = colorSpace(ICCProfile::adobeRGB);
    ASSERT_TRUE(linear && adobe);
    cmsHTRANSFORM transform = cmsCreateTransform(linear.get(), TYPE_RGB_DBL, adobe.get(), TYPE_RGB_DBL,
                                                 INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    ASSERT_NE(transform, nullptr);
    constexpr int n = 17;
    const Image grid = floatImage(n * n, n, [](int x, int y) {
        return Floats3{float(x % n) / (n - 1), float(x / n) / (n - 1), float(y) / (n - 1)};
    });
    const std::vector<float> in = floatsOf(grid);
    const std::vector<std::uint8_t> encoded = bytesOf(encode8(grid, EncodeSpace::adobeRGB));
    int worst = 0;
    for (size_t i = 0; i < in.size(); i += 3) {
        const double source[3] = {in[i], in[i + 1], in[i + 2]};
        double target[3];
        cmsDoTransform(transform, source, target, 1);
        for (int b = 0; b < 3; ++b) {
            const int expected = static_cast<int>(std::floor(255.0 * clampUnit(target[b]) + 0.5));
            worst = std::max(worst, std::abs(expected - int(encoded[i + b])));
        }
    }
    cmsDeleteTransform(transform);
    EXPECT_LE(worst, 1);
}

TEST(WorkingColor, TableEncodesStayWithinALevelOverAFineSweep)
{
    constexpr int width = 1000, height = 1200; // -0.1 to 1.1 in steps of 1e-6
    const Image sweep = floatImage(width, height, [](int x, int y) {
        const float v = float(-0.1 + (double(y) * width + x) * 1e-6);
        return Floats3{v, float(1.0 - v), v * 0.5f};
    });
    const std::vector<float> in = floatsOf(sweep);
    const std::vector<std::uint8_t> srgbBytes = bytesOf(encode8(sweep, EncodeSpace::sRGB));
    const std::vector<std::uint8_t> adobeBytes = bytesOf(encode8(sweep, EncodeSpace::adobeRGB));
    int worstSRGB = 0, worstAdobe = 0;
    for (size_t i = 0; i < in.size(); i += 3) {
        const std::array<double, 3> c{in[i], in[i + 1], in[i + 2]};
        for (int b = 0; b < 3; ++b) {
            worstSRGB = std::max(worstSRGB, std::abs(exactSRGB(c[b]) - int(srgbBytes[i + b])));
            worstAdobe = std::max(worstAdobe, std::abs(exactAdobe(c, b) - int(adobeBytes[i + b])));
        }
    }
    EXPECT_LE(worstSRGB, 1);
    EXPECT_LE(worstAdobe, 1);
}

TEST(WorkingColor, CurvesAreOddAndInverse)
{
    for (double u : {-1.5, -0.5, -0.01, 0.0, 0.002, 0.04, 0.3, 0.9, 1.0, 1.7}) {
        EXPECT_NEAR(srgb::decode(srgb::encode(u)), u, 1e-12) << u;
        EXPECT_DOUBLE_EQ(srgb::decode(-u), -srgb::decode(u));
        EXPECT_NEAR(srgb::fastEncode()(float(u)), srgb::encode(u), 5e-6 * std::max(1.0, std::fabs(u)));
        EXPECT_NEAR(srgb::fastDecode()(float(u)), srgb::decode(u), 5e-6 * std::max(1.0, std::fabs(u) * 3));
    }
}
