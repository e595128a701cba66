// What the preview, scan and save flows ask of the world outside the window: the scan routine, the
// image writer, the clock, the questions and notices, and the opening of a file. Each is a seam, so
// that the flows run from code, and in tests, without a dialog waiting for a click or a program
// starting; the product's versions are the defaults.
#pragma once

#include "enumerations.h"
#include "image_file.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scanner_enumerations.h"
#include "vips_image.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace lumenfield {

// What one scan gave: the path of its raw image file, or none and why. It may also give the image
// it read, in memory, so that the flow need not read the file back; without it the flow reads the
// file. An image without a path is a scan whose raw file could not be written (`failure` says why),
// which the flow uses all the same. `lines` tells a scan that the scanner ended early.
struct ScanResult {
    std::optional<QString> path;
    ScanFailure failure;
    std::optional<Image> image = std::nullopt;
    ScanLines lines = {};
};

// One scan from a snapshot of the settings to its raw image file (it runs on the scan worker
// thread).
using ScanFunction = std::function<ScanResult(const ScanSettings::Values& settings, ScanMode mode, qint64 exposureRatio,
                                              VekScanQuality scanQuality, VekCalibrationMode calibrationMode)>;

// Writes a processed image at a path with a format and the options copied from the settings; gives
// the path, or none when nothing was written (runs on the scan worker thread).
using ImageWriter = std::function<std::optional<QString>(const Image& image, const QString& path, OutputFormat format,
                                                         const WriteOptions& options)>;

// The current date and time, for the timestamped file name.
using Clock = std::function<QDateTime()>;

enum class ReplaceAnswer {
    replace,
    cancel
};

// What the window tells the user when an action failed: a headline and the reason, with the path
// or the driver's code where it helps.
struct FailureMessage {
    QString title;
    QString detail;
};

// The questions and notices of the flows, all on the GUI thread.
class SaveDialogs {
public:
    virtual ~SaveDialogs() = default;
    // The question asked when the next output file's name is taken. Blocks until answered.
    virtual ReplaceAnswer askReplace() = 0;
    // Tells why an action failed; returns at once, and the window goes on.
    virtual void showFailure(const FailureMessage& message) = 0;
    // A scan could not be saved in `currentFolder`: the folder the user chose to save it in
    // instead, or none when the user gave the scan up. Blocks until answered.
    virtual std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString& currentFolder) = 0;
};

// The product's boxes. The replace question: a warning box, application-modal, "Replace" (the
// default) or "Cancel"; only a click on Replace answers Replace, Escape and closing the box answer
// Cancel. A failure: a warning box ("failureMessage") over the window with OK, not waited for. A
// failed save: a warning box ("saveFailureMessage") with "Choose Folder..." (then a folder dialog;
// cancelling it asks again) and "Discard Scan" (also Escape).
class MessageBoxSaveDialogs : public SaveDialogs {
public:
    explicit MessageBoxSaveDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    ReplaceAnswer askReplace() override;
    void showFailure(const FailureMessage& message) override;
    std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString& currentFolder) override;

    static const QString& messageText();
    static const QString& informativeText();

private:
    QWidget* parent_;
};

// Opens a file or a folder in the user's default application for it.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    // Called on the GUI thread; reports nothing.
    virtual void open(const QString& path) = 0;
};

class DesktopFileOpener : public FileOpener {
public:
    void open(const QString& path) override;
};

} // namespace lumenfield
