#include "scan_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

using namespace lumenfield;

namespace {

void expectSameBits(const QRectF& a, const QRectF& b)
{
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.x()), std::bit_cast<std::uint64_t>(b.x()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.y()), std::bit_cast<std::uint64_t>(b.y()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.width()), std::bit_cast<std::uint64_t>(b.width()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.height()), std::bit_cast<std::uint64_t>(b.height()));
}

} // namespace

static_assert(ScanSettings::previewResolution == 150.0);

TEST(ScanSettingsLoad, EmptyStoreKeepsDefaultsAndOfferedValuesAreTaken)
{
    StoreFiles files;
    ScanSettings s;
    s.load(*files.empty());
    const ScanSettings::Values v = s.values();
    EXPECT_EQ(v.scanSource, VekScanSource::reflective);
    EXPECT_EQ(v.colorType, VekColorType::color);
    EXPECT_EQ(v.resolution, 150);
    EXPECT_EQ(v.scanFrameType, VekScanFrameType::customized);
    EXPECT_EQ(v.previewImageScale, 1.0);
    EXPECT_EQ(v.previewRect, QRectF(0, 0, 100, 100));

    s.load(*files.withText("frameType=5\nscanSource=4\ncolorType=2\nresolution=4800"));
    EXPECT_EQ(s.scanFrameTypeRawValue(), 5);
    EXPECT_EQ(s.scanSourceRawValue(), 4);
    EXPECT_EQ(s.colorTypeRawValue(), 2);
    EXPECT_EQ(s.resolution(), 4800);
}

// What no picker offers would reach the scanner as it stands (a colour type 7 scans as colour, a
// frame type 999 as the full area): a fresh object keeps its default instead. A resolution no picker
// offers gives the nearest one offered (the lower of two as near); one that is no number, the default.
TEST(ScanSettingsLoad, ValuesNoPickerOffersGiveTheDefault)
{
    const struct {
        const char* stored;
        qint64 loaded;
    } resolutions[] = {{"resolution=9600", 4800}, {"resolution=400", 300},
                       {"resolution=450", 300},   {"resolution=4801", 4800},
                       {"resolution=75", 150},    {"resolution=0", 150},
                       {"resolution=-150", 150},  {"resolution=123456", 4800},
                       {"resolution=700", 600},   {"resolution=-9223372036854775808", 150},
                       {"resolution=300dpi", 150}};
    for (const auto& row : resolutions) {
        StoreFiles files;
        ScanSettings s;
        s.load(*files.withText(row.stored));
        EXPECT_EQ(s.resolution(), row.loaded) << row.stored;
    }
    const char* stores[] = {
        "scanSource=2", "scanSource=0",  "scanSource=5", "colorType=7",  "colorType=-1",
        "colorType=3",  "frameType=999", "frameType=19", "frameType=-1",
    };
    StoreFiles files;
    const ScanSettings::Values defaults = ScanSettings().values();
    const auto expectDefaults = [&](const ScanSettings& s, const std::string& stored) {
        const ScanSettings::Values v = s.values();
        EXPECT_EQ(v.scanSource, defaults.scanSource) << stored;
        EXPECT_EQ(v.colorType, defaults.colorType) << stored;
        EXPECT_EQ(v.resolution, defaults.resolution) << stored;
        EXPECT_EQ(v.scanFrameType, defaults.scanFrameType) << stored;
        EXPECT_EQ(v.previewRect, defaults.previewRect) << stored;
    };
    for (const char* stored : stores) {
        ScanSettings s;
        s.load(*files.withText(stored));
        expectDefaults(s, stored);
    }
    // A frame that no gesture draws: without an area, or left of or above the preview.
    for (const QRectF frame : {QRectF(-1, 0, 10, 10), QRectF(0, -0.5, 10, 10), QRectF(0, 0, 0, 10),
                               QRectF(0, 0, 10, -10), QRectF(5, 5, -2.5, 100)}) {
        auto written = files.empty();
        written->setValue("previewRect", frame);
        ScanSettings s;
        s.load(*files.copyOf(*written));
        expectDefaults(s, "a frame");
    }
    // Every value a picker offers is taken, the ends of each list included.
    for (qint64 resolution : ScanSettings::resolutions) {
        ScanSettings s;
        s.load(*files.withText("resolution=" + QByteArray::number(resolution) + "\nframeType=0"));
        EXPECT_EQ(s.resolution(), resolution);
        EXPECT_EQ(s.scanFrameType(), VekScanFrameType::fullArea);
    }
    auto written = files.withText("scanSource=3\ncolorType=1\nframeType=18");
    written->setValue("previewRect", QRectF(0, 0, 0.5, 0.5));
    ScanSettings s;
    s.load(*files.copyOf(*written));
    EXPECT_EQ(s.scanSource(), VekScanSource::positiveFilm);
    EXPECT_EQ(s.colorType(), VekColorType::gray);
    EXPECT_EQ(s.previewRect(), QRectF(0, 0, 0.5, 0.5));
}

TEST(ScanSettingsSave, RoundTripsTheFrameBitExact)
{
    StoreFiles files;
    ScanSettings saved;
    const QRectF frame(0.1, 1.0 / 3.0, 2.5 / 3.0, 100);
    saved.setPreviewRect(frame);
    saved.setPreviewImageScale(0.7);
    saved.setScanSource(VekScanSource::negativeFilm);
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"scanSource", "colorType", "resolution", "frameType", "previewImageScale", "previewRect"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    ScanSettings loaded;
    loaded.load(*files.copyOf(*store));
    expectSameBits(loaded.previewRect(), frame);
    EXPECT_EQ(loaded.previewImageScale(), 0.7);
    EXPECT_EQ(loaded.scanSource(), VekScanSource::negativeFilm);
}

TEST(ScanSettingsLoad, RefusesUnusableFramesAndScales)
{
    StoreFiles files;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto nanFrame = files.empty();
    nanFrame->setValue("previewRect", QRectF(nan, 0, 10, 10));
    nanFrame->setValue("previewImageScale", 0.0);

    ScanSettings s;
    const QRectF frame(1, 2, 3, 4);
    s.setPreviewRect(frame);
    s.setPreviewImageScale(2.0);
    std::vector<std::unique_ptr<QSettings>> stores;
    stores.push_back(files.withText("previewRect=abc\npreviewImageScale=0"));
    stores.push_back(files.withText("previewRect=@Size(3 4)\npreviewImageScale=-1"));
    stores.push_back(files.withText("previewRect=@Rect(1 1 5 5)\npreviewImageScale=nan"));
    stores.push_back(files.withText("previewImageScale=inf"));
    stores.push_back(files.copyOf(*nanFrame));
    for (const auto& store : stores) {
        s.load(*store);
        EXPECT_EQ(s.previewRect(), frame);
        EXPECT_EQ(s.previewImageScale(), 2.0);
    }
}

TEST(ScanSettingsReset, RestoresDefaultsButKeepsTheScale)
{
    ScanSettings s;
    s.setScanSource(VekScanSource::positiveFilm);
    s.setColorType(VekColorType::gray);
    s.setResolution(1200);
    s.setScanFrameType(VekScanFrameType::a4);
    s.setPreviewRect(QRectF(5, 5, 50, 50));
    s.setPreviewImageScale(0.5);
    s.reset();
    const ScanSettings defaults;
    const ScanSettings::Values v = s.values();
    EXPECT_EQ(v.scanSource, defaults.scanSource());
    EXPECT_EQ(v.colorType, defaults.colorType());
    EXPECT_EQ(v.resolution, defaults.resolution());
    EXPECT_EQ(v.scanFrameType, defaults.scanFrameType());
    EXPECT_EQ(v.previewRect, defaults.previewRect());
    EXPECT_EQ(v.previewImageScale, 0.5);
}
