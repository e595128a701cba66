#include "image_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace lumenfield;

namespace {

struct Doubles {
    double exposure, brightness, contrast, saturation, hue, sharpeness, threshold;
    bool operator==(const Doubles&) const = default;
};

Doubles doubles(const ImageSettings& s)
{
    return {s.exposure(), s.brightness(), s.contrast(), s.saturation(), s.hue(), s.sharpeness(), s.threshold()};
}

void setDoubles(ImageSettings& s, const Doubles& d)
{
    s.setExposure(d.exposure);
    s.setBrightness(d.brightness);
    s.setContrast(d.contrast);
    s.setSaturation(d.saturation);
    s.setHue(d.hue);
    s.setSharpeness(d.sharpeness);
    s.setThreshold(d.threshold);
}

const Doubles kDefaults{0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.5};

} // namespace

TEST(ImageSettingsLoad, EmptyStoreKeepsDefaults)
{
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
}

TEST(ImageSettingsLoad, UnknownCasesAndUnusableNumbersKeepTheCurrentValue)
{
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

// A number outside its slider's range (±1e308 made a black image) is not taken; the slider's ends
// are. Brightness, which no control sets, is an offset within ±1.
TEST(ImageSettingsLoad, NumbersOutsideTheirSliderGiveTheDefault)
{
    const struct {
        const char* key;
        double (ImageSettings::*get)() const;
        double low, high;
    } sliders[] = {
        {"exposure", &ImageSettings::exposure, -2.0, 2.0},
        {"brightness", &ImageSettings::brightness, -1.0, 1.0},
        {"contrast", &ImageSettings::contrast, 0.5, 1.5},
        {"saturation", &ImageSettings::saturation, 0.0, 2.0},
        {"hue", &ImageSettings::hue, -1.0, 1.0},
        {"sharpeness", &ImageSettings::sharpeness, -2.0, 2.0},
        {"threshold", &ImageSettings::threshold, 0.2, 0.8},
    };
    StoreFiles files;
    const ImageSettings defaults;
    for (const auto& slider : sliders) {
        const double fallback = (defaults.*slider.get)();
        const double nudge = 1e-9;
        const struct {
            double stored;
            double expected;
        } cases[] = {{1e308, fallback},
                     {-1e308, fallback},
                     {slider.low - nudge, fallback},
                     {slider.high + nudge, fallback},
                     {slider.low, slider.low},
                     {slider.high, slider.high}};
        for (const auto& c : cases) {
            ImageSettings s;
            const QByteArray line = QByteArray(slider.key) + '=' + QByteArray::number(c.stored, 'g', 17);
            s.load(*files.withText(line));
            EXPECT_EQ((s.*slider.get)(), c.expected) << line.toStdString();
        }
    }
}

TEST(ImageSettingsSave, RoundTripsDoublesExactlyAndStoresOnlyTheTenValues)
{
    StoreFiles files;
    ImageSettings saved;
    const Doubles values{1.0 / 3.0, -0.1, 0.5 + 1e-15, 1.9, -0.75, 2.0 / 7.0, 0.2};
    setDoubles(saved, values);
    saved.setAdjustmentMethod(AdjustmentMethod::doc);
    saved.setGrayMode(GrayMode::mono);
    saved.setBwMode(BWMode::manual);
    saved.setInvert(true);
    saved.setExperiment(true);
    saved.setContrastStretch(true);
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"adjustmentMethod", "bwMode", "brightness", "contrast",   "exposure",
                         "grayMode",         "hue",    "saturation", "sharpeness", "threshold"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    ImageSettings loaded;
    loaded.load(*files.copyOf(*store));
    EXPECT_EQ(doubles(loaded), values);
    EXPECT_EQ(loaded.adjustmentMethod(), AdjustmentMethod::doc);
    EXPECT_EQ(loaded.grayMode(), GrayMode::mono);
    EXPECT_EQ(loaded.bwMode(), BWMode::manual);
}

TEST(ImageSettingsReset, RestoresTheTenValuesOnly)
{
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
