// Request records of the driver object. Every record begins with the same header; result and
// argument fields follow it. The records are internal C++ structs with natural alignment: none of
// them crosses the plug-in boundary. The records the exported functions take keep their field
// order; the fields the driver never reads carry neutral names.
#pragma once

#include "driver_result.h"
#include "ext_frame.h"

#include <cstddef>
#include <cstdint>

struct stKzdHeader {
    uint16_t wFunctionCode; // the operation's entry code; callers also set it for direct calls
    int32_t FUNC_STATUS;    // written by every operation: the code of its DrvResult
    uint32_t dwReserved;    // not used by the driver object

    DrvResult status() const { return DrvResult{FUNC_STATUS}; }
    void set_status(DrvResult result) { FUNC_STATUS = result.code(); }
};

// Entry codes of the operations that KzdEntry can reach.
enum : uint16_t {
    KZD_INITIALIZE_SCANNER = 0,
    KZD_SCANNER_CAPABILITY = 1,
    KZD_DEFAULT_ATTRIBUTE = 2,
    KZD_START_SCAN = 3,
    KZD_GET_IMAGE = 4,
    KZD_ABORT_SCAN = 5,
    KZD_MULTI_LENS = 6,
    KZD_GET_LAMP_STATUS = 8,
    KZD_SET_LAMP_STATUS = 9,
    KZD_GET_SUPPORTED_BUTTONS = 18,
    KZD_GET_SAMPLE_LINES = 20,
    KZD_SET_SAMPLE_LINES = 21,
    KZD_GET_MULTI_LAMP_STATUS = 22,
    KZD_SET_MULTI_LAMP_STATUS = 23,
    KZD_GET_DRIVER_VERSION = 33,
    KZD_GET_ALL_FIRMWARE_FULL_VERSION = 137,
};

// Codes the command handler writes into the records of operations it calls directly; KzdEntry
// does not route them.
enum : uint16_t {
    KZD_GET_CIS_IMAGE = 19,
    KZD_RETURN_CIS_INFO = 34,
    KZD_SET_SCAN_MODE = 35,
    KZD_GET_EXT_PARAMS = 103,
    KZD_DEVICE_SERIES_NUMBER = 111,
    KZD_GET_JPEG_IMAGE_A = 128,
    KZD_GET_JPEG_IMAGE_B = 129,
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
    uint8_t cReserved[16]; // copied with the record, never read
};

// Frame of the host in thousandths of an inch; right and bottom inclusive.
struct stFrame16 {
    uint16_t left;
    uint16_t top;
    uint16_t right;
    uint16_t bottom;
};

// The scan attributes of a scan: defaults from vDefaultAttribute, read by the scan start, results
// written by vScannerStartScan and vScannerReturnCISInfo.
struct stScannerAttri {
    stKzdHeader header;
    uint16_t LineWidth;         // out: low 16 bits of dwLineWidth
    uint16_t LineHeight;        // out: low 16 bits of dwLineHeight
    int32_t nChannelValuesA[3]; // one value per channel each; not read by the driver object
    int32_t nChannelValuesB[3];
    int32_t Exposure[3];  // per channel, in the channel order of the gamma table
    uint16_t ColorPlanes; // 14 colour, 1 grey, 2/4/8 or 0x100/0x200/0x400 one channel
    uint16_t ScanSource;  // 0x02 feeder, 0x04 transparency, 0x08 feeder both sides, none flatbed
    uint16_t BitsPerPixel;
    uint16_t HalftoneType;            // 1 line art, bit 1 built-in pattern, bit 2 the caller's pattern
    uint16_t HalftonePattern;         // built-in pattern 0-11
    uint16_t UserPatternSize;         // side of the caller's square pattern, at most 16
    uint8_t* UserPattern;             // side x side thresholds, row by row
    uint16_t Resolution;              // dpi
    stFrame16 Frame;                  // thousandths of an inch
    uint16_t wUnusedA;                // not read
    void* pUnusedA;                   // not read
    uint16_t wUnusedB[3];             // not read; defaults 8, 1, 2
    uint16_t ImageEnhanced;           // 0x08 threshold map from the gamma table, 0x80 draft, 0x100 high
    void* pUnusedB;                   // not read
    uint16_t NumofGammaEntry;         // 128: 65536 entries per channel, anything else 256
    const uint8_t* GammaTable;        // channels one after the other; null for none
    uint16_t wResolutionCopy[2];      // not read (the dispatcher puts the resolution in both)
    uint16_t Threshold;               // logged only
    uint8_t TransparentType;          // logged only
    uint8_t byForceCalibration;       // bit 1: a stored calibration may be reused
    uint8_t cExtMember;               // out: 1 when the 32-bit results are valid
    uint32_t dwLineWidth;             // out: output line width in pixels
    uint32_t dwLineHeight;            // out: lines the scan delivers
    stExtFrame ExtFrame;              // thousandths of an inch; all four 0: use Frame
    uint16_t ShrinkableExposureRatio; // percent; 0 means 100
};

// Callers of the exported function set build this record as laid out: its size and the place of
// every field they fill or read are fixed. GammaTable holds what NumofGammaEntry implies.
#define KZD_RECORD_AT(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "." #field)
static_assert(sizeof(stScannerAttri) == 168);
KZD_RECORD_AT(stScannerAttri, LineWidth, 12);
KZD_RECORD_AT(stScannerAttri, LineHeight, 14);
KZD_RECORD_AT(stScannerAttri, nChannelValuesA, 16);
KZD_RECORD_AT(stScannerAttri, nChannelValuesB, 28);
KZD_RECORD_AT(stScannerAttri, Exposure, 40);
KZD_RECORD_AT(stScannerAttri, ColorPlanes, 52);
KZD_RECORD_AT(stScannerAttri, ScanSource, 54);
KZD_RECORD_AT(stScannerAttri, BitsPerPixel, 56);
KZD_RECORD_AT(stScannerAttri, HalftoneType, 58);
KZD_RECORD_AT(stScannerAttri, HalftonePattern, 60);
KZD_RECORD_AT(stScannerAttri, UserPatternSize, 62);
KZD_RECORD_AT(stScannerAttri, UserPattern, 64);
KZD_RECORD_AT(stScannerAttri, Resolution, 72);
KZD_RECORD_AT(stScannerAttri, Frame, 74);
KZD_RECORD_AT(stScannerAttri, wUnusedA, 82);
KZD_RECORD_AT(stScannerAttri, pUnusedA, 88);
KZD_RECORD_AT(stScannerAttri, wUnusedB, 96);
KZD_RECORD_AT(stScannerAttri, ImageEnhanced, 102);
KZD_RECORD_AT(stScannerAttri, pUnusedB, 104);
KZD_RECORD_AT(stScannerAttri, NumofGammaEntry, 112);
KZD_RECORD_AT(stScannerAttri, GammaTable, 120);
KZD_RECORD_AT(stScannerAttri, wResolutionCopy, 128);
KZD_RECORD_AT(stScannerAttri, Threshold, 132);
KZD_RECORD_AT(stScannerAttri, TransparentType, 134);
KZD_RECORD_AT(stScannerAttri, byForceCalibration, 135);
KZD_RECORD_AT(stScannerAttri, cExtMember, 136);
KZD_RECORD_AT(stScannerAttri, dwLineWidth, 140);
KZD_RECORD_AT(stScannerAttri, dwLineHeight, 144);
KZD_RECORD_AT(stScannerAttri, ExtFrame, 148);
KZD_RECORD_AT(stScannerAttri, ShrinkableExposureRatio, 164);
#undef KZD_RECORD_AT

// Filled by vInitializeScanner.
struct stScannerInit {
    stKzdHeader header;
    uint16_t ScannerModel;      // in: logged; out: media flags
    uint16_t FirmwareVersion;   // high byte major, low byte minor
    uint16_t wOne;              // always 1
    uint16_t wValueListSize[3]; // sizes of the three value lists of stScannerCapab
    uint16_t wResolutionListSize;
    uint16_t wHalftoneListSize;
};

// The firmware version as the host is told it, major x 100 + minor: 0x0105 gives 105.
constexpr uint16_t firmware_version_x100(uint16_t version)
{
    return static_cast<uint16_t>((version >> 8) * 100 + (version & 0xFF));
}

// Media flags of stScannerInit::ScannerModel.
enum : uint16_t {
    MEDIA_FLAG_FLATBED = 0x01,
    MEDIA_FLAG_FEEDER_BOTH_SIDES = 0x10,
    MEDIA_FLAG_TRANSPARENCY = 0x20,
    MEDIA_FLAG_FEEDER = 0x40,
};

struct stScanPositionOffset {
    uint32_t nResolution;
    int32_t nOffsetX;
    int32_t nOffsetY;
};

struct stExposureRange {
    uint16_t nMax;
    uint16_t nMin;
};

// Filled by vScannerCapability. The list pointers are the caller's; null lists are skipped.
struct stScannerCapab {
    stKzdHeader header;
    uint16_t UnitForLength;
    uint16_t UnitForResolution;
    int32_t* pValueList[3];    // 256 values each
    uint16_t* pResolutionList; // 150 values
    uint16_t MaxResolution;
    uint16_t ColorPlanes;
    uint16_t ScanSource; // in: 0x10 feeder, 0x08 transparency, else flatbed; out: the sources
    uint16_t BitsPerPixel;
    uint16_t wPatternKinds;  // always 7
    uint16_t* pHalftoneList; // 12 pattern descriptors
    uint16_t wLimitsA[3];    // 8, 0, 1000
    uint16_t MaxScanLength;  // thousandths of an inch
    uint16_t MaxScanWidth;
    uint16_t wLimitsB[3]; // 8, 0, 2
    uint16_t ImageEnhanced;
    uint16_t NumofGammaEntry;
    uint16_t XTrueResolution;
    uint16_t YTrueResolution;
    uint16_t wUnusedA[2]; // 0 and 1
    uint16_t MiscCaps;
    uint8_t cExtMember;
    uint32_t dwMaxScanLength;
    uint32_t dwMaxScanWidth;
    uint16_t FWIRSensorVersion;
    uint16_t FWUltraSoundVersion;
    uint8_t cSupportColorConsistency;
    uint8_t bGetImageFunctionType;
    uint8_t FWMultilight;
    uint8_t cIsSupportScanPositionOffsetInfo;
    stScanPositionOffset stScanPositionOffsetInfo;
    uint8_t cIsSupportShrinkableExposureRatio;
    stExposureRange stShrinkableExposureRange;
    uint8_t cIsSupportBQMScanMode;
};

struct stScannerExtParams {
    stKzdHeader header;
    uint16_t ScanSource; // in, logged
    uint16_t bIsSupportForceCalibration;
    uint16_t bIsSupportMoveMotorByAP;
    uint8_t bIsScannerHasDoCalibration;
    uint8_t bIsSupportEjectPaperAfterScan;
    uint8_t bIsEjectPaperAfterScan;
    uint8_t bIsFWSupportAutoCropScan;
    uint8_t bIsSupportUltrasonic;
    uint16_t wAutoCropExtLength;
    uint8_t cIsNotSupportBW;
    uint8_t cIsDIADFSimScanThreadNotActivedByAP;
    uint8_t cIsSupportAutoSensorScan;
    uint8_t cIsSupportCalibrationAll;
    uint8_t cIsCaliDataFromFlash;
    uint8_t cIsSupportFlashRW;
    uint8_t cIsSupportGoToFlatbedHome;
    uint8_t cIsSupportA3EnvelopeScanningMode;
    uint32_t dwSupportPaperTypes;
    uint32_t dwUltraSonicSupportPaperTypes;
    uint8_t cIsSupportDisableAutoPaperEject;
    uint8_t cIsSupportLampSelection;
    uint32_t dwScannerChipType;
    uint8_t cIsSupportPowerSetting;
    uint8_t cUnused;
    uint8_t cIsSupportHallSensor;
    uint8_t cIsSupportGetAllFirmwareFullVersion;
};

struct DRIVER_VERSION {
    stKzdHeader header;
    uint16_t wVersion;
};

constexpr unsigned FULL_VERSION_TEXT_SIZE = 32;

struct stFirmwareFullVersionNumber {
    stKzdHeader header;
    uint8_t cIsSupportFWFullVersionNumber;
    char szFWFullVersionNumber[FULL_VERSION_TEXT_SIZE];
    uint8_t cIsSupportFPGAFullVersionNumber;
    char szFPGAFullVersionNumber[FULL_VERSION_TEXT_SIZE];
    uint8_t cIsSupportMCUFullVersionNumber;
    char szMCUFullVersionNumber[FULL_VERSION_TEXT_SIZE];
};

constexpr unsigned DEVICE_SERIAL_SIZE = 26;
constexpr unsigned DEVICE_NAME_SIZE = 48;

struct DEVICESN {
    stKzdHeader header;
    char szSerialNumber[DEVICE_SERIAL_SIZE];
    uint16_t wModelCode;
    uint16_t wSubModelCode;
};

struct DEVICENAME {
    stKzdHeader header;
    char szModelName[DEVICE_NAME_SIZE];
};

struct stCounterInfo {
    stKzdHeader header;
    uint16_t wMonth;
    uint16_t wDay;
    uint16_t wYear;
    uint32_t dwCounter[6];
};

struct stPowerSetting {
    stKzdHeader header;
    uint16_t wPowerSavingTime;
    uint16_t wMaxPowerSavingTime;
    uint16_t wPowerOffTime;
    uint16_t wMaxPowerOffTime;
};

struct GET_SUPPORTED_BUTTONS {
    stKzdHeader header;
    uint32_t dwButtonMask;
};

// 140 bytes: the infrared enable at the first result byte, the hall enable eight bytes later and
// its level right behind; the rest is kept with the copy but not read.
struct stPaperSensorParams {
    stKzdHeader header;
    uint8_t cIRSensorEnable;
    uint8_t cReservedA[7];
    uint8_t cHallSensorEnable;
    uint8_t cHallSensorLevel;
    uint8_t cReservedB[118];
};
static_assert(sizeof(stPaperSensorParams) == 140);

struct stPaperSensorStatus {
    stKzdHeader header;
    uint8_t cIRSensorStatus;
    uint8_t cReservedA[7];
    uint8_t cHallSensorStatus;
};

// Flash areas of stFlashRWParams::wArea.
enum : uint16_t {
    FLASH_AREA_USER_SETTING = 0,
    FLASH_AREA_COMPUTER_NAME = 3,
    FLASH_AREA_PARTITION_FLAG = 0x1000,
};

struct stFlashRWParams {
    stKzdHeader header;
    char szComputerName[32];
    uint16_t wArea;
    const uint8_t* pWriteData;
    uint8_t* pReadData;
    uint32_t dwWriteLength;
    uint32_t* pReadLength; // in: the read buffer's capacity; out: the bytes read
    uint32_t* pPartitionFlag;
};

struct DUPLEX_GETIMG_METHOD {
    stKzdHeader header;
    uint32_t nDuplexGetImgMethod;
};

// The lines the host pulls: the buffer must hold ScanLineNo rows of the output row bytes.
struct stGetImage {
    stKzdHeader header;
    uint8_t* pBuffer;      // caller-owned
    uint32_t ScanLineNo;   // lines wanted
    uint32_t dwLinesDone;  // lines delivered
    uint32_t dwLinesLeft;  // lines still to come
    uint16_t wZero;        // set to 0
    uint32_t dwEndOfImage; // 1 when the image is complete
};

// Compressed-image transfer, not supported: only the header is written.
struct stGetJpegImage {
    stKzdHeader header;
    uint8_t* pBuffer;
    uint32_t nMaxLength; // logged
};

struct IMAGE_SAMPLE_LINES {
    stKzdHeader header;
    uint16_t SampleLines;
    uint16_t MaxSampleLines;
};

// Records of operations that only answer a status: the header is all they hold.
struct stAbort {
    stKzdHeader header;
};
struct stSetLens {
    stKzdHeader header;
};
struct stLampStatus {
    stKzdHeader header;
};
struct stCompParam {
    stKzdHeader header;
};
struct st35TACalibrate {
    stKzdHeader header;
};
struct stCalibrateALLParams {
    stKzdHeader header;
};
struct stMotorControlByAP {
    stKzdHeader header;
};
