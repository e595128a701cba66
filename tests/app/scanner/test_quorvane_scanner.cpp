// The scanner object on the fake driver: the command sequences of each operation, and the answers
// it gives for what the driver answers.
#include "fake_driver.h"
#include "quorvane_scanner.h"
#include "se_host.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <thread>

using namespace lumenfield;

namespace {

using fake::DriverFolder;
using fake::FakeDriver;
using Trace = std::vector<std::string>;

const Trace kEnumeration = {"open", "6", "9", "8", "65", "64", "3", "close"};
const Trace kSelect = {"open", "6", "8"};

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.reset();
        folder.add("FakeAlpha");
        scanner = std::make_shared<QuorvaneScanner>(folder.path());
    }
    void TearDown() override
    {
        if (scanner) scanner->unloadDriver();
    }

    void load()
    {
        ASSERT_TRUE(scanner->loadDriver());
        driver.clearTrace();
    }
    // A request on the reflective source that every default of the fake accepts.
    static ScanRequest request()
    {
        ScanRequest r;
        r.scanSource = 1;
        r.colorType = 0;
        r.resolution = 300;
        r.scanRect = QRectF(1, 1, 2, 3);
        r.exposureRatio = 100;
        r.scanQuality = 8;
        r.calibrationMode = 1;
        return r;
    }
    // The identity ramp of the Part's 8-bit tables, inverted for negative film.
    static std::vector<uint8_t> ramp(bool inverted)
    {
        std::vector<uint8_t> out(256);
        for (int i = 0; i < 256; i++) out[i] = uint8_t(inverted ? 255 - i : i);
        return out;
    }

    FakeDriver& driver = FakeDriver::instance();
    DriverFolder folder;
    std::shared_ptr<QuorvaneScanner> scanner;
};

TEST_F(ScannerTest, LoadDriverSequenceAndWhatItReads)
{
    ASSERT_TRUE(scanner->loadDriver());
    Trace expected = kEnumeration;
    expected.insert(expected.end(), kSelect.begin(), kSelect.end());
    for (const char* step :
         {"64", "66", "66/3:4", "99", "69", "66/3:1", "99", "69", "85", "149", "169", "168", "185", "67", "178", "187"})
        expected.push_back(step);
    EXPECT_EQ(driver.compactTrace(), expected);

    const SCANNERINFO info = scanner->info();
    EXPECT_EQ(info.masterModelCode, 0x6204);
    EXPECT_EQ(info.subModelCode, 0);
    EXPECT_EQ(info.scannerName, "Fake Scanner");
    EXPECT_EQ(info.driverPrivilege, 100u);
    EXPECT_EQ(info.firmwareRevision, 105);

    const ScannerCapabilities caps = scanner->capabilities();
    EXPECT_EQ(caps.depth, 8);
    EXPECT_EQ(caps.sources, 0x105);
    EXPECT_EQ(caps.imageTypes, 71);
    // The reflective source is the main description, the film unit's frame is kept beside it.
    EXPECT_EQ(caps.opticalResolution, 1200);
    EXPECT_EQ(caps.frameCap.SampleRes, 1200);
    EXPECT_EQ(caps.frameCap.Max.Right, 10199);
    EXPECT_EQ(caps.frameCap.Max.Bottom, 14039);
    EXPECT_EQ(caps.filmFrameCap.SampleRes, 4800);
    EXPECT_EQ(caps.filmFrameCap.Max.Right, 7199);
    EXPECT_EQ(caps.fullScanRect, QRectF(0, 0, 10199.0f / 1200.0f, 14039.0f / 1200.0f));
    EXPECT_EQ(caps.isSupportSmartCalibration, 1);
    EXPECT_EQ(caps.isSupportWholeCalibration, 0);
    EXPECT_EQ(caps.isSupportEnhanceColorConsistency, 0);
    EXPECT_EQ(caps.isSupportPaperSensor, 0);
    EXPECT_EQ(caps.isSupportShrinkableExposureRatio, 1);
    EXPECT_EQ(caps.shrinkableExposureRange.Min, 50);
    EXPECT_EQ(caps.shrinkableExposureRange.Max, 200);
    EXPECT_EQ(caps.resolutionRange.Max, 9600);
    EXPECT_EQ(caps.resolutionRange.Steps, 9586);
}

TEST_F(ScannerTest, AFilmOnlyScannerIsDescribedByItsFilmUnit)
{
    driver.sourceMask = 0x104;
    ASSERT_TRUE(scanner->loadDriver());
    EXPECT_TRUE(driver.calls(SE_CMD_SOURCE).size() == 2u); // verb 0 and the film unit only
    const ScannerCapabilities caps = scanner->capabilities();
    EXPECT_EQ(caps.frameCap.SampleRes, 4800);
    EXPECT_EQ(caps.opticalResolution, 4800);
    EXPECT_EQ(caps.filmFrameCap.Max.Bottom, 9599);
}

// A source other than film, or film on a scanner without a film unit, scans the glass.
TEST(SourceScanArea, WithoutFilmTheGlass)
{
    ScannerCapabilities caps;
    caps.fullScanRect = QRectF(0, 0, 8.5, 11.7);
    caps.filmFrameCap = ScannerFrameCap{4800, ScannerFrameLimits{0, 0, 7199, 43199}};
    EXPECT_EQ(sourceScanArea(caps, 4), QRectF(0, 0, 7199.0f / 4800.0f, 43199.0f / 4800.0f));
    EXPECT_EQ(sourceScanArea(caps, 2), caps.fullScanRect);
    caps.filmFrameCap = ScannerFrameCap{};
    EXPECT_EQ(sourceScanArea(caps, 3), caps.fullScanRect);
}

TEST_F(ScannerTest, WhatMakesLoadDriverAnswerNo)
{
    const auto loadFails = [&](const char* why) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(scanner->loadDriver()) << why;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << why;
        // Everything is unloaded again: the next command reaches no session.
        EXPECT_EQ(scanner->host().command(SE_CMD_SCANNER_INFO, 0, 0, 0), SE_HOST_SESSION_NOT_OPEN) << why;
        EXPECT_EQ(driver.trace().back().compact(), "close") << why;
        driver.reset();
    };
    driver.areas[SE_SOURCE_REFLECTIVE].frame.resolution = 0;
    loadFails("SampleRes 0");
    driver.areas[SE_SOURCE_REFLECTIVE].frame.right = 0;
    loadFails("an empty largest frame");
    driver.reply(SE_CMD_IMAGE_TYPE, 0, 0);
    loadFails("code 85 answered 0");
    driver.reply(SE_CMD_OPTICAL_RESOLUTION, 0, -108);
    loadFails("code 99 answered negative");
    driver.reply(SE_CMD_SOURCE, SE_VERB_SET, -108);
    loadFails("a source that cannot be selected");
    driver.defaults.devices.clear();
    loadFails("no scanner");
    driver.reply(SE_CMD_OPEN_DEVICE, 0, -102);
    loadFails("the device does not open");

    QuorvaneScanner nowhere(std::filesystem::path("/nonexistent/drivers"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(nowhere.loadDriver());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to load driver!\n");
}

TEST_F(ScannerTest, CapabilityFlagsCountOnlyAnAnswerOfOne)
{
    driver.reply(SE_CMD_CALIBRATION, 0, 2);
    driver.reply(SE_CMD_WHOLE_CALIBRATION, 0, -1);
    driver.reply(SE_CMD_COLOR_CONSISTENCY, 0, -108);
    driver.reply(SE_CMD_EXPOSURE_RATIO, 0, 3);
    driver.reply(SE_CMD_PAPER_SENSOR, 0, 1, {1});
    // Four bytes of optical resolution must not reach the image types.
    driver.replyRecord(SE_CMD_OPTICAL_RESOLUTION, 0, 1, SEOpticalResolution{0x00470000u | 1200u});
    ASSERT_TRUE(scanner->loadDriver());
    const ScannerCapabilities caps = scanner->capabilities();
    EXPECT_EQ(caps.isSupportSmartCalibration, 0);
    EXPECT_EQ(caps.isSupportWholeCalibration, 0);
    EXPECT_EQ(caps.isSupportEnhanceColorConsistency, 0);
    EXPECT_EQ(caps.isSupportShrinkableExposureRatio, 0);
    EXPECT_EQ(caps.isSupportPaperSensor, 1);
    EXPECT_EQ(caps.imageTypes, 71);
    EXPECT_EQ(caps.opticalResolution, 0xFFFF);
    // Capability-dependent setters then send nothing.
    driver.clearTrace();
    EXPECT_FALSE(scanner->setCalibrationMode(0));
    EXPECT_FALSE(scanner->setShrinkableExposureRatio(100));
    EXPECT_FALSE(scanner->setEnhanceColorConsistency(true));
    EXPECT_TRUE(driver.trace().empty());
}

TEST_F(ScannerTest, StartScanSequence)
{
    load();
    ASSERT_TRUE(scanner->startScan(request()));
    EXPECT_EQ(driver.compactTrace(),
              (Trace{"66/3:1", "65/3:128", "85/3:0", "81/2", "81/3:458752", "67/3:300", "69/3:0", "187/3:100",
                     "102/3:8", "168/3:1", "113/1", "32/3:0"}));
    const SEImageType type = driver.calls(SE_CMD_IMAGE_TYPE).at(0).as<SEImageType>();
    EXPECT_EQ(type.type, 64u);
    EXPECT_EQ(type.second, 0);
    const fake::Call tables = driver.calls(SE_CMD_GAMMA).at(1);
    ASSERT_EQ(tables.tables.size(), 3u);
    for (const auto& table : tables.tables) EXPECT_EQ(table, ramp(false));
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).at(0).as<SEFrame>();
    EXPECT_EQ(frame.left, 1200);
    EXPECT_EQ(frame.top, 1200);
    EXPECT_EQ(frame.right, 3600);
    EXPECT_EQ(frame.bottom, 4800);
    EXPECT_EQ(driver.calls(SE_CMD_CALIBRATION).back().record, 1u); // the mode
    const EIMAGEINFO image = scanner->imageInfo();
    EXPECT_EQ(image.WidthPixels, 120);
    EXPECT_EQ(image.HeightLines, 40);
    EXPECT_EQ(image.RowBytes, 360);
    const ScannerSettings settings = scanner->settings();
    EXPECT_EQ(settings.source, 1);
    EXPECT_EQ(settings.depth, 128u);
    EXPECT_EQ(settings.resolution, 300);
    EXPECT_EQ(settings.quality, 8);
    EXPECT_EQ(settings.scanRect, QRectF(1200, 1200, 2400, 3600));
}

TEST_F(ScannerTest, AFilmScanUsesTheFilmUnitsFrameAndInvertedTablesForNegatives)
{
    load();
    ScanRequest r = request();
    r.scanSource = 4;
    r.scanRect = QRectF(0.5, 0.5, 1.0, 1.0);
    ASSERT_TRUE(scanner->startScan(r));
    EXPECT_EQ(driver.calls(SE_CMD_SOURCE).at(0).value, SE_SOURCE_NEGATIVE_FILM);
    EXPECT_EQ(driver.currentSource(), SE_SOURCE_NEGATIVE_FILM);
    const fake::Call tables = driver.calls(SE_CMD_GAMMA).at(1);
    ASSERT_EQ(tables.tables.size(), 3u);
    for (const auto& table : tables.tables) EXPECT_EQ(table, ramp(true));
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).at(0).as<SEFrame>();
    EXPECT_EQ(frame.left, 2400);
    EXPECT_EQ(frame.top, 2400);
    EXPECT_EQ(frame.right, 7199); // 7200 cut to the film unit's largest frame
    EXPECT_EQ(frame.bottom, 7200);
    driver.clearTrace();
    r.scanSource = 3;
    ASSERT_TRUE(scanner->startScan(r));
    EXPECT_EQ(driver.calls(SE_CMD_SOURCE).at(0).value, SE_SOURCE_POSITIVE_FILM);
}

TEST_F(ScannerTest, TheEmptyRequestStillSizesAndStartsTheScan)
{
    load();
    EXPECT_TRUE(scanner->startScan(ScanRequest{}));
    EXPECT_EQ(driver.compactTrace(),
              (Trace{"65/3:128", "85/3:0", "81/2", "81/3:458752", "67/3:0", "187/3:0", "102/3:0", "168/3:1", "113/1",
                     "32/3:0"}));
    EXPECT_EQ(driver.calls(SE_CMD_CALIBRATION).back().record, 0u);
}

TEST_F(ScannerTest, ARefusedSettingEndsTheStart)
{
    load();
    driver.reply(SE_CMD_SOURCE, SE_VERB_SET, -108);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(scanner->startScan(request()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Scan setting 66: -108\n");
    EXPECT_TRUE(driver.calls(SE_CMD_IMAGE_INFO).empty());
    EXPECT_TRUE(driver.calls(SE_CMD_START_SCAN).empty());

    // A frame the driver rejects (it answers 0) is no success either.
    scanner->unloadDriver();
    driver.reset();
    load();
    ScanRequest r = request();
    r.scanRect = QRectF(9, 0, 1, 1); // origin beyond the largest frame: not limited, then refused
    testing::internal::CaptureStdout();
    EXPECT_FALSE(scanner->startScan(r));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Scan setting 69: 0\n");
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).at(0).as<SEFrame>();
    EXPECT_EQ(frame.left, 10800);
    EXPECT_EQ(frame.right, 10199);
    EXPECT_TRUE(driver.calls(SE_CMD_START_SCAN).empty());
}

TEST_F(ScannerTest, StartFailuresAreReported)
{
    load();
    driver.reply(SE_CMD_IMAGE_INFO, SE_VERB_CURRENT, -108);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(scanner->startScan(request()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Get Image Info: -108\n");
    driver.reply(SE_CMD_IMAGE_INFO, SE_VERB_CURRENT, 1, {});
    driver.reply(SE_CMD_START_SCAN, SE_VERB_SET, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(scanner->startScan(request()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Start Scan: 0\n");
}

TEST_F(ScannerTest, ImageInfoIsTheStartedScansGeometry)
{
    driver.scan.infoGeometry = SEImageInfo{100, 30, 300};
    load();
    ASSERT_TRUE(scanner->startScan(request()));
    const EIMAGEINFO image = scanner->imageInfo();
    EXPECT_EQ(image.WidthPixels, 120);
    EXPECT_EQ(image.RowBytes, 360);
    EXPECT_EQ(scanner->getImageInfo().WidthPixels, 100);
}

TEST_F(ScannerTest, SettersStoreFirstAndSucceedOnlyOnOne)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(scanner->setCalibrationMode(0)); // before loading: capabilities are zero
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    load();
    EXPECT_FALSE(scanner->setScanSource(2));
    EXPECT_EQ(scanner->settings().source, 2);
    EXPECT_TRUE(driver.trace().empty());
    EXPECT_TRUE(scanner->setScanRect(QRectF(0, 0, 1, 1), 0));
    const QRectF before = scanner->settings().scanRect;
    EXPECT_FALSE(scanner->setScanRect(QRectF(0, 0, 0, 1), 0));
    EXPECT_EQ(scanner->settings().scanRect, before);
    driver.reply(SE_CMD_RESOLUTION, SE_VERB_SET, -108);
    EXPECT_FALSE(scanner->setResolution(20000));
    EXPECT_EQ(scanner->settings().resolution, 20000);
    EXPECT_TRUE(scanner->setScanQuality(1));
}

TEST_F(ScannerTest, ScanRectIsCutAtTheFarEdgesAndUnsafeRectanglesSendNothing)
{
    load();
    ASSERT_TRUE(scanner->setScanSource(1));
    ASSERT_TRUE(scanner->setScanRect(QRectF(8, 11, 2, 2), 0));
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ(frame.left, 9600);
    EXPECT_EQ(frame.top, 13200);
    EXPECT_EQ(frame.right, 10199);
    EXPECT_EQ(frame.bottom, 14039);
    EXPECT_EQ(scanner->settings().scanRect, QRectF(9600, 13200, 599, 839));
    ASSERT_TRUE(scanner->setScanRect(QRectF(10, 20, 30, 40), 1)); // already in pixels
    EXPECT_EQ(driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>().right, 40);

    driver.clearTrace();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const QRectF& rect : {QRectF(nan, 0, 1, 1), QRectF(0, 0, inf, 1), QRectF(0, 0, 1, nan), QRectF(-1, 0, 2, 2),
                               QRectF(70000, 0, 1, 1), QRectF(0, 65536, 1, 1)})
        EXPECT_FALSE(scanner->setScanRect(rect, 1)) << rect.x() << " " << rect.y();
    EXPECT_FALSE(scanner->setScanRect(QRectF(60, 0, 1, 1), 0)); // 72000 pixels
    EXPECT_TRUE(driver.trace().empty());
}

// A frame the application limits to 10000 pixels a side in inches must stay within the limit once
// the driver has made whole thousandths of an inch of its edges ((far - near + 1) thousandths at
// the resolution): its far edges are drawn in as far as that takes, and no further.
TEST_F(ScannerTest, FramesAtTheLimitStayWithinItAsTheDriverCountsThem)
{
    load();
    ASSERT_TRUE(scanner->setScanSource(1)); // frames in pixels at 1200 dpi
    const auto driverPixels = [](uint32_t near, uint32_t far, int64_t resolution) {
        return (int64_t(far) * 1000 / 1200 - int64_t(near) * 1000 / 1200 + 1) * resolution / 1000;
    };
    struct Case {
        int64_t resolution;
        double x, y;
    };
    for (const Case c : {Case{2400, 0.3, 0.7}, Case{4800, 0.3001, 1.0}, Case{4800, 0, 0}, Case{9600, 0.25, 0.5}}) {
        SCOPED_TRACE(testing::Message() << c.resolution << " dpi at " << c.x << ", " << c.y);
        ASSERT_TRUE(scanner->setResolution(c.resolution));
        const double side = 10000.0 / double(c.resolution);
        ASSERT_TRUE(scanner->setScanRect(QRectF(c.x, c.y, side, side), 0));
        const SEFrame f = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
        EXPECT_EQ(f.left, uint16_t(c.x * 1200));
        EXPECT_EQ(f.top, uint16_t(c.y * 1200));
        EXPECT_LE(driverPixels(f.left, f.right, c.resolution), 10000);
        EXPECT_LE(driverPixels(f.top, f.bottom, c.resolution), 10000);
        // Only as far in as needed: one pixel more passes the limit or the rectangle.
        EXPECT_TRUE(driverPixels(f.left, f.right + 1, c.resolution) > 10000 || f.right + 1 > (c.x + side) * 1200);
        EXPECT_TRUE(driverPixels(f.top, f.bottom + 1, c.resolution) > 10000 || f.bottom + 1 > (c.y + side) * 1200);
    }
    // Frames below the limit are sent as they are.
    ASSERT_TRUE(scanner->setResolution(300));
    ASSERT_TRUE(scanner->setScanRect(QRectF(1, 2, 3, 4), 0));
    const SEFrame f = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ(f.right, 4800);
    EXPECT_EQ(f.bottom, 7200);
}

TEST_F(ScannerTest, InchesOnASourceTheScannerLacksSendNoFrame)
{
    driver.sourceMask = 0x1;
    load();
    EXPECT_FALSE(scanner->setScanSource(3));
    EXPECT_FALSE(scanner->setScanRect(QRectF(0, 0, 1, 1), 0));
    EXPECT_TRUE(driver.calls(SE_CMD_SCAN_FRAME).empty());
}

TEST_F(ScannerTest, ToneTablesOfAnySizeTheDriverAsksFor)
{
    load();
    driver.gammaEntries = 65536; // at 8 bits
    ASSERT_TRUE(scanner->setLinearLUT(128, 1));
    std::vector<uint8_t> table = driver.calls(SE_CMD_GAMMA).back().tables.at(0);
    ASSERT_EQ(table.size(), 65536u);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[511], 1);
    EXPECT_EQ(table[65535], 255);

    driver.gammaEntries = 100;
    ASSERT_TRUE(scanner->setLinearLUT(128, 4));
    table = driver.calls(SE_CMD_GAMMA).back().tables.at(0);
    ASSERT_EQ(table.size(), 100u);
    EXPECT_EQ(table[0], 255);
    EXPECT_EQ(table[99], 255 - 99 * 256 / 100);

    driver.gammaEntries = 65536; // at 16 bits
    driver.gammaBytes = 2;
    ASSERT_TRUE(scanner->setLinearLUT(SE_DEPTH_16_BITS, 1));
    table = driver.calls(SE_CMD_GAMMA).back().tables.at(2);
    ASSERT_EQ(table.size(), 131072u);
    for (uint32_t i : {0u, 1u, 4660u, 65535u}) EXPECT_EQ(table[2 * i] | table[2 * i + 1] << 8, int(i));

    // A 16-bit ramp in one-byte entries stops at the largest byte instead of wrapping to 0.
    driver.gammaEntries = 256;
    driver.gammaBytes = 1;
    ASSERT_TRUE(scanner->setLinearLUT(SE_DEPTH_16_BITS, 1));
    table = driver.calls(SE_CMD_GAMMA).back().tables.at(0);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 255);
    EXPECT_EQ(table[255], 255);

    // Sizes no table can have: refused after the query, without sending tables.
    for (auto [entries, bytes] : {std::pair<uint32_t, uint16_t>{0, 1}, {65537, 1}, {256, 3}, {256, 0}}) {
        driver.gammaEntries = entries;
        driver.gammaBytes = bytes;
        driver.clearTrace();
        testing::internal::CaptureStdout();
        EXPECT_FALSE(scanner->setLinearLUT(128, 1));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Error: Tone tables"), std::string::npos);
        EXPECT_EQ(driver.compactTrace(), (Trace{"81/2"}));
    }
    driver.reply(SE_CMD_GAMMA, SE_VERB_DEFAULT, 0);
    EXPECT_FALSE(scanner->setLinearLUT(128, 1));
}

TEST_F(ScannerTest, ReadingLinesToTheEnd)
{
    driver.scan.linesPerRead = 16;
    load();
    ASSERT_TRUE(scanner->startScan(request()));
    const EIMAGEINFO image = scanner->imageInfo();
    std::vector<uint8_t> buffer(std::size_t(256) * image.RowBytes);
    SEResult status(SE_NOT_SUPPORTED);
    int total = 0;
    std::vector<int16_t> counts;
    do {
        const int16_t lines = scanner->getImage(buffer.data(), 256, &status);
        counts.push_back(lines);
        for (int i = 0; i < lines; i++) EXPECT_EQ(buffer[std::size_t(i) * image.RowBytes], uint8_t(total + i));
        total += lines;
    } while (status.ok());
    EXPECT_EQ(counts, (std::vector<int16_t>{16, 16, 8}));
    EXPECT_EQ(status, SEResult(SE_END_OF_IMAGE));
    EXPECT_EQ(total, image.HeightLines);
    EXPECT_EQ(scanner->getImage(buffer.data(), 256, &status), 0);
    EXPECT_EQ(status, SEResult(SE_END_OF_IMAGE));
    EXPECT_TRUE(scanner->stopScan());
    EXPECT_EQ(driver.trace().back().compact(), "33/3:0");
}

TEST_F(ScannerTest, ReadAnswersNeverExceedTheLinesAsked)
{
    load();
    ASSERT_TRUE(scanner->startScan(request()));
    driver.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 10, 500});
    std::vector<uint8_t> buffer(10 * 360);
    EXPECT_EQ(scanner->getImage(buffer.data(), 10), -1);
    driver.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 10, 10});
    EXPECT_EQ(scanner->getImage(buffer.data(), 10), 10);
    driver.reply(SE_CMD_READ_LINES, SE_VERB_SET, 0);
    EXPECT_EQ(scanner->getImage(buffer.data(), 10), 0);
    EXPECT_EQ(scanner->getImage(buffer.data(), -5), 0);
    EXPECT_EQ(driver.calls(SE_CMD_READ_LINES).back().as<SELineTransfer>().wanted, 0u);
}

TEST_F(ScannerTest, StopAndCalibrationErasureSucceedOnlyOnOne)
{
    load();
    EXPECT_TRUE(scanner->clearAllCalibrationData());
    EXPECT_EQ(driver.trace().back().compact(), "168/3:0");
    EXPECT_EQ(driver.trace().back().record, 0u);
    EXPECT_TRUE(scanner->clearCalibrationData(600));
    EXPECT_EQ(driver.trace().back().record, 600u);
    EXPECT_TRUE(scanner->clearCalibrationData(-1));
    EXPECT_EQ(driver.trace().back().record, ~uint64_t{0}); // sign-extended
    driver.reply(SE_CMD_CALIBRATION, SE_VERB_SET, SE_ERR_CALIBRATION_FILE);
    EXPECT_FALSE(scanner->clearAllCalibrationData());
    EXPECT_FALSE(scanner->clearCalibrationData(600));
    driver.reply(SE_CMD_STOP_SCAN, SE_VERB_SET, 2);
    EXPECT_FALSE(scanner->stopScan());
    scanner->unloadDriver();
    EXPECT_FALSE(scanner->stopScan()); // refused by the session: status 0
    EXPECT_FALSE(scanner->clearAllCalibrationData());
}

TEST_F(ScannerTest, AnObjectLetGoWithItsDriverLoadedUnloadsIt)
{
    load();
    const std::filesystem::path code = folder.code("FakeAlpha", "FakeAlpha");
    ASSERT_TRUE(fake::moduleMapped(code));
    scanner.reset();
    // The root object goes (and takes the open device with it), then the code.
    EXPECT_EQ(driver.compactTrace(), Trace{"close"});
    EXPECT_FALSE(fake::moduleMapped(code));
}

TEST_F(ScannerTest, ConnectingAgainAfterUnloading)
{
    ASSERT_TRUE(scanner->loadDriver());
    scanner->unloadDriver();
    driver.clearTrace();
    ASSERT_TRUE(scanner->loadDriver());
    const Trace trace = driver.compactTrace();
    EXPECT_EQ(Trace(trace.begin(), trace.begin() + 11),
              (Trace{"open", "6", "9", "8", "65", "64", "3", "close", "open", "6", "8"}));
    EXPECT_EQ(scanner->host().deviceCount(), 1);
    // An unconnected object on the same host library stays harmless.
    QuorvaneScanner unconnected(folder.path());
    scanner->unloadDriver();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(unconnected.startScan(request()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Scan setting 66: -8100\n");
}

TEST_F(ScannerTest, CallsFromTwoThreadsNeverMeetInsideTheDriver)
{
    driver.scan.geometry = SEImageInfo{8, 4000, 24};
    driver.scan.linesPerRead = 1;
    driver.scan.delay = std::chrono::milliseconds(1);
    load();
    ASSERT_TRUE(scanner->startScan(request()));
    std::thread reader([&] {
        std::vector<uint8_t> line(24);
        for (int i = 0; i < 40; i++) scanner->getImage(line.data(), 1);
    });
    for (int i = 0; i < 40; i++) {
        scanner->clearAllCalibrationData();
        scanner->settings();
    }
    reader.join();
    EXPECT_FALSE(driver.overlapped());
}

} // namespace
