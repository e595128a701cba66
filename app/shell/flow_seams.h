// What the preview, scan and save flows ask of the world outside the window: the scan routine, the
// image writer, the clock, the overwrite question and the opening of a file. Each is a seam, so
// that the flows run from code, and in tests, without a dialog waiting for a click or a program
// starting; the product's versions are the defaults.
#pragma once

#include "enumerations.h"
#include "image.h"
#include "image_file.h"
#include "scan_settings.h"
#include "scanner_enumerations.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// One scan from a snapshot of the settings to the path of its raw image file, or none when it failed
// (it runs on the scan worker thread).
using ScanFunction = std::function<std::optional<QString>(const ScanSettings::Values& settings, ScanMode mode,
                                                          qint64 exposureRatio, VekScanQuality scanQuality,
                                                          VekCalibrationMode calibrationMode)>;

// Writes a processed image at a path with a format and the options copied from the settings; gives
// the path, or none when nothing was written (runs on the scan worker thread).
using ImageWriter = std::function<std::optional<QString>(const Image& image, const QString& path, OutputFormat format,
                                                         const WriteOptions& options)>;

// The current date and time, for the timestamped file name.
using Clock = std::function<QDateTime()>;

enum class ReplaceAnswer { replace, cancel };

// The question asked when the next output file's name is taken.
class SaveDialogs {
public:
    virtual ~SaveDialogs() = default;
    // Blocks until answered; called on the GUI thread.
    virtual ReplaceAnswer askReplace() = 0;
};

// The product's question: a warning box, application-modal, "Replace" (the default) or "Cancel".
// Only a click on Replace answers Replace; Escape and closing the box answer Cancel.
class MessageBoxSaveDialogs : public SaveDialogs {
public:
    explicit MessageBoxSaveDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    ReplaceAnswer askReplace() override;

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
