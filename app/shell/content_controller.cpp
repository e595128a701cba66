#include "content_controller.h"

#include "app_data_folder.h"
#include "atomic_file.h"
#include "console_lines.h"
#include "failure_messages.h"
#include "image_processor.h"
#include "imaging_start.h"
#include "output_file_name.h"
#include "preview_cache.h"
#include "raw_image.h"
#include "reductions.h"
#include "save_target.h"
#include "scanner_model_name.h"

#include <QFile>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace lumenfield {

namespace {

constexpr int kHistogramBins = 350;
constexpr double kHistogramScale = 20.0;
constexpr int kHistogramHeight = 216;

// A failure line with its reason.
void printReason(std::string_view text, const char* reason)
{
    printLine(std::string(text) + reason);
}

// The histogram as a picture: per bin one column, per channel a bar of the bin's share of the height
// (lowest limit 0, highest 1), standing on the bottom row.
Image histogramPicture(const AreaHistogram& histogram, int height)
{
    const int bins = int(histogram.shares.size());
    std::vector<float> pixels(std::size_t(bins) * std::size_t(height) * 3, 0.0f);
    for (int bin = 0; bin < bins; ++bin) {
        for (int channel = 0; channel < 3; ++channel) {
            const double share = histogram.shares[std::size_t(bin)][std::size_t(channel)];
            const double fraction = std::isnan(share) ? 0.0 : std::clamp(share, 0.0, 1.0);
            const int rows = int(std::lround(fraction * height));
            for (int y = height - rows; y < height; ++y)
                pixels[(std::size_t(y) * std::size_t(bins) + std::size_t(bin)) * 3 + std::size_t(channel)] = 1.0f;
        }
    }
    VipsImage* image = vips_image_new_from_memory_copy(pixels.data(), pixels.size() * sizeof(float), bins, height, 3,
                                                       VIPS_FORMAT_FLOAT);
    if (!image) throw vips::VError();
    return Image(image).copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
}

} // namespace

ContentController::ContentController(ScanManager& scanManager, AppSettings& appSettings, ScanSettings& scanSettings,
                                     ImageSettings& imageSettings, const ScanFrameCrop& frameCrop,
                                     OutputSettings& outputSettings, QObject* parent)
    : QObject(parent)
    , scanManager_(scanManager)
    , appSettings_(appSettings)
    , scanSettings_(scanSettings)
    , imageSettings_(imageSettings)
    , frameCrop_(frameCrop)
    , outputSettings_(outputSettings)
    , scan_([manager = &scanManager](const ScanSettings::Values& settings, ScanMode mode, qint64 exposureRatio,
                                     VekScanQuality scanQuality, VekCalibrationMode calibrationMode) {
        ScanResult result;
        // The image comes in memory, so that its raw file, a mere copy, may be missing.
        result.path = manager->scan(settings, mode, exposureRatio, scanQuality, calibrationMode, &result.image);
        result.failure = manager->lastFailure();
        result.lines = manager->lastLines();
        return result;
    })
    , writer_(&writeImage)
    , clock_(&QDateTime::currentDateTime)
    , dialogs_(std::make_shared<MessageBoxSaveDialogs>())
    , opener_(std::make_shared<DesktopFileOpener>())
{
    const auto changed = [this] { Q_EMIT actionStateChanged(); };
    connect(&scanManager_, &ScanManager::scannerChanged, this, changed);
    connect(&scanManager_, &ScanManager::scanStatusChanged, this, changed);
    connect(&scanSettings_, &ScanSettings::scanSourceChanged, this, changed);
    connect(this, &ContentController::rawPreviewChanged, this, changed);
    connect(this, &ContentController::flowBusyChanged, this, changed);
}

void ContentController::setScanFunction(ScanFunction scan)
{
    scan_ = std::move(scan);
}

void ContentController::setImageWriter(ImageWriter writer)
{
    writer_ = std::move(writer);
}

void ContentController::setClock(Clock clock)
{
    clock_ = std::move(clock);
}

void ContentController::setSaveDialogs(std::shared_ptr<SaveDialogs> dialogs)
{
    dialogs_ = std::move(dialogs);
}

void ContentController::setFileOpener(std::shared_ptr<FileOpener> opener)
{
    opener_ = std::move(opener);
}

const std::optional<Image>* ContentController::slot(qint64 source) const
{
    switch (source) {
    case rawValue(VekScanSource::reflective): return &reflectiveRawImage_;
    case rawValue(VekScanSource::positiveFilm): return &positiveRawImage_;
    case rawValue(VekScanSource::negativeFilm): return &negativeRawImage_;
    default: return nullptr;
    }
}

const std::optional<Image>& ContentController::rawPreview(qint64 source) const
{
    const std::optional<Image>* state = slot(source);
    return state ? *state : reflectiveRawImage_;
}

void ContentController::setRawPreview(qint64 source, std::optional<Image> image)
{
    Q_ASSERT(QThread::currentThread() == thread());
    auto* state = const_cast<std::optional<Image>*>(slot(source));
    if (!state) return;
    const auto object = [](const std::optional<Image>& value) { return value ? value->get_image() : nullptr; };
    if (object(*state) == object(image)) return;
    *state = std::move(image);
    Q_EMIT rawPreviewChanged(source);
}

void ContentController::setFlowBusy(bool busy)
{
    if (flowBusy_ == busy) return;
    flowBusy_ = busy;
    Q_EMIT flowBusyChanged(busy);
}

QString ContentController::productName() const
{
    const std::shared_ptr<QuorvaneScanner> scanner = scanManager_.scanner();
    if (!scanner) return QStringLiteral("Quorvane Scanner");
    return scannerModelName(scanner->info());
}

bool ContentController::isScanning() const
{
    return isScannerBusy(scanManager_.scanStatus());
}

bool ContentController::isScanDisabled() const
{
    if (isScanning()) return true;
    const std::optional<Image>* state = slot(scanSettings_.scanSourceRawValue());
    return state && !*state;
}

std::optional<Image> ContentController::histogramImage() const
{
    const std::optional<Image>& frame = frameCrop_.image();
    if (!frame) return std::nullopt;
    const Image processed = ImageProcessor::processImage(*frame, scanSettings_.values(), imageSettings_.values());
    const std::optional<AreaHistogram> histogram = areaHistogram(processed, kHistogramBins, kHistogramScale);
    if (!histogram) return std::nullopt;
    try {
        return histogramPicture(*histogram, kHistogramHeight);
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

ContentController::Snapshot ContentController::takeSnapshot() const
{
    return {scanSettings_.values(), imageSettings_.values(), appSettings_.exposureRatio(), appSettings_.scanQuality(),
            appSettings_.calibrationMode()};
}

template <typename Change>
void ContentController::postTo(ScanManager* manager, QPointer<ContentController> controller, Change change)
{
    // Queued on the session, which outlives its worker: a controller gone meanwhile is skipped, and
    // the session's own posts and these run in the order they were made.
    QMetaObject::invokeMethod(
        manager,
        [controller = std::move(controller), change = std::move(change)]() mutable {
            if (controller) change(*controller);
        },
        Qt::QueuedConnection);
}

void ContentController::endFlow()
{
    setFlowBusy(false);
}

void ContentController::endSave()
{
    scanManager_.setScanStatus(rawValue(VekScanStatus::ready));
    endFlow();
}

void ContentController::reportFailure(const FailureMessage& message)
{
    if (message.title.isEmpty()) return;
    Q_EMIT failureReported(message);
    dialogs_->showFailure(message);
}

void ContentController::loseScanner(const ScanFailure& failure)
{
    // The session's own end of the scan (status 5) came first; without a scanner it is 7 again.
    scanManager_.setScanStatus(rawValue(VekScanStatus::notConnected));
    endFlow();
    Q_EMIT scannerLost(lostScannerText(failure));
}

void ContentController::failFlow(ScanManager* manager, QPointer<ContentController> self, FailureMessage message,
                                 bool endsSave)
{
    postTo(manager, std::move(self), [message = std::move(message), endsSave](ContentController& controller) {
        controller.reportFailure(message);
        if (endsSave)
            controller.endSave();
        else
            controller.endFlow();
    });
}

void ContentController::failScan(ScanManager* manager, QPointer<ContentController> self, const ScanFailure& failure,
                                 ScanMode mode)
{
    if (failure.kind == ScanFailure::Kind::deviceLost) {
        // Released here, where every driver call is made, so that a connect can find the scanner
        // again when it is back.
        if (const std::shared_ptr<QuorvaneScanner> scanner = manager->scanner()) scanner->unloadDriver();
        return postTo(manager, std::move(self),
                      [failure](ContentController& controller) { controller.loseScanner(failure); });
    }
    failFlow(manager, std::move(self), scanFailureMessage(failure, mode), false);
}

namespace {

// Temporary files that a killed run left in the data folder go before the scan writes there: the
// writers' own and the raw image's partial file, and nothing else.
void removeStaleDataTemporaries()
{
    if (const std::optional<QString> folder = applicationDataFolder(false))
        removeStaleTemporaries(*folder, {QLatin1String(kRawImageFileName) + QLatin1String(kPartialFileSuffix)});
}

} // namespace

bool ContentController::previewScan()
{
    if (!isPreviewEnabled()) return false;
    setFlowBusy(true);
    scanManager_.runOnWorker(
        [scan = scan_, snapshot = takeSnapshot(), manager = &scanManager_, self = QPointer<ContentController>(this)] {
            // The clicked source names both the cache file and the state, whatever the source is now.
            const qint64 source = rawValue(snapshot.scan.scanSource);
            removeStaleDataTemporaries();
            ScanResult result = scan(snapshot.scan, ScanMode::preview, snapshot.exposureRatio, snapshot.scanQuality,
                                     snapshot.calibrationMode);
            if (!result.path && !result.image) {
                printLine("Failed to preview!");
                return failScan(manager, self, result.failure, ScanMode::preview);
            }
            // The cache file is a copy: a preview whose copy cannot be stored is shown all the same.
            ScanFailure cache = result.path ? ScanFailure{} : result.failure;
            const QString destination = previewImageURL(source);
            QString file = destination;
            if (result.path) {
                // Renamed over the old preview, so that a failed move leaves it as it was.
                if (::rename(QFile::encodeName(*result.path).constData(), QFile::encodeName(destination).constData()) !=
                    0) {
                    const int error = errno;
                    printReason("Failed to save preview image file: ", std::strerror(error));
                    cache.kind = ScanFailure::Kind::writeFailed;
                    cache.path = destination;
                    cache.error = error;
                    file = *result.path;
                }
            }
            std::optional<Image> image = result.image ? std::move(result.image) : readImageFile(file);
            if (!image)
                return failFlow(manager, self,
                                {QStringLiteral("The preview could not be shown."),
                                 QStringLiteral("The preview file %1 could not be read as an image.").arg(file)},
                                false);
            postTo(manager, self,
                   [source, image = std::move(*image),
                    notice = keptImageMessage(ScanMode::preview, result.lines, cache)](ContentController& controller) {
                       controller.setRawPreview(source, image);
                       controller.reportFailure(notice);
                       controller.endFlow();
                   });
        });
    return true;
}

bool ContentController::scanImage()
{
    if (!isScanEnabled()) return false;
    setFlowBusy(true);
    scanManager_.runOnWorker([scan = scan_, snapshot = takeSnapshot(), manager = &scanManager_,
                              self = QPointer<ContentController>(this)] {
        removeStaleDataTemporaries();
        ScanResult result =
            scan(snapshot.scan, ScanMode::scan, snapshot.exposureRatio, snapshot.scanQuality, snapshot.calibrationMode);
        if (!result.path && !result.image) {
            printLine("Failed to scan!");
            return failScan(manager, self, result.failure, ScanMode::scan);
        }
        // An early end and a raw copy not kept are told, and the scan goes on to be saved.
        postTo(manager, self,
               [manager,
                notice = keptImageMessage(ScanMode::scan, result.lines, result.path ? ScanFailure{} : result.failure)](
                   ContentController& controller) {
                   manager->setScanStatus(rawValue(VekScanStatus::processingImage));
                   controller.reportFailure(notice);
               });
        const std::optional<Image> image = result.image ? std::move(result.image) : readImageFile(*result.path);
        if (!image) {
            // Without an image there is nothing to save: back to ready rather than processing for good.
            printLine("Failed to load scanned image!");
            return failFlow(manager, self,
                            {QStringLiteral("The scan failed."),
                             QStringLiteral("The scanned image could not be read back from %1.").arg(*result.path)},
                            true);
        }
        std::optional<Image> processed;
        QString reason;
        try {
            processed = ImageProcessor::processImage(*image, snapshot.scan, snapshot.image);
        } catch (const std::exception& error) {
            reason = QString::fromLocal8Bit(error.what()).trimmed();
            vips_error_clear();
        }
        if (!processed) {
            printLine("Failed to process scanned image!");
            return failFlow(manager, self,
                            {QStringLiteral("The scanned image could not be processed."),
                             reason.isEmpty() ? QStringLiteral("The image post-processing failed.")
                                              : QStringLiteral("The image post-processing failed: %1").arg(reason)},
                            true);
        }
        postTo(manager, self, [processed = std::move(*processed)](ContentController& controller) {
            controller.saveScannedImage(processed);
        });
    });
    return true;
}

void ContentController::saveScannedImage(const Image& image)
{
    scanManager_.setScanStatus(rawValue(VekScanStatus::writingFile));
    // An empty or relative folder (a folder dialog without a URL) would put the file in "/" or in
    // the working folder: the default folder takes its place.
    if (!outputSettings_.ensureUsableFolder()) {
        printLine("Failed to save scanned image file!");
        return endSave();
    }
    const QString planned = outputFilePath(outputSettings_);
    QString target = planned;
    WriteOptions options = WriteOptions::from(outputSettings_, scanSettings_);
    // A file that another program puts at the name while this one is written stays: the write
    // fails with EEXIST, and the question below is asked then.
    options.takenName = TakenName::keep;
    if (entryAt(planned).exists) {
        const std::shared_ptr<SaveDialogs> dialogs = dialogs_;
        const QPointer<ContentController> self(this);
        const ReplaceAnswer answer = dialogs->askReplace();
        if (!self) return;
        if (answer == ReplaceAnswer::replace) {
            // Replacing means renaming the new file over the old one; anything but a file (a folder)
            // stays as it is.
            const PathEntry entry = entryAt(planned);
            if (entry.exists && !entry.regularFile) {
                printReason("Failed to delete the exist file: ",
                            entry.directory ? std::strerror(EISDIR) : "Not a regular file");
                printLine("Failed to save scanned image file!");
                return saveFailed(image, planned, entry.directory ? EISDIR : EEXIST);
            }
            options.takenName = TakenName::replace;
        } else {
            // Beside the old file, under a name nothing has: never over another file.
            target = timestampedPath(planned, clock_());
            options.takenName = TakenName::besideIt;
        }
    }
    const OutputFormat format = outputSettings_.format();
    scanManager_.runOnWorker([writer = writer_, image = std::optional<Image>(image), target, format, options,
                              manager = &scanManager_, self = QPointer<ContentController>(this)]() mutable {
        errno = 0;
        const std::optional<QString> written = writer(*image, target, format, options);
        const int error = written ? 0 : errno;
        // A saved scan is let go of here, on the thread that wrote it, and the memory it took goes
        // back to the system; a scan that could not be saved is kept for another folder.
        std::optional<Image> unsaved;
        if (written) {
            image.reset();
            returnFreedMemory();
        } else {
            unsaved = std::move(image);
        }
        const bool nameTaken =
            !written && error == EEXIST && options.takenName == TakenName::keep && entryAt(target).exists;
        postTo(manager, self,
               [written, unsaved = std::move(unsaved), target, error, nameTaken](ContentController& controller) {
                   // The name was free when the save began and taken when the file was put in place: the
                   // collision it is, with its question.
                   if (nameTaken) return controller.saveScannedImage(*unsaved);
                   if (!written) {
                       printLine("Failed to save scanned image file!");
                       return controller.saveFailed(*unsaved, target, error);
                   }
                   if (controller.appSettings_.isOpenImageAfterScan()) controller.opener_->open(*written);
                   const qint64 number = controller.outputSettings_.suffixNumber();
                   if (number < std::numeric_limits<qint64>::max())
                       controller.outputSettings_.setSuffixNumber(number + 1);
                   controller.endSave();
               });
    });
}

void ContentController::saveFailed(const Image& image, const QString& path, int error)
{
    // The scan is kept until the user has chosen another folder or given it up.
    const FailureMessage message = saveFailureMessage(path, error);
    Q_EMIT failureReported(message);
    const std::shared_ptr<SaveDialogs> dialogs = dialogs_;
    const QPointer<ContentController> self(this);
    const std::optional<QString> folder = dialogs->askForAnotherFolder(message, outputSettings_.directoryPath());
    if (!self) return;
    if (!folder) return endSave();
    outputSettings_.setDirectoryPath(*folder);
    saveScannedImage(image);
}

void ContentController::loadPreviousPreviewImages()
{
    for (const VekScanSource source :
         {VekScanSource::reflective, VekScanSource::positiveFilm, VekScanSource::negativeFilm}) {
        const QString path = previewImageURL(rawValue(source));
        if (QFile::exists(path)) setRawPreview(rawValue(source), readImageFile(path));
    }
}

void ContentController::savePreviewImages()
{
    struct Cache {
        VekScanSource source;
        const char* message;
    };
    static constexpr Cache kCaches[] = {
        {VekScanSource::reflective, "Failed to write reflective preview image to file: "},
        {VekScanSource::positiveFilm, "Failed to write positive preview image to file:  "},
        {VekScanSource::negativeFilm, "Failed to write negative preview image to file:   "},
    };
    for (const Cache& cache : kCaches) {
        const std::optional<Image>& image = rawPreview(rawValue(cache.source));
        if (!image) continue;
        const std::optional<QByteArray> bytes = previewTIFF(*image);
        if (!bytes) continue;
        // Through a temporary file renamed over the old one: an interrupted write leaves no damaged cache.
        errno = 0;
        if (!replaceFileAtomically(previewImageURL(rawValue(cache.source)), [&](int descriptor) {
                return writeAll(descriptor, bytes->constData(), std::size_t(bytes->size()));
            }))
            printReason(cache.message, std::strerror(errno));
    }
}

void ContentController::openOutputDirectory()
{
    opener_->open(outputSettings_.directoryPath());
}

QString ContentController::finishFlowForQuit()
{
    if (!quitting_) {
        quitting_ = true;
        Q_EMIT actionStateChanged();
    }
    if (!flowBusy_) return {};
    switch (VekScanStatus(scanManager_.scanStatus())) {
    case VekScanStatus::starting:
    case VekScanStatus::reading: scanManager_.stopScan(); return QStringLiteral("Stopping the scan before quitting.");
    case VekScanStatus::processingImage:
    case VekScanStatus::writingFile: return QStringLiteral("Saving the scan before quitting.");
    default: return QStringLiteral("Finishing the scan before quitting.");
    }
}

} // namespace lumenfield
