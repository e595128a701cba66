#include "scan_manager.h"

#include "app_data_folder.h"
#include "console_lines.h"
#include "property_update.h"
#include "raw_image.h"
#include "se_boundary.h"
#include "se_host_session.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

namespace lumenfield {

namespace {

// Lines asked for in one read.
constexpr int64_t kBlockLines = 256;

bool finite(const QRectF& rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) &&
        std::isfinite(rect.height());
}

} // namespace

bool isDeviceLostCode(int code)
{
    return code == SE_ERR_NO_DEVICE;
}

ScanFailure commandFailure(int command, SEResult answer, ScanFailure::Kind otherwise)
{
    ScanFailure failure;
    failure.kind = isDeviceLostCode(answer.code()) ? ScanFailure::Kind::deviceLost : otherwise;
    failure.command = command;
    failure.code = answer.code();
    return failure;
}

// What one scan keeps while it runs.
struct ScanManager::Run {
    ScanFailure failure;
    std::shared_ptr<QuorvaneScanner> scanner;
    std::optional<RawCanvas> canvas;
    int64_t width = 0;
    int64_t height = 0;
    int64_t rowBytes = 0;
    int64_t linesRead = 0;
    int64_t dpi = 0;
    // Every line has been read that the scanner gave, and no stop came.
    bool imageRead = false;
};

ScanManager::ScanManager(QObject* parent) : QObject(parent)
{
    worker_.setMaxThreadCount(1);
    worker_.setExpiryTimeout(-1);
}

ScanManager::~ScanManager()
{
    worker_.clear();
    const bool stopping = running_;
    if (stopping) requestStop();
    worker_.waitForDone();
    if (stopping) SE_SetGiveUp(false);
}

void ScanManager::requestStop()
{
    stopRequested_ = true;
    // The driver gives up a wait on the device at once, instead of when the device answers.
    SE_SetGiveUp(true);
}

std::shared_ptr<QuorvaneScanner> ScanManager::scanner() const
{
    std::lock_guard guard(mutex_);
    return scanner_;
}

void ScanManager::setScanner(std::shared_ptr<QuorvaneScanner> scanner)
{
    Q_ASSERT(QThread::currentThread() == thread());
    {
        std::lock_guard guard(mutex_);
        if (scanner_ == scanner) return;
        scanner_ = scanner;
    }
    Q_EMIT scannerChanged(scanner);
    Q_EMIT changed();
}

void ScanManager::setScanProgress(double progress)
{
    updateProperty(this, scanProgress_, progress, &ScanManager::scanProgressChanged);
}

void ScanManager::setScanStatus(qint64 status)
{
    updateProperty(this, scanStatus_, status, &ScanManager::scanStatusChanged);
}

EIMAGEINFO ScanManager::imageInfo() const
{
    std::lock_guard guard(mutex_);
    return imageInfo_;
}

void ScanManager::runOnWorker(std::function<void()> work)
{
    worker_.start(std::move(work));
}

void ScanManager::waitForWorker()
{
    worker_.waitForDone();
}

template <typename Change> void ScanManager::post(Change change)
{
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

void ScanManager::postProgress(double progress)
{
    post([this, progress] {
        setScanProgress(progress);
        printLineFormatted("scan progress: %.f%%", progress * 100);
    });
}

void ScanManager::postStopped()
{
    post([this] {
        setScanProgress(0.0);
        setScanStatus(rawValue(VekScanStatus::stopped));
    });
}

void ScanManager::stopScan()
{
    if (running_) requestStop();
    postStopped();
}

std::optional<QString> ScanManager::scan(const ScanSettings::Values& settings, ScanMode mode, qint64 exposureRatio,
                                         VekScanQuality scanQuality, VekCalibrationMode calibrationMode,
                                         std::optional<vips::VImage>* image)
{
    Q_ASSERT_X(QThread::currentThread() != thread(), "ScanManager::scan", "called on the GUI thread");
    if (running_.exchange(true)) {
        printLine("Scan already running");
        std::lock_guard guard(mutex_);
        lastFailure_ = ScanFailure{};
        lastFailure_.kind = ScanFailure::Kind::alreadyRunning;
        return std::nullopt;
    }
    Run run;
    std::optional<QString> result = runScan(run, settings, mode, exposureRatio, scanQuality, calibrationMode);
    if (run.imageRead && image) {
        try {
            *image = std::move(*run.canvas).intoImage(run.dpi);
        } catch (const vips::VError&) {
            // The file is there to be read back instead.
            vips_error_clear();
        }
    }
    run.canvas.reset();
    // Every other way to no image names its reason; this one is the user's Stop.
    if (!result && run.failure.kind == ScanFailure::Kind::none) run.failure.kind = ScanFailure::Kind::stopped;
    // Every scan ends here, however it ended: the scanner gets the stop command once, after the
    // last read has returned.
    if (run.scanner) run.scanner->stopScan();
    SE_SetGiveUp(false);
    {
        std::lock_guard guard(mutex_);
        lastFailure_ = result ? ScanFailure{} : run.failure;
        lastLines_ = run.imageRead ? ScanLines{run.linesRead, run.height} : ScanLines{};
    }
    postStopped();
    running_ = false;
    return result;
}

ScanFailure ScanManager::lastFailure() const
{
    std::lock_guard guard(mutex_);
    return lastFailure_;
}

ScanLines ScanManager::lastLines() const
{
    std::lock_guard guard(mutex_);
    return lastLines_;
}

std::optional<QString> ScanManager::runScan(Run& run, const ScanSettings::Values& settings, ScanMode mode,
                                            qint64 exposureRatio, VekScanQuality scanQuality,
                                            VekCalibrationMode calibrationMode)
{
    // A stop of an earlier scan must not end this one.
    stopRequested_ = false;
    SE_SetGiveUp(false);
    post([this] {
        setScanStatus(rawValue(VekScanStatus::starting));
        setScanProgress(0.0);
        if (!scanner()) setScanner(std::make_shared<QuorvaneScanner>());
    });
    run.scanner = scanner();
    if (!run.scanner) {
        printLine("Scanner is not initialized");
        run.failure.kind = ScanFailure::Kind::noScanner;
        return std::nullopt;
    }

    ScanRequest request;
    request.scanSource = rawValue(settings.scanSource);
    request.colorType = rawValue(settings.colorType);
    request.exposureRatio = exposureRatio;
    request.scanQuality = rawValue(scanQuality);
    request.calibrationMode = rawValue(calibrationMode);
    request.scanMode = mode;
    const double scale = settings.previewImageScale;
    if (mode == ScanMode::preview) {
        request.resolution = static_cast<int64_t>(ScanSettings::previewResolution);
        request.scanRect = run.scanner->capabilities().fullScanRect;
    } else {
        request.resolution = settings.resolution;
        // Preview points → preview pixels → inches; the origin stays at the top left.
        const QRectF& frame = settings.previewRect;
        const auto inches = [&](double points) { return points / scale / ScanSettings::previewResolution; };
        request.scanRect = QRectF(inches(frame.x()), inches(frame.y()), inches(frame.width()), inches(frame.height()));
    }
    // What the scanner object would refuse without a command must not reach the start: the driver
    // would scan with the source or frame of the scan before.
    const bool knownSource = isKnownSource(settings.scanSource);
    const bool usableScale = mode == ScanMode::preview || (std::isfinite(scale) && scale > 0);
    const bool usableFrame = finite(request.scanRect) && request.scanRect.width() > 0 && request.scanRect.height() > 0;
    if (!knownSource || request.resolution < 1 || request.resolution > 65535 || !usableScale || !usableFrame) {
        printLine("Failed to scan!");
        run.failure.kind = ScanFailure::Kind::unusableSettings;
        return std::nullopt;
    }
    if (!run.scanner->startScan(request)) {
        printLine("Failed to scan!");
        const ScannerCommandError error = run.scanner->lastError();
        run.failure = commandFailure(error.command, error.answer, ScanFailure::Kind::refused);
        return std::nullopt;
    }
    if (stopRequested_) return std::nullopt;
    post([this] { setScanStatus(rawValue(VekScanStatus::reading)); });

    const EIMAGEINFO info = run.scanner->imageInfo();
    {
        std::lock_guard guard(mutex_);
        imageInfo_ = info;
    }
    run.width = info.WidthPixels;
    run.height = info.HeightLines;
    run.rowBytes = info.RowBytes;
    // Each line is taken as 3 × width bytes of its row.
    if (run.width <= 0 || run.height <= 0 || run.rowBytes < 3 * run.width) {
        printLine("Scan info is incorrect!");
        run.failure.kind = ScanFailure::Kind::badImageInfo;
        run.failure.width = run.width;
        run.failure.height = run.height;
        run.failure.rowBytes = run.rowBytes;
        return std::nullopt;
    }
    run.canvas = RawCanvas::create(run.width, run.height);
    if (!run.canvas) {
        printLine("Failed to allocate the scan image");
        run.failure.kind = ScanFailure::Kind::noMemory;
        return std::nullopt;
    }

    if (!readBlocks(run)) return std::nullopt;
    printLineFormatted("stop: %lld / %lld", static_cast<long long>(run.linesRead), static_cast<long long>(run.height));
    if (stopRequested_) return std::nullopt;
    run.imageRead = true;
    run.dpi = request.resolution;

    const std::optional<QString> folder = applicationDataFolder(true);
    if (!folder) {
        printLine("Failed to save scanned image");
        run.failure.kind = ScanFailure::Kind::noDataFolder;
        return std::nullopt;
    }
    const QString path = *folder + u'/' + QLatin1String(kRawImageFileName);
    errno = 0;
    std::optional<QString> written = writeTIFF(*run.canvas, path, run.dpi);
    if (!written) {
        run.failure.kind = ScanFailure::Kind::writeFailed;
        run.failure.path = path;
        run.failure.error = errno;
    }
    return written;
}

bool ScanManager::readBlocks(Run& run)
{
    // Lines as wide as the canvas's rows are read straight into them. Wider lines go through one
    // block buffer, from which each line's pixels are copied into its row.
    const bool packed = std::size_t(run.rowBytes) == run.canvas->rowBytes();
    std::unique_ptr<uint8_t[]> block;
    if (!packed) {
        block.reset(new (std::nothrow) uint8_t[std::size_t(kBlockLines) * std::size_t(run.rowBytes)]);
        if (!block) {
            printLine("Failed to allocate the scan image");
            run.failure.kind = ScanFailure::Kind::noMemory;
            return false;
        }
    }
    while (run.linesRead < run.height && !stopRequested_) {
        const int64_t wanted = std::min(kBlockLines, run.height - run.linesRead);
        uint8_t* into = packed ? run.canvas->row(run.linesRead) : block.get();
        SEResult status(SE_NOT_SUPPORTED);
        const int16_t got = run.scanner->getImage(into, static_cast<int16_t>(wanted), &status);
        // The end of the image comes with the last lines; any other status below SE_OK is a failed
        // read, and a count the buffer cannot hold is no answer at all.
        const bool lastLines = status.code() == SE_END_OF_IMAGE;
        if ((status.code() < SE_OK && !lastLines) || got < 0 || got > wanted) {
            printLineFormatted("Failed to read image lines: %d", int(status.code()));
            run.failure = commandFailure(SE_CMD_READ_LINES, status, ScanFailure::Kind::readFailed);
            return false;
        }
        if (got == 0) break;
        if (!packed) run.canvas->copyLines(block.get(), run.linesRead, got, std::size_t(run.rowBytes));
        run.linesRead += got;
        postProgress(double(run.linesRead) / double(run.height));
        if (lastLines) break;
    }
    // An image that ended early is white below its last line, also where the read that ended it
    // left bytes of its own.
    if (!stopRequested_) run.canvas->whiten(run.linesRead);
    return true;
}

} // namespace lumenfield
