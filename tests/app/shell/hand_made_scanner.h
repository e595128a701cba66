// A scanner for the main window's tests without a driver: model 0x6204, the reflective and both film
// sources, a full area of 8.5 × 11.7 inches and resolutions from 50 to 4800 dpi.
#pragma once

#include "quorvane_scanner.h"

#include <memory>

inline std::shared_ptr<lumenfield::QuorvaneScanner> handMadeScanner(uint8_t smartCalibration = 1, uint8_t subModel = 0)
{
    auto scanner = std::make_shared<lumenfield::QuorvaneScanner>();
    scanner->setInfo(lumenfield::SCANNERINFO{0x6204, subModel, "Hand Made", 100, 0x105});
    lumenfield::ScannerCapabilities capabilities;
    capabilities.sources = 0x104;
    capabilities.fullScanRect = QRectF(0, 0, 8.5, 11.7);
    capabilities.isSupportSmartCalibration = smartCalibration;
    capabilities.resolutionRange = lumenfield::ScannerRange{50, 4800, 1};
    scanner->setCapabilities(capabilities);
    return scanner;
}
