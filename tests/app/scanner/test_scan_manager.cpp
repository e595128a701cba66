// The scan session on the fake driver: blocks, progress and status, the raw image file, and every
// way a scan ends early.
#include "fake_driver.h"
#include "scan_manager.h"
#include "scan_waits.h"
#include "scanner_model_name.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <thread>

using namespace lumenfield;

namespace {

using fake::FakeDriver;
using namespace std::chrono_literals;
using Result = std::optional<QString>;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ScanManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.reset();
        folder.add("FakeAlpha");
        ASSERT_TRUE(scanner->loadDriver());
        manager.setScanner(scanner);
        manager.setScanStatus(rawValue(VekScanStatus::ready));
        QFile::remove(rawPath());
        driver.clearTrace();
        testing::internal::CaptureStdout();
    }
    void TearDown() override
    {
        std::fputs(testing::internal::GetCapturedStdout().c_str(), stderr);
        scanner->unloadDriver();
    }

    static QString rawPath() { return qEnvironmentVariable("XDG_DATA_HOME") + "/Lumenfield/Lumenfield/raw_image.tiff"; }
    // A frame of 300 × 150 points at (150, 75) on a preview shown at twice its size, at 600 dpi.
    static ScanSettings::Values finalScan()
    {
        ScanSettings::Values values = ScanSettings().values();
        values.resolution = 600;
        values.previewImageScale = 2.0;
        values.previewRect = QRectF(150, 75, 300, 150);
        return values;
    }
    Result scanOnThisThread(const ScanSettings::Values& values = finalScan(), ScanMode mode = ScanMode::scan)
    {
        return manager.scan(values, mode, 100, VekScanQuality::quality, VekCalibrationMode::typical);
    }
    std::future<Result> start(ScanMode mode = ScanMode::scan, ScanSettings::Values values = finalScan())
    {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> result = promise->get_future();
        manager.runOnWorker([=, this] { promise->set_value(scanOnThisThread(values, mode)); });
        return result;
    }
    Result scan(ScanMode mode = ScanMode::scan, const ScanSettings::Values& values = finalScan())
    {
        std::future<Result> result = start(mode, values);
        return finish(result);
    }
    // What was printed since the last call (also passed on to standard error, with any failure
    // GoogleTest printed meanwhile).
    std::string output()
    {
        std::string text = testing::internal::GetCapturedStdout();
        std::fputs(text.c_str(), stderr);
        testing::internal::CaptureStdout();
        return text;
    }
    std::vector<uint32_t> linesAsked() const
    {
        std::vector<uint32_t> out;
        for (const fake::Call& call : driver.calls(SE_CMD_READ_LINES)) out.push_back(call.as<SELineTransfer>().wanted);
        return out;
    }
    // A stopped or failed scan: none, the file as it was, stopped, one stop command at the end.
    void expectEndedWithoutFile(const Result& result, const QByteArray& previous = {})
    {
        EXPECT_FALSE(result.has_value());
        EXPECT_EQ(fileBytes(rawPath()), previous);
        EXPECT_FALSE(QFile::exists(rawPath() + ".part"));
        EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
        EXPECT_EQ(manager.scanProgress(), 0.0);
        EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
        EXPECT_EQ(driver.compactTrace().back(), "33/3:0");
    }
    // The raw image, width × height, uncompressed, each row holding the low byte of its scan line's
    // number as the fake sends it (white below `lines`).
    static void expectRawImage(const QString& path, int width, int height, int lines)
    {
        vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData());
        ASSERT_EQ((std::vector<int>{image.width(), image.height(), image.bands(), image.format()}),
                  (std::vector<int>{width, height, 3, VIPS_FORMAT_UCHAR}));
        const std::size_t row = std::size_t(width) * 3;
        const auto fileSize = std::size_t(QFileInfo(path).size());
        EXPECT_TRUE(fileSize >= row * height && fileSize < row * height + 4096) << fileSize; // uncompressed
        std::size_t size = 0;
        std::unique_ptr<uint8_t, decltype(&g_free)> pixels(static_cast<uint8_t*>(image.write_to_memory(&size)), g_free);
        ASSERT_EQ(size, row * height);
        for (int line = 0; line < height; line++) {
            const uint8_t expected = line < lines ? uint8_t(line) : 0xFF;
            const uint8_t* begin = pixels.get() + line * row;
            ASSERT_TRUE(std::all_of(begin, begin + row, [&](uint8_t b) { return b == expected; })) << "row " << line;
        }
    }

    FakeDriver& driver = FakeDriver::instance();
    fake::DriverFolder folder;
    std::shared_ptr<QuorvaneScanner> scanner = std::make_shared<QuorvaneScanner>(folder.path());
    ScanManager manager;
};

TEST_F(ScanManagerTest, ReadsInBlocksPublishesProgressAndWritesTheRawImage)
{
    driver.scan.geometry = SEImageInfo{50, 600, 150};
    QSignalSpy status(&manager, &ScanManager::scanStatusChanged);
    int offThread = 0;
    QObject::connect(&manager, &ScanManager::changed,
                     [&] { offThread += QThread::currentThread() != manager.thread(); });
    const Result result = scan();
    ASSERT_EQ(result, rawPath());
    // The end of the image comes with the last block: no read follows it.
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256, 256, 88}));
    EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
    const std::string text = output();
    const auto at = [&](const char* line) { return text.find(line); };
    EXPECT_LT(at("scan progress: 43%\n"), at("scan progress: 85%\n"));
    EXPECT_LT(at("scan progress: 85%\n"), at("scan progress: 100%\n"));
    EXPECT_NE(at("stop: 600 / 600\n"), std::string::npos);

    std::vector<qint64> published;
    for (const QList<QVariant>& signal : status) published.push_back(signal.at(0).toLongLong());
    EXPECT_EQ(published, (std::vector<qint64>{1, 2, 5}));
    EXPECT_EQ(manager.scanProgress(), 0.0);
    EXPECT_EQ(offThread, 0);
    expectRawImage(*result, 50, 600, 600);
}

TEST_F(ScanManagerTest, ShortAndEmptyReads)
{
    driver.scan.geometry = SEImageInfo{8, 256, 24};
    ASSERT_TRUE(scan().has_value());
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256}));

    // Fewer lines than asked are placed at their line; the next read asks for the rest again.
    driver.clearTrace();
    driver.scan.geometry = SEImageInfo{8, 300, 24};
    driver.scan.linesPerRead = 100;
    ASSERT_TRUE(scan().has_value());
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256, 200, 100}));
    expectRawImage(rawPath(), 8, 300, 300);

    // A read of no lines with status 1 ends the image there.
    driver.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 256, 0});
    output();
    ASSERT_TRUE(scan().has_value());
    EXPECT_NE(output().find("stop: 0 / 300\n"), std::string::npos);
    expectRawImage(rawPath(), 8, 300, 0);
}

TEST_F(ScanManagerTest, FailuresEndTheScanWithoutAFile)
{
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    ASSERT_TRUE(scan().has_value());
    const QByteArray previous = fileBytes(rawPath());
    struct Case {
        std::function<void(FakeDriver&, ScanSettings::Values&)> arrange;
        std::string message;
        std::size_t reads;
    };
    const std::vector<Case> cases = {
        // A read error after one block, answered with no lines.
        {[](FakeDriver& d, auto&) { d.scan.errorAtLine = 256; }, "Failed to read image lines: -188\n", 2},
        // A count below 0 or beyond what was asked.
        {[](FakeDriver& d, auto&) {
             d.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 256, ~0u});
         },
         "Failed to read image lines: 1\n", 1},
        {[](FakeDriver& d, auto&) {
             d.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 256, 257});
         },
         "Failed to read image lines: 1\n", 1},
        {[](FakeDriver& d, auto&) {
             d.scan.geometry = SEImageInfo{0, 40, 0};
         },
         "Scan info is incorrect!\n", 0},
        {[](FakeDriver& d, auto&) {
             d.scan.geometry = SEImageInfo{120, 0, 360};
         },
         "Scan info is incorrect!\n", 0},
        {[](FakeDriver& d, auto&) {
             d.scan.geometry = SEImageInfo{120, 40, 359};
         },
         "Scan info is incorrect!\n", 0},
        // Settings the scanner object would drop without a command: nothing reaches the driver.
        {[](FakeDriver&, auto& v) { v.previewImageScale = 0; }, "Failed to scan!\n", 0},
        {[](FakeDriver&, auto& v) { v.previewImageScale = std::nan(""); }, "Failed to scan!\n", 0},
        {[](FakeDriver&, auto& v) { v.scanSource = VekScanSource(2); }, "Failed to scan!\n", 0},
        {[](FakeDriver&, auto& v) { v.previewRect = QRectF(10, 10, 0, 20); }, "Failed to scan!\n", 0},
        {[](FakeDriver&, auto& v) { v.resolution = 70000; }, "Failed to scan!\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        scanner->unloadDriver();
        driver.reset();
        ASSERT_TRUE(scanner->loadDriver());
        driver.clearTrace();
        driver.scan.geometry = SEImageInfo{8, 600, 24};
        ScanSettings::Values values = finalScan();
        c.arrange(driver, values);
        output();
        expectEndedWithoutFile(scan(ScanMode::scan, values), previous);
        const std::string text = output();
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(text.find("stop: "), std::string::npos);
        EXPECT_EQ(driver.calls(SE_CMD_READ_LINES).size(), c.reads);
        if (c.message == "Failed to scan!\n") {
            EXPECT_EQ(driver.traceSize(), 1u);
        }
    }
}

TEST_F(ScanManagerTest, StopEndsTheScanAfterTheCallInFlight)
{
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    for (const int16_t during : {SE_CMD_READ_LINES, SE_CMD_START_SCAN}) {
        driver.clearTrace();
        (during == SE_CMD_READ_LINES ? driver.scan.delay : driver.scan.startDelay) = 300ms;
        const int before = driver.entered(during);
        std::future<Result> result = start();
        waitUntil([&] { return driver.entered(during) > before; });
        manager.stopScan();
        expectEndedWithoutFile(finish(result));
        EXPECT_EQ(driver.calls(SE_CMD_READ_LINES).size(), during == SE_CMD_READ_LINES ? 1u : 0u);
        EXPECT_FALSE(driver.overlapped());
        // The stop does not carry over to the next scan.
        driver.scan.delay = driver.scan.startDelay = 0ms;
        ASSERT_TRUE(scan().has_value());
        QFile::remove(rawPath());
    }
}

TEST_F(ScanManagerTest, PreviewAndFinalScanRequests)
{
    // The raw image carries the resolution it was scanned at, in inches.
    const auto rawDpi = [] {
        const vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(rawPath()).constData());
        return image.get_string("resolution-unit") == std::string("in") ? image.xres() * 25.4 : 0.0;
    };
    ASSERT_TRUE(scan(ScanMode::preview).has_value());
    EXPECT_EQ(driver.calls(SE_CMD_RESOLUTION).back().value, 150u);
    EXPECT_NEAR(rawDpi(), 150.0, 1e-3);
    // The whole reflective area, 10199 × 14039 pixels at 1200, through inches of single precision.
    const SEFrame whole = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ(whole.left + whole.top, 0);
    EXPECT_NEAR(whole.right, 10199, 1);
    EXPECT_NEAR(whole.bottom, 14039, 1);

    // 1 × 0.5 inches at (0.5, 0.25).
    ASSERT_TRUE(scan().has_value());
    EXPECT_EQ(driver.calls(SE_CMD_RESOLUTION).back().value, 600u);
    EXPECT_NEAR(rawDpi(), 600.0, 1e-3);
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ((std::vector<int>{frame.left, frame.top, frame.right, frame.bottom}),
              (std::vector<int>{600, 300, 1800, 900}));
}

TEST_F(ScanManagerTest, ScansBackToBackAndASecondScanDuringOne)
{
    // Queued at once: no scan takes the end of the one before for a stop.
    std::vector<std::future<Result>> results;
    for (int i = 0; i < 50; i++) results.push_back(start());
    for (std::future<Result>& result : results) EXPECT_TRUE(finish(result).has_value());

    driver.clearTrace();
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    driver.scan.delay = 50ms;
    const int before = driver.entered(SE_CMD_READ_LINES);
    std::future<Result> first = start();
    waitUntil([&] { return driver.entered(SE_CMD_READ_LINES) > before; });
    output();
    Result second = QString();
    std::thread([&] { second = scanOnThisThread(); }).join();
    EXPECT_FALSE(second.has_value());
    EXPECT_EQ(output(), "Scan already running\n");
    EXPECT_TRUE(finish(first).has_value());
    EXPECT_EQ(driver.calls(SE_CMD_START_SCAN).size(), 1u);
    EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
}

TEST_F(ScanManagerTest, WorkerTasksRunInOrderAfterTheRunningScan)
{
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    driver.scan.delay = 20ms;
    QThread* scanThread = nullptr;
    manager.runOnWorker([&] { scanThread = QThread::currentThread(); });
    const int before = driver.entered(SE_CMD_READ_LINES);
    std::future<Result> result = start();
    waitUntil([&] { return driver.entered(SE_CMD_READ_LINES) > before; });

    struct Ran {
        int index;
        QThread* thread;
        std::size_t stops; // stop commands sent when the task ran
    };
    std::vector<Ran> ran; // written on the worker only
    for (int i = 0; i < 5; i++) {
        manager.runOnWorker([&, i] {
            if (i == 4) std::this_thread::sleep_for(50ms);
            ran.push_back({i, QThread::currentThread(), driver.calls(SE_CMD_STOP_SCAN).size()});
        });
    }
    manager.waitForWorker();
    ASSERT_EQ(ran.size(), 5u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(ran[std::size_t(i)].index, i);
        EXPECT_EQ(ran[std::size_t(i)].thread, scanThread);
        EXPECT_EQ(ran[std::size_t(i)].stops, 1u);
    }
    EXPECT_NE(scanThread, QThread::currentThread());
    EXPECT_TRUE(finish(result).has_value());
    // Tasks still run after a wait.
    std::promise<void> later;
    manager.runOnWorker([&] { later.set_value(); });
    EXPECT_EQ(later.get_future().wait_for(10s), std::future_status::ready);
}

TEST(ScannerModelName, TheKnownModelsAndEveryOtherScanner)
{
    const auto name = [](uint16_t master, uint8_t sub) {
        SCANNERINFO info;
        info.masterModelCode = master;
        info.subModelCode = sub;
        return scannerModelName(info);
    };
    EXPECT_EQ(name(0x6204, 0), "Velquor K5200");
    EXPECT_EQ(name(0x6204, 2), "Tessaly K7700 Plus");
    EXPECT_EQ(name(0x6204, 1), "Quorvane Velquor");
    EXPECT_EQ(name(0x6205, 0), "Quorvane Velquor");
}

TEST_F(ScanManagerTest, WithoutAScannerObject)
{
    ScanManager bare;
    Result result = QString();
    std::promise<void> done;
    bare.runOnWorker([&] {
        result = bare.scan(finalScan(), ScanMode::scan, 100, VekScanQuality::quality, VekCalibrationMode::typical);
        done.set_value();
    });
    // Waited for without the event loop, so the scan cannot see the object it asked for.
    done.get_future().wait();
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(output(), "Scanner is not initialized\n");
    EXPECT_EQ(driver.traceSize(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(bare.scanStatus(), rawValue(VekScanStatus::stopped));
    EXPECT_NE(bare.scanner(), nullptr);
}

TEST_F(ScanManagerTest, ADataFolderThatCannotBeMade)
{
    QTemporaryDir home;
    QFile blocker(home.path() + "/Lumenfield");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    const Result result = scan();
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_FALSE(result.has_value());
    EXPECT_NE(output().find("Failed to save scanned image\n"), std::string::npos);
    EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
}

} // namespace
