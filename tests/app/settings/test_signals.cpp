#include "app_settings.h"
#include "image_settings.h"
#include "output_settings.h"
#include "scan_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace lumenfield;

TEST(SettingsSignals, OneSignalWithTheNewValueThenChanged)
{
    AppSettings app;
    QSignalSpy ratio(&app, &AppSettings::exposureRatioChanged);
    QSignalSpy changed(&app, &AppSettings::changed);
    std::vector<QString> order;
    QObject::connect(&app, &AppSettings::exposureRatioChanged, [&](qint64 value) {
        EXPECT_EQ(app.exposureRatio(), value); // stored before the signal
        order.push_back("ratio");
    });
    QObject::connect(&app, &AppSettings::changed, [&] { order.push_back("changed"); });
    app.setExposureRatio(150);
    app.setExposureRatio(150);
    ASSERT_EQ(ratio.count(), 1);
    EXPECT_EQ(ratio.at(0).at(0).toLongLong(), 150);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(order, (std::vector<QString>{"ratio", "changed"}));

    // Enumerations published as integers carry their raw value; the property goes through it too.
    ScanSettings scan;
    QSignalSpy source(&scan, &ScanSettings::scanSourceChanged);
    EXPECT_TRUE(scan.setProperty("scanSource", qint64(4)));
    EXPECT_EQ(scan.scanSource(), VekScanSource::negativeFilm);
    ASSERT_EQ(source.count(), 1);
    EXPECT_EQ(source.at(0).at(0).toLongLong(), 4);

    OutputSettings output;
    QSignalSpy format(&output, &OutputSettings::formatChanged);
    output.setFormat(OutputFormat::png);
    ASSERT_EQ(format.count(), 1);
    EXPECT_EQ(format.at(0).at(0).value<OutputFormat>(), OutputFormat::png);
}

TEST(SettingsSignals, ChangesBelowFuzzyEqualityAndOfZeroSignStillCount)
{
    ScanSettings scan;
    QSignalSpy frame(&scan, &ScanSettings::previewRectChanged);
    const QRectF nudged(0, 0, 100, 100 + 1e-13);
    scan.setPreviewRect(nudged);
    EXPECT_EQ(frame.count(), 1);
    EXPECT_EQ(scan.previewRect().height(), nudged.height());

    ImageSettings image;
    QSignalSpy exposure(&image, &ImageSettings::exposureChanged);
    image.setExposure(-0.0);
    EXPECT_EQ(exposure.count(), 1);
}

TEST(SettingsSignals, LoadSignalsOnlyWhatItChanges)
{
    StoreFiles files;
    ImageSettings s;
    QSignalSpy changed(&s, &ImageSettings::changed);
    QSignalSpy contrast(&s, &ImageSettings::contrastChanged);
    s.load(*files.withText("contrast=1\nexposure=0\ngrayMode=9\nthreshold=x"));
    EXPECT_EQ(changed.count(), 0);
    s.load(*files.withText("contrast=1.25\nexposure=0"));
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(contrast.count(), 1);
    EXPECT_EQ(contrast.at(0).at(0).toDouble(), 1.25);

    OutputSettings output;
    output.setPrefix(todayString());
    QSignalSpy outputChanged(&output, &OutputSettings::changed);
    output.load(*files.empty(), true);
    EXPECT_EQ(outputChanged.count(), 0);
}
