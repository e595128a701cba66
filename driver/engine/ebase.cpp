#include "ebase.h"

#include "cali_file.h"
#include "driver_result.h"
#include "frame_convert.h"
#include "driver_utils.h"
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
    int32_t driver;
    int16_t host;
};
constexpr CodeMapping kDriverToHost[] = {
    {DRV_DEVICE_STATUS_1, SE_ERR_DEVICE_STATUS},
    {DRV_CODE_2000, SE_ERR_CODE_184},
    {DRV_NO_MEMORY, SE_ERR_NO_MEMORY},
    {DRV_CODE_1004, SE_ERR_TRANSFER},
    {DRV_NO_MORE_LINES, SE_ERR_NO_MORE_LINES},
    {DRV_DEVICE_BUSY, SE_ERR_BUSY},
    {DRV_BUSY, SE_ERR_BUSY},
    {DRV_TRANSFER_FAILURE, SE_ERR_TRANSFER},
    {DRV_CODE_704, SE_ERR_CODE_122},
    {DRV_CODE_3, SE_ERR_CODE_143},
};

// Source flags of the initialisation record's model word.
constexpr uint16_t kFlagReflective = 0x01;
constexpr uint16_t kFlagOtherBoth = 0x10;
constexpr uint16_t kFlagTransparency = 0x20;
constexpr uint16_t kFlagOther = 0x40;

// The host record of a block, or null.
template <typename T> T* record_of(const ECDB* block)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(block->record));
}

// Writes `value` into the host record; false (nothing written) without one.
template <typename T> bool put(const ECDB* block, const T& value)
{
    void* to = record_of<void>(block);
    if (to == nullptr) return false;
    std::memcpy(to, &value, sizeof value);
    return true;
}

// Reads the host record; false without one.
template <typename T> bool get(const ECDB* block, T& value)
{
    const void* from = record_of<const void>(block);
    if (from == nullptr) return false;
    std::memcpy(&value, from, sizeof value);
    return true;
}

uint32_t low32(uint64_t v)
{
    return static_cast<uint32_t>(v);
}

void mark_effective_code(const ECDB* block)
{
    if (block->effectiveCode != 0) {
        const uint16_t all = 0xFFFF;
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(block->effectiveCode)), &all, sizeof all);
    }
}

// The image types code 85 offers (1, 2, 4 and 64) and the resolutions code 67 reports.
constexpr uint32_t kImageTypesOffered = 71;
constexpr uint32_t kLowestResolution = 15;
constexpr uint32_t kHighestResolution = 9600;

uint16_t clamp16(uint64_t v)
{
    return static_cast<uint16_t>(std::min<uint64_t>(v, 0xFFFF));
}

// The (image type, depth code) pairs the driver object can deliver.
bool deliverable(uint32_t type, uint16_t depth)
{
    switch (type) {
    case 64:
    case 4: return depth == 128 || depth == 32768;
    case 1:
    case 2: return depth == 1;
    default: return false;
    }
}

// Device bit → host bit of the supported buttons and of the button state.
constexpr std::pair<uint32_t, uint16_t> kSupportedButtons[] = {
    {0x2, 0x4}, {0x4, 0x10}, {0x8, 0x8}, {0x80, 0x40}, {0x400, 0x200},
    {0x40, 0x20}, {0x20, 0x1}, {0x10, 0x2}, {0x100, 0x80}, {0x800, 0x400},
};
constexpr std::pair<uint32_t, uint16_t> kButtonState[] = {
    {0x20000, 0x4}, {0x4000, 0x10}, {0x8000, 0x8}, {0x10000, 0x1}, {0x2000, 0x2},
    {0x400000, 0x200}, {0x80000, 0x20}, {0x100000, 0x80}, {0x40000, 0x40}, {0x800000, 0x400},
};

template <size_t N> uint16_t map_bits(uint32_t word, const std::pair<uint32_t, uint16_t> (&table)[N])
{
    uint16_t out = 0;
    for (const auto& [from, to] : table)
        if (word & from) out |= to;
    return out;
}

} // namespace

uint32_t calculateRowBytes(uint32_t width, uint32_t type, uint16_t depth)
{
    if (type == 64) return depth > 128 ? width * 6 : depth == 128 ? width * 3 : 0;
    if (type == 4) {
        if (depth > 128) return width * 2;
        if (depth == 128) return width;
    }
    if (type & 3) return (width + 7) / 8;
    return 0;
}

EBase::EBase(_ERANGE* contrast, short ditherCount, EDITHER* dithers, _ERANGE* exposure, _ERANGE* offset,
             short /*deviceIndex*/, int brightness, int contrastDefault, short ditherDefault, int exposureDefault,
             int offsetDefault, stEXPOSURETIME* exposureRecord, short exposureMode, CInterface* iface)
    : interface_(iface), contrastRange_(contrast), ditherCount_(ditherCount), dithers_(dithers),
      exposureRange_(exposure), offsetRange_(offset), brightnessDefault_(brightness),
      contrastDefault_(contrastDefault), ditherDefault_(ditherDefault), exposureDefault_(exposureDefault),
      offsetDefault_(offsetDefault), exposureDefaultRecord_(exposureRecord), exposureModeDefault_(exposureMode)
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

int32_t EBase::queryCapability(stScannerCapab& record, uint16_t source, CapabilityLists& lists)
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
    return record.header.FUNC_STATUS;
}

void EBase::InitVariable()
{
    init_ = stScannerInit{};
    init_.header.wFunctionCode = KZD_INITIALIZE_SCANNER;
    scanner_->vInitializeScanner(&init_);
    initialised_ = init_.header.FUNC_STATUS == DRV_SUCCESS ? 1 : 0;
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
            ok = queryCapability(reflectiveCap_, 1, lists) == 1;
            haveReflective_ = ok;
        }
        if (ok && (flags & kFlagTransparency)) {
            ok = queryCapability(transparencyCap_, 8, lists) == 1;
            haveTransparency_ = ok;
        }
        if (ok && (flags & (kFlagOther | kFlagOtherBoth))) {
            ok = queryCapability(otherCap_, 1, lists) == 1;
            haveOther_ = ok;
        }
    }
    if (ok) {
        serial_ = DEVICESN{};
        serial_.header.wFunctionCode = 111;
        scanner_->vDeviceSeriesNumber(&serial_);
        ok = serial_.header.FUNC_STATUS == DRV_SUCCESS;
    }
    if (ok) {
        extParams_ = stScannerExtParams{};
        extParams_.header.wFunctionCode = 103;
        scanner_->vGetExtParams(&extParams_);
    }

    availableSources_ = 0;
    if (flags & kFlagReflective) availableSources_ |= 1;
    if (flags & kFlagTransparency) availableSources_ |= 0x104;
    if (flags & kFlagOther) availableSources_ |= 8;
    if (flags & kFlagOtherBoth) availableSources_ |= 0x18;

    currentSource_ = 0;
    if (flags & kFlagOther) currentSource_ = 8;
    if (flags & kFlagOtherBoth) currentSource_ = 8;
    if (flags & kFlagReflective) currentSource_ = 1;
    if (flags & kFlagTransparency) currentSource_ = 260;

    ultraSound_ = 0;
    calibrationReuse_ = 0;
    scanQuality_ = 1;
    resolution_ = 75;
    imageType_ = 64;
    imageTypeSecond_ = 0;
    gammaSet_ = 0;
    gammaBuffer_.clear();
    autoCrop_ = preview_ = hwJpeg_ = hwCropSwitch_ = 0;
    lastStatus_ = 1;

    for (uint16_t source : {uint16_t{8}, uint16_t{1}, uint16_t{4}}) {
        if (!(availableSources_ & source)) continue;
        depth_ = 128;
        const SEFrameCap cap = getMaxScanFrameCap(source);
        frame_ = SEFrame{cap.left, cap.top, cap.right, cap.bottom};
        pageLength_ = getPageLengthCap(source).maximumLength;
    }
}

const stScannerCapab* EBase::capabilityFor(uint16_t source) const
{
    if (source & 0x1A) return haveOther_ ? &otherCap_ : nullptr;
    if (source & 0x01) return haveReflective_ ? &reflectiveCap_ : nullptr;
    if (source & 0x04) return haveTransparency_ ? &transparencyCap_ : nullptr;
    return nullptr;
}

uint16_t EBase::getDepthCap(uint16_t source) const
{
    const stScannerCapab* c = capabilityFor(source);
    return c ? static_cast<uint16_t>(c->BitsPerPixel & 0x8081) : 0;
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
    return c != nullptr && (c->MiscCaps & 2) ? 1 : 0;
}

SEScannerInfo EBase::getScannerInformationCap() const
{
    SEScannerInfo out{};
    const uint16_t v = init_.FirmwareVersion;
    out.firmware = static_cast<uint16_t>((v >> 8) * 100 + (v & 0xFF));
    out.second = 2;
    out.third = 0;
    out.subModel = static_cast<uint8_t>(serial_.wSubModelCode & 0xFF);
    return out;
}

int16_t EBase::TransferErrCodePC2Mac(int32_t code)
{
    if (code <= DRV_SENSE_BASE) return SE_ERR_DEVICE_REFUSED;
    for (const CodeMapping& m : kDriverToHost)
        if (m.driver == code) return m.host;
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

// ---------------------------------------------------------------------------------------------
// Scan handlers

int32_t EBase::PrepareStartScan(stScannerAttri* a)
{
    if (imageType_ == 64) {
        for (int i = 0; i < 3; ++i) {
            a->nChannelValuesA[i] = static_cast<int32_t>(contrast_[i]);
            a->nChannelValuesB[i] = static_cast<int32_t>(offset_[i]);
            a->Exposure[i] = static_cast<int32_t>(exposure_[i]);
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            a->nChannelValuesA[i] = static_cast<int32_t>(contrastMaster_);
            a->nChannelValuesB[i] = static_cast<int32_t>(offsetMaster_);
            a->Exposure[i] = static_cast<int32_t>(exposureMaster_);
        }
    }
    switch (imageType_) {
    case 8: a->ColorPlanes = 8; break;
    case 16: a->ColorPlanes = 4; break;
    case 32: a->ColorPlanes = 2; break;
    case 64: a->ColorPlanes = 14; break;
    default: a->ColorPlanes = 1; break;
    }
    switch (currentSource_) {
    case 2:
    case 8: a->ScanSource = 2; break;
    case 4:
    case 260: a->ScanSource = 4; break;
    case 16: a->ScanSource = 8; break;
    default: a->ScanSource = 1; break;
    }
    a->TransparentType = 0;
    switch (depth_) {
    case 1: a->BitsPerPixel = 1; break;
    case 8: a->BitsPerPixel = 4; break;
    case 128: a->BitsPerPixel = 8; break;
    case 512: a->BitsPerPixel = 10; break;
    case 2048: a->BitsPerPixel = 12; break;
    case 8192:
    case 32768: a->BitsPerPixel = 16; break;
    default: break;
    }
    a->HalftoneType = 1;
    a->HalftonePattern = 5;
    a->UserPatternSize = 0;
    a->UserPattern = nullptr;
    a->Resolution = clamp16(resolution_);
    a->wResolutionCopy[0] = a->wResolutionCopy[1] = clamp16(resolution_);
    const uint32_t optical = getOpticalResolutionCap(currentSource_);
    const uint32_t l = PixeltoInchIn1000(frame_.left, optical), t = PixeltoInchIn1000(frame_.top, optical);
    const uint32_t r = PixeltoInchIn1000(frame_.right, optical), b = PixeltoInchIn1000(frame_.bottom, optical);
    a->Frame = stFrame16{clamp16(l), clamp16(t), clamp16(r), clamp16(b)};
    a->ExtFrame = stExtFrame{l, t, r, b};
    a->wUnusedA = 0;
    a->pUnusedA = nullptr;
    a->wUnusedB[0] = 8;
    a->wUnusedB[1] = 1;
    a->wUnusedB[2] = 2;
    if (scanQuality_ & 1)
        a->ImageEnhanced |= 0x80;
    else if (scanQuality_ & 8)
        a->ImageEnhanced &= static_cast<uint16_t>(~0x80);
    if (calibrationReuse_)
        a->byForceCalibration |= 2;
    else
        a->byForceCalibration &= static_cast<uint8_t>(~2);
    a->NumofGammaEntry = gammaEntryCode_;
    a->GammaTable = gammaBuffer_.empty() ? nullptr : gammaBuffer_.data();
    a->dwGammaTableBytes = static_cast<uint32_t>(gammaBuffer_.size());
    a->ShrinkableExposureRatio = clamp16(exposureRatio_);
    return 1;
}

int32_t EBase::checkScanSettings() const
{
    if (getOpticalResolutionCap(currentSource_) == 0) return SE_ERR_RANGE;
    if (resolution_ < kLowestResolution || resolution_ > kHighestResolution) return SE_ERR_RANGE;
    if (!deliverable(imageType_, depth_)) return -106;
    return 1;
}

int32_t EBase::buildAttributes(stScannerAttri& a)
{
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return a.header.FUNC_STATUS;
    return PrepareStartScan(&a);
}

int32_t EBase::DoGetScanImageInfo(ECDB* block)
{
    mark_effective_code(block);
    if (block->verb == 0) return SE_OK;
    if (block->verb != 1) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const int32_t check = checkScanSettings();
    if (check != 1) return check;
    // A scratch record completed exactly as the start completes its own, so that this answer and
    // the start's always agree.
    stScannerAttri scratch = frontAttri_;
    int32_t r = buildAttributes(scratch);
    if (r != 1) return r;
    scan_output_geometry_t g{};
    r = get_scan_output_geometry(scanner_->scanner(), &scratch, &g);
    if (r != 1) return r;
    put(block, SEImageInfo{g.width, g.lines, g.row_bytes});
    return SE_OK;
}

void EBase::releaseGammaBuffer(stScannerAttri& a)
{
    // The driver object has taken its copy of the tables.
    gammaBuffer_.clear();
    gammaBuffer_.shrink_to_fit();
    gammaSet_ = 0;
    a.GammaTable = nullptr;
    a.dwGammaTableBytes = 0;
}

int32_t EBase::StartScan(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    int32_t status = checkScanSettings();
    if (status != DRV_SUCCESS) return lastStatus_ = status;

    stScannerAttri& a = frontAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = a.header.FUNC_STATUS;

    stSetScannerScanMode mode{};
    mode.header.wFunctionCode = 35;
    mode.ScanMode = static_cast<uint8_t>((preview_ ? 1 : 2) | (autoCrop_ ? 4 : 0) | (hwJpeg_ ? 64 : 0));
    if (hwCropSwitch_) {
        // The crop block names the controller and enables the front side, and the back side for a
        // two-sided source. Nothing in this driver reads it; it lives as long as the handler does.
        hwCrop_ = HWCropDeskewBlock{};
        std::memcpy(hwCrop_.bytes, "GL3466", 6);
        hwCrop_.bytes[16] = 1;
        if (currentSource_ & 0x10) hwCrop_.bytes[17] = 1;
    }
    mode.cEnableUltraSound = ultraSound_ != 0 ? 1 : 0;
    mode.dwScanPaperType = 1;
    mode.cLightCount = 3;
    scanner_->vSetScannerScanMode(&mode);
    if (mode.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = mode.header.FUNC_STATUS;

    status = PrepareStartScan(&a);
    if (status != DRV_SUCCESS) return status;
    scan_output_geometry_t g{};
    const int32_t geometry = get_scan_output_geometry(scanner_->scanner(), &a, &g);

    imageEnded_ = false;
    a.header.wFunctionCode = KZD_START_SCAN;
    scanner_->vScannerStartScan(&a);
    status = a.header.FUNC_STATUS;
    releaseGammaBuffer(a);

    if (status == DRV_SUCCESS && geometry != DRV_SUCCESS) status = geometry;
    if (status >= 0 && status != DRV_SUCCESS) status = SE_ERR_STAGE;
    put(block, status == DRV_SUCCESS ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return lastStatus_ = status;
}

int32_t EBase::StartScanBack(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    stScannerAttri& a = backAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = a.header.FUNC_STATUS;
    int32_t status = PrepareStartScan(&a);
    if (status != DRV_SUCCESS) return status;
    a.header.wFunctionCode = 34;
    scanner_->vScannerReturnCISInfo(&a);
    status = a.header.FUNC_STATUS;
    releaseGammaBuffer(a);
    scan_output_geometry_t g{};
    if (status == DRV_SUCCESS) status = get_scan_output_geometry(scanner_->scanner(), &a, &g);
    if (status >= 0 && status != DRV_SUCCESS) status = SE_ERR_STAGE;
    put(block, status == DRV_SUCCESS ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return lastStatus_ = status;
}

int32_t EBase::readLines(ECDB* block, uint16_t function, bool jpeg, bool back)
{
    SELineTransfer t{};
    if (!get(block, t)) return SE_NOT_SUPPORTED;
    auto deliver = [&](uint32_t n) {
        t.delivered = n;
        put(block, t);
    };
    if (static_cast<int32_t>(t.wanted) <= 0) return SE_OK;
    if (t.buffer == 0) {
        deliver(0);
        return SE_ERR_RANGE;
    }
    if (!jpeg && !back && imageEnded_) {
        deliver(0);
        return SE_END_OF_IMAGE;
    }
    int32_t status;
    uint32_t delivered = 0;
    uint32_t left = 0;
    bool end = false;
    if (jpeg) {
        stGetJpegImage r{};
        r.header.wFunctionCode = function;
        r.pBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.buffer));
        r.nMaxLength = t.wanted;
        if (back)
            scanner_->vScannerGetJpegImageB(&r);
        else
            scanner_->vScannerGetJpegImageA(&r);
        status = r.header.FUNC_STATUS;
    } else {
        stGetImage r{};
        r.header.wFunctionCode = function;
        r.pBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.buffer));
        r.ScanLineNo = t.wanted;
        if (back)
            scanner_->vScannerGetCISImage(&r);
        else
            scanner_->vScannerGetImage(&r);
        status = r.header.FUNC_STATUS;
        delivered = r.dwLinesDone;
        left = r.dwLinesLeft;
        end = r.dwEndOfImage == 1;
    }
    deliver(delivered);
    if (status == DRV_NO_MORE_LINES && left == 0) return SE_OK;
    if (status == DRV_SUCCESS && end) {
        if (!back) imageEnded_ = true;
        return SE_END_OF_IMAGE;
    }
    return lastStatus_ = status;
}

int32_t EBase::ScanImage(ECDB* block)
{
    return readLines(block, KZD_GET_IMAGE, false, false);
}

int32_t EBase::ScanImageBack(ECDB* block)
{
    return readLines(block, 19, false, true);
}

int32_t EBase::ScanJpegImage(ECDB* block)
{
    return readLines(block, 128, true, false);
}

int32_t EBase::ScanJpegImageBack(ECDB* block)
{
    return readLines(block, 129, true, true);
}

int32_t EBase::StopScan(ECDB*)
{
    stAbort r{};
    r.header.wFunctionCode = KZD_ABORT_SCAN;
    scanner_->vScannerAbortScan(&r);
    imageEnded_ = false;
    return lastStatus_ = r.header.FUNC_STATUS;
}

// ---------------------------------------------------------------------------------------------
// Setting handlers

int32_t EBase::DoScannerInfo(ECDB* block)
{
    if (block->verb != 0) return SE_NOT_SUPPORTED;
    return put(block, getScannerInformationCap()) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoDepth(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, getDepthCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, depth_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{128}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        // Kept as it comes: whether the driver can deliver it with the image type is decided at
        // the scan start (-106).
        depth_ = static_cast<uint16_t>(block->value);
        return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAttached(ECDB* block)
{
    mark_effective_code(block);
    switch (block->verb) {
    case 0:
    case 2: return put(block, availableSources_) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: {
        const uint16_t both[2] = {availableSources_, availableSources_};
        return put(block, both) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 3: {
        const uint16_t v = static_cast<uint16_t>(block->value);
        currentSource_ = (v & 2) ? 8 : v;
        if (currentSource_ & availableSources_) return SE_OK;
        currentSource_ = 0;
        return SE_ERR_RANGE;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoResolution(ECDB* block)
{
    switch (block->verb) {
    case 0:
        return put(block, SERange{kLowestResolution, kHighestResolution, kHighestResolution - kLowestResolution + 1})
                   ? SE_OK
                   : SE_NOT_SUPPORTED;
    case 1: return put(block, resolution_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint32_t{75}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        // Kept as it comes; the scan start refuses one outside the reported range (-108).
        resolution_ = low32(block->value);
        return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPageLength(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, getPageLengthCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, pageLength_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, getPageLengthCap(currentSource_).maximumLength) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: pageLength_ = low32(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoScanFrame(ECDB* block)
{
    const SEFrameCap cap = getMaxScanFrameCap(currentSource_);
    switch (block->verb) {
    case 0: return put(block, cap) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, frame_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, SEFrame{cap.left, cap.top, cap.right, cap.bottom}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        SEFrame f{};
        if (!get(block, f)) return SE_NOT_SUPPORTED;
        if (f.top > cap.bottom) f.top = 0;
        if (f.left > cap.right) f.left = 0;
        f.bottom = std::min(f.bottom, cap.bottom);
        f.right = std::min(f.right, cap.right);
        frame_ = f;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::toneChannelValue(uint32_t plane, const uint32_t* values, uint32_t master, uint32_t* out) const
{
    int index = 0;
    if (PlaneToIndex(static_cast<int>(plane), &index) != 1) return SE_ERR_RANGE;
    *out = index == 3 ? master : values[index];
    return SE_OK;
}

int32_t EBase::convertIndex(ECDB* block, const _ERANGE* table) const
{
    const auto v = static_cast<int32_t>(low32(block->value));
    int32_t out = 0;
    const int r = block->verb == 4 ? Index2Value(v, &out, table) : Value2Index(v, &out, table);
    if (r != 1) return r;
    put(block, out);
    return SE_OK;
}

int32_t EBase::DoContrast(ECDB* block)
{
    const uint16_t verb = block->verb;
    if (verb == 0 || verb == 2 || verb > 5) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const uint32_t v = low32(block->value);
    if (verb == 1) {
        uint32_t out = 0;
        const int32_t r = toneChannelValue(v, contrast_, contrastMaster_, &out);
        if (r != SE_OK) return r;
        put(block, out);
        return SE_OK;
    }
    if (verb == 3) {
        int index = 0;
        if (PlaneToIndex(static_cast<int>(v), &index) != 1) return SE_ERR_RANGE;
        int32_t wanted = 0;
        get(block, wanted);
        int32_t conformed = 0;
        const int r = DoConverSetting(wanted, &conformed, contrastRange_);
        if (r != 1) return r;
        put(block, conformed);
        contrastMaster_ = static_cast<uint32_t>(conformed);
        if (index < 3) contrast_[index] = static_cast<uint32_t>(conformed);
        return SE_OK;
    }
    return convertIndex(block, contrastRange_);
}

int32_t EBase::DoThreshold(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoExposure(ECDB* block)
{
    const uint16_t verb = block->verb;
    if (verb > 5) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const uint32_t v = low32(block->value);
    if (verb == 0) {
        ERangeCap cap{};
        if (GetCapab(cap, exposureRange_) == 0) cap = ERangeCap{};
        put(block, SERange{cap.minimum, cap.maximum, cap.count});
        return SE_OK;
    }
    if (verb == 1 || verb == 2) {
        const uint32_t* channels = verb == 1 ? exposure_ : exposureRecord_.channel;
        const uint32_t master = verb == 1 ? exposureMaster_ : exposureRecord_.master;
        if (v == 56) {
            const uint32_t three[3] = {channels[0], channels[1], channels[2]};
            put(block, three);
            return SE_OK;
        }
        uint32_t out = 0;
        const int32_t r = toneChannelValue(v, channels, master, &out);
        if (r != SE_OK) return r;
        put(block, out);
        return SE_OK;
    }
    if (verb == 3) {
        if (v == 56) {
            int32_t wanted[3] = {};
            get(block, wanted);
            int32_t conformed[3] = {};
            for (int i = 0; i < 3; ++i) {
                const int r = DoConverSetting(wanted[i], &conformed[i], exposureRange_);
                if (r != 1) return r;
            }
            for (int i = 0; i < 3; ++i) exposure_[i] = static_cast<uint32_t>(conformed[i]);
            return SE_OK;
        }
        int index = 0;
        if (PlaneToIndex(static_cast<int>(v), &index) != 1) return SE_ERR_RANGE;
        int32_t wanted = 0;
        get(block, wanted);
        int32_t conformed = 0;
        const int r = DoConverSetting(wanted, &conformed, exposureRange_);
        if (r != 1) return r;
        if (index == 3)
            exposureMaster_ = static_cast<uint32_t>(conformed);
        else
            exposure_[index] = static_cast<uint32_t>(conformed);
        return SE_OK;
    }
    return convertIndex(block, exposureRange_);
}

int32_t EBase::SetLinearLUT(uint32_t entries, uint16_t bytesPerEntry, void* table, uint32_t maxValue)
{
    if (table == nullptr) return 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t value = static_cast<uint64_t>(i) * maxValue / entries;
        if (bytesPerEntry == 2)
            static_cast<uint16_t*>(table)[i] = static_cast<uint16_t>(value);
        else
            static_cast<uint8_t*>(table)[i] = static_cast<uint8_t>(value);
    }
    return 1;
}

int32_t EBase::DoGamma(ECDB* block)
{
    const uint32_t mask = static_cast<uint32_t>(block->value >> 16) & 7;
    const uint32_t deviceEntries = depth_ == 32768 ? 65536 : 256;
    switch (block->verb) {
    case 0: return put(block, getGammaCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: {
        SEGammaDescriptor d{};
        if (!get(block, d)) return SE_NOT_SUPPORTED;
        if (d.table[0] == 0 && d.table[1] == 0 && d.table[2] == 0) {
            d.entries = deviceEntries;
            d.bytesPerEntry = depth_ <= 128 ? 1 : 2;
            put(block, d);
            return SE_OK;
        }
        if ((d.bytesPerEntry != 1 && d.bytesPerEntry != 2) || d.entries == 0 || d.entries > 65536) return SE_ERR_RANGE;
        for (int c = 0; c < 3; ++c) {
            if (!(mask & (1u << c))) continue;
            if (d.table[c] == 0) return SE_ERR_NO_TABLE;
            SetLinearLUT(d.entries, d.bytesPerEntry, reinterpret_cast<void*>(static_cast<uintptr_t>(d.table[c])),
                         deviceEntries);
        }
        return SE_OK;
    }
    case 3: {
        SEGammaDescriptor d{};
        if (!get(block, d)) return SE_NOT_SUPPORTED;
        if ((d.bytesPerEntry != 1 && d.bytesPerEntry != 2) || d.entries == 0 || d.entries > 65536) return SE_ERR_RANGE;
        const int channels = imageType_ == 64 ? 3 : 1;
        for (int c = 0; c < channels; ++c)
            if (d.table[c] == 0) return SE_ERR_NO_TABLE;
        gammaEntryCode_ = d.entries == 65536 ? 128 : 1;
        gammaBuffer_.clear();
        gammaBuffer_.shrink_to_fit();
        const uint64_t perTable = static_cast<uint64_t>(d.entries) * d.bytesPerEntry;
        try {
            gammaBuffer_.resize(perTable * static_cast<uint64_t>(channels));
        } catch (const std::bad_alloc&) {
            return SE_ERR_NO_MEMORY;
        }
        for (int c = 0; c < channels; ++c)
            std::memcpy(gammaBuffer_.data() + perTable * c, reinterpret_cast<const void*>(static_cast<uintptr_t>(d.table[c])),
                        perTable);
        gammaSet_ = 1;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoSmhInput(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoSmhOutput(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoErrString(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoDither(ECDB* block)
{
    const uint32_t v = low32(block->value);
    switch (block->verb) {
    case 0: return put(block, static_cast<uint16_t>(ditherCount_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, ditherIndex_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, static_cast<uint16_t>(ditherDefault_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        if (v < 1 || v >= static_cast<uint32_t>(std::max<short>(ditherCount_, 0))) return SE_ERR_RANGE;
        ditherIndex_ = static_cast<uint16_t>(v);
        return SE_OK;
    case 4: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        if (dithers_ == nullptr || v >= static_cast<uint32_t>(std::max<short>(ditherCount_, 0))) return SE_ERR_DITHER_INDEX;
        get(block, dithers_[v]);
        return SE_OK;
    }
    case 5: {
        const auto* wanted = reinterpret_cast<const EDITHER*>(static_cast<uintptr_t>(block->value));
        if (wanted == nullptr || block->record == 0) return SE_NOT_SUPPORTED;
        for (short i = 0; dithers_ != nullptr && i < ditherCount_; ++i) {
            if (StrCmp(dithers_[i].bytes + 2, wanted->bytes + 2, 32) == 1) {
                put(block, static_cast<uint16_t>(i));
                return SE_OK;
            }
        }
        return SE_ERR_DITHER_NAME;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoImage(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, SEImageType{kImageTypesOffered, 0, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, SEImageType{imageType_, imageTypeSecond_, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, SEImageType{64, 0, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        SEImageType t{};
        if (!get(block, t)) return SE_NOT_SUPPORTED;
        // Any type of the offered ones (71) is kept; a pair of type and depth the driver cannot
        // deliver is refused at the scan start (-106).
        if ((t.type & 0xFFFF & kImageTypesOffered) == 0) return SE_ERR_IMAGE_TYPE;
        imageType_ = t.type;
        imageTypeSecond_ = t.second;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoCallback(ECDB* block)
{
    return block->verb == 3 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoInternalLUT(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, internalLut_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{0}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: internalLut_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoOpticalRes(ECDB* block)
{
    if (block->verb != 0) return SE_NOT_SUPPORTED;
    return put(block, getOpticalResolutionCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoTestReady(ECDB* block)
{
    mark_effective_code(block);
    return block->verb == 0 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::ScanQualitySetting(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, uint16_t{9}) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, scanQuality_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{1}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: scanQuality_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoExpMode(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, exposureMode_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, static_cast<uint16_t>(exposureModeDefault_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const uint32_t v = low32(block->value);
        if (v > 1) return SE_ERR_RANGE;
        exposureMode_ = static_cast<uint16_t>(v);
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAPD(ECDB* block)
{
    if (block->verb == 0) return SE_OK;
    if (block->verb != 1 || block->record == 0) return SE_NOT_SUPPORTED;
    stScannerInit fresh{};
    fresh.header.wFunctionCode = KZD_INITIALIZE_SCANNER;
    scanner_->vInitializeScanner(&fresh);
    if (fresh.header.FUNC_STATUS != DRV_SUCCESS) return fresh.header.FUNC_STATUS;
    init_ = fresh;
    const uint16_t loaded = (fresh.ScannerModel & 0x80) ? 1 : 0;
    std::memcpy(record_of<uint8_t>(block) + 4, &loaded, sizeof loaded);
    return SE_OK;
}

int32_t EBase::DoAutoLamp(ECDB*)
{
    return SE_NOT_SUPPORTED;
}

int32_t EBase::DoNewLampControl(ECDB*)
{
    return SE_NOT_SUPPORTED;
}

int32_t EBase::DoButtonStatus(ECDB* block)
{
    switch (block->verb) {
    case 0: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        GET_SUPPORTED_BUTTONS r{};
        r.header.wFunctionCode = KZD_GET_SUPPORTED_BUTTONS;
        scanner_->vScannerGetSupportedButtons(&r);
        if (r.header.FUNC_STATUS != DRV_SUCCESS) return SE_NOT_SUPPORTED;
        put(block, map_bits(r.dwButtonMask, kSupportedButtons));
        return SE_OK;
    }
    case 1: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        const int32_t state = scanner_->vPaperReady();
        if (state == -1) {
            // A failed status read is not "every button pressed".
            put(block, uint16_t{0});
            return SE_ERR_TRANSFER;
        }
        put(block, map_bits(static_cast<uint32_t>(state), kButtonState));
        return SE_OK;
    }
    case 3: return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoTMABacktracking(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoScannerInfo2(ECDB* block)
{
    return block->verb == 0 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::Prepare2Ah(uint8_t* buffer, uint32_t length)
{
    if (buffer == nullptr) return 0;
    std::memset(buffer, 0, 10);
    buffer[0] = 0x2A;
    buffer[6] = static_cast<uint8_t>(length >> 16);
    buffer[7] = static_cast<uint8_t>(length >> 8);
    buffer[8] = static_cast<uint8_t>(length);
    return 1;
}

int32_t EBase::DoSmartCalibration(ECDB* block)
{
    switch (block->verb) {
    case 0: return isScannerSupportSmartCalibration(currentSource_);
    case 1: return put(block, uint32_t{calibrationReuse_ ? 0u : 1u}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const uint64_t what = block->value;
        if (what == 1) {
            calibrationReuse_ = low32(block->record) == 0 ? 1 : 0;
            return SE_OK;
        }
        if (what == 0) {
            stEraseCaliData r{};
            r.status = 0;
            r.resolution = static_cast<uint16_t>(block->record);
            scanner_->vEraseCaliData(&r);
            return r.status == DRV_SUCCESS ? SE_OK : SE_ERR_CALIBRATION_FILE;
        }
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoUltraSound(ECDB* block)
{
    auto* word = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(block->value));
    switch (block->verb) {
    case 0:
        if (word == nullptr) return SE_NOT_SUPPORTED;
        *word = 0;
        return extParams_.bIsSupportUltrasonic ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        if (word == nullptr) return SE_NOT_SUPPORTED;
        ultraSound_ = *word != 0 ? 1 : 0;
        return SE_NOT_SUPPORTED;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPaperType(ECDB* block)
{
    switch (block->verb) {
    case 0: return extParams_.bIsSupportUltrasonic ? SE_OK : SE_NOT_SUPPORTED;
    case 3: return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAutoCrop(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: {
        const uint16_t reply[3] = {autoCrop_, 0, 0};
        return put(block, reply) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 3: autoCrop_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPreviewScanMode(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, preview_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const auto* from = reinterpret_cast<const uint16_t*>(static_cast<uintptr_t>(block->value));
        if (from == nullptr) return SE_NOT_SUPPORTED;
        std::memcpy(&preview_, from, sizeof preview_);
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoInterPolation(ECDB* block)
{
    if (block->verb != 1) return SE_NOT_SUPPORTED;
    const uint16_t r = clamp16(resolution_);
    return put(block, SEInterpolation{0, r, r}) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoHWJpeg(ECDB* block)
{
    switch (block->verb) {
    case 0: return getHWJpegCap();
    case 1: return put(block, hwJpeg_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: hwJpeg_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoHWCropDeskew(ECDB* block)
{
    switch (block->verb) {
    case 0: return getHWCropDeskewCap();
    case 1: return put(block, hwCropSwitch_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: hwCropSwitch_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoScannerLastError(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, static_cast<uint32_t>(lastStatus_)) ? SE_OK : SE_NOT_SUPPORTED;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoShrinkableExposureRatio(ECDB* block)
{
    const bool transparency = initialised_ && (init_.ScannerModel & kFlagTransparency);
    const stScannerCapab& cap = transparency ? transparencyCap_ : reflectiveCap_;
    switch (block->verb) {
    case 0: {
        if (!cap.cIsSupportShrinkableExposureRatio) return SE_NOT_SUPPORTED;
        const int32_t lo = cap.stShrinkableExposureRange.nMin, hi = cap.stShrinkableExposureRange.nMax;
        const uint32_t step = hi > lo ? static_cast<uint32_t>((hi - lo) / 50) : 0;
        return put(block, SERange{lo, hi, step}) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 1: return put(block, exposureRatio_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint32_t{100}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const int64_t v = static_cast<int32_t>(low32(block->value));
        exposureRatio_ = static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 65535));
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}
