// The words the windows use for what went wrong: a failed preview or scan, a failed save, a lost
// scanner and a failed connect.
#pragma once

#include "enumerations.h"
#include "flow_seams.h"
#include "quorvane_scanner.h"
#include "scan_manager.h"

#include <QString>

namespace lumenfield {

// The headline and reason of a scan that gave no image; a stop by the user has none (an empty
// title).
FailureMessage scanFailureMessage(const ScanFailure& failure, ScanMode mode);

// What the window says of a scan or preview that gave its image although part of it went wrong:
// the scanner ended it after `lines.read` of its `lines.expected` lines, or the copy the program
// keeps of it could not be written (`copy` of kind writeFailed or noDataFolder: the raw image of a
// scan, the cache file of a preview). The image is used all the same. An empty title when neither
// happened.
FailureMessage keptImageMessage(ScanMode mode, const ScanLines& lines, const ScanFailure& copy);

// The save of a scan failed at `path` with errno `error` (0: no reason known).
FailureMessage saveFailureMessage(const QString& path, int error);

// The connect screen's text for a failed connect.
QString connectFailureText(const ConnectFailure& failure);

// The connect screen's text once the scanner was lost during a preview or scan.
QString lostScannerText(const ScanFailure& failure);

} // namespace lumenfield
