// The scan session on the fake driver: blocks, progress and status, the raw image file, and every
// way a scan ends early.
#include "fake_driver.h"
#include "scan_manager.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

namespace {

using fake::DriverFolder;
using fake::FakeDriver;
using namespace std::chrono_literals;
using Result = std::optional<QString>;

// The raw image file as libvips reads it back.
struct RawFile {
    int width = 0;
    int height = 0;
    int bands = 0;
    VipsBandFormat format = VIPS_FORMAT_NOTSET;
    std::uintmax_t fileBytes = 0;
    std::vector<uint8_t> pixels;
};

RawFile readRaw(const QString& path)
{
    RawFile out;
    vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData());
    out.width = image.width();
    out.height = image.height();
    out.bands = image.bands();
    out.format = image.format();
    std::size_t size = 0;
    void* memory = image.write_to_memory(&size);
    out.pixels.assign(static_cast<uint8_t*>(memory), static_cast<uint8_t*>(memory) + size);
    g_free(memory);
    out.fileBytes = std::filesystem::file_size(QFile::encodeName(path).constData());
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ScanManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vips_cache_set_max(0); // the same file name is read back after each scan
        driver.reset();
        folder.add("FakeAlpha");
        scanner = std::make_shared<QuorvaneScanner>(folder.path());
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

    static QString rawPath()
    {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Lumenfield/Lumenfield/raw_image.tiff");
    }
    // A final scan of a frame on the reflective source that the fake accepts.
    static ScanSettings::Values finalScan()
    {
        ScanSettings::Values values = ScanSettings().values();
        values.resolution = 600;
        values.previewImageScale = 2.0;
        values.previewRect = QRectF(150, 75, 300, 150);
        return values;
    }

    std::future<Result> start(ScanMode mode = ScanMode::scan, ScanSettings::Values values = finalScan())
    {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> result = promise->get_future();
        manager.runOnWorker([this, promise, mode, values] {
            promise->set_value(manager.scan(values, mode, 100, VekScanQuality::quality, VekCalibrationMode::typical));
        });
        return result;
    }
    // Lets the GUI thread handle what the scan posts until `done`.
    static void waitUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!done()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "timed out";
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(1ms);
        }
        QCoreApplication::processEvents();
    }
    static Result finish(std::future<Result>& result)
    {
        waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; });
        return result.get();
    }
    Result scan(ScanMode mode = ScanMode::scan, const ScanSettings::Values& values = finalScan())
    {
        std::future<Result> result = start(mode, values);
        return finish(result);
    }
    // What was printed since the last call (passed on to standard error, with any failure that
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
    // The scan ended as a stopped or failed scan does: nothing written, stopped, one stop command.
    void expectEndedWithoutFile(const Result& result)
    {
        EXPECT_FALSE(result.has_value());
        EXPECT_FALSE(QFile::exists(rawPath()));
        EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
        EXPECT_EQ(manager.scanProgress(), 0.0);
        EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
    }
    // Each row of the raw image holds the low byte of its scan line's number, as the fake sends it.
    static void expectLineNumbers(const RawFile& raw, int lines)
    {
        const std::size_t row = std::size_t(raw.width) * 3;
        for (int line = 0; line < raw.height; line++) {
            const uint8_t expected = line < lines ? uint8_t(line & 0xFF) : 0xFF;
            const auto begin = raw.pixels.begin() + std::ptrdiff_t(line * row);
            ASSERT_TRUE(std::all_of(begin, begin + std::ptrdiff_t(row), [&](uint8_t b) { return b == expected; }))
                << "row " << line;
        }
    }

    FakeDriver& driver = FakeDriver::instance();
    DriverFolder folder;
    std::shared_ptr<QuorvaneScanner> scanner;
    ScanManager manager;
};

TEST_F(ScanManagerTest, ReadsInBlocksPublishesProgressAndWritesTheRawImage)
{
    driver.scan.geometry = SEImageInfo{50, 600, 150};
    QSignalSpy status(&manager, &ScanManager::scanStatusChanged);
    QSignalSpy progress(&manager, &ScanManager::scanProgressChanged);
    const Result result = scan();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, rawPath());

    // The end of the image comes with the last block: no read follows it.
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256, 256, 88}));
    const std::string text = output();
    const auto at = [&](const char* line) { return text.find(line); };
    EXPECT_LT(at("scan progress: 43%\n"), at("scan progress: 85%\n"));
    EXPECT_LT(at("scan progress: 85%\n"), at("scan progress: 100%\n"));
    EXPECT_NE(at("stop: 600 / 600\n"), std::string::npos);

    std::vector<qint64> statuses;
    for (const QList<QVariant>& signal : status) statuses.push_back(signal.at(0).toLongLong());
    EXPECT_EQ(statuses, (std::vector<qint64>{1, 2, 5}));
    std::vector<double> fractions;
    for (const QList<QVariant>& signal : progress) fractions.push_back(signal.at(0).toDouble());
    EXPECT_EQ(fractions, (std::vector<double>{256.0 / 600, 512.0 / 600, 1.0, 0.0}));
    EXPECT_EQ(manager.imageInfo().HeightLines, 600);
    EXPECT_EQ(driver.compactTrace().back(), "33/3:0");
    EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);

    const RawFile raw = readRaw(*result);
    EXPECT_EQ(raw.width, 50);
    EXPECT_EQ(raw.height, 600);
    EXPECT_EQ(raw.bands, 3);
    EXPECT_EQ(raw.format, VIPS_FORMAT_UCHAR);
    // Uncompressed: every pixel byte is in the file, and little else.
    EXPECT_GE(raw.fileBytes, 50u * 600 * 3);
    EXPECT_LT(raw.fileBytes, 50u * 600 * 3 + 4096);
    expectLineNumbers(raw, 600);
}

TEST_F(ScanManagerTest, ShortReadsArePlacedWhereTheyBelong)
{
    driver.scan.geometry = SEImageInfo{8, 256, 24};
    ASSERT_TRUE(scan().has_value());
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256}));

    driver.clearTrace();
    driver.scan.geometry = SEImageInfo{8, 300, 24};
    driver.scan.linesPerRead = 100;
    const Result result = scan();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(linesAsked(), (std::vector<uint32_t>{256, 200, 100}));
    expectLineNumbers(readRaw(*result), 300);
}

TEST_F(ScanManagerTest, AFirstReadOfNoLinesWritesAWhiteImage)
{
    driver.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 40, 0});
    const Result result = scan();
    ASSERT_TRUE(result.has_value());
    EXPECT_NE(output().find("stop: 0 / 40\n"), std::string::npos);
    const RawFile raw = readRaw(*result);
    EXPECT_EQ(raw.width, 120);
    expectLineNumbers(raw, 0);
}

TEST_F(ScanManagerTest, AFailedReadEndsTheScanAndKeepsThePreviousFile)
{
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    ASSERT_TRUE(scan().has_value());
    const QByteArray previous = fileBytes(rawPath());
    ASSERT_FALSE(previous.isEmpty());
    const auto expectFailed = [&](const Result& result, std::size_t reads) {
        EXPECT_FALSE(result.has_value());
        EXPECT_EQ(fileBytes(rawPath()), previous);
        EXPECT_FALSE(QFile::exists(rawPath() + ".part"));
        EXPECT_EQ(manager.scanStatus(), rawValue(VekScanStatus::stopped));
        EXPECT_EQ(manager.scanProgress(), 0.0);
        EXPECT_EQ(driver.calls(SE_CMD_READ_LINES).size(), reads);
        EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
        const std::string text = output();
        EXPECT_NE(text.find("Failed to read image lines: "), std::string::npos);
        EXPECT_EQ(text.find("stop: "), std::string::npos);
        return text;
    };

    // An error after one block: the driver answers it with no lines.
    driver.clearTrace();
    output();
    driver.scan.errorAtLine = 256;
    EXPECT_NE(expectFailed(scan(), 2).find("Failed to read image lines: -188\n"), std::string::npos);

    // A count below 0, or beyond what was asked, is no answer: the scan ends at once.
    driver.scan.errorAtLine.reset();
    for (uint32_t delivered : {0xFFFFFFFFu, 257u}) {
        driver.clearTrace();
        output();
        driver.replyRecord(SE_CMD_READ_LINES, SE_VERB_SET, SE_OK, SELineTransfer{0, {}, 256, delivered});
        expectFailed(scan(), 1);
    }
}

TEST_F(ScanManagerTest, StopDuringAReadEndsTheScanAfterThatRead)
{
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    driver.scan.delay = 300ms;
    std::future<Result> result = start();
    waitUntil([&] { return driver.entered(SE_CMD_READ_LINES) == 1; });
    manager.stopScan();
    expectEndedWithoutFile(finish(result));
    const std::vector<std::string> trace = driver.compactTrace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "34/3:0"), 1);
    EXPECT_EQ(trace.back(), "33/3:0");
    EXPECT_FALSE(driver.overlapped());

    // The stop does not carry over to the next scan.
    driver.scan.delay = 0ms;
    EXPECT_TRUE(scan().has_value());
}

TEST_F(ScanManagerTest, StopDuringTheStartSendsOnlyTheStopCommand)
{
    driver.scan.startDelay = 300ms;
    std::future<Result> result = start();
    waitUntil([&] { return driver.entered(SE_CMD_START_SCAN) == 1; });
    manager.stopScan();
    expectEndedWithoutFile(finish(result));
    EXPECT_TRUE(driver.calls(SE_CMD_READ_LINES).empty());
    EXPECT_EQ(driver.compactTrace().back(), "33/3:0");
}

TEST_F(ScanManagerTest, AnImpossibleImageSizeEndsTheScan)
{
    for (const SEImageInfo geometry : {SEImageInfo{0, 40, 0}, SEImageInfo{120, 0, 360}, SEImageInfo{120, 40, 359}}) {
        driver.clearTrace();
        driver.scan.geometry = geometry;
        expectEndedWithoutFile(scan());
        EXPECT_NE(output().find("Scan info is incorrect!\n"), std::string::npos);
        EXPECT_TRUE(driver.calls(SE_CMD_READ_LINES).empty());
    }
}

TEST_F(ScanManagerTest, SettingsThatCannotBeScannedAreRefusedBeforeTheStart)
{
    std::vector<ScanSettings::Values> refused(5, finalScan());
    refused[0].previewImageScale = 0;
    refused[1].previewImageScale = std::numeric_limits<double>::quiet_NaN();
    refused[2].scanSource = VekScanSource(2);
    refused[3].previewRect = QRectF(10, 10, 0, 20);
    refused[4].resolution = 70000;
    for (const ScanSettings::Values& values : refused) {
        driver.clearTrace();
        expectEndedWithoutFile(scan(ScanMode::scan, values));
        EXPECT_EQ(output(), "Failed to scan!\n");
        EXPECT_EQ(driver.compactTrace(), (std::vector<std::string>{"33/3:0"}));
    }
}

TEST_F(ScanManagerTest, PreviewAndFinalScanRequests)
{
    ASSERT_TRUE(scan(ScanMode::preview).has_value());
    EXPECT_EQ(driver.calls(SE_CMD_RESOLUTION).back().value, 150u);
    // The whole reflective area (10199 × 14039 pixels at 1200), from inches of single precision.
    const SEFrame whole = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ(whole.left, 0);
    EXPECT_EQ(whole.top, 0);
    EXPECT_NEAR(whole.right, 10199, 1);
    EXPECT_NEAR(whole.bottom, 14039, 1);

    // 300 × 150 points at (150, 75) on a preview shown at twice its size: 1 × 0.5 inches at (0.5, 0.25).
    driver.clearTrace();
    ASSERT_TRUE(scan().has_value());
    EXPECT_EQ(driver.calls(SE_CMD_RESOLUTION).back().value, 600u);
    const SEFrame frame = driver.calls(SE_CMD_SCAN_FRAME).back().as<SEFrame>();
    EXPECT_EQ((std::vector<int>{frame.left, frame.top, frame.right, frame.bottom}),
              (std::vector<int>{600, 300, 1800, 900}));
    EXPECT_EQ(driver.calls(SE_CMD_EXPOSURE_RATIO).back().value, 100u);
    EXPECT_EQ(driver.calls(SE_CMD_SCAN_QUALITY).back().value, 8u);
    EXPECT_EQ(driver.calls(SE_CMD_CALIBRATION).back().record, 1u);
}

TEST_F(ScanManagerTest, ScansBackToBackAndASecondScanDuringOne)
{
    // Queued at once: no scan sees the end of the one before as a stop.
    std::vector<std::future<Result>> results;
    for (int i = 0; i < 50; i++) results.push_back(start());
    for (std::future<Result>& result : results) EXPECT_TRUE(finish(result).has_value());
    EXPECT_EQ(driver.calls(SE_CMD_START_SCAN).size(), 50u);

    driver.clearTrace();
    driver.scan.geometry = SEImageInfo{8, 600, 24};
    driver.scan.delay = 50ms;
    const int readsBefore = driver.entered(SE_CMD_READ_LINES);
    std::future<Result> first = start();
    waitUntil([&] { return driver.entered(SE_CMD_READ_LINES) > readsBefore; });
    output();
    Result second = QString();
    std::thread([&] { second = manager.scan(finalScan(), ScanMode::scan, 100, VekScanQuality::quality,
                                            VekCalibrationMode::typical); }).join();
    EXPECT_FALSE(second.has_value());
    EXPECT_EQ(output(), "Scan already running\n");
    EXPECT_TRUE(finish(first).has_value());
    EXPECT_EQ(driver.calls(SE_CMD_START_SCAN).size(), 1u);
    EXPECT_EQ(driver.calls(SE_CMD_STOP_SCAN).size(), 1u);
    EXPECT_FALSE(driver.overlapped());
}

TEST_F(ScanManagerTest, WithoutAScannerObject)
{
    ScanManager bare;
    QSignalSpy scannerSet(&bare, &ScanManager::scannerChanged);
    Result result = QString();
    // Waited for without the event loop, so the scan cannot see the object it asked for.
    bare.runOnWorker([&] {
        result = bare.scan(finalScan(), ScanMode::scan, 100, VekScanQuality::quality, VekCalibrationMode::typical);
    });
    std::promise<void> done;
    bare.runOnWorker([&] { done.set_value(); });
    done.get_future().wait();
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(output(), "Scanner is not initialized\n");
    EXPECT_EQ(driver.traceSize(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(bare.scanStatus(), rawValue(VekScanStatus::stopped));
    EXPECT_EQ(scannerSet.count(), 1);
    EXPECT_NE(bare.scanner(), nullptr);
}

TEST_F(ScanManagerTest, ADataFolderThatCannotBeMade)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
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
