#include "scan_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

void expectSameBits(const QRectF& a, const QRectF& b) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.x()), std::bit_cast<std::uint64_t>(b.x()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.y()), std::bit_cast<std::uint64_t>(b.y()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.width()), std::bit_cast<std::uint64_t>(b.width()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.height()), std::bit_cast<std::uint64_t>(b.height()));
}

}  // namespace

static_assert(ScanSettings::previewResolution == 150.0);

TEST(ScanSettingsLoad, EmptyStoreKeepsDefaultsAndIntegersAreTakenAsTheyStand) {
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

    s.load(*files.withText("frameType=5\nscanSource=2\ncolorType=9\nresolution=123456"));
    EXPECT_EQ(s.scanFrameTypeRawValue(), 5);
    EXPECT_EQ(s.scanSourceRawValue(), 2);
    EXPECT_EQ(s.colorTypeRawValue(), 9);
    EXPECT_EQ(s.resolution(), 123456);
}

TEST(ScanSettingsSave, RoundTripsTheFrameBitExact) {
    StoreFiles files;
    ScanSettings saved;
    const QRectF frame(0.1, 1.0 / 3.0, -2.5, 100);
    saved.setPreviewRect(frame);
    saved.setPreviewImageScale(0.7);
    saved.setScanSource(VekScanSource::negativeFilm);
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"scanSource", "colorType", "resolution", "frameType", "previewImageScale",
                         "previewRect"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    ScanSettings loaded;
    loaded.load(*files.copyOf(*store));
    expectSameBits(loaded.previewRect(), frame);
    EXPECT_EQ(loaded.previewImageScale(), 0.7);
    EXPECT_EQ(loaded.scanSource(), VekScanSource::negativeFilm);
}

TEST(ScanSettingsLoad, RefusesUnusableFramesAndScales) {
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

TEST(ScanSettingsReset, RestoresDefaultsButKeepsTheScale) {
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
