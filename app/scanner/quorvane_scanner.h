// The one object through which the application talks to a scanner. Each operation turns into a
// fixed sequence of driver commands sent through the host device layer; the object also keeps
// what the application reads about the connected scanner.
//
// Owned through std::shared_ptr; it owns its host library, and so the driver while one is loaded.
// Every operation holds the host layer's lock for its whole sequence, so a connect or a
// calibration erase waits for a scan start rather than interleaving with it. imageInfo, info,
// settings and capabilities are read as whole copies under the object's own lock.
#pragma once

#include "enumerations.h"
#include "scanner_enumerations.h"
#include "se_result.h"

#include <QRectF>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace lumenfield {

class SEHost;

// The image of the scan in progress.
struct EIMAGEINFO {
    int32_t WidthPixels = 0;
    int32_t HeightLines = 0;
    int32_t RowBytes = 0;
};

struct SCANNERINFO {
    uint16_t masterModelCode = 0;
    uint8_t subModelCode = 0;
    std::string scannerName;       // the device name of the driver's device list
    uint32_t driverPrivilege = 0;  // driver version × 100
    uint16_t firmwareRevision = 0; // firmware version × 100
};

// The settings last sent.
struct ScannerSettings {
    int64_t source = 0;
    int64_t colorType = 0;
    uint32_t depth = 0;
    int64_t resolution = 0;
    QRectF scanRect; // in base-resolution pixels
    int64_t quality = 0;
};

struct ScannerFrameLimits {
    uint16_t Left = 0;
    uint16_t Top = 0;
    uint16_t Right = 0;
    uint16_t Bottom = 0;
};

// The largest frame of a source, in pixels at its base resolution.
struct ScannerFrameCap {
    int32_t SampleRes = 0;
    ScannerFrameLimits Max;
};

struct ScannerInterpolation {
    int16_t bInterpolation = 0;
    int16_t XResolution = 0;
    int16_t YResolution = 0;
};

struct ScannerRange {
    int32_t Min = 0;
    int32_t Max = 0;
    int32_t Steps = 0;
};

struct ScannerCapabilities {
    int16_t depth = 0;    // always 8
    uint16_t sources = 0; // source bits of the scanner
    // The reflective source when the scanner has one, else the film unit.
    uint16_t opticalResolution = 0;
    uint16_t imageTypes = 0;
    ScannerFrameCap frameCap;
    QRectF fullScanRect; // the largest area in inches, computed in single precision
    // The film unit's frame, for frames on film (all zero without a film unit).
    ScannerFrameCap filmFrameCap;
    ScannerInterpolation interpolation;
    uint8_t isSupportWholeCalibration = 0;
    uint8_t isSupportSmartCalibration = 0;
    uint8_t isSupportEnhanceColorConsistency = 0;
    uint8_t isSupportPaperSensor = 0;
    uint8_t isSupportShrinkableExposureRatio = 0;
    ScannerRange shrinkableExposureRange;
    ScannerRange resolutionRange;
};

// The boundary's code of a source (SE_SOURCE_...); none for a source no command can carry.
std::optional<uint16_t> boundarySource(VekScanSource source);

// A frame cap's area in inches from the origin, its sides divided in single precision by its base
// resolution; empty without a base resolution.
QRectF frameCapArea(const ScannerFrameCap& cap);
// The area that `source` scans, in inches from the origin: the film unit's for the film sources (3
// and 4) of a scanner that has one, otherwise the full area. A preview of the source covers it, and a
// frame reaching past it is cut there by the scanner.
QRectF sourceScanArea(const ScannerCapabilities& capabilities, int64_t source);

// What a scan is to be. A field left alone reads as 0, or as an empty rectangle.
struct ScanRequest {
    int64_t scanSource = 0;                // VekScanSource raw value
    int64_t colorType = 0;                 // VekColorType raw value
    int64_t resolution = 0;                // dots per inch
    QRectF scanRect;                       // inches
    int64_t exposureRatio = 0;             // percent
    int64_t scanQuality = 0;               // VekScanQuality raw value
    int64_t calibrationMode = 0;           // VekCalibrationMode raw value
    ScanMode scanMode = ScanMode::preview; // not sent to the scanner
};

// The command the driver refused last in a scan start (or a calibration erase), and its answer;
// command 0 and SE_SUCCESS when none was.
struct ScannerCommandError {
    int16_t command = 0;
    SEResult answer = SE_SUCCESS;
};

// Why the last connect failed.
struct ConnectFailure {
    enum class Kind {
        none,
        driverNotLoaded, // no driver bundle in `path` (a folder), or the one at `path` did not load
        noScanner,       // no scanner on the bus
        scannerBusy,     // a scanner is there, but another program holds it
        scannerNotOpened // a scanner is there but could not be opened (`detail` says why)
    };
    Kind kind = Kind::none;
    std::string path;
    std::string detail;
};

class QuorvaneScanner {
public:
    // `driverFolder` replaces the program's own driver folder (for tests).
    explicit QuorvaneScanner(std::optional<std::filesystem::path> driverFolder = std::nullopt);
    // Unloads the driver.
    ~QuorvaneScanner();
    QuorvaneScanner(const QuorvaneScanner&) = delete;
    QuorvaneScanner& operator=(const QuorvaneScanner&) = delete;

    std::filesystem::path driverURL() const;

    // Connects: host start, enumeration, open device 0, then information and capabilities. NO
    // when there is no scanner, it cannot be opened or its capabilities cannot be read; then the
    // host library is shut down again and connectFailure() tells why.
    bool loadDriver();
    ConnectFailure connectFailure() const;
    void unloadDriver();
    void prepareScannerInfo();
    bool prepareScannerCapabilities();

    // Setters answer YES only when the driver answered exactly 1. Source, colour type, resolution
    // and quality are stored in `settings` also when they are refused.
    bool setScanSource(int64_t source); // 1, 3 or 4; anything else is refused without a command
    bool setColorType(int64_t colorType);
    bool setResolution(int64_t resolution);
    // unit 0: the rectangle is in inches; else in base-resolution pixels.
    bool setScanRect(const QRectF& rect, int64_t unit);
    bool setShrinkableExposureRatio(int64_t ratio);
    bool setScanQuality(int64_t quality);
    bool setCalibrationMode(int64_t mode);
    // YES when the driver's status word is 1; lastError() then holds the command's answer.
    bool clearCalibrationData(int resolution);
    bool clearAllCalibrationData();
    bool setEnhanceColorConsistency(bool enable);
    // Identity tone tables of the size the driver asks for (inverted for source 4).
    bool setLinearLUT(uint32_t depth, int64_t source);

    // Applies the request, then sizes and starts the scan; imageInfo is the started scan's
    // geometry. NO, with a printed line, when a command of it is refused; lastError() then names
    // the command and the driver's answer.
    bool startScan(const ScanRequest& request);
    ScannerCommandError lastError() const;
    EIMAGEINFO getImageInfo();
    // Reads up to `lines` lines of RowBytes bytes into `buffer` (which holds lines × RowBytes).
    // Answers the lines delivered (0 when the read failed, -1 when the driver reports more lines
    // than were asked for), and the block's status through `status`: 1, or the end of the image
    // (-801) with the last lines, or an error.
    int16_t getImage(void* buffer, int16_t lines, SEResult* status = nullptr);
    bool stopScan();

    int64_t status() const;
    void setStatus(int64_t status);
    EIMAGEINFO imageInfo() const;
    SCANNERINFO info() const;
    ScannerSettings settings() const;
    ScannerCapabilities capabilities() const;
    // What a connect reads from the driver; set directly by tests of the windows, which need a
    // scanner with given information and capabilities but no driver.
    void setInfo(const SCANNERINFO& info);
    void setCapabilities(const ScannerCapabilities& capabilities);
    // The host library this object talks to its driver through.
    SEHost& host() { return *host_; }

private:
    // What a setter did: nothing sent, or a command answered.
    struct Outcome {
        bool sent = false;
        bool succeeded = false;
        int16_t code = 0;
        SEResult answer = SE_SUCCESS;
        bool reported = false; // the failure has printed its own line
    };
    static Outcome notSent() { return {}; }
    static Outcome answered(int16_t code, SEResult answer);

    Outcome applyScanSource(int64_t source);
    Outcome applyColorType(int64_t colorType);
    Outcome applyResolution(int64_t resolution);
    Outcome applyScanRect(const QRectF& rect, int64_t unit);
    Outcome applyExposureRatio(int64_t ratio);
    Outcome applyScanQuality(int64_t quality);
    Outcome applyCalibrationMode(int64_t mode);
    Outcome applyLinearLUT(uint32_t depth, int64_t source);
    template <typename Update> void updateSettings(Update update);

    bool failConnect(ConnectFailure failure);
    void setLastError(int16_t command, SEResult answer);

    const std::optional<std::filesystem::path> driverFolder_;
    const std::unique_ptr<SEHost> host_; // holds the driver from loadDriver to unloadDriver
    mutable std::mutex mutex_;           // guards the fields below
    ConnectFailure connectFailure_;
    ScannerCommandError lastError_;
    int64_t status_ = 0;
    EIMAGEINFO imageInfo_;
    SCANNERINFO info_;
    ScannerSettings settings_;
    ScannerCapabilities capabilities_;
};

} // namespace lumenfield
