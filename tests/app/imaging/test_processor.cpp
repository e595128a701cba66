#include "image_helpers.h"
#include "image_processor.h"
#include "point_filters.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <set>

using namespace lumenfield;

namespace {

using Names = std::vector<std::string>;

ImageSettings::Values defaults()
{
    return ImageSettings().values();
}

ScanSettings::Values scanOf(VekColorType colorType, VekScanSource source = VekScanSource::reflective)
{
    ScanSettings::Values values = ScanSettings().values();
    values.colorType = colorType;
    values.scanSource = source;
    return values;
}

ImageSettings::Values method(AdjustmentMethod m, ImageSettings::Values values = defaults())
{
    values.adjustmentMethod = m;
    return values;
}

std::vector<std::uint8_t> processedBytes(const Image& image, const ScanSettings::Values& scan,
                                         const ImageSettings::Values& settings, ProcessTrace* trace = nullptr,
                                         ProcessPath path = ProcessPath::fused)
{
    return bytesOf(encode8(ImageProcessor::processImage(image, scan, settings, trace, path), EncodeSpace::sRGB));
}

Names withoutAutomaticFilters(Names names)
{
    std::erase_if(names, [](const std::string& n) { return n == "CIToneCurve" || n == "CIVibrance"; });
    return names;
}

constexpr VekColorType kColorTypes[] = {VekColorType::color, VekColorType::gray, VekColorType::blackAndWhite};
constexpr AdjustmentMethod kMethods[] = {AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc,
                                         AdjustmentMethod::raw};

} // namespace

TEST(Processor, EachMethodAndColourTypeRunsItsStages)
{
    ImageSettings::Values settings = defaults();
    settings.exposure = 0.5;
    settings.hue = 0.3;
    settings.sharpeness = 0.8;
    const std::string curve = "CILinearToSRGBToneCurve", noir = "CIPhotoEffectNoir", otsu = "CIColorThresholdOtsu";
    const std::map<std::pair<AdjustmentMethod, VekColorType>, Names> expected{
        {{AdjustmentMethod::manual, VekColorType::color},
         {curve, "levels", "levels", "CIExposureAdjust", "CIColorControls", "CIHueAdjust", "CIUnsharpMask"}},
        {{AdjustmentMethod::manual, VekColorType::gray},
         {curve, "levels", noir, "levels", "CIExposureAdjust", "CIColorControls", "CIUnsharpMask"}},
        {{AdjustmentMethod::manual, VekColorType::blackAndWhite}, {curve, "levels", noir, otsu, "levels", "bilevel"}},
        {{AdjustmentMethod::photo, VekColorType::color}, {curve, "levels", "levels"}},
        {{AdjustmentMethod::photo, VekColorType::gray}, {curve, "levels", noir, "levels"}},
        {{AdjustmentMethod::photo, VekColorType::blackAndWhite}, {curve, "levels", noir, otsu, "levels", "bilevel"}},
        {{AdjustmentMethod::doc, VekColorType::color}, {curve, "levels", "CIDocumentEnhancer", "levels"}},
        {{AdjustmentMethod::doc, VekColorType::gray}, {curve, "levels", noir, "CIDocumentEnhancer", "levels"}},
        {{AdjustmentMethod::doc, VekColorType::blackAndWhite},
         {curve, "levels", noir, otsu, "CIDocumentEnhancer", "levels", "bilevel"}},
        {{AdjustmentMethod::raw, VekColorType::color}, {curve}},
        {{AdjustmentMethod::raw, VekColorType::gray}, {curve, noir}},
        {{AdjustmentMethod::raw, VekColorType::blackAndWhite}, {curve, noir, otsu, "bilevel"}},
    };
    const Image chart = testChart();
    for (const auto& [key, names] : expected) {
        ProcessTrace trace;
        ImageProcessor::processImage(chart, scanOf(key.second), method(key.first, settings), &trace);
        EXPECT_EQ(withoutAutomaticFilters(trace.names()), names)
            << displayName(key.first).toStdString() << " " << rawValue(key.second);
    }
    ProcessTrace photo;
    ImageProcessor::processImage(chart, scanOf(VekColorType::color), method(AdjustmentMethod::photo), &photo);
    EXPECT_EQ(photo.count("CIToneCurve"), 1); // the chart does not span the full range
}

// Raw colour adjusts nothing: the scanner's samples, linear in light, come out as they are. In the
// linear encoding they keep their bytes; in sRGB a sample x becomes round(255 E(x / 255)), as the
// tone curve alone gives, so that a file says what its pixels are.
TEST(Processor, RawColourKeepsTheSamplesAsLinearLight)
{
    const Image chart = testChart(60, 40);
    const std::vector<std::uint8_t> before = bytesOf(chart);
    for (VekScanSource source : {VekScanSource::reflective, VekScanSource::positiveFilm})
        for (ProcessPath path : {ProcessPath::fused, ProcessPath::reference}) {
            ProcessTrace trace;
            const Image result = ImageProcessor::processImage(chart, scanOf(VekColorType::color, source),
                                                              method(AdjustmentMethod::raw), &trace, path);
            EXPECT_EQ(trace.names(), Names{"CILinearToSRGBToneCurve"});
            EXPECT_EQ(bytesOf(encode8(result, EncodeSpace::linear)), before);
            EXPECT_EQ(bytesOf(encode8(result, EncodeSpace::sRGB)),
                      bytesOf(encode8(linearToSRGBToneCurve(chart), EncodeSpace::sRGB)));
        }
    EXPECT_EQ(bytesOf(chart), before);
}

TEST(Processor, RawGreyRunsOnlyTheToneCurveAndThePhotoEffect)
{
    const Image chart = testChart(60, 40);
    ImageSettings::Values settings = method(AdjustmentMethod::raw);
    settings.grayMode = GrayMode::mono;
    ProcessTrace trace;
    const std::vector<std::uint8_t> out = processedBytes(chart, scanOf(VekColorType::gray), settings, &trace);
    EXPECT_EQ(trace.names(), (Names{"CILinearToSRGBToneCurve", "CIPhotoEffectMono"}));
    EXPECT_EQ(out, bytesOf(encode8(photoEffect(linearToSRGBToneCurve(chart), PhotoEffect::mono), EncodeSpace::sRGB)));
}

TEST(Processor, BlackAndWhiteManualIgnoresTheSliders)
{
    const Image chart = testChart(120, 80);
    ImageSettings::Values wild = defaults();
    wild.exposure = 2.0;
    wild.contrast = 3.0;
    wild.saturation = 0.0;
    wild.hue = 1.0;
    wild.sharpeness = 2.0;
    ProcessTrace trace;
    const auto out = processedBytes(chart, scanOf(VekColorType::blackAndWhite), wild, &trace);
    EXPECT_EQ(out, processedBytes(chart, scanOf(VekColorType::blackAndWhite), defaults()));
    for (const char* name : {"CIExposureAdjust", "CIColorControls", "CIHueAdjust", "CIUnsharpMask"})
        EXPECT_EQ(trace.count(name), 0) << name;
}

TEST(Processor, GreyManualDropsSaturationAndHue)
{
    ImageSettings::Values settings = defaults();
    settings.exposure = -0.4;
    settings.saturation = 1.7;
    settings.hue = 0.5;
    settings.sharpeness = 0.6;
    settings.contrast = 1.1;
    ProcessTrace trace;
    ImageProcessor::processImage(testChart(60, 40), scanOf(VekColorType::gray), settings, &trace);
    const Names names = trace.names();
    const auto find = [&](const std::string& name) {
        return std::find_if(trace.stages.begin(), trace.stages.end(),
                            [&](const FilterStep& s) { return s.name == name; });
    };
    ASSERT_NE(find("CIExposureAdjust"), trace.stages.end());
    EXPECT_EQ(find("CIExposureAdjust")->parameters.at("inputEV"), -0.4);
    ASSERT_NE(find("CIColorControls"), trace.stages.end());
    EXPECT_EQ(find("CIColorControls")->parameters.at("inputSaturation"), 0.0);
    EXPECT_EQ(find("CIColorControls")->parameters.at("inputContrast"), 1.1);
    EXPECT_EQ(trace.count("CIHueAdjust"), 0);
    ASSERT_NE(find("CIUnsharpMask"), trace.stages.end());
    EXPECT_EQ(find("CIUnsharpMask")->parameters.at("inputIntensity"), 0.6);

    // A colour type the system does not know gets no conversion, but no saturation either.
    ProcessTrace unknown;
    ImageProcessor::processImage(testChart(60, 40), scanOf(VekColorType(3)), settings, &unknown);
    ASSERT_EQ(
        unknown.names(),
        (Names{"CILinearToSRGBToneCurve", "levels", "levels", "CIExposureAdjust", "CIColorControls", "CIUnsharpMask"}));
    EXPECT_EQ(unknown.stages[4].parameters.at("inputSaturation"), 0.0);
}

TEST(Processor, ColourDefaultsRunOnlyNeutralColourControls)
{
    ProcessTrace trace;
    ImageSettings::Values settings = defaults();
    settings.brightness = 0.7; // stored, but never applied
    const Image chart = testChart(60, 40);
    const auto withBrightness = processedBytes(chart, scanOf(VekColorType::color), settings, &trace);
    const FilterStep expected{"CIColorControls",
                              {{"inputBrightness", 0.0}, {"inputContrast", 1.0}, {"inputSaturation", 1.0}}};
    EXPECT_EQ(trace.stages,
              (std::vector<FilterStep>{{"CILinearToSRGBToneCurve", {}}, {"levels", {}}, {"levels", {}}, expected}));
    EXPECT_EQ(withBrightness, processedBytes(chart, scanOf(VekColorType::color), defaults()));
}

TEST(Processor, NegativeFilmMeasuresLevelsThreeTimes)
{
    const Image chart = testChart(60, 40);
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc}) {
        ProcessTrace negative, reflective, positive;
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::negativeFilm), method(m),
                                     &negative);
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::reflective), method(m),
                                     &reflective);
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::positiveFilm), method(m),
                                     &positive);
        EXPECT_EQ(negative.count("levels"), 3);
        EXPECT_EQ(negative.count("CISRGBToneCurveToLinear"), 1);
        EXPECT_EQ(negative.names()[0], "levels");
        EXPECT_EQ(reflective.count("levels"), 2);
        EXPECT_EQ(positive.count("levels"), 2);
        EXPECT_EQ(positive.count("CILinearToSRGBToneCurve"), 1);
    }
}

TEST(Processor, UnknownFilterWarnsAndTheRestRun)
{
    const Image chart = testChart(30, 20);
    testing::internal::CaptureStdout();
    const Image out = ImageProcessor::applyFilters(
        chart, {{"CIBogusFilter", {{"inputEV", 3.0}}}, {"CIExposureAdjust", {{"inputEV", 1.0}, {"inputColor", 7.0}}}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: Filter CIBogusFilter not found.\n");
    EXPECT_EQ(bytesOf(encode8(out, EncodeSpace::sRGB)),
              bytesOf(encode8(ImageProcessor::applyFilters(chart, {{"CIExposureAdjust", {{"inputEV", 1.0}}}}),
                              EncodeSpace::sRGB)));
    // Nothing succeeded: the input itself.
    testing::internal::CaptureStdout();
    EXPECT_EQ(ImageProcessor::applyFilters(chart, {{"CINothing", {}}}).get_image(), chart.get_image());
    testing::internal::GetCapturedStdout();
}

TEST(Processor, FailingStepWarnsAndKeepsTheImage)
{
    const Image chart = testChart(30, 20);
    testing::internal::CaptureStdout();
    const Image out = ImageProcessor::applyFilters(chart,
                                                   {{"CIColorControls", {{"inputContrast", 1.5}}},
                                                    {"CIUnsharpMask", {{"inputRadius", -3.0}}},
                                                    {"CIExposureAdjust", {{"inputEV", std::nan("")}}}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Filter CIUnsharpMask failed to process.\n"
              "Warning: Filter CIExposureAdjust failed to process.\n");
    EXPECT_EQ(bytesOf(encode8(out, EncodeSpace::sRGB)),
              bytesOf(encode8(ImageProcessor::applyFilters(chart, {{"CIColorControls", {{"inputContrast", 1.5}}}}),
                              EncodeSpace::sRGB)));
}

TEST(Processor, FlatPagesKeepTheirTone)
{
    const Image white = flatBytes(64, 48, {255, 255, 255});
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc})
        for (VekColorType type : kColorTypes) {
            const auto out = processedBytes(white, scanOf(type), method(m));
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t v) { return v == 255; }))
                << displayName(m).toStdString() << " " << rawValue(type);
        }
    // Byte 128 is lifted by the tone curve to 0.5020 and then left alone by both levels.
    const Image grey = flatBytes(64, 48, {128, 128, 128});
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo}) {
        ProcessTrace trace;
        const auto out = processedBytes(grey, scanOf(VekColorType::color), method(m), &trace);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t v) { return v == 188; }))
            << displayName(m).toStdString() << " gives " << int(out[0]);
        EXPECT_EQ(trace.count("CIToneCurve") + trace.count("CIVibrance"), 0);
    }
    // A two-level page in black and white stays as it was.
    const Image page = byteImage(64, 48, [](int x, int y) -> Bytes3 {
        const std::uint8_t v = (x / 4 + y / 6) % 3 == 0 ? 0 : 255;
        return {v, v, v};
    });
    for (AdjustmentMethod m : kMethods)
        EXPECT_EQ(processedBytes(page, scanOf(VekColorType::blackAndWhite), method(m)), bytesOf(page))
            << displayName(m).toStdString();
}

TEST(Processor, BlackAndWhiteGivesOnlyZeroAndOne)
{
    const Image chart = testChart(120, 80);
    for (AdjustmentMethod m : kMethods)
        for (BWMode mode : {BWMode::automatic, BWMode::manual}) {
            ImageSettings::Values settings = method(m);
            settings.bwMode = mode;
            const Image out = ImageProcessor::processImage(chart, scanOf(VekColorType::blackAndWhite), settings);
            std::set<float> values;
            for (float v : floatsOf(out)) values.insert(v);
            EXPECT_EQ(values, (std::set<float>{0.0f, 1.0f})) << displayName(m).toStdString();
        }
}

TEST(Processor, ExperimentAndInvertRunTheirStages)
{
    const Image chart = testChart(60, 40);
    ImageSettings::Values settings = method(AdjustmentMethod::raw);
    settings.invert = true;
    ProcessTrace trace;
    const std::vector<float> inverted =
        floatsOf(ImageProcessor::processImage(chart, scanOf(VekColorType::color), settings, &trace));
    EXPECT_EQ(trace.names(), (Names{"CILinearToSRGBToneCurve", "CIColorInvert"}));
    const std::vector<std::uint8_t> samples = bytesOf(chart);
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_NEAR(inverted[i], 1.0f - samples[i] / 255.0f, 1e-5);

    settings.experiment = true;
    trace = {};
    ImageProcessor::processImage(chart, scanOf(VekColorType::color), settings, &trace);
    EXPECT_EQ(trace.names(), (Names{"CILinearToSRGBToneCurve", "CIContrastStretch", "CIColorInvert"}));
}

TEST(Processor, FusedAndReferencePathsAgree)
{
    const Image chart = testChart();
    ImageSettings::Values settings = defaults();
    settings.exposure = 0.3;
    settings.contrast = 1.2;
    settings.saturation = 1.3;
    settings.hue = 0.4;
    settings.sharpeness = 0.7;
    for (VekScanSource source : {VekScanSource::reflective, VekScanSource::negativeFilm})
        for (VekColorType type : kColorTypes)
            for (AdjustmentMethod m : kMethods) {
                ImageSettings::Values s = method(m, settings);
                s.experiment = type == VekColorType::color;
                const auto fused = processedBytes(chart, scanOf(type, source), s, nullptr, ProcessPath::fused);
                const auto reference = processedBytes(chart, scanOf(type, source), s, nullptr, ProcessPath::reference);
                EXPECT_LE(maxDifference(fused, reference), 1)
                    << displayName(m).toStdString() << " type " << rawValue(type) << " source " << rawValue(source);
            }
}

TEST(Processor, FailingMeasurementIsReportedAndTheChainGoesOn)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = (dir.path() + "/cut.jpeg").toStdString();
    testChart(300, 200).jpegsave(path.c_str());
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    ASSERT_EQ(truncate(path.c_str(), size / 2), 0);
    const Image broken = Image::new_from_file(path.c_str(), Image::option()->set("fail_on", VIPS_FAIL_ON_ERROR));

    for (ProcessPath processPath : {ProcessPath::fused, ProcessPath::reference}) {
        testing::internal::CaptureStdout();
        ProcessTrace trace;
        ImageProcessor::processImage(broken, scanOf(VekColorType::color), defaults(), &trace, processPath);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Failed to get areaMinimum output image\n"), std::string::npos);
        EXPECT_EQ(out.find("areaMaximum"), std::string::npos);
        EXPECT_EQ(trace.count("levels"), 2);
        EXPECT_EQ(vips_error_buffer(), std::string());
    }
}

namespace {

// One row of pixels, channel by channel.
Image rowImage(const std::array<std::vector<int>, 3>& channels)
{
    const int width = static_cast<int>(channels[0].size());
    return byteImage(width, 1, [&](int x, int) -> Bytes3 {
        return {std::uint8_t(channels[0][x]), std::uint8_t(channels[1][x]), std::uint8_t(channels[2][x])};
    });
}

std::array<std::vector<int>, 3> channelsOf(const std::vector<std::uint8_t>& bytes)
{
    std::array<std::vector<int>, 3> channels;
    for (size_t i = 0; i < bytes.size(); ++i) channels[i % 3].push_back(bytes[i]);
    return channels;
}

} // namespace

// With the default settings each channel's span of raw bytes [lo, hi] becomes the whole range:
// out = round(255 E((x - lo) / (hi - lo))), E the sRGB encoding.
TEST(Processor, LevelsStretchEachChannelToTheFullRange)
{
    const std::array<std::vector<int>, 3> raw{{{40, 50, 71, 100, 132, 160, 190, 220},
                                               {20, 45, 81, 110, 140, 170, 201, 240},
                                               {60, 71, 90, 110, 130, 150, 171, 180}}};
    const std::array<std::vector<int>, 3> expected{{{0, 67, 115, 156, 189, 213, 235, 255},
                                                    {0, 95, 144, 171, 195, 215, 234, 255},
                                                    {0, 85, 137, 173, 201, 225, 246, 255}}};
    for (ProcessPath path : {ProcessPath::fused, ProcessPath::reference})
        EXPECT_EQ(channelsOf(processedBytes(rowImage(raw), scanOf(VekColorType::color), defaults(), nullptr, path)),
                  expected);
    // The public pair measures and stretches the same way, here on working values 0.2 .. 0.6.
    const Image working = floatImage(3, 1, [](int x, int) -> Floats3 {
        const float v = 0.2f + 0.2f * float(x);
        return {v, v, v};
    });
    const std::optional<ChannelLevels> levels = ImageProcessor::detectChannelLevels(working);
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->minimum.red, 51 / 255.0);
    EXPECT_EQ(levels->maximum.blue, 153 / 255.0);
    const std::optional<Image> stretched =
        ImageProcessor::stretchChannelLevels(working, levels->minimum, levels->maximum);
    ASSERT_TRUE(stretched);
    const std::vector<float> values = floatsOf(*stretched);
    for (int x = 0; x < 3; ++x) EXPECT_NEAR(values[3 * x], 0.5 * x, 1e-5) << x;
}

// A nearly flat channel is left as it is: below 32 levels of span the stretch would only blow up
// noise. A raw byte x then comes out as round(255 E(x / 255)), as on an exactly flat page.
TEST(Processor, NearlyFlatChannelsKeepTheirTone)
{
    const struct {
        int lo, hi;
        int pixels, outlying; // of `pixels`, `outlying` are hi and the rest lo
        bool stretched;
    } cases[] = {{100, 100, 2, 1, false},
                 {100, 101, 2, 1, false},
                 {100, 115, 2, 1, false},
                 {100, 131, 2, 1, false},
                 {100, 132, 2, 1, true},
                 {100, 164, 2, 1, true},
                 {0, 31, 2, 1, false},
                 {224, 255, 2, 1, false},
                 // Up to 0.1 % of the pixels at an end are outlying: a speck on a grey card.
                 {100, 200, 2000, 2, false},
                 {100, 200, 2000, 3, true},
                 {100, 200, 999, 1, true}};
    for (const auto& c : cases) {
        // Red has the span under test; green and blue span the whole range.
        std::array<std::vector<int>, 3> channels;
        for (int x = 0; x < c.pixels; ++x) {
            channels[0].push_back(x < c.outlying ? c.hi : c.lo);
            channels[1].push_back(x % 2 == 0 ? 0 : 255);
            channels[2].push_back(x % 2 == 0 ? 255 : 0);
        }
        const std::vector<int> red =
            channelsOf(processedBytes(rowImage(channels), scanOf(VekColorType::color), defaults()))[0];
        const auto unchanged = [](int x) { return int(255.0 * srgb::encode(x / 255.0) + 0.5); };
        const std::vector<int> want =
            c.stretched ? std::vector<int>{0, 255} : std::vector<int>{unchanged(c.lo), unchanged(c.hi)};
        EXPECT_EQ(std::set<int>(red.begin(), red.end()), std::set<int>(want.begin(), want.end()))
            << c.lo << ".." << c.hi << ", " << c.outlying << " of " << c.pixels << " outlying";
    }

    // A grey card: raw bytes 127 and 128 at random. It stays as uniform as it came, where a flat
    // grey of either byte would be.
    const Image card = byteImage(97, 61, [](int x, int y) -> Bytes3 {
        const unsigned h = (unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u + 17u);
        return {std::uint8_t(127 + (h >> 7) % 2), std::uint8_t(127 + (h >> 11) % 2), std::uint8_t(127 + (h >> 13) % 2)};
    });
    const std::vector<std::uint8_t> raw = bytesOf(card);
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo}) {
        const std::vector<std::uint8_t> out = processedBytes(card, scanOf(VekColorType::color), method(m));
        ASSERT_EQ(out.size(), raw.size());
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], raw[i] == 127 ? 187 : 188) << i << " " << displayName(m).toStdString();
    }
}

// A grey card keeps its tone with specks of dust on it and with a texture whose darkest grains are
// a tiny share of it: in colour and grey it comes out as a clean card does, its mean within 6
// levels, where the levels stretch would otherwise take the extremes of the specks for the image's
// range and turn the card white. (The document enhancer whitens a page's background, and so a
// textured card unevenly; the texture is not a case for it.)
TEST(Processor, SpecksAndGrainLeaveAGreyCardsTone)
{
    // Raw samples of a grey-128 card (21.6 % of white) and a little noise, 240 × 200 pixels.
    const auto noise = [](int x, int y) { return ((unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u)) >> 13; };
    const auto card = [&](int x, int y) { return 54 + int(noise(x, y) % 3); };
    const Image clean = byteImage(240, 200, [&](int x, int y) -> Bytes3 {
        const std::uint8_t v = std::uint8_t(card(x, y));
        return {v, v, v};
    });
    // Two black specks of 13 pixels each, 0.05 % of the card.
    const Image specked = byteImage(240, 200, [&](int x, int y) -> Bytes3 {
        for (const auto& [cx, cy] : {std::pair{60, 50}, std::pair{170, 140}})
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 4) return {2, 2, 3};
        const std::uint8_t v = std::uint8_t(card(x, y));
        return {v, v, v};
    });
    // A weave of ±3 levels of light and, on 1 pixel in 1500, a dark fibre.
    const Image textured = byteImage(240, 200, [&](int x, int y) -> Bytes3 {
        const int weave = (x / 3 + y / 3) % 2 == 0 ? 3 : -3;
        const int v = noise(x, y) % 1500 == 0 ? 12 : card(x, y) + weave;
        return {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v + 1)};
    });
    const auto mean = [](const std::vector<std::uint8_t>& bytes) {
        double sum = 0.0;
        for (std::uint8_t v : bytes) sum += v;
        return sum / double(bytes.size());
    };
    const auto whiteShare = [](const std::vector<std::uint8_t>& bytes) {
        return double(std::count_if(bytes.begin(), bytes.end(), [](std::uint8_t v) { return v >= 250; })) /
            double(bytes.size());
    };
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc})
        for (VekColorType type : {VekColorType::color, VekColorType::gray})
            for (ProcessPath path : {ProcessPath::fused, ProcessPath::reference}) {
                const std::vector<std::uint8_t> want = processedBytes(clean, scanOf(type), method(m), nullptr, path);
                for (const Image* image : {&specked, &textured}) {
                    if (image == &textured && m == AdjustmentMethod::doc) continue;
                    const std::vector<std::uint8_t> out =
                        processedBytes(*image, scanOf(type), method(m), nullptr, path);
                    const char* which = image == &specked ? "specked" : "textured";
                    EXPECT_NEAR(mean(out), mean(want), 6.0) << which << " " << displayName(m).toStdString() << " type "
                                                            << rawValue(type) << " path " << int(path);
                    EXPECT_LE(whiteShare(out), whiteShare(want) + 0.001)
                        << which << " " << displayName(m).toStdString();
                }
            }
}

// A low-contrast photo, each channel spanning 64 to 70 levels, is still stretched to the full range.
TEST(Processor, LowContrastPhotosAreStillStretched)
{
    const Image photo = byteImage(200, 150, [](int x, int y) -> Bytes3 {
        const int noise = int(((unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u)) >> 29);
        return {std::uint8_t(96 + x * 57 / 199 + noise), std::uint8_t(80 + y * 62 / 149 + noise % 4),
                std::uint8_t(100 + (x + y) * 64 / 347)};
    });
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo}) {
        const Image out =
            encode8(ImageProcessor::processImage(photo, scanOf(VekColorType::color), method(m)), EncodeSpace::sRGB);
        const Image stats = out.stats();
        for (int band = 1; band <= 3; ++band) {
            EXPECT_EQ(stats.getpoint(0, band)[0], 0.0) << band << " " << displayName(m).toStdString();
            EXPECT_EQ(stats.getpoint(1, band)[0], 255.0) << band << " " << displayName(m).toStdString();
        }
    }
}

// The manual sliders act on the levelled image and stay in the result, in both directions. On a
// grey ramp that spans the whole range, working value c = x / 255 becomes round(255 E(f(c))):
// exposure f = c 2^ev, contrast f = (c - 0.5) k + 0.5, clamped to 0..1.
TEST(Processor, ExposureAndContrastWorkInBothDirections)
{
    const std::vector<int> ramp{0, 30, 70, 96, 128, 160, 200, 255};
    const Image grey = rowImage({ramp, ramp, ramp});
    const struct {
        double exposure, contrast;
        std::vector<int> expected;
    } cases[] = {
        {0.0, 1.0, {0, 96, 143, 165, 188, 208, 229, 255}},
        {-1.0, 1.0, {0, 69, 104, 120, 137, 152, 168, 188}},   // darker
        {1.0, 1.0, {0, 133, 196, 225, 255, 255, 255, 255}},   // lighter
        {0.0, 0.5, {137, 151, 167, 177, 188, 198, 210, 225}}, // narrower about linear 0.5
        {0.0, 2.0, {0, 0, 63, 138, 188, 225, 255, 255}},      // wider
    };
    for (const auto& c : cases) {
        ImageSettings::Values settings = defaults();
        settings.exposure = c.exposure;
        settings.contrast = c.contrast;
        for (ProcessPath path : {ProcessPath::fused, ProcessPath::reference}) {
            const auto channels =
                channelsOf(processedBytes(grey, scanOf(VekColorType::color), settings, nullptr, path));
            for (int band = 0; band < 3; ++band)
                EXPECT_EQ(channels[band], c.expected)
                    << "exposure " << c.exposure << " contrast " << c.contrast << " band " << band;
        }
    }
}
