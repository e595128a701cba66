// The working half of the main window: the last raw preview of each scan source, the preview and
// the final-scan flows with the preview caches and the saving of the output file, and the rules by
// which the toolbar names the scanner and enables its buttons. It owns no widget; the main window
// shows what it holds and calls its operations.
//
// Threads. The object lives on the GUI thread and every state change happens there. At a click the
// flow copies the settings it needs; the scan, the loading and processing of its image and the
// writing of the file run as tasks on the scan session's one worker thread, which read only those
// copies; each result comes back to the GUI thread as a queued call. One flow runs at a time: from
// the click to its end the flow-busy flag is set, and another click does nothing.
#pragma once

#include "app_settings.h"
#include "flow_seams.h"
#include "image_settings.h"
#include "output_settings.h"
#include "scan_frame_crop.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "vips_image.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

namespace lumenfield {

class ContentController : public QObject {
    Q_OBJECT

public:
    // The six shared objects outlive the controller.
    ContentController(ScanManager& scanManager, AppSettings& appSettings, ScanSettings& scanSettings,
                      ImageSettings& imageSettings, const ScanFrameCrop& frameCrop, OutputSettings& outputSettings,
                      QObject* parent = nullptr);

    // Seams; a flow takes the functions as they are at its click. The defaults are the session's
    // scan, the image writer, the system clock, the question box and the desktop's file opening.
    void setScanFunction(ScanFunction scan);
    void setImageWriter(ImageWriter writer);
    void setClock(Clock clock);
    void setSaveDialogs(std::shared_ptr<SaveDialogs> dialogs);
    void setFileOpener(std::shared_ptr<FileOpener> opener);

    // The last raw (unprocessed) preview of scan source 1, 3 or 4; for any other source the
    // reflective one, as the preview pane shows it.
    const std::optional<Image>& rawPreview(qint64 source) const;
    const std::optional<Image>& currentRawPreview() const { return rawPreview(scanSettings_.scanSourceRawValue()); }
    // Stores the preview of source 1, 3 or 4 (any other source stores nothing). A different image
    // object, or none in place of one, counts as a change.
    void setRawPreview(qint64 source, std::optional<Image> image);

    // From a click until its flow has ended.
    bool isFlowBusy() const { return flowBusy_; }

    // The rules of the toolbar.
    // The scanner's model name, or "Quorvane Scanner" without a scanner object.
    QString productName() const;
    // The scan session is starting, reading, processing or writing.
    bool isScanning() const;
    // While scanning, and while scan source 1, 3 or 4 has no raw preview.
    bool isScanDisabled() const;
    bool isPreviewEnabled() const { return !isScanning() && !flowBusy_ && !quitting_; }
    bool isScanEnabled() const { return !isScanDisabled() && !flowBusy_ && !quitting_; }
    // A 350 × 216 RGB float picture of the histogram of the processed scan-frame image: in column b,
    // each channel is 1.0 in the bottom round(clamp(share, 0, 1) × 216) rows, the share being
    // 20 × count / pixels of bin b of 350 over the working values clamped to 0..1. None without a
    // scan-frame image, or when its pixels cannot be computed.
    std::optional<Image> histogramImage() const;

    // The Preview button: a preview scan of the whole area, moved over the cache file of the
    // clicked source and stored as that source's raw preview. Gives whether a flow started (not
    // while a flow or a scan runs).
    bool previewScan();
    // The Scan button: a final scan, processed with the clicked settings and saved through
    // saveScannedImage. Gives whether a flow started (only while isScanEnabled holds).
    bool scanImage();
    // The save step of the final-scan flow, on the GUI thread: status 4, the output file's name (with
    // the question when it is taken), the file written on the worker, then the opening of the file
    // and the counter, and status 0. The flow ends with it.
    void saveScannedImage(const Image& image);

    // Every non-empty raw preview written back to its cache file (reflective, positive, negative).
    void savePreviewImages();
    // Each source's raw preview read from its cache file when the file exists.
    void loadPreviousPreviewImages();
    // The Directory button: the output folder opened through the file opener.
    void openOutputDirectory();

    // The program is to end. Without a flow: an empty text, and it may end now. During a flow it has
    // to wait for the flow's end (flowBusyChanged(false)), and the text says why for the window: a
    // scan or preview still starting or reading is stopped, as Stop does, since what it has read is
    // no finished image yet and reading the rest may take minutes; a scan that has been read is
    // processed and saved first, so that it is not lost and the file-name counter has moved past its
    // file before the settings are stored. No flow starts after this call.
    QString finishFlowForQuit();

Q_SIGNALS:
    // The raw preview of a source (1, 3 or 4) changed.
    void rawPreviewChanged(qint64 source);
    // A flow failed and its reason is being shown (or a failed save asks for another folder), or a
    // flow that goes on tells what it lost on the way (an early end, a copy not kept).
    void failureReported(const FailureMessage& message);
    // The scanner went away during a preview or scan: its driver has been unloaded, the status is
    // 7 (not connected) again and the flow has ended; `text` says so for the connect screen.
    void scannerLost(const QString& text);
    void flowBusyChanged(bool busy);
    // Whenever an input of productName, isScanning, isScanDisabled or of the buttons' enabling
    // changes: the scanner object, the scan status, the scan source, a raw preview, the flow-busy flag.
    void actionStateChanged();

private:
    // What a flow reads of the settings, copied at its click.
    struct Snapshot {
        ScanSettings::Values scan;
        ImageSettings::Values image;
        qint64 exposureRatio;
        VekScanQuality scanQuality;
        VekCalibrationMode calibrationMode;
    };
    Snapshot takeSnapshot() const;
    void setFlowBusy(bool busy);
    void endFlow();
    void endSave();
    void reportFailure(const FailureMessage& message);
    void loseScanner(const ScanFailure& failure);
    // A save that wrote nothing keeps the image and asks for another folder, or ends the flow.
    void saveFailed(const Image& image, const QString& path, int error);
    // From the worker: the flow ends with the message shown (and status 0 when it was past the
    // scan), or, for a scanner that is gone, with its driver unloaded and scannerLost.
    static void failFlow(ScanManager* manager, QPointer<ContentController> self, FailureMessage message, bool endsSave);
    static void failScan(ScanManager* manager, QPointer<ContentController> self, const ScanFailure& failure,
                         ScanMode mode);
    // Posts `change` (called with the controller) to run on the GUI thread if the controller still
    // exists then. Any thread.
    template <typename Change>
    static void postTo(ScanManager* manager, QPointer<ContentController> controller, Change change);
    // The state of source 1, 3 or 4; none for any other source.
    const std::optional<Image>* slot(qint64 source) const;

    ScanManager& scanManager_;
    AppSettings& appSettings_;
    ScanSettings& scanSettings_;
    ImageSettings& imageSettings_;
    const ScanFrameCrop& frameCrop_;
    OutputSettings& outputSettings_;

    ScanFunction scan_;
    ImageWriter writer_;
    Clock clock_;
    std::shared_ptr<SaveDialogs> dialogs_;
    std::shared_ptr<FileOpener> opener_;

    std::optional<Image> reflectiveRawImage_;
    std::optional<Image> positiveRawImage_;
    std::optional<Image> negativeRawImage_;
    bool flowBusy_ = false;
    bool quitting_ = false;
};

} // namespace lumenfield
