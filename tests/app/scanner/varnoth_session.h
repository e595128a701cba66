// The application's scan manager over a bench's driver bundle (varnoth_bench.h): the scanner object
// with the driver loaded, handed to the manager ready to scan, and the orderly end of it.
#pragma once

#include "quorvane_scanner.h"
#include "scan_manager.h"
#include "varnoth_bench.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace varnoth_test {

// A new scanner object with the bench's driver loaded, set on `manager`, which is then ready to
// scan; null when the driver does not load.
inline std::shared_ptr<lumenfield::QuorvaneScanner> connectManager(Bench& bench, lumenfield::ScanManager& manager)
{
    auto scanner = std::make_shared<lumenfield::QuorvaneScanner>(bench.driverFolder());
    if (!scanner->loadDriver()) return nullptr;
    manager.setScanner(scanner);
    manager.setScanStatus(lumenfield::rawValue(lumenfield::VekScanStatus::ready));
    return scanner;
}

// Lets the manager's work end, then unloads the driver on the manager's worker, where every other
// driver call of the session ran.
inline void disconnectManager(lumenfield::ScanManager& manager,
                              const std::shared_ptr<lumenfield::QuorvaneScanner>& scanner)
{
    manager.waitForWorker();
    manager.runOnWorker([scanner] { scanner->unloadDriver(); });
    manager.waitForWorker();
}

// Where a scan writes its raw image.
inline QString rawImagePath()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + "/Lumenfield/Lumenfield/raw_image.tiff";
}

} // namespace varnoth_test
