// The command handler of the one opened device. It owns the device's driver object, asks it once
// for everything the device can do, keeps the host's settings between commands, and answers every
// command block the root object does not handle itself: Entry picks the handler by code, runs it
// and translates its result into the 16-bit code the host receives.
//
// Its members live in three files by concern: ebase.cpp (construction, the capability queries,
// Entry, its handler table and the result translation), ebase_scan.cpp (the handlers that start,
// read and stop a scan) and ebase_settings.cpp (the handlers of settings and switches).
#pragma once

#include "kzd_interface.h"
#include "kzd_records.h"
#include "kzd_scanner.h"
#include "range_table.h"

#include <se_boundary.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// One dither pattern; bytes 2 to 33 hold its NUL-terminated name.
struct EDITHER {
    uint8_t bytes[48];
};

// Default exposure: the master value, then the three channels.
struct stEXPOSURETIME {
    uint32_t master;
    uint32_t channel[3];
};

// The hardware crop and deskew block handed to the scan mode; only its head is defined.
struct HWCropDeskewBlock {
    uint8_t bytes[2040];
};

// Output geometry of a scan, as the host is told it.
struct EImageGeometry {
    uint32_t width;
    uint32_t height;
    uint32_t bytesPerLine;
};

class EBase {
public:
    EBase(ERangeEntry* contrast, short ditherCount, EDITHER* dithers, ERangeEntry* exposure, ERangeEntry* offset,
          short deviceIndex, int brightness, int contrastDefault, short ditherDefault, int exposureDefault,
          int offsetDefault, stEXPOSURETIME* exposureRecord, short exposureMode, CInterface* iface);
    virtual ~EBase();
    EBase(const EBase&) = delete;
    EBase& operator=(const EBase&) = delete;

    // Routes one block and answers the translated result.
    int16_t Entry(ECDB* block);
    // Entry's dispatch table: a command code and the handler that answers it.
    struct CommandHandler {
        int16_t code;
        int32_t (EBase::*handler)(ECDB*);
    };
    static const std::span<const CommandHandler> commandHandlers();

    // A handler's answer is in the host's codes (SE_OK, SE_NOT_SUPPORTED, the SE_ERR_ codes), which
    // pass unchanged, or the code of a driver result, which this maps: the one place that turns
    // driver results into the host's codes.
    virtual int16_t TransferErrCodePC2Mac(int32_t code);
    virtual DrvResult PrepareStartScan(stScannerAttri* attri);
    virtual int32_t StartScan(ECDB* block);
    virtual int32_t StartScanBack(ECDB* block);
    virtual int32_t StopScan(ECDB* block);
    virtual int32_t ScanImage(ECDB* block);
    virtual int32_t ScanImageBack(ECDB* block);
    virtual int32_t ScanJpegImage(ECDB* block);
    virtual int32_t ScanJpegImageBack(ECDB* block);
    virtual int32_t DoAPD(ECDB* block);
    virtual int32_t DoScannerInfo(ECDB* block);
    virtual int32_t DoDepth(ECDB* block);
    virtual int32_t DoAttached(ECDB* block);
    virtual int32_t DoResolution(ECDB* block);
    virtual int32_t DoPageLength(ECDB* block);
    virtual int32_t DoScanFrame(ECDB* block);
    virtual int32_t DoContrast(ECDB* block);
    virtual int32_t DoThreshold(ECDB* block);
    virtual int32_t DoExposure(ECDB* block);
    virtual int32_t DoShrinkableExposureRatio(ECDB* block);
    virtual int32_t DoGamma(ECDB* block);
    virtual int32_t SetLinearLUT(uint32_t entries, uint16_t bytesPerEntry, void* table, uint32_t maxValue);
    virtual int32_t DoSmhInput(ECDB* block);
    virtual int32_t DoSmhOutput(ECDB* block);
    virtual int32_t DoDither(ECDB* block);
    virtual int32_t DoImage(ECDB* block);
    virtual int32_t DoCallback(ECDB* block);
    virtual int32_t DoErrString(ECDB* block);
    virtual int32_t DoInternalLUT(ECDB* block);
    virtual int32_t DoOpticalRes(ECDB* block);
    virtual int32_t DoTestReady(ECDB* block);
    virtual int32_t ScanQualitySetting(ECDB* block);
    virtual int32_t DoExpMode(ECDB* block);
    virtual int32_t DoGetScanImageInfo(ECDB* block);
    virtual int32_t DoButtonStatus(ECDB* block);
    virtual int32_t DoTMABacktracking(ECDB* block);
    virtual int32_t DoScannerInfo2(ECDB* block);
    virtual int32_t DoAutoLamp(ECDB* block);
    virtual int32_t DoNewLampControl(ECDB* block);
    virtual int32_t Prepare2Ah(uint8_t* buffer, uint32_t length);
    virtual int32_t DoSmartCalibration(ECDB* block);
    virtual int32_t DoUltraSound(ECDB* block);
    virtual int32_t DoPaperType(ECDB* block);
    virtual int32_t DoAutoCrop(ECDB* block);
    virtual int32_t DoPreviewScanMode(ECDB* block);
    virtual int32_t DoInterPolation(ECDB* block);
    virtual int32_t DoHWJpeg(ECDB* block);
    virtual int32_t DoHWCropDeskew(ECDB* block);
    virtual int32_t DoScannerLastError(ECDB* block);

    // Capability queries over the capability record of a source.
    uint16_t getDepthCap(uint16_t source) const;
    uint32_t getOpticalResolutionCap(uint16_t source) const;
    SEFrameCap getMaxScanFrameCap(uint16_t source) const;
    SEPageLengthCap getPageLengthCap(uint16_t source) const;
    uint32_t getImageTypeCap(uint16_t source) const;
    uint32_t getGammaCap(uint16_t source) const;
    uint16_t getHWJpegCap() const;
    uint16_t getHWCropDeskewCap() const;
    uint16_t isScannerSupportSmartCalibration(uint16_t source) const;
    SEScannerInfo getScannerInformationCap() const;

    // Read access for the root object and tests.
    bool initialised() const { return initialised_ != 0; }
    const stScannerInit& initRecord() const { return init_; }
    CKzdScanner* driverObject() { return scanner_.get(); }
    uint16_t availableSources() const { return availableSources_; }
    uint16_t currentSource() const { return currentSource_; }
    SEFrame frame() const { return frame_; }
    uint16_t depth() const { return depth_; }
    uint32_t resolution() const { return resolution_; }
    uint32_t imageType() const { return imageType_; }
    uint16_t scanQuality() const { return scanQuality_; }
    int32_t lastStatus() const { return lastStatus_; }
    uint16_t gammaEntryCode() const { return gammaEntryCode_; }
    bool hasGammaBuffer() const { return !gammaBuffer_.empty(); }
    uint32_t pageLength() const { return pageLength_; }
    uint32_t exposureRatio() const { return exposureRatio_; }

private:
    void InitVariable();
    // The caller lists one capability query fills; released after the queries.
    struct CapabilityLists {
        std::vector<int32_t> values[3];
        std::vector<uint16_t> resolutions;
        std::vector<uint16_t> halftones;
    };
    DrvResult queryCapability(stScannerCapab& record, uint16_t source, CapabilityLists& lists);
    const stScannerCapab* capabilityFor(uint16_t source) const;
    // The scan attributes of the current settings, completed as a start completes them; the
    // driver object's status, or DRV_SUCCESS.
    DrvResult buildAttributes(stScannerAttri& attri);
    // Refusals that hold before anything starts, in the host's codes: no source resolution or a
    // resolution outside the reported range (SE_ERR_RANGE), an unsupported pair of image type and
    // depth (SE_ERR_IMAGE_TYPE); SE_OK otherwise.
    int16_t checkScanSettings() const;
    int32_t readLines(ECDB* block, uint16_t function, bool jpeg, bool back);
    // The channel value of a plane (the master for planes 4, 2 and 1), or -108 for another plane.
    int32_t toneChannelValue(uint32_t plane, const uint32_t* values, uint32_t master, uint32_t* out) const;
    // Verbs 4 and 5 of the tone codes: `value` as a table index or a value, its counterpart written.
    int32_t convertIndex(ECDB* block, const ERangeEntry* table) const;
    // Forgets the tone tables once a start has handed them over.
    void releaseGammaBuffer(stScannerAttri& a);
    // DRV_SUCCESS when the tone tables hold every byte the start of `a` reads, else
    // DRV_NOT_SUPPORTED.
    DrvResult checkGammaBuffer(const stScannerAttri& a) const;
    // Keeps a driver object's status as the last status and answers it to the host.
    int32_t keepStatus(DrvResult status);

    std::unique_ptr<CKzdScanner> scanner_;
    CInterface* interface_;

    stScannerInit init_{};
    stScannerCapab reflectiveCap_{};
    stScannerCapab transparencyCap_{};
    stScannerCapab otherCap_{};
    bool haveReflective_ = false;
    bool haveTransparency_ = false;
    bool haveOther_ = false;
    DEVICESN serial_{};
    stScannerExtParams extParams_{};
    stScannerAttri frontAttri_{};
    stScannerAttri backAttri_{};
    HWCropDeskewBlock hwCrop_{};

    uint16_t initialised_ = 0;
    uint16_t availableSources_ = 0;
    uint16_t currentSource_ = 0;
    SEFrame frame_{};
    uint32_t pageLength_ = 0;
    uint16_t depth_ = 0;
    uint16_t ultraSound_ = 0;
    uint16_t calibrationReuse_ = 0;
    uint16_t scanQuality_ = 0;
    uint32_t resolution_ = 0;
    uint32_t imageType_ = 0;
    uint16_t imageTypeSecond_ = 0;
    uint16_t gammaSet_ = 0;
    std::vector<uint8_t> gammaBuffer_;
    uint16_t autoCrop_ = 0;
    uint16_t preview_ = 0;
    uint16_t hwJpeg_ = 0;
    uint16_t hwCropSwitch_ = 0;
    int32_t lastStatus_ = 0;
    uint32_t exposureRatio_ = 100;
    // True from a read that ended the image until the next start or stop: later reads answer the
    // end again without asking the device.
    bool imageEnded_ = false;

    uint32_t exposure_[3] = {};
    uint32_t exposureMaster_ = 0;
    uint32_t contrast_[3] = {};
    uint32_t contrastMaster_ = 0;
    uint32_t offset_[3] = {};
    uint32_t offsetMaster_ = 0;
    uint32_t brightness_[3] = {};
    uint32_t brightnessMaster_ = 0;
    uint16_t ditherIndex_ = 0;
    uint16_t internalLut_ = 0;
    uint16_t exposureMode_ = 0;
    stEXPOSURETIME exposureRecord_{};

    ERangeEntry* contrastRange_;
    short ditherCount_;
    EDITHER* dithers_;
    ERangeEntry* exposureRange_;
    ERangeEntry* offsetRange_;
    int brightnessDefault_;
    int contrastDefault_;
    short ditherDefault_;
    int exposureDefault_;
    int offsetDefault_;
    stEXPOSURETIME* exposureDefaultRecord_;
    short exposureModeDefault_;
    uint16_t gammaEntryCode_ = 1;
};

// Bytes per line by image type and depth code (the classic rule; the host is told the driver
// object's geometry instead).
uint32_t calculateRowBytes(uint32_t width, uint32_t type, uint16_t depth);
