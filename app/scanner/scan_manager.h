// The application's one scan session, shared by every window: it owns the scanner object,
// publishes whether there is one, the state of the scan and the fraction of lines read, and runs a
// preview or a final scan from the settings to the raw image file "raw_image.tiff" in the
// application's data folder.
//
// Threads. The object lives on the GUI thread, and every change of a published property is made
// there: the scan posts its changes in order and never waits for them. scan() runs on the one scan
// worker thread the object owns (runOnWorker), and every driver call of a scan is made on it; the
// host device layer's lock keeps other driver calls from interleaving. stopScan() only raises a
// flag: the worker sends the stop command itself, after the read in flight has returned.
#pragma once

#include "enumerations.h"
#include "quorvane_scanner.h"
#include "scan_settings.h"
#include "scanner_enumerations.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <vips/vips8>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace lumenfield {

// The raw image file of the last scan, in the application's data folder.
inline constexpr char kRawImageFileName[] = "raw_image.tiff";

// Whether a scan status (a VekScanStatus raw value) keeps the scan controls and the settings panels
// disabled: a scan starting or reading, or its image being processed or written.
inline bool isScannerBusy(qint64 status)
{
    return isBusy(VekScanStatus(status));
}

// Why a scan gave no raw image, for the window's message (the printed lines stay as they were).
struct ScanFailure {
    enum class Kind {
        none,             // the scan gave its image
        stopped,          // the user stopped it: nothing to report
        alreadyRunning,   // another scan was running
        noScanner,        // no scanner object
        unusableSettings, // settings that no command could carry (unknown source, empty frame...)
        refused,          // the driver refused `command` with `code`
        deviceLost,       // the scanner is gone (`code`, `command` as for refused or 34 for a read)
        badImageInfo,     // the driver's image size (`width` × `height`, `rowBytes`) cannot be read into
        noMemory,         // no memory for the image
        readFailed,       // a read of lines failed with `code`
        noDataFolder,     // the application's data folder could not be made
        writeFailed,      // the raw image file at `path` could not be written (errno `error`, 0 unknown)
    };
    Kind kind = Kind::none;
    int command = 0;
    int code = 0;
    qint64 width = 0, height = 0, rowBytes = 0;
    QString path;
    int error = 0;
};

// How much of its image a scan that read one got: the scanner may end a page before its last line,
// and the image is white below the lines it delivered.
struct ScanLines {
    qint64 read = 0;
    qint64 expected = 0;
    bool endedEarly() const { return read < expected; }
};

// Whether a driver answer means the scanner has gone (unplugged, switched off): no device. A failed
// transfer (a time-out, a stall) is not: the scanner may still be there, and the next try may work.
bool isDeviceLostCode(int code);
// The failure of a scan whose `command` the driver answered with `answer`: the scanner gone, or
// `otherwise`. The one place where a host library result becomes a scan's failure.
ScanFailure commandFailure(int command, SEResult answer, ScanFailure::Kind otherwise);

class ScanManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::shared_ptr<QuorvaneScanner> scanner READ scanner WRITE setScanner NOTIFY scannerChanged)
    Q_PROPERTY(double scanProgress READ scanProgress WRITE setScanProgress NOTIFY scanProgressChanged)
    Q_PROPERTY(qint64 scanStatus READ scanStatus WRITE setScanStatus NOTIFY scanStatusChanged)

public:
    // No scanner object, progress 0, status 7 (not connected).
    explicit ScanManager(QObject* parent = nullptr);
    // Stops a running scan and waits for the worker.
    ~ScanManager() override;

    // Any thread may read the scanner; it is set on the GUI thread.
    std::shared_ptr<QuorvaneScanner> scanner() const;
    void setScanner(std::shared_ptr<QuorvaneScanner> scanner);
    // Fraction of the image's lines read, 0 to 1. Read and set on the GUI thread.
    double scanProgress() const { return scanProgress_; }
    void setScanProgress(double progress);
    // A VekScanStatus raw value. Read and set on the GUI thread; the windows set 0, 3 and 4.
    qint64 scanStatus() const { return scanStatus_; }
    void setScanStatus(qint64 status);
    // The geometry of the current or last started scan.
    EIMAGEINFO imageInfo() const;

    // Declared for the windows; the session never changes it.
    ScanMode scanMode = ScanMode::preview;

    // Runs one scan and answers the path of the raw image it wrote, or none when the scan failed,
    // was stopped or could not be written (with a printed line). Call it on the worker thread;
    // `settings` is a snapshot taken on the GUI thread. A preview scans the scanner's whole area at
    // the preview resolution; a final scan the frame drawn on the preview at the set resolution.
    // A scan ends with status 5 and progress 0 however it ends. While one runs, another answers none
    // at once with "Scan already running" and changes nothing. With `image`, a scan that wrote its
    // file also hands over the image it wrote, in memory (the 8-bit image reading the file back
    // gives), so that it need not be read back; the scan keeps no copy. The raw file is only a copy
    // of that image: when it cannot be written (the data folder read-only or full) the image is
    // handed over all the same, the answer is none and lastFailure says why the file is missing.
    std::optional<QString> scan(const ScanSettings::Values& settings, ScanMode mode, qint64 exposureRatio,
                                VekScanQuality scanQuality, VekCalibrationMode calibrationMode,
                                std::optional<vips::VImage>* image = nullptr);
    // Why the last scan gave no raw file; kind none after a success. Read it on the worker right
    // after scan() returned.
    ScanFailure lastFailure() const;
    // The lines the last scan read of its image (both 0 when it read none). Read it on the worker
    // right after scan() returned.
    ScanLines lastLines() const;
    // Asks a running scan to stop at its next test, and the driver to give up what it waits on the
    // device for, then posts progress 0 and status 5. Any thread; returns at once and never calls
    // the driver. The scan's own end then follows within about a second, whatever the device does.
    void stopScan();
    // Whether a scan is starting or reading (any thread).
    bool isScanRunning() const { return running_; }

    // Queues `work` on the scan worker thread; it runs after every task queued before it. Every
    // driver call the windows cause (connecting, previews and scans, clearing calibration data,
    // unloading at quit) goes through here, so the GUI thread never waits on the driver.
    void runOnWorker(std::function<void()> work);
    // Returns once every task queued so far has run (the program waits here when it quits).
    void waitForWorker();

Q_SIGNALS:
    void scannerChanged(const std::shared_ptr<QuorvaneScanner>& scanner);
    void scanProgressChanged(double progress);
    void scanStatusChanged(qint64 status);
    // After any property's own signal.
    void changed();

private:
    struct Run;
    std::optional<QString> runScan(Run& run, const ScanSettings::Values& settings, ScanMode mode, qint64 exposureRatio,
                                   VekScanQuality scanQuality, VekCalibrationMode calibrationMode);
    bool readBlocks(Run& run);
    void requestStop();
    void postProgress(double progress);
    void postStopped();
    template <typename Change> void post(Change change);

    mutable std::mutex mutex_; // guards scanner_, imageInfo_, lastFailure_ and lastLines_
    std::shared_ptr<QuorvaneScanner> scanner_;
    EIMAGEINFO imageInfo_;
    ScanFailure lastFailure_;
    ScanLines lastLines_;
    double scanProgress_ = 0.0;
    qint64 scanStatus_ = rawValue(VekScanStatus::notConnected);
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    QThreadPool worker_;
};

} // namespace lumenfield
