// The scan session with the driver bundle as built, on the simulated scanner: what it writes
// matches the chart the device scanned, each source scans its own area, and a stop or a failed read
// part way through the image ends the scan without a file and leaves the scanner ready for the next.
#include "scan_manager.h"
#include "scan_waits.h"
#include "scan_chart.h"
#include "chart_scan_engine.h"
#include "usb_ids.h"
#include "varnoth_session.h"

#include <gtest/gtest.h>
#include <libusb.h>
#include <vips/vips8>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace lumenfield;

namespace {

using namespace std::chrono_literals;
using Result = std::optional<QString>;

// The patch chart: kColumns × kRows uniform patches of kPatchW × kPatchH pixels at kChartDpi,
// covering the flatbed. Neighbouring patches differ in every channel.
constexpr int kChartDpi = 50;
constexpr int kColumns = 5, kRows = 9, kPatchW = 85, kPatchH = 65;

int patchValue(int column, int row, int channel)
{
    return 40 + ((column * 3 + row * 5 + channel * 7) % 9) * 20;
}

// What the scanner delivers for a patch: the chart's sRGB value as light, since the sensor is
// linear in it and the scanner object asks for identity tone tables.
double patchLight(int column, int row, int channel)
{
    const double u = patchValue(column, row, channel) / 255.0;
    return 255.0 * (u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4));
}

std::string writePatchChart(const QString& folder)
{
    std::vector<uint8_t> pixels(size_t(kColumns) * kPatchW * kRows * kPatchH * 3);
    const int width = kColumns * kPatchW;
    for (int y = 0; y < kRows * kPatchH; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                pixels[(size_t(y) * width + x) * 3 + c] = uint8_t(patchValue(x / kPatchW, y / kPatchH, c));
    vips::VImage image =
        vips::VImage::new_from_memory(pixels.data(), pixels.size(), width, kRows * kPatchH, 3, VIPS_FORMAT_UCHAR);
    const std::string path = QFile::encodeName(folder + "/patches.png").toStdString();
    image.pngsave(path.c_str());
    return path;
}

// A raw image file read whole: width, height and the RGB bytes.
struct Raw {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    int at(int x, int y, int c) const { return rgb[(size_t(y) * width + x) * 3 + c]; }
};

std::optional<Raw> readRaw(const QString& path)
{
    if (!QFile::exists(path)) return std::nullopt;
    vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData(),
                                                     vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    if (image.bands() != 3 || image.format() != VIPS_FORMAT_UCHAR) return std::nullopt;
    Raw raw{image.width(), image.height(), {}};
    size_t size = 0;
    void* bytes = image.write_to_memory(&size);
    raw.rgb.assign(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
    g_free(bytes);
    return raw;
}

using varnoth_test::Bench;

class ScanManagerVarnothTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(rawPath());
        model = &bench.addScanner();
        scanner = varnoth_test::connectManager(bench, manager);
        ASSERT_TRUE(scanner);
        QObject::connect(&manager, &ScanManager::scanProgressChanged, [this](double p) { events.push_back(p); });
        QObject::connect(&manager, &ScanManager::scanStatusChanged, [this](qint64 s) { events.push_back(-double(s)); });
    }
    void TearDown() override
    {
        if (scanner) varnoth_test::disconnectManager(manager, scanner);
        QCoreApplication::processEvents();
        bench.shutdown();
    }

    static QString rawPath() { return varnoth_test::rawImagePath(); }
    static ScanSettings::Values settings(VekScanSource source = VekScanSource::reflective)
    {
        ScanSettings::Values values = ScanSettings().values();
        values.scanSource = source;
        values.colorType = VekColorType::color;
        return values;
    }
    std::future<Result> start(const ScanSettings::Values& values, ScanMode mode)
    {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> result = promise->get_future();
        manager.runOnWorker([=, this] {
            promise->set_value(manager.scan(values, mode, 100, VekScanQuality::quality, VekCalibrationMode::typical));
        });
        return result;
    }
    Result scan(const ScanSettings::Values& values, ScanMode mode)
    {
        std::future<Result> result = start(values, mode);
        return finish(result, 60s);
    }
    // A preview of the patch chart on the realistic sensor, read back.
    std::optional<Raw> previewOfThePatchChart()
    {
        QTemporaryDir charts;
        std::string error;
        auto chart = sim::file_chart(writePatchChart(charts.path()), kChartDpi, &error);
        if (!chart) {
            ADD_FAILURE() << error;
            return std::nullopt;
        }
        model->with_chart_engine([&](sim::ChartScanEngine& engine) { engine.set_chart(chart); });
        const Result path = scan(settings(), ScanMode::preview);
        if (path != rawPath()) {
            ADD_FAILURE() << "no raw image";
            return std::nullopt;
        }
        return readRaw(*path);
    }
    // 8 × 4 inches at 150 dpi: 600 lines of 3600 bytes, which the driver takes from the scanner in
    // three parts.
    static ScanSettings::Values largeScan()
    {
        ScanSettings::Values values = settings();
        values.resolution = 150;
        values.previewImageScale = 1.0;
        values.previewRect = QRectF(0, 0, 1200, 600);
        return values;
    }
    // A small final scan of the flatbed, 0.4 × 0.2 inches at 150 dpi, gives its image.
    void expectASmallScanSucceeds()
    {
        ScanSettings::Values values = settings();
        values.resolution = 150;
        values.previewImageScale = 1.0;
        values.previewRect = QRectF(30, 30, 60, 30);
        const Result path = scan(values, ScanMode::scan);
        ASSERT_TRUE(path.has_value());
        const std::optional<Raw> raw = readRaw(*path);
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->width, 60);
        EXPECT_EQ(raw->height, 30);
    }

    Bench bench;
    varnoth_test::HookedScannerModel* model = nullptr;
    std::shared_ptr<QuorvaneScanner> scanner;
    ScanManager manager;
    // Progress values as they were published, and statuses as their negatives.
    std::vector<double> events;
};

TEST_F(ScanManagerVarnothTest, PreviewOfThePatchChartMatchesIt)
{
    const std::optional<Raw> raw = previewOfThePatchChart();
    ASSERT_TRUE(raw);
    const EIMAGEINFO info = manager.imageInfo();
    ASSERT_EQ(raw->width, info.WidthPixels);
    ASSERT_EQ(raw->height, info.HeightLines);
    // The flatbed's 8.5 × 11.7 inches at 150 dpi.
    EXPECT_NEAR(raw->width, 1275, 2);
    EXPECT_NEAR(raw->height, 1755, 2);

    // Each patch's interior, 6 pixels in from its edges, is its light within 3 levels.
    const double scale = 150.0 / kChartDpi;
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column)
            for (int c = 0; c < 3; ++c) {
                const int x0 = int(column * kPatchW * scale) + 6, x1 = int((column + 1) * kPatchW * scale) - 6;
                const int y0 = int(row * kPatchH * scale) + 6, y1 = int((row + 1) * kPatchH * scale) - 6;
                double sum = 0;
                for (int y = y0; y < std::min(y1, raw->height); ++y)
                    for (int x = x0; x < x1; ++x) sum += raw->at(x, y, c);
                const double mean = sum / double((x1 - x0) * (std::min(y1, raw->height) - y0));
                EXPECT_NEAR(mean, patchLight(column, row, c), 3.0)
                    << "patch " << column << "," << row << " channel " << c;
            }

    // Progress reached 1 before the scan was reported stopped, and then went back to 0.
    const auto full = std::find(events.begin(), events.end(), 1.0);
    const auto stopped = std::find(events.begin(), events.end(), -double(rawValue(VekScanStatus::stopped)));
    EXPECT_TRUE(full < stopped);
    EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
    EXPECT_EQ(manager.scanProgress(), 0.0);
}

// The driver asks the scanner for a window raised to whole multiples of 8 pixels and lines where
// the glass leaves room, and delivers the frame's own pixels from its top left, so a chart edge
// lands where the device window puts it, unscaled.
TEST_F(ScanManagerVarnothTest, PreviewPatchEdgesLieWhereTheWindowPutsThem)
{
    const std::optional<Raw> raw = previewOfThePatchChart();
    ASSERT_TRUE(raw);
    const std::optional<varnoth_test::PageWindow> page = model->lastImagePage();
    ASSERT_TRUE(page);
    ASSERT_GT(page->width, 0u);
    ASSERT_GT(page->height, 0u);
    ASSERT_FALSE(page->mirrored);
    // Chart coordinate (at kChartDpi) to image pixel, through the device window.
    ASSERT_LE(uint32_t(raw->width), page->width);
    ASSERT_LE(uint32_t(raw->height), page->height);
    const auto toImageX = [&](double chartX) { return chartX * page->xres / kChartDpi - page->dotX; };
    const auto toImageY = [&](double chartY) { return chartY * page->yres / kChartDpi - page->dotY; };
    // Each edge between two patches lies within a pixel of that position: the first pixel nearer
    // the far patch's red than the near one's.
    const auto edge = [](int expected, double near, double far, const std::function<int(int)>& red) {
        for (int p = expected - 8; p <= expected + 8; ++p)
            if (std::abs(red(p) - far) < std::abs(red(p) - near)) return p;
        return -1;
    };
    for (int row = 0; row < kRows; ++row)
        for (int column = 1; column < kColumns; ++column) {
            const int expected = int(std::lround(toImageX(column * kPatchW)));
            const int y = int(toImageY((row + 0.5) * kPatchH));
            const int found = edge(expected, patchLight(column - 1, row, 0), patchLight(column, row, 0),
                                   [&](int x) { return raw->at(x, y, 0); });
            EXPECT_LE(std::abs(found - expected), 1) << "column edge " << column << " in row " << row;
        }
    for (int column = 0; column < kColumns; ++column)
        for (int row = 1; row < kRows; ++row) {
            const int expected = int(std::lround(toImageY(row * kPatchH)));
            if (expected + 8 >= raw->height) continue; // the chart's last rows lie beyond the flatbed
            const int x = int(toImageX((column + 0.5) * kPatchW));
            const int found = edge(expected, patchLight(column, row - 1, 0), patchLight(column, row, 0),
                                   [&](int y) { return raw->at(x, y, 0); });
            EXPECT_LE(std::abs(found - expected), 1) << "row edge " << row << " in column " << column;
        }
}

TEST_F(ScanManagerVarnothTest, FinalScanOnTheIdealSensorEqualsThePatternChart)
{
    model->with_chart_engine([](sim::ChartScanEngine& engine) {
        engine.set_chart(sim::pattern_chart());
        engine.set_sensor(sim::Sensor::Ideal);
    });
    // 64 × 48 pixels at 300 dpi, half an inch from the left and 0.4 inches from the top, drawn on
    // a preview shown at its own size (a hair over the frame, so that no edge falls short of it).
    ScanSettings::Values values = settings();
    values.resolution = 300;
    values.previewImageScale = 1.0;
    const double hair = 0.1 / 4800 * 150;
    values.previewRect = QRectF(75, 60, 64.0 / 2 + hair, 48.0 / 2 + hair);
    const Result path = scan(values, ScanMode::scan);
    ASSERT_TRUE(path.has_value());
    const std::optional<varnoth_test::PageWindow> page = model->lastImagePage();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->xres, 300);
    EXPECT_EQ(page->dotX, 150u);
    EXPECT_EQ(page->dotY, 120u);
    const std::optional<Raw> raw = readRaw(*path);
    ASSERT_TRUE(raw);
    ASSERT_EQ(raw->width, 64);
    ASSERT_EQ(raw->height, 48);
    int wrong = 0;
    for (int y = 0; y < raw->height; ++y)
        for (int x = 0; x < raw->width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int64_t cx = int64_t(page->dotX) + x, cy = int64_t(page->dotY) + y;
                const int expected = int((7 * cx + 13 * cy + 85 * c) % 256);
                if (raw->at(x, y, c) != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << raw->at(x, y, c)
                                  << " for " << expected;
            }
    EXPECT_EQ(wrong, 0);
}

TEST_F(ScanManagerVarnothTest, FilmPreviewCoversTheFilmUnitsArea)
{
    const Result path = scan(settings(VekScanSource::positiveFilm), ScanMode::preview);
    ASSERT_TRUE(path.has_value());
    const std::optional<Raw> raw = readRaw(*path);
    ASSERT_TRUE(raw);
    // The film unit's 7195 × 43195 units at 4800 dpi, at 150 dpi.
    const ScannerCapabilities caps = scanner->capabilities();
    EXPECT_NEAR(raw->width, caps.filmFrameCap.Max.Right * 150.0 / caps.filmFrameCap.SampleRes, 1.0);
    EXPECT_NEAR(raw->height, caps.filmFrameCap.Max.Bottom * 150.0 / caps.filmFrameCap.SampleRes, 1.0);
    EXPECT_LT(raw->width, 300);
    const std::optional<varnoth_test::PageWindow> page = model->lastImagePage();
    ASSERT_TRUE(page);
    EXPECT_NE(page->media, 0) << "the film unit is not the flatbed";
}

TEST_F(ScanManagerVarnothTest, StopDuringADelayedReadLeavesNoFileAndTheNextScanSucceeds)
{
    model->delayImageReads(300ms);
    ScanSettings::Values values = settings();
    values.resolution = 150;
    values.previewImageScale = 1.0;
    values.previewRect = QRectF(0, 0, 150, 300); // 1 × 2 inches: 300 lines, two reads
    std::future<Result> result = start(values, ScanMode::scan);
    waitUntil([&] { return model->imageReads() > 0; }, 60s);
    manager.stopScan();
    EXPECT_FALSE(finish(result, 60s).has_value());
    EXPECT_FALSE(QFile::exists(rawPath()));
    EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
    EXPECT_EQ(manager.scanProgress(), 0.0);
    // The scanner was told to stop once, after the read in flight, and read from no more.
    const std::vector<sim::Transaction> sent = model->transactions();
    const auto tagged = [](const char* tag) { return [tag](const sim::Transaction& tx) { return tx.tag == tag; }; };
    const auto scanned = std::find_if(sent.rbegin(), sent.rend(), tagged("SCAN"));
    ASSERT_NE(scanned, sent.rend());
    EXPECT_EQ(std::count_if(sent.rbegin(), scanned, tagged("STOP")), 1);
    const auto stop = std::find_if(sent.rbegin(), scanned, tagged("STOP"));
    EXPECT_TRUE(std::none_of(sent.rbegin(), stop, tagged("IMG")));
    EXPECT_EQ(model->imageReads(), 1);
    EXPECT_TRUE(model->violations().empty());

    model->delayImageReads(0ms);
    expectASmallScanSucceeds();
}

// A scanner that stops answering, while calibrating or while the image is read: Stop ends the scan
// within a second (the transfer in flight is given up), and once the scanner answers again the next
// scan succeeds.
TEST_F(ScanManagerVarnothTest, StopEndsTheScanWithinASecondWhenTheScannerDoesNotAnswer)
{
    struct Case {
        const char* name;
        std::function<void()> fault;
        std::function<bool()> struck;
    };
    const Case cases[] = {
        {"an image read the scanner holds for a minute", [&] { model->delayImageReads(60s); },
         [&] { return model->imageReads() > 0; }},
        {"a calibration scan the scanner stops answering",
         [&] { model->inject(sim::Injection::silence(sim::Target::next("INFO"))); }, [&] { return model->silent(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(rawPath());
        c.fault();
        ScanSettings::Values values = settings();
        values.resolution = 150;
        values.previewImageScale = 1.0;
        values.previewRect = QRectF(0, 0, 150, 300);
        std::future<Result> result = start(values, ScanMode::scan);
        waitUntil(c.struck, 60s);
        std::this_thread::sleep_for(200ms);
        const auto pressed = std::chrono::steady_clock::now();
        manager.stopScan();
        waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s);
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, 1s);
        EXPECT_FALSE(finish(result, 1s).has_value());
        EXPECT_FALSE(QFile::exists(rawPath()));
        EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));

        model->delayImageReads(0ms);
        model->wake();
        expectASmallScanSucceeds();
    }
}

TEST_F(ScanManagerVarnothTest, AReadRefusedPartWayGivesNoFileAndTheNextScanSucceeds)
{
    model->refuseImageRead(2);
    testing::internal::CaptureStdout();
    const Result refused = scan(largeScan(), ScanMode::scan);
    const std::string printed = testing::internal::GetCapturedStdout();
    std::fputs(printed.c_str(), stderr);
    EXPECT_FALSE(refused.has_value());
    EXPECT_NE(printed.find("Failed to read image lines: "), std::string::npos);
    EXPECT_FALSE(QFile::exists(rawPath()));
    EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
    EXPECT_EQ(model->imageReads(), 2);
    // The refused read's data phase stalls: a failed transfer, not a lost scanner, which is still
    // there for the next scan.
    const ScanFailure failure = manager.lastFailure();
    EXPECT_EQ(failure.kind, ScanFailure::Kind::readFailed) << "kind " << int(failure.kind);
    EXPECT_EQ(failure.code, SE_ERR_TRANSFER);

    expectASmallScanSucceeds();
}

// The cable pulled while the image is read: the scan names a lost scanner with the driver's code,
// and once the driver is unloaded and the scanner is back, a connect finds it and a scan succeeds.
TEST_F(ScanManagerVarnothTest, AnUnplugDuringTheReadIsALostScannerThatComesBack)
{
    model->holdBackAfterImageBytes(20000);
    testing::internal::CaptureStdout();
    std::future<Result> running = start(largeScan(), ScanMode::scan);
    waitUntil([&] { return model->heldBack(); }, 60s);
    bench.unplugAll();
    const Result lost = finish(running, 60s);
    std::fputs(testing::internal::GetCapturedStdout().c_str(), stderr);
    EXPECT_FALSE(lost.has_value());
    const ScanFailure failure = manager.lastFailure();
    EXPECT_EQ(failure.kind, ScanFailure::Kind::deviceLost) << "kind " << int(failure.kind) << ", code " << failure.code;
    EXPECT_TRUE(isDeviceLostCode(failure.code)) << failure.code;
    EXPECT_FALSE(QFile::exists(rawPath()));

    varnoth_test::disconnectManager(manager, scanner);
    model = &bench.replugScanner();
    bool connected = false;
    manager.runOnWorker([&] { connected = scanner->loadDriver(); });
    manager.waitForWorker();
    ASSERT_TRUE(connected);
    expectASmallScanSucceeds();
}

// A connect tells a scanner that another program holds from no scanner at all.
TEST_F(ScanManagerVarnothTest, ConnectTellsABusyScannerFromNone)
{
    varnoth_test::disconnectManager(manager, scanner);
    const auto connect = [&] {
        bool connected = false;
        manager.runOnWorker([&] { connected = scanner->loadDriver(); });
        manager.waitForWorker();
        return connected;
    };
    {
        // Another program's handle on the scanner, its interface claimed.
        libusb_context* context = nullptr;
        ASSERT_EQ(libusb_init(&context), 0);
        libusb_device_handle* other =
            libusb_open_device_with_vid_pid(context, VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID);
        ASSERT_TRUE(other);
        ASSERT_EQ(libusb_claim_interface(other, 0), 0);
        EXPECT_FALSE(connect());
        EXPECT_EQ(scanner->connectFailure().kind, ConnectFailure::Kind::scannerBusy);
        libusb_release_interface(other, 0);
        libusb_close(other);
        libusb_exit(context);
    }
    ASSERT_TRUE(connect());
    EXPECT_EQ(scanner->connectFailure().kind, ConnectFailure::Kind::none);
    varnoth_test::disconnectManager(manager, scanner);
    bench.unplugAll();
    EXPECT_FALSE(connect());
    EXPECT_EQ(scanner->connectFailure().kind, ConnectFailure::Kind::noScanner);
    scanner.reset();
}

} // namespace
