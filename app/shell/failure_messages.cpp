#include "failure_messages.h"

#include "se_boundary.h"

#include <QDir>
#include <QStringList>

#include <cstring>

namespace lumenfield {

namespace {

const char* const kCheckConnection = "Please make sure the scanner is turned on, and connected to this computer.";

// What the user set that a command carries.
QString commandName(int command)
{
    switch (command) {
    case SE_CMD_SOURCE: return QStringLiteral("scan source");
    case SE_CMD_DEPTH: return QStringLiteral("colour depth");
    case SE_CMD_IMAGE_TYPE: return QStringLiteral("colour type");
    case SE_CMD_GAMMA: return QStringLiteral("tone tables");
    case SE_CMD_RESOLUTION: return QStringLiteral("resolution");
    case SE_CMD_SCAN_FRAME: return QStringLiteral("scan frame");
    case SE_CMD_EXPOSURE_RATIO: return QStringLiteral("exposure ratio");
    case SE_CMD_SCAN_QUALITY: return QStringLiteral("scan quality");
    case SE_CMD_CALIBRATION: return QStringLiteral("calibration mode");
    case SE_CMD_IMAGE_INFO: return QStringLiteral("image size");
    default: return QStringLiteral("command %1").arg(command);
    }
}

QString driverCode(int code)
{
    return QStringLiteral("driver code %1").arg(code);
}

// A path the label may break after each folder.
QString breakablePath(const QString& path)
{
    QString out = path;
    return out.replace(u'/', QStringLiteral("/\u200B"));
}

// Paths longer than this lose folders from their middle on the connect screen, which has room for a
// few lines only.
constexpr qsizetype kShownPathChars = 120;

// `path` as the connect screen names it: the home folder as "~", and at most kShownPathChars
// characters, the first folder and as many of the last ones as fit, the bundle's name always.
QString shownPath(const QString& path)
{
    QString shown = path;
    const QString home = QDir::homePath();
    if (home != QStringLiteral("/") && (shown == home || shown.startsWith(home + u'/')))
        shown.replace(0, home.size(), QStringLiteral("~"));
    if (shown.size() <= kShownPathChars) return shown;
    const QStringList parts = shown.split(u'/');
    if (parts.size() < 4) return shown;
    const QString head = parts[0] + u'/' + parts[1] + QStringLiteral("/\u2026");
    QString tail = u'/' + parts.last();
    for (qsizetype i = parts.size() - 2; i > 1; i--) {
        const QString longer = u'/' + parts[i] + tail;
        if (head.size() + longer.size() > kShownPathChars) break;
        tail = longer;
    }
    return head + tail;
}

// Why the bundle at `bundle` did not load, as the window says it. The loader puts the code file's
// full path before its reason; that file lies in the bundle just named, so its place in the bundle
// follows the reason instead.
QString loadReason(const QString& bundle, const QString& reason)
{
    if (bundle.isEmpty() || !reason.startsWith(bundle + u'/')) return reason;
    const qsizetype colon = reason.indexOf(QStringLiteral(": "), bundle.size());
    if (colon < 0) return reason;
    const QString inBundle = reason.mid(bundle.size() + 1, colon - bundle.size() - 1);
    return QStringLiteral("%1 (%2)").arg(reason.mid(colon + 2), breakablePath(inBundle));
}

} // namespace

FailureMessage scanFailureMessage(const ScanFailure& failure, ScanMode mode)
{
    using Kind = ScanFailure::Kind;
    if (failure.kind == Kind::stopped) return {};
    FailureMessage message;
    message.title =
        mode == ScanMode::preview ? QStringLiteral("The preview failed.") : QStringLiteral("The scan failed.");
    switch (failure.kind) {
    case Kind::none:
    case Kind::stopped: message.detail = QStringLiteral("The scan gave no image."); break;
    case Kind::alreadyRunning: message.detail = QStringLiteral("Another scan is still running."); break;
    case Kind::noScanner: message.detail = QStringLiteral("No scanner is connected."); break;
    case Kind::unusableSettings:
        message.detail = QStringLiteral("The scan settings cannot be used: check the scan source, the resolution and "
                                        "the scan frame.");
        break;
    case Kind::refused:
        message.detail = failure.command == SE_CMD_START_SCAN
            ? QStringLiteral("The scanner did not start the scan (%1).").arg(driverCode(failure.code))
            : QStringLiteral("The scanner refused the %1 (%2).")
                  .arg(commandName(failure.command), driverCode(failure.code));
        break;
    case Kind::deviceLost:
        message.detail = QStringLiteral("The connection to the scanner was lost (%1).").arg(driverCode(failure.code));
        break;
    case Kind::badImageInfo:
        message.detail = QStringLiteral("The scanner reported an image size that cannot be read (%1 × %2 pixels, %3 "
                                        "bytes a line).")
                             .arg(failure.width)
                             .arg(failure.height)
                             .arg(failure.rowBytes);
        break;
    case Kind::noMemory: message.detail = QStringLiteral("There is not enough memory for the scanned image."); break;
    case Kind::readFailed:
        message.detail =
            QStringLiteral("Reading the image from the scanner failed (%1).").arg(driverCode(failure.code));
        break;
    case Kind::noDataFolder:
        message.detail = QStringLiteral("The application's data folder could not be made, so the scanned image has "
                                        "nowhere to go.");
        break;
    case Kind::writeFailed:
        message.detail =
            QStringLiteral("The scanned image could not be written to %1.").arg(breakablePath(failure.path));
        break;
    }
    return message;
}

FailureMessage keptImageMessage(ScanMode mode, const ScanLines& lines, const ScanFailure& copy)
{
    using Kind = ScanFailure::Kind;
    const bool preview = mode == ScanMode::preview;
    const bool copyLost = copy.kind == Kind::writeFailed || copy.kind == Kind::noDataFolder;
    FailureMessage message;
    QStringList sentences;
    if (lines.endedEarly()) {
        message.title = preview ? QStringLiteral("The preview ended early.") : QStringLiteral("The scan ended early.");
        sentences << QStringLiteral("The scanner ended the %1 after %2 of %3 lines; below them the image is white.")
                         .arg(preview ? QStringLiteral("preview") : QStringLiteral("scan"))
                         .arg(lines.read)
                         .arg(lines.expected);
    }
    if (copyLost) {
        if (message.title.isEmpty())
            message.title = preview ? QStringLiteral("The preview could not be stored.")
                                    : QStringLiteral("The raw copy of the scan could not be kept.");
        const QString where = copy.kind == Kind::noDataFolder
            ? QStringLiteral("The application's data folder could not be made.")
            : QStringLiteral("Writing %1 failed: %2.")
                  .arg(breakablePath(copy.path),
                       copy.error != 0 ? QString::fromLocal8Bit(std::strerror(copy.error))
                                       : QStringLiteral("the file could not be written"));
        sentences << where +
                (preview ? QStringLiteral(" The preview is shown all the same.")
                         : QStringLiteral(" The scan is processed and saved all the same."));
    }
    message.detail = sentences.join(u'\n');
    return message;
}

FailureMessage saveFailureMessage(const QString& path, int error)
{
    FailureMessage message;
    message.title = QStringLiteral("The scan could not be saved.");
    const QString reason =
        error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the image could not be encoded");
    message.detail = QStringLiteral("Writing %1 failed: %2.\nChoose another folder to save the scan in, or discard "
                                    "the scan.")
                         .arg(breakablePath(path), reason);
    return message;
}

QString connectFailureText(const ConnectFailure& failure)
{
    using Kind = ConnectFailure::Kind;
    switch (failure.kind) {
    case Kind::driverNotLoaded: {
        const QString bundle = QString::fromStdString(failure.path);
        return QStringLiteral("The scanner driver could not be loaded from %1: %2.")
            .arg(breakablePath(shownPath(bundle)), loadReason(bundle, QString::fromStdString(failure.detail)));
    }
    case Kind::scannerBusy:
        return QStringLiteral("The scanner is in use by another program. Close that program, then press Connect.");
    case Kind::scannerNotOpened:
        return QStringLiteral("The scanner was found but could not be opened: %1. Turn it off and on again, then "
                              "press Connect.")
            .arg(QString::fromStdString(failure.detail));
    case Kind::none:
    case Kind::noScanner: break;
    }
    return QStringLiteral("No scanner was found. ") + QLatin1String(kCheckConnection);
}

QString lostScannerText(const ScanFailure& failure)
{
    return QStringLiteral("The connection to the scanner was lost (%1). %2 Then press Connect.")
        .arg(driverCode(failure.code), QLatin1String(kCheckConnection));
}

} // namespace lumenfield
