// Request records of the driver object. Every record begins with the same header; result and
// argument fields follow it. The records are internal to the driver and have no binary layout of
// their own.
#pragma once

#include <cstdint>

struct stKzdHeader {
    uint16_t wFunctionCode; // the operation's entry code; callers also set it for direct calls
    int32_t FUNC_STATUS;    // written by every operation: 1 success, else a negative driver code
    uint32_t dwReserved;    // not used by the driver object
};

// The scan mode of the next scan. Only ScanMode, cEnableUltraSound, dwScanPaperType, the light
// count, cEnableColorConsistency and cEnableBQMScan have an effect.
struct stSetScannerScanMode {
    stKzdHeader header;
    uint8_t ScanMode; // bit 0 preview, bit 1 final scan, bits 2, 3 and 5 for the device, bit 6 JPEG
    uint8_t cStopStealScan;
    uint8_t cEnableUltraSound;
    uint32_t dwScanPaperType; // bit 3 goes to the device
    uint8_t cDisableAutoPaperEject;
    uint8_t cLightCount; // 0 means 3
    void* pJpegParams;   // required when ScanMode bit 6 is set
    uint8_t cEnableColorConsistency;
    uint8_t cEnableBQMScan;
};

// The scan attributes of a scan. The driver object completes the record; the scan set-up reads
// the source.
struct stScannerAttri {
    stKzdHeader header;
    uint16_t ScanSource; // 0x02 feeder, 0x04 transparency, 0x08 feeder both sides, none flatbed
};
