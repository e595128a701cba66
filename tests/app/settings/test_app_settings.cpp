#include "app_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <optional>

using namespace lumenfield;

namespace {

struct Snapshot {
    bool preview, open, reset;
    qint64 exposure, quality, calibration;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const AppSettings& s)
{
    return {s.isShowPreviousPreview(), s.isOpenImageAfterScan(), s.isResetSuffixForNewDay(),
            s.exposureRatio(),         s.scanQualityRawValue(),  s.calibrationModeRawValue()};
}

// Every value away from its default, so that a load that sets a default is seen.
void setAwayFromDefaults(AppSettings& s)
{
    s.setShowPreviousPreview(false);
    s.setOpenImageAfterScan(false);
    s.setResetSuffixForNewDay(false);
    s.setExposureRatio(150);
    s.setScanQuality(VekScanQuality::speed);
    s.setCalibrationMode(VekCalibrationMode::typical);
}

} // namespace

TEST(AppSettingsLoad, MissingKeysSetDefaultsAndCalibrationFollowsSupport)
{
    StoreFiles files;
    AppSettings supported;
    setAwayFromDefaults(supported);
    supported.load(*files.empty(), true);
    EXPECT_EQ(snapshot(supported), (Snapshot{true, true, true, 150, 8, 0}));

    AppSettings unsupported;
    unsupported.load(*files.empty(), false);
    EXPECT_EQ(snapshot(unsupported), (Snapshot{true, true, true, 100, 8, 1}));
}

TEST(AppSettingsLoad, StoredValuesAreTakenWhenTheirPickersOfferThem)
{
    StoreFiles files;
    AppSettings s;
    s.load(*files.withText("showPreviousPreview=false\nopenImageAfterScan=FALSE\n"
                           "resetFilenameSuffix=0\nexposureRatio=0\nscanQuality=1\ncalibrationMode=1"),
           true);
    EXPECT_EQ(snapshot(s), (Snapshot{false, false, false, 0, 1, 1}));
    s.load(*files.withText("showPreviousPreview=True\nexposureRatio=1000\ncalibrationMode=0"), true);
    EXPECT_EQ(snapshot(s), (Snapshot{true, true, true, 1000, 8, 0}));
}

// A value no picker can give is not taken: a fresh object keeps its default. With the scanner's
// exposure-ratio picker the ratio must lie between its smallest and largest value; without it,
// within what the scanner's field carries.
TEST(AppSettingsLoad, ValuesNoPickerOffersGiveTheDefault)
{
    const std::optional<ValueRange<qint64>> noPicker;
    const std::optional<ValueRange<qint64>> picker = ValueRange<qint64>{50, 200};
    const struct {
        const char* stored;
        std::optional<ValueRange<qint64>> exposureRatios;
        Snapshot expected;
    } cases[] = {
        {"scanQuality=3", noPicker, {true, true, true, 100, 8, 0}},
        {"scanQuality=0\ncalibrationMode=2", noPicker, {true, true, true, 100, 8, 0}},
        {"calibrationMode=-7", noPicker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=-1", noPicker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=65536", noPicker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=65535", noPicker, {true, true, true, 65535, 8, 0}},
        {"exposureRatio=49", picker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=201", picker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=0", picker, {true, true, true, 100, 8, 0}},
        {"exposureRatio=50", picker, {true, true, true, 50, 8, 0}},
        {"exposureRatio=200", picker, {true, true, true, 200, 8, 0}},
    };
    StoreFiles files;
    for (const auto& c : cases) {
        AppSettings s;
        s.load(*files.withText(c.stored), true, c.exposureRatios);
        EXPECT_EQ(snapshot(s), c.expected) << c.stored;
    }
}

TEST(AppSettingsLoad, UnusableValuesKeepTheCurrentOnes)
{
    StoreFiles files;
    AppSettings s;
    setAwayFromDefaults(s);
    s.load(*files.withText("showPreviousPreview=yes\nopenImageAfterScan=maybe\nresetFilenameSuffix=2\n"
                           "exposureRatio=1.5\nscanQuality=\ncalibrationMode=x"),
           true);
    EXPECT_EQ(snapshot(s), (Snapshot{false, false, false, 150, 1, 1}));
    s.load(*files.withText("exposureRatio=99999999999999999999"), true);
    EXPECT_EQ(s.exposureRatio(), 150);
}

TEST(AppSettingsSave, RoundTripsEveryValue)
{
    StoreFiles files;
    AppSettings saved;
    setAwayFromDefaults(saved);
    saved.setExposureRatio(42);
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"showPreviousPreview", "openImageAfterScan", "resetFilenameSuffix",
                         "exposureRatio",       "scanQuality",        "calibrationMode"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    AppSettings loaded;
    loaded.load(*files.copyOf(*store), true);
    EXPECT_EQ(snapshot(loaded), snapshot(saved));
}
