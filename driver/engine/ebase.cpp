#include "ebase.h"

#include "cali_file.h"
#include "driver_result.h"
#include "frame_convert.h"
#include "driver_utils.h"
#include "ebase_internal.h"
#include "scan_start.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <span>

namespace {

// Handlers answer the host's codes (SE_OK, SE_NOT_SUPPORTED, SE_ERR_RANGE, SE_END_OF_IMAGE) or
// pass a driver code through; Entry translates the latter.

// The one mapping of driver codes to the host's at the plug-in boundary. Driver codes not listed
// pass as their low 16 bits (SE_ERR_STAGE and the other codes the two vocabularies share).
struct CodeMapping {
    DrvResult driver;
    int16_t host;
};
constexpr CodeMapping kDriverToHost[] = {
    {DRV_DEVICE_STATUS_FAILURE, SE_ERR_DEVICE_STATUS},
    {DRV_UNASSIGNED_2000, SE_ERR_DRIVER_2000},
    {DRV_NO_MEMORY, SE_ERR_NO_MEMORY},
    {DRV_OTHER_TRANSFER_FAILURE, SE_ERR_TRANSFER},
    {DRV_NO_MORE_LINES, SE_ERR_NO_MORE_LINES},
    {DRV_DEVICE_BUSY, SE_ERR_BUSY},
    {DRV_BUSY, SE_ERR_BUSY},
    {DRV_TRANSFER_FAILURE, SE_ERR_TRANSFER},
    {DRV_DEVICE_GONE, SE_ERR_NO_DEVICE},
    {DRV_UNASSIGNED_704, SE_ERR_DRIVER_704},
    {DRV_UNASSIGNED_3, SE_ERR_DRIVER_3},
};

} // namespace

using namespace ebase_internal;

uint32_t calculateRowBytes(uint32_t width, uint32_t type, uint16_t depth)
{
    if (type == SE_IMAGE_COLOR) return depth > SE_DEPTH_8_BITS ? width * 6 : depth == SE_DEPTH_8_BITS ? width * 3 : 0;
    if (type == SE_IMAGE_GRAY) {
        if (depth > SE_DEPTH_8_BITS) return width * 2;
        if (depth == SE_DEPTH_8_BITS) return width;
    }
    if (type & (SE_IMAGE_LINE_ART | SE_IMAGE_HALFTONE)) return (width + 7) / 8;
    return 0;
}

EBase::EBase(ERangeEntry* contrast, short ditherCount, EDITHER* dithers, ERangeEntry* exposure, ERangeEntry* offset,
             short /*deviceIndex*/, int brightness, int contrastDefault, short ditherDefault, int exposureDefault,
             int offsetDefault, stEXPOSURETIME* exposureRecord, short exposureMode, CInterface* iface)
    : interface_(iface)
    , contrastRange_(contrast)
    , ditherCount_(ditherCount)
    , dithers_(dithers)
    , exposureRange_(exposure)
    , offsetRange_(offset)
    , brightnessDefault_(brightness)
    , contrastDefault_(contrastDefault)
    , ditherDefault_(ditherDefault)
    , exposureDefault_(exposureDefault)
    , offsetDefault_(offsetDefault)
    , exposureDefaultRecord_(exposureRecord)
    , exposureModeDefault_(exposureMode)
{
    brightnessMaster_ = static_cast<uint32_t>(brightness);
    contrastMaster_ = static_cast<uint32_t>(contrastDefault);
    exposureMaster_ = static_cast<uint32_t>(exposureDefault);
    offsetMaster_ = static_cast<uint32_t>(offsetDefault);
    for (int i = 0; i < 3; ++i) {
        brightness_[i] = brightnessMaster_;
        contrast_[i] = contrastMaster_;
        exposure_[i] = exposureMaster_;
        offset_[i] = offsetMaster_;
    }
    ditherIndex_ = static_cast<uint16_t>(ditherDefault);
    if (exposureRecord != nullptr) exposureRecord_ = *exposureRecord;
    exposureMode_ = static_cast<uint16_t>(exposureMode);
    gammaEntryCode_ = 1;

    scanner_ = std::make_unique<CKzdScanner>(iface);
    InitVariable();
}

EBase::~EBase() = default;

DrvResult EBase::queryCapability(stScannerCapab& record, uint16_t source, CapabilityLists& lists)
{
    record = stScannerCapab{};
    for (int i = 0; i < 3; ++i) record.pValueList[i] = lists.values[i].data();
    record.pResolutionList = lists.resolutions.data();
    record.pHalftoneList = lists.halftones.data();
    record.header.wFunctionCode = KZD_SCANNER_CAPABILITY;
    record.ScanSource = source;
    record.ImageEnhanced |= 0x8000;
    scanner_->vScannerCapability(&record);
    // The lists live only for the queries: the kept record must not point at them.
    for (auto& p : record.pValueList) p = nullptr;
    record.pResolutionList = nullptr;
    record.pHalftoneList = nullptr;
    return record.header.status();
}

void EBase::InitVariable()
{
    init_ = stScannerInit{};
    init_.header.wFunctionCode = KZD_INITIALIZE_SCANNER;
    scanner_->vInitializeScanner(&init_);
    initialised_ = init_.header.status().ok() ? 1 : 0;
    const uint16_t flags = initialised_ ? init_.ScannerModel : 0;

    bool ok = initialised_ != 0;
    if (ok) {
        // One set of lists serves every query, sized for what the device reports and at least for
        // what the driver object writes.
        CapabilityLists lists;
        for (int i = 0; i < 3; ++i) lists.values[i].assign(std::max<size_t>(init_.wValueListSize[i], 256), 0);
        lists.resolutions.assign(std::max<size_t>(init_.wResolutionListSize, 150), 0);
        lists.halftones.assign(std::max<size_t>(init_.wHalftoneListSize, 16), 0);
        if (ok && (flags & kFlagReflective)) {
            ok = queryCapability(reflectiveCap_, kCapabilityFlatbed, lists).ok();
            haveReflective_ = ok;
        }
        if (ok && (flags & kFlagTransparency)) {
            ok = queryCapability(transparencyCap_, kCapabilityTransparency, lists).ok();
            haveTransparency_ = ok;
        }
        if (ok && (flags & (kFlagOther | kFlagOtherBoth))) {
            ok = queryCapability(otherCap_, kCapabilityFlatbed, lists).ok();
            haveOther_ = ok;
        }
    }
    if (ok) {
        serial_ = DEVICESN{};
        serial_.header.wFunctionCode = KZD_DEVICE_SERIES_NUMBER;
        scanner_->vDeviceSeriesNumber(&serial_);
        ok = serial_.header.status().ok();
    }
    if (ok) {
        extParams_ = stScannerExtParams{};
        extParams_.header.wFunctionCode = KZD_GET_EXT_PARAMS;
        scanner_->vGetExtParams(&extParams_);
    }

    availableSources_ = 0;
    if (flags & kFlagReflective) availableSources_ |= SE_SOURCE_REFLECTIVE;
    if (flags & kFlagTransparency) availableSources_ |= SE_SOURCE_POSITIVE_FILM | SE_SOURCE_NEGATIVE_FILM;
    if (flags & kFlagOther) availableSources_ |= SE_SOURCE_OTHER;
    if (flags & kFlagOtherBoth) availableSources_ |= SE_SOURCE_OTHER | kSourceOtherBack;

    currentSource_ = 0;
    if (flags & kFlagOther) currentSource_ = SE_SOURCE_OTHER;
    if (flags & kFlagOtherBoth) currentSource_ = SE_SOURCE_OTHER;
    if (flags & kFlagReflective) currentSource_ = SE_SOURCE_REFLECTIVE;
    if (flags & kFlagTransparency) currentSource_ = SE_SOURCE_NEGATIVE_FILM;

    ultraSound_ = 0;
    calibrationReuse_ = 0;
    scanQuality_ = 1;
    resolution_ = 75;
    imageType_ = SE_IMAGE_COLOR;
    imageTypeSecond_ = 0;
    gammaSet_ = 0;
    gammaBuffer_.clear();
    autoCrop_ = preview_ = hwJpeg_ = hwCropSwitch_ = 0;
    lastStatus_ = DRV_SUCCESS.code();

    for (uint16_t source : {SE_SOURCE_OTHER, SE_SOURCE_REFLECTIVE, SE_SOURCE_POSITIVE_FILM}) {
        if (!(availableSources_ & source)) continue;
        depth_ = SE_DEPTH_8_BITS;
        const SEFrameCap cap = getMaxScanFrameCap(source);
        frame_ = SEFrame{cap.left, cap.top, cap.right, cap.bottom};
        pageLength_ = getPageLengthCap(source).maximumLength;
    }
}

const stScannerCapab* EBase::capabilityFor(uint16_t source) const
{
    if (source & kSourcesOfOtherUnit) return haveOther_ ? &otherCap_ : nullptr;
    if (source & SE_SOURCE_REFLECTIVE) return haveReflective_ ? &reflectiveCap_ : nullptr;
    if (source & SE_SOURCE_POSITIVE_FILM) return haveTransparency_ ? &transparencyCap_ : nullptr;
    return nullptr;
}

uint16_t EBase::getDepthCap(uint16_t source) const
{
    const stScannerCapab* c = capabilityFor(source);
    return c ? static_cast<uint16_t>(c->BitsPerPixel & (SE_DEPTH_1_BIT | SE_DEPTH_8_BITS | SE_DEPTH_16_BITS)) : 0;
}

uint32_t EBase::getOpticalResolutionCap(uint16_t source) const
{
    const stScannerCapab* c = capabilityFor(source);
    return c ? c->MaxResolution : 0;
}

namespace {

void max_extent(const stScannerCapab& c, uint64_t& width, uint64_t& length)
{
    width = c.cExtMember ? c.dwMaxScanWidth : c.MaxScanWidth;
    length = c.cExtMember ? c.dwMaxScanLength : c.MaxScanLength;
}

} // namespace

SEFrameCap EBase::getMaxScanFrameCap(uint16_t source) const
{
    SEFrameCap out{};
    const stScannerCapab* c = capabilityFor(source);
    if (c == nullptr) return out;
    uint64_t w = 0, l = 0;
    max_extent(*c, w, l);
    // A source without extent has no frame; a large one is clamped rather than wrapped.
    if (w == 0 || l == 0) return out;
    const uint64_t r = c->MaxResolution;
    out.resolution = c->MaxResolution;
    out.right = clamp16((w - 1) * r / 1000);
    out.bottom = clamp16((l - 1) * r / 1000);
    return out;
}

SEPageLengthCap EBase::getPageLengthCap(uint16_t source) const
{
    SEPageLengthCap out{};
    const stScannerCapab* c = capabilityFor(source);
    if (c == nullptr) return out;
    uint64_t w = 0, l = 0;
    max_extent(*c, w, l);
    out.resolution = c->MaxResolution;
    out.tripleResolution = c->MaxResolution * 3u;
    out.maximumLength = static_cast<uint32_t>(l);
    return out;
}

uint32_t EBase::getImageTypeCap(uint16_t) const
{
    return kImageTypesOffered;
}

uint32_t EBase::getGammaCap(uint16_t source) const
{
    const stScannerCapab* c = capabilityFor(source);
    if (c == nullptr) return 0;
    return (c->NumofGammaEntry & 0x80) ? 0x80BC : 0x3C;
}

uint16_t EBase::getHWJpegCap() const
{
    // The extended parameters carry no hardware-processing word here: the driver object leaves it 0.
    return 0;
}

uint16_t EBase::getHWCropDeskewCap() const
{
    return 0;
}

uint16_t EBase::isScannerSupportSmartCalibration(uint16_t source) const
{
    const stScannerCapab* c = capabilityFor(source);
    return c != nullptr && (c->MiscCaps & kMiscSmartCalibration) ? 1 : 0;
}

SEScannerInfo EBase::getScannerInformationCap() const
{
    SEScannerInfo out{};
    out.firmware = firmware_version_x100(init_.FirmwareVersion);
    out.second = 2;
    out.third = 0;
    out.subModel = static_cast<uint8_t>(serial_.wSubModelCode & 0xFF);
    return out;
}

int16_t EBase::TransferErrCodePC2Mac(int32_t code)
{
    const DrvResult result{code};
    if (result.refused()) return SE_ERR_DEVICE_REFUSED;
    for (const CodeMapping& m : kDriverToHost)
        if (m.driver == result) return m.host;
    // Other device refusals below the 16-bit range must stay errors, never wrap to success.
    if (code < INT16_MIN) return SE_ERR_DEVICE_REFUSED;
    return static_cast<int16_t>(static_cast<uint32_t>(code) & 0xFFFF);
}

const std::span<const EBase::CommandHandler> EBase::commandHandlers()
{
    // Every command code a device's handler answers, with its handler; any other code is not
    // supported. Sorted by code.
    static constexpr CommandHandler kHandlers[] = {
        {SE_CMD_START_SCAN, &EBase::StartScan},
        {SE_CMD_STOP_SCAN, &EBase::StopScan},
        {SE_CMD_READ_LINES, &EBase::ScanImage},
        {SE_CMD_START_SCAN_BACK, &EBase::StartScanBack},
        {SE_CMD_READ_LINES_BACK, &EBase::ScanImageBack},
        {SE_CMD_READ_JPEG, &EBase::ScanJpegImage},
        {SE_CMD_READ_JPEG_BACK, &EBase::ScanJpegImageBack},
        {SE_CMD_SCANNER_INFO, &EBase::DoScannerInfo},
        {SE_CMD_DEPTH, &EBase::DoDepth},
        {SE_CMD_SOURCE, &EBase::DoAttached},
        {SE_CMD_RESOLUTION, &EBase::DoResolution},
        {SE_CMD_PAGE_LENGTH, &EBase::DoPageLength},
        {SE_CMD_SCAN_FRAME, &EBase::DoScanFrame},
        {SE_CMD_CONTRAST, &EBase::DoContrast},
        {SE_CMD_THRESHOLD, &EBase::DoThreshold},
        {SE_CMD_EXPOSURE, &EBase::DoExposure},
        {SE_CMD_GAMMA, &EBase::DoGamma},
        {SE_CMD_SMH_INPUT, &EBase::DoSmhInput},
        {SE_CMD_SMH_OUTPUT, &EBase::DoSmhOutput},
        {SE_CMD_DITHER, &EBase::DoDither},
        {SE_CMD_IMAGE_TYPE, &EBase::DoImage},
        {SE_CMD_ERROR_STRING, &EBase::DoErrString},
        {SE_CMD_INTERNAL_LUT, &EBase::DoInternalLUT},
        {SE_CMD_OPTICAL_RESOLUTION, &EBase::DoOpticalRes},
        {SE_CMD_TEST_READY, &EBase::DoTestReady},
        {SE_CMD_SCAN_QUALITY, &EBase::ScanQualitySetting},
        {SE_CMD_EXPOSURE_MODE, &EBase::DoExpMode},
        {SE_CMD_PAPER_PRESENT, &EBase::DoAPD},
        {SE_CMD_IMAGE_INFO, &EBase::DoGetScanImageInfo},
        {SE_CMD_AUTO_LAMP, &EBase::DoAutoLamp},
        {SE_CMD_BUTTONS, &EBase::DoButtonStatus},
        {SE_CMD_INTERPOLATION, &EBase::DoInterPolation},
        {SE_CMD_LAMP_CONTROL, &EBase::DoNewLampControl},
        {SE_CMD_CALIBRATION, &EBase::DoSmartCalibration},
        {SE_CMD_ULTRASOUND, &EBase::DoUltraSound},
        {SE_CMD_AUTO_CROP, &EBase::DoAutoCrop},
        {SE_CMD_PREVIEW_MODE, &EBase::DoPreviewScanMode},
        {SE_CMD_PAPER_TYPE, &EBase::DoPaperType},
        {SE_CMD_HW_JPEG, &EBase::DoHWJpeg},
        {SE_CMD_HW_CROP_DESKEW, &EBase::DoHWCropDeskew},
        {SE_CMD_LAST_ERROR, &EBase::DoScannerLastError},
        {SE_CMD_EXPOSURE_RATIO, &EBase::DoShrinkableExposureRatio},
    };
    return kHandlers;
}

int16_t EBase::Entry(ECDB* block)
{
    int32_t r = SE_NOT_SUPPORTED;
    for (const CommandHandler& h : commandHandlers()) {
        if (h.code == block->code) {
            r = (this->*h.handler)(block);
            break;
        }
    }
    return TransferErrCodePC2Mac(r);
}
