#include "image_helpers.h"
#include "image_processor.h"
#include "point_filters.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <set>

namespace {

using Names = std::vector<std::string>;

ImageSettings::Values defaults() {
    return ImageSettings().values();
}

ScanSettings::Values scanOf(VekColorType colorType, VekScanSource source = VekScanSource::reflective) {
    ScanSettings::Values values = ScanSettings().values();
    values.colorType = colorType;
    values.scanSource = source;
    return values;
}

ImageSettings::Values method(AdjustmentMethod m, ImageSettings::Values values = defaults()) {
    values.adjustmentMethod = m;
    return values;
}

std::vector<std::uint8_t> processedBytes(const Image& image, const ScanSettings::Values& scan,
                                         const ImageSettings::Values& settings,
                                         ProcessTrace* trace = nullptr,
                                         ProcessPath path = ProcessPath::fused) {
    return bytesOf(encode8(ImageProcessor::processImage(image, scan, settings, trace, path),
                           EncodeSpace::sRGB));
}

Names withoutAutomaticFilters(Names names) {
    std::erase_if(names, [](const std::string& n) { return n == "CIToneCurve" || n == "CIVibrance"; });
    return names;
}

constexpr VekColorType kColorTypes[] = {VekColorType::color, VekColorType::gray,
                                        VekColorType::blackAndWhite};
constexpr AdjustmentMethod kMethods[] = {AdjustmentMethod::manual, AdjustmentMethod::photo,
                                         AdjustmentMethod::doc, AdjustmentMethod::raw};

}  // namespace

TEST(Processor, EachMethodAndColourTypeRunsItsStages) {
    ImageSettings::Values settings = defaults();
    settings.exposure = 0.5;
    settings.hue = 0.3;
    settings.sharpeness = 0.8;
    const std::string curve = "CILinearToSRGBToneCurve", noir = "CIPhotoEffectNoir",
                      otsu = "CIColorThresholdOtsu";
    const std::map<std::pair<AdjustmentMethod, VekColorType>, Names> expected{
        {{AdjustmentMethod::manual, VekColorType::color},
         {curve, "levels", "CIExposureAdjust", "CIColorControls", "CIHueAdjust", "CIUnsharpMask", "levels"}},
        {{AdjustmentMethod::manual, VekColorType::gray},
         {curve, "levels", noir, "CIExposureAdjust", "CIColorControls", "CIUnsharpMask", "levels"}},
        {{AdjustmentMethod::manual, VekColorType::blackAndWhite},
         {curve, "levels", noir, otsu, "levels", "bilevel"}},
        {{AdjustmentMethod::photo, VekColorType::color}, {curve, "levels", "levels"}},
        {{AdjustmentMethod::photo, VekColorType::gray}, {curve, "levels", noir, "levels"}},
        {{AdjustmentMethod::photo, VekColorType::blackAndWhite},
         {curve, "levels", noir, otsu, "levels", "bilevel"}},
        {{AdjustmentMethod::doc, VekColorType::color}, {curve, "levels", "CIDocumentEnhancer", "levels"}},
        {{AdjustmentMethod::doc, VekColorType::gray},
         {curve, "levels", noir, "CIDocumentEnhancer", "levels"}},
        {{AdjustmentMethod::doc, VekColorType::blackAndWhite},
         {curve, "levels", noir, otsu, "CIDocumentEnhancer", "levels", "bilevel"}},
        {{AdjustmentMethod::raw, VekColorType::color}, {}},
        {{AdjustmentMethod::raw, VekColorType::gray}, {noir}},
        {{AdjustmentMethod::raw, VekColorType::blackAndWhite}, {noir, otsu, "bilevel"}},
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
    EXPECT_EQ(photo.count("CIToneCurve"), 1);  // the chart does not span the full range
}

TEST(Processor, RawColourGivesTheSameImageUntouched) {
    const Image chart = testChart(60, 40);
    const std::vector<std::uint8_t> before = bytesOf(chart);
    ProcessTrace trace;
    const Image result = ImageProcessor::processImage(chart, scanOf(VekColorType::color),
                                                      method(AdjustmentMethod::raw), &trace);
    EXPECT_EQ(result.get_image(), chart.get_image());
    EXPECT_TRUE(trace.stages.empty());
    EXPECT_EQ(bytesOf(chart), before);
}

TEST(Processor, RawGreyRunsOnlyThePhotoEffect) {
    const Image chart = testChart(60, 40);
    ImageSettings::Values settings = method(AdjustmentMethod::raw);
    settings.grayMode = GrayMode::mono;
    ProcessTrace trace;
    const std::vector<std::uint8_t> out = processedBytes(chart, scanOf(VekColorType::gray), settings, &trace);
    EXPECT_EQ(trace.names(), Names{"CIPhotoEffectMono"});
    EXPECT_EQ(out, bytesOf(encode8(photoEffect(chart, PhotoEffect::mono), EncodeSpace::sRGB)));
}

TEST(Processor, BlackAndWhiteManualIgnoresTheSliders) {
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

TEST(Processor, GreyManualDropsSaturationAndHue) {
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
    EXPECT_EQ(unknown.names(), (Names{"CILinearToSRGBToneCurve", "levels", "CIExposureAdjust",
                                      "CIColorControls", "CIUnsharpMask", "levels"}));
    EXPECT_EQ(unknown.stages[3].parameters.at("inputSaturation"), 0.0);
}

TEST(Processor, ColourDefaultsRunOnlyNeutralColourControls) {
    ProcessTrace trace;
    ImageSettings::Values settings = defaults();
    settings.brightness = 0.7;  // stored, but never applied
    const Image chart = testChart(60, 40);
    const auto withBrightness = processedBytes(chart, scanOf(VekColorType::color), settings, &trace);
    const FilterStep expected{"CIColorControls",
                              {{"inputBrightness", 0.0}, {"inputContrast", 1.0}, {"inputSaturation", 1.0}}};
    EXPECT_EQ(trace.stages, (std::vector<FilterStep>{{"CILinearToSRGBToneCurve", {}}, {"levels", {}},
                                                     expected, {"levels", {}}}));
    EXPECT_EQ(withBrightness, processedBytes(chart, scanOf(VekColorType::color), defaults()));
}

TEST(Processor, NegativeFilmMeasuresLevelsThreeTimes) {
    const Image chart = testChart(60, 40);
    for (AdjustmentMethod m : {AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc}) {
        ProcessTrace negative, reflective, positive;
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::negativeFilm), method(m), &negative);
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::reflective), method(m), &reflective);
        ImageProcessor::processImage(chart, scanOf(VekColorType::color, VekScanSource::positiveFilm), method(m), &positive);
        EXPECT_EQ(negative.count("levels"), 3);
        EXPECT_EQ(negative.count("CISRGBToneCurveToLinear"), 1);
        EXPECT_EQ(negative.names()[0], "levels");
        EXPECT_EQ(reflective.count("levels"), 2);
        EXPECT_EQ(positive.count("levels"), 2);
        EXPECT_EQ(positive.count("CILinearToSRGBToneCurve"), 1);
    }
}

TEST(Processor, UnknownFilterWarnsAndTheRestRun) {
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

TEST(Processor, FailingStepWarnsAndKeepsTheImage) {
    const Image chart = testChart(30, 20);
    testing::internal::CaptureStdout();
    const Image out = ImageProcessor::applyFilters(
        chart, {{"CIColorControls", {{"inputContrast", 1.5}}},
                {"CIUnsharpMask", {{"inputRadius", -3.0}}},
                {"CIExposureAdjust", {{"inputEV", std::nan("")}}}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Filter CIUnsharpMask failed to process.\n"
              "Warning: Filter CIExposureAdjust failed to process.\n");
    EXPECT_EQ(bytesOf(encode8(out, EncodeSpace::sRGB)),
              bytesOf(encode8(ImageProcessor::applyFilters(chart, {{"CIColorControls", {{"inputContrast", 1.5}}}}),
                              EncodeSpace::sRGB)));
}

TEST(Processor, FlatPagesKeepTheirTone) {
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

TEST(Processor, BlackAndWhiteGivesOnlyZeroAndOne) {
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

TEST(Processor, ExperimentAndInvertRunTheirStages) {
    const Image chart = testChart(60, 40);
    ImageSettings::Values settings = method(AdjustmentMethod::raw);
    settings.invert = true;
    ProcessTrace trace;
    const std::vector<float> inverted =
        floatsOf(ImageProcessor::processImage(chart, scanOf(VekColorType::color), settings, &trace));
    EXPECT_EQ(trace.names(), Names{"CIColorInvert"});
    const std::vector<float> plain = floatsOf(toWorking(chart));
    for (size_t i = 0; i < plain.size(); ++i) ASSERT_NEAR(inverted[i], 1.0f - plain[i], 1e-6);

    settings.experiment = true;
    trace = {};
    ImageProcessor::processImage(chart, scanOf(VekColorType::color), settings, &trace);
    EXPECT_EQ(trace.names(), (Names{"CIContrastStretch", "CIColorInvert"}));
}

TEST(Processor, FusedAndReferencePathsAgree) {
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
                const auto reference =
                    processedBytes(chart, scanOf(type, source), s, nullptr, ProcessPath::reference);
                EXPECT_LE(maxDifference(fused, reference), 1)
                    << displayName(m).toStdString() << " type " << rawValue(type) << " source "
                    << rawValue(source);
            }
}

TEST(Processor, FailingMeasurementIsReportedAndTheChainGoesOn) {
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

    for (ProcessPath path : {ProcessPath::fused, ProcessPath::reference}) {
        testing::internal::CaptureStdout();
        ProcessTrace trace;
        ImageProcessor::processImage(broken, scanOf(VekColorType::color), defaults(), &trace, path);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Failed to get areaMinimum output image\n"), std::string::npos);
        EXPECT_EQ(out.find("areaMaximum"), std::string::npos);
        EXPECT_EQ(trace.count("levels"), 2);
        EXPECT_EQ(vips_error_buffer(), std::string());
    }
}
