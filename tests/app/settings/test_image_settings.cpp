#include "image_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

struct Doubles {
    double exposure, brightness, contrast, saturation, hue, sharpeness, threshold;
    bool operator==(const Doubles&) const = default;
};

Doubles doubles(const ImageSettings& s) {
    return {s.exposure(), s.brightness(), s.contrast(), s.saturation(), s.hue(), s.sharpeness(),
            s.threshold()};
}

void setDoubles(ImageSettings& s, const Doubles& d) {
    s.setExposure(d.exposure);
    s.setBrightness(d.brightness);
    s.setContrast(d.contrast);
    s.setSaturation(d.saturation);
    s.setHue(d.hue);
    s.setSharpeness(d.sharpeness);
    s.setThreshold(d.threshold);
}

const Doubles kDefaults{0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.5};

}  // namespace

TEST(ImageSettingsLoad, EmptyStoreKeepsDefaults) {
    StoreFiles files;
    ImageSettings s;
    s.load(*files.empty());
    EXPECT_EQ(s.adjustmentMethod(), AdjustmentMethod::manual);
    EXPECT_EQ(doubles(s), kDefaults);
    EXPECT_EQ(s.grayMode(), GrayMode::noir);
    EXPECT_EQ(s.bwMode(), BWMode::automatic);
    EXPECT_FALSE(s.invert());
    EXPECT_FALSE(s.experiment());
    EXPECT_FALSE(s.contrastStretch());
    EXPECT_FALSE(s.scanFrameRawImage());
}

TEST(ImageSettingsLoad, UnknownCasesAndUnusableNumbersKeepTheCurrentValue) {
    StoreFiles files;
    ImageSettings s;
    s.setGrayMode(GrayMode::tonal);
    s.load(*files.withText("grayMode=7\nbwMode=0\nadjustmentMethod=3"));
    EXPECT_EQ(s.grayMode(), GrayMode::tonal);
    EXPECT_EQ(s.bwMode(), BWMode::manual);
    EXPECT_EQ(s.adjustmentMethod(), AdjustmentMethod::raw);

    s.load(*files.withText("adjustmentMethod=4\nexposure=abc\nbrightness=nan\ncontrast=inf\n"
                           "saturation=1.5x\nhue=\nsharpeness=\"1,5\"\nthreshold=true"));
    EXPECT_EQ(s.adjustmentMethod(), AdjustmentMethod::raw);
    EXPECT_EQ(doubles(s), kDefaults);
}

TEST(ImageSettingsSave, RoundTripsDoublesExactlyAndStoresOnlyTheTenValues) {
    StoreFiles files;
    ImageSettings saved;
    const Doubles values{1.0 / 3.0, -0.1, 1e-300, 5.0, -0.75, 2.0 / 7.0, 0.2};
    setDoubles(saved, values);
    saved.setAdjustmentMethod(AdjustmentMethod::doc);
    saved.setGrayMode(GrayMode::mono);
    saved.setBwMode(BWMode::manual);
    saved.setInvert(true);
    saved.setExperiment(true);
    saved.setContrastStretch(true);
    saved.setScanFrameRawImage(vips::VImage::black(4, 4));
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"adjustmentMethod", "bwMode", "brightness", "contrast", "exposure",
                         "grayMode", "hue", "saturation", "sharpeness", "threshold"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    ImageSettings loaded;
    loaded.load(*files.copyOf(*store));
    EXPECT_EQ(doubles(loaded), values);
    EXPECT_EQ(loaded.adjustmentMethod(), AdjustmentMethod::doc);
    EXPECT_EQ(loaded.grayMode(), GrayMode::mono);
    EXPECT_EQ(loaded.bwMode(), BWMode::manual);
}

TEST(ImageSettingsReset, RestoresTheTenValuesOnly) {
    ImageSettings s;
    setDoubles(s, {1, 2, 3, 4, 5, 6, 7});
    s.setAdjustmentMethod(AdjustmentMethod::photo);
    s.setGrayMode(GrayMode::mono);
    s.setBwMode(BWMode::manual);
    s.setInvert(true);
    s.setContrastStretch(true);
    s.reset();
    const ImageSettings::Values v = s.values();
    EXPECT_EQ(doubles(s), kDefaults);
    EXPECT_EQ(v.adjustmentMethod, AdjustmentMethod::manual);
    EXPECT_EQ(v.grayMode, GrayMode::noir);
    EXPECT_EQ(v.bwMode, BWMode::automatic);
    EXPECT_TRUE(v.invert);
    EXPECT_TRUE(v.contrastStretch);
}
