// The host library and the scanner object with the driver bundle as the build writes it, on the
// simulated scanner.
//
// Each test copies the built bundle into a driver folder of its own (the driver keeps its
// calibration file in its module folder), and creates the virtual USB bus before anything can load
// the driver: the driver's USB layer lives from its op 0 to its op 2, and the bus must outlive it.
#include "fake_driver.h"
#include "plugin_bundle.h"
#include "quorvane_scanner.h"
#include "se_host_session.h"
#include "scanner_model.h"
#include "testbed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

using namespace lumenfield;

namespace {

class VarnothTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder.emplace();
        folder->copy(VARNOTH_BUNDLE_PATH);
        testbed.emplace();
    }
    void TearDown() override
    {
        // Every scanner object of a test has unloaded its driver (the driver's USB layer ends with
        // its op 2) before the bus goes.
        testbed.reset();
        folder.reset();
    }

    std::filesystem::path bundle() const { return folder->path() / "Varnoth.bundle"; }
    std::filesystem::path contents() const { return bundle() / "Contents"; }
    // A simulated scanner with this profile on the bus.
    sim::ScannerModel& add_scanner(const std::string& profile = "default")
    {
        auto [dev, model] = testbed->add_with<sim::ScannerModel>(sim::scanner_device());
        (void)dev;
        EXPECT_TRUE(model.use_profile(profile));
        return model;
    }
    // A small colour scan at 150 dpi, read to its end in blocks of 64 lines into exactly sized
    // buffers; the lines delivered and the last status.
    struct Read {
        int64_t lines = 0;
        int16_t last = 0;
        bool exact = true;
    };
    Read scan(QuorvaneScanner& scanner, int64_t calibrationMode)
    {
        ScanRequest request;
        request.scanSource = 1;
        request.colorType = 0;
        request.resolution = 150;
        request.scanRect = QRectF(0, 0, 0.8, 0.4);
        request.exposureRatio = 100;
        request.scanQuality = 1;
        request.calibrationMode = calibrationMode;
        Read r;
        if (!scanner.startScan(request)) {
            ADD_FAILURE() << "startScan";
            return r;
        }
        const EIMAGEINFO info = scanner.imageInfo();
        EXPECT_EQ(info.WidthPixels, 120);
        EXPECT_EQ(info.HeightLines, 60);
        EXPECT_EQ(info.RowBytes, 360);
        for (int guard = 0; guard < 1000; ++guard) {
            std::vector<uint8_t> buffer(64 * static_cast<size_t>(info.RowBytes) + 8, 0xCD);
            SEResult status(SE_NOT_SUPPORTED);
            const int16_t got = scanner.getImage(buffer.data(), 64, &status);
            r.exact &= std::all_of(buffer.end() - 8, buffer.end(), [](uint8_t b) { return b == 0xCD; });
            r.lines += std::max<int16_t>(got, 0);
            r.last = status.code();
            if (!status.ok()) break;
        }
        return r;
    }

    std::optional<fake::DriverFolder> folder;
    std::optional<sim::Testbed> testbed;
};

TEST_F(VarnothTest, TheBuiltBundleIsAcceptedAsDriverVarnoth)
{
    char name[SE_NAME_SIZE] = {};
    ASSERT_TRUE(SE_FunctionSetIdOfBundle(bundle(), name));
    EXPECT_STREQ(name, "Varnoth");
    const std::unique_ptr<platform::PluginBundle> opened = platform::PluginBundle::create(bundle());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->infoString(SE_KEY_INTERFACE_ID), std::string(SE_INTERFACE_ID));
    ASSERT_TRUE(opened->executablePath().has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(*opened->executablePath()));

    std::unique_ptr<SEHostSession> session;
    ASSERT_EQ(SEHostSession::open(folder->path(), session), SE_SUCCESS);
    std::filesystem::path found;
    EXPECT_TRUE(session->driverBundlePath("Varnoth", &found));
    EXPECT_EQ(found, bundle());
}

TEST_F(VarnothTest, ConnectsAndReadsTheScannersInformationAndCapabilities)
{
    add_scanner();
    QuorvaneScanner scanner(folder->path());
    ASSERT_TRUE(scanner.loadDriver());
    const SCANNERINFO info = scanner.info();
    EXPECT_EQ(info.masterModelCode, 0x6204);
    EXPECT_EQ(info.subModelCode, 0);
    EXPECT_EQ(info.scannerName, "VQ-K5200-U3 Scanner");
    EXPECT_EQ(info.driverPrivilege, 100u);
    EXPECT_EQ(info.firmwareRevision, 105);
    const ScannerCapabilities caps = scanner.capabilities();
    EXPECT_EQ(caps.sources, 0x105);
    EXPECT_EQ(caps.opticalResolution, 4800);
    EXPECT_EQ(caps.resolutionRange.Min, 15);
    EXPECT_EQ(caps.resolutionRange.Max, 9600);
    EXPECT_EQ(caps.resolutionRange.Steps, 9586);
    // The reflective source's area, and the film unit's beside it.
    EXPECT_EQ(caps.frameCap.SampleRes, 4800);
    EXPECT_EQ(caps.frameCap.Max.Right, 40795);
    EXPECT_EQ(caps.frameCap.Max.Bottom, 56155);
    EXPECT_NEAR(caps.fullScanRect.width(), 8.499, 0.001);
    EXPECT_NEAR(caps.fullScanRect.height(), 11.699, 0.001);
    EXPECT_EQ(caps.filmFrameCap.SampleRes, 4800);
    EXPECT_EQ(caps.filmFrameCap.Max.Right, 7195);
    EXPECT_EQ(caps.filmFrameCap.Max.Bottom, 43195);
    EXPECT_EQ(caps.isSupportSmartCalibration, 1);
    EXPECT_EQ(caps.isSupportShrinkableExposureRatio, 1);
    EXPECT_EQ(caps.shrinkableExposureRange.Min, 50);
    EXPECT_EQ(caps.shrinkableExposureRange.Max, 200);
    EXPECT_EQ(caps.shrinkableExposureRange.Steps, 3);
    EXPECT_EQ(caps.isSupportWholeCalibration, 0);
    EXPECT_EQ(caps.isSupportPaperSensor, 0);
    scanner.unloadDriver();

    // Unloaded and loaded again: the same scanner.
    ASSERT_TRUE(scanner.loadDriver());
    EXPECT_EQ(scanner.info().firmwareRevision, 105);
    scanner.unloadDriver();
}

// A frame at the application's limit of 10000 pixels a side, at the highest resolutions and away
// from the origin: the image the plug-in announces never passes the limit, nor falls short of it
// by more than the thousandth of an inch the plug-in's frame is counted in.
TEST_F(VarnothTest, AFrameAtThePixelLimitStaysWithinIt)
{
    add_scanner();
    QuorvaneScanner scanner(folder->path());
    ASSERT_TRUE(scanner.loadDriver());
    ASSERT_TRUE(scanner.setScanSource(1));
    struct Case {
        int64_t resolution;
        double x, y;
    };
    for (const Case c : {Case{2400, 0, 0}, Case{2400, 0.3, 1.7}, Case{4800, 0.3001, 2.5}, Case{4800, 1.1, 0.05}}) {
        SCOPED_TRACE(testing::Message() << c.resolution << " dpi at " << c.x << ", " << c.y);
        ASSERT_TRUE(scanner.setResolution(c.resolution));
        const double side = 10000.0 / double(c.resolution);
        ASSERT_TRUE(scanner.setScanRect(QRectF(c.x, c.y, side, side), 0));
        const EIMAGEINFO info = scanner.getImageInfo();
        EXPECT_LE(info.WidthPixels, 10000);
        EXPECT_LE(info.HeightLines, 10000);
        EXPECT_GE(info.WidthPixels, 10000 - c.resolution / 1000 - 1);
        EXPECT_GE(info.HeightLines, 10000 - c.resolution / 1000 - 1);
    }
}

TEST_F(VarnothTest, TheSubmodelComesFromTheScanner)
{
    add_scanner("submodel2");
    QuorvaneScanner scanner(folder->path());
    ASSERT_TRUE(scanner.loadDriver());
    EXPECT_EQ(scanner.info().subModelCode, 2);
}

TEST_F(VarnothTest, NoScannerNoConnection)
{
    QuorvaneScanner scanner(folder->path());
    EXPECT_FALSE(scanner.loadDriver());
}

TEST_F(VarnothTest, ScansCalibratesAndClearsTheCalibration)
{
    add_scanner();
    QuorvaneScanner scanner(folder->path());
    ASSERT_TRUE(scanner.loadDriver());
    const Read first = scan(scanner, 1);
    EXPECT_EQ(first.lines, 60);
    EXPECT_EQ(first.last, SE_END_OF_IMAGE);
    EXPECT_TRUE(first.exact);
    EXPECT_TRUE(scanner.stopScan());
    const std::filesystem::path file = contents() / "CaliData6204_0000_SN6204000012345A.dat";
    EXPECT_TRUE(std::filesystem::exists(file));

    const Read again = scan(scanner, 0);
    EXPECT_EQ(again.lines, 60);
    EXPECT_EQ(again.last, SE_END_OF_IMAGE);
    EXPECT_TRUE(scanner.stopScan());

    EXPECT_TRUE(scanner.clearAllCalibrationData());
    EXPECT_FALSE(std::filesystem::exists(file));
    scanner.unloadDriver();
}

} // namespace
