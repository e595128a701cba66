// Construction, destruction and the operations that report or set device facts.
#include "kzd_scanner.h"

#include "unused_merge.h"
#include "dbg_log.h"
#include "external_config.h"
#include "gl_scan.h"
#include "gl_scanner.h"
#include "halftone.h"
#include "kzd_interface.h"
#include "le_bytes.h"
#include "module_folder.h"
#include "param_convert.h"
#include "scanner_storage.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr eStatus kOpenStatusNotOpen = STATUS_TRANSFER_FAILED;

constexpr size_t kFirmwareRevisionAt = 80; // "dd.dd"
constexpr size_t kFirmwareTextAt = 104;
constexpr size_t kFpgaTextAt = 136;
constexpr size_t kMcuTextAt = 168;
constexpr size_t kInquiryEnd = 208;

constexpr uint16_t kValueListSize = 256;
constexpr uint16_t kResolutionListSize = 150;
constexpr uint16_t kHalftoneListSize = 13;
constexpr uint16_t kDefaultResolution = 150;

constexpr size_t kSensorEnableAt = 11; // system status: paper-sensor switch (2 on, 0 off)
constexpr size_t kHallLevelAt = 12;    // system status: hall-sensor level, 16 bits
constexpr size_t kSensorStatusAt = 10; // system status: paper-sensor state
constexpr uint8_t kSensorOn = 2;

void log_status(const char* name, DrvResult status)
{
    DBG_LOG(kLogParameters, "%s() FUNC_STATUS = %d\n", name, status.code());
}

void answer(stKzdHeader& header, DrvResult status, const char* name)
{
    header.set_status(status);
    log_status(name, status);
}

// An operation that needs the device record answers -1000 without one.
bool refused_without_device(const GLScanner* g, stKzdHeader& header, const char* name)
{
    if (g != nullptr) return false;
    answer(header, DRV_TRANSFER_FAILURE, name);
    return true;
}

// Copies at most size - 1 bytes of a text that need not be terminated and terminates it.
void copy_text(char* to, size_t size, const uint8_t* from, size_t from_size)
{
    std::memset(to, 0, size);
    const size_t n = std::min(size - 1, from_size);
    for (size_t i = 0; i < n && from[i] != 0; ++i) to[i] = static_cast<char>(from[i]);
}

int digit(uint8_t c)
{
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

uint16_t side_edge_word(const GLScanner* g, size_t index)
{
    return get_u16le(g->side_edge.data() + 2 * index);
}

// The media of a capability query: 0x10 asks for the feeder (source 0x08), 0x08 for the
// transparency (source 0x04), anything else for the flatbed.
int capability_media(const GLScanner* g, uint16_t source)
{
    if (source & 0x10) return get_scanner_media(g, 0x08);
    if (source & 0x08) return get_scanner_media(g, 0x04);
    return get_scanner_media(g, 0x01);
}

} // namespace

CKzdScanner::CKzdScanner(CInterface* device)
{
    module_folder_ = driver_module_folder();
    writable_folder_ = driver_writable_folder(module_folder_);
    DBG_INIT(writable_folder_.empty() ? nullptr : writable_folder_.c_str(), DBG_MODE_FILE);
    std::strcpy(version_, "0.01");
    setting_.sample_line_setting.SampleLines = 1;
    setting_.sample_line_setting.MaxSampleLines = 32;
    ExternalConfig_Init(module_folder_.empty() ? nullptr : module_folder_.c_str());

    if (device == nullptr || device->device() == nullptr) {
        open_status_ = kOpenStatusNotOpen;
        DBG_LOG(kLogErrors, "CKzdScanner: no device handle\n");
        return;
    }
    GLScanner* g = nullptr;
    open_status_ = scanner_new(device->device(), &g);
    if (!open_status_.ok() || g == nullptr) {
        if (open_status_.ok()) open_status_ = kOpenStatusNotOpen;
        DBG_LOG(kLogErrors, "CKzdScanner: scanner_new failed with %u\n", open_status_.code());
        return;
    }
    scanner_ = g;
    // The calibration file is named in this folder: a path that does not fit is left out rather
    // than cut, and the calibration then reports a file failure.
    if (writable_folder_.size() < sizeof g->module_path) {
        std::memcpy(g->module_path, writable_folder_.c_str(), writable_folder_.size() + 1);
    } else {
        DBG_LOG(kLogErrors, "CKzdScanner: the writable folder does not fit the device record (%zu bytes)\n",
                writable_folder_.size());
    }
    DEVICESN scratch{};
    vDeviceSeriesNumber(&scratch);
}

CKzdScanner::~CKzdScanner()
{
    stop_running_scan();
    FreeAllBuffer();
    scanner_free(scanner_);
    scanner_ = nullptr;
    BQM_Exit();
}

void CKzdScanner::stop_running_scan()
{
    if (scanner_ == nullptr) return;
    if (scanner_->scan_started != 0 || scanner_->job_id != 0) scanner_stop_scan(scanner_, scanner_->scan_job);
}

void CKzdScanner::vInitializeScanner(stScannerInit* r)
{
    DBG_LOG(kLogParameters, "vInitializeScanner() ScannerModel = %u\n", r->ScannerModel);
    if (refused_without_device(scanner_, r->header, "vInitializeScanner")) return;
    const GLScanner* g = scanner_;
    uint16_t flags = 0;
    if (g->media[0]) flags |= MEDIA_FLAG_FLATBED;
    if (g->media[1]) flags |= MEDIA_FLAG_TRANSPARENCY;
    if (g->media[2]) flags |= MEDIA_FLAG_FEEDER;
    if (g->media[3]) flags |= MEDIA_FLAG_FEEDER_BOTH_SIDES;
    r->ScannerModel = flags;
    const uint8_t* rev = g->inquiry.data() + kFirmwareRevisionAt;
    const int major = digit(rev[0]) * 10 + digit(rev[1]);
    const int minor = digit(rev[3]) * 10 + digit(rev[4]);
    r->FirmwareVersion = static_cast<uint16_t>((major << 8) | minor);
    r->wOne = 1;
    r->wValueListSize[0] = r->wValueListSize[1] = r->wValueListSize[2] = kValueListSize;
    r->wResolutionListSize = kResolutionListSize;
    r->wHalftoneListSize = kHalftoneListSize;
    answer(r->header, DRV_SUCCESS, "vInitializeScanner");
}

void CKzdScanner::vScannerCapability(stScannerCapab* r)
{
    DBG_LOG(kLogParameters, "vScannerCapability() ScanSource = 0x%x\n", r->ScanSource);
    if (refused_without_device(scanner_, r->header, "vScannerCapability")) return;
    const GLScanner* g = scanner_;
    const int media = capability_media(g, r->ScanSource);
    const uint8_t* attr = g->attributes[static_cast<size_t>(media)].data();
    const uint32_t max_x = get_scanner_max_x_resolution(g, media);
    const uint32_t max_y = get_scanner_max_y_resolution(g, media);

    r->ScanSource = g->media[1] ? 5 : 1;
    r->UnitForLength = 1;
    r->UnitForResolution = 1;
    if (r->pValueList[0])
        for (int i = 0; i < 256; ++i) r->pValueList[0][i] = -128 + i;
    if (r->pValueList[1])
        for (int i = 0; i < 256; ++i) r->pValueList[1][i] = -128 + i;
    if (r->pValueList[2])
        for (int i = 0; i < 256; ++i) r->pValueList[2][i] = 2 * i;
    r->MaxResolution = static_cast<uint16_t>(max_x);
    if (r->pResolutionList) {
        const uint16_t s = static_cast<uint16_t>(r->MaxResolution / 100);
        for (int i = 0; i < 100; ++i) r->pResolutionList[i] = static_cast<uint16_t>(s * (i + 1));
        for (int i = 0; i < 50; ++i)
            r->pResolutionList[100 + i] = static_cast<uint16_t>(r->MaxResolution + 2 * s * (i + 1));
    }
    uint16_t planes = 0;
    if (attr[2] & 0x02) planes |= 0x0E;
    if (attr[2] & 0x01) planes |= 0x701;
    r->ColorPlanes = planes;
    uint16_t bits = 1;
    if (attr[3] & 0x01) bits |= 0x80;
    if (attr[3] & 0x04) bits |= 0x8000;
    r->BitsPerPixel = bits;
    r->wPatternKinds = 7;
    if (r->pHalftoneList) GetHTPatStruct(r->pHalftoneList, 0, kHalftonePatternCount);
    const uint32_t length = PixeltoInchIn1000(get_scanner_max_scan_height(g, media), max_y);
    const uint32_t width = PixeltoInchIn1000(get_scanner_max_scan_width(g, media), max_x);
    r->wLimitsA[0] = 8;
    r->wLimitsA[1] = 0;
    r->wLimitsA[2] = 1000;
    r->MaxScanLength = static_cast<uint16_t>(length);
    r->MaxScanWidth = static_cast<uint16_t>(width);
    r->wLimitsB[0] = 8;
    r->wLimitsB[1] = 0;
    r->wLimitsB[2] = 2;
    r->ImageEnhanced = 0x988;
    r->NumofGammaEntry = 0x81;
    r->XTrueResolution = static_cast<uint16_t>(max_x);
    r->YTrueResolution = static_cast<uint16_t>(max_y);
    r->wUnusedA[0] = 0;
    r->wUnusedA[1] = 1;
    r->MiscCaps = 2;
    r->cExtMember = 1;
    r->dwMaxScanLength = length;
    r->dwMaxScanWidth = width;
    r->FWIRSensorVersion = 0;
    r->FWUltraSoundVersion = 0;
    r->bGetImageFunctionType = 0;
    r->FWMultilight = 0;
    r->cIsSupportScanPositionOffsetInfo = 1;
    r->stScanPositionOffsetInfo.nResolution = max_x;
    r->stScanPositionOffsetInfo.nOffsetX = int32_t{side_edge_word(g, 17)} - int32_t{side_edge_word(g, 15)};
    r->stScanPositionOffsetInfo.nOffsetY = int32_t{side_edge_word(g, 16)} - int32_t{side_edge_word(g, 14)};
    r->cIsSupportShrinkableExposureRatio = is_scanner_support_user_exposure(g) ? 1 : 0;
    r->stShrinkableExposureRange.nMin = get_scanner_min_user_exposure(g);
    r->stShrinkableExposureRange.nMax = get_scanner_max_user_exposure(g);
    r->cIsSupportBQMScanMode = is_scanner_support_bqm(g, media) ? 1 : 0;
    r->cSupportColorConsistency = is_scanner_support_ecc(g, media) ? 1 : 0;
    answer(r->header, DRV_SUCCESS, "vScannerCapability");
}

void CKzdScanner::vDefaultAttribute(stScannerAttri* r)
{
    DBG_LOG(kLogParameters, "vDefaultAttribute() ScanSource = 0x%x\n", r->ScanSource);
    if (refused_without_device(scanner_, r->header, "vDefaultAttribute")) return;
    const GLScanner* g = scanner_;
    const int media = get_scanner_media(g, r->ScanSource);
    const uint32_t max_x = get_scanner_max_x_resolution(g, media);
    const uint32_t max_y = get_scanner_max_y_resolution(g, media);
    const uint32_t width = get_scanner_max_scan_width(g, media);
    const uint32_t height = get_scanner_max_scan_height(g, media);
    // Products of device values: formed in 64 bits.
    r->LineWidth = static_cast<uint16_t>(max_x ? uint64_t{width} * kDefaultResolution / max_x : 0);
    r->LineHeight = static_cast<uint16_t>(max_y ? uint64_t{height} * kDefaultResolution / max_y : 0);
    for (int i = 0; i < 3; ++i) {
        r->nChannelValuesA[i] = 0;
        r->nChannelValuesB[i] = 0;
        r->Exposure[i] = 0;
    }
    r->ColorPlanes = (g->attributes[static_cast<size_t>(media)][2] & 0x02) ? 14 : 1;
    r->ScanSource = 1;
    r->BitsPerPixel = 8;
    r->HalftoneType = 1;
    r->HalftonePattern = 5;
    r->UserPatternSize = 0;
    r->UserPattern = nullptr;
    r->Resolution = kDefaultResolution;
    r->Frame.left = 0;
    r->Frame.top = 0;
    r->Frame.right = static_cast<uint16_t>(PixeltoInchIn1000(width, max_x));
    r->Frame.bottom = static_cast<uint16_t>(PixeltoInchIn1000(height, max_y));
    r->wUnusedA = 0;
    r->pUnusedA = nullptr;
    r->wUnusedB[0] = 8;
    r->wUnusedB[1] = 1;
    r->wUnusedB[2] = 2;
    r->ImageEnhanced = 0x20;
    r->pUnusedB = nullptr;
    r->NumofGammaEntry = 0;
    r->GammaTable = nullptr;
    answer(r->header, DRV_SUCCESS, "vDefaultAttribute");
}

void CKzdScanner::vScannerGetCISImage(stGetImage* r)
{
    answer(r->header, DRV_NOT_SUPPORTED, "vScannerGetCISImage");
}

void CKzdScanner::vScannerGetJpegImageA(stGetJpegImage* r)
{
    DBG_LOG(kLogParameters, "vScannerGetJpegImageA() nMaxLength = %u\n", r->nMaxLength);
    answer(r->header, DRV_NOT_SUPPORTED, "vScannerGetJpegImageA");
}

void CKzdScanner::vScannerGetJpegImageB(stGetJpegImage* r)
{
    DBG_LOG(kLogParameters, "vScannerGetJpegImageB() nMaxLength = %u\n", r->nMaxLength);
    answer(r->header, DRV_NOT_SUPPORTED, "vScannerGetJpegImageB");
}

// Operations the scanner does not offer: the status only, nothing logged.
void CKzdScanner::vScannerMutiLens(stSetLens* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vGetLampStatus(stLampStatus* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vSetLampStatus(stLampStatus* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vGetMultiLampStatus(stLampStatus* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vSetMultiLampStatus(stLampStatus* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vScannerGetCompCapab(stCompParam* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vScannerSetCompParam(stCompParam* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vScanner35TACalibrateSupportedStatus(st35TACalibrate* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}
void CKzdScanner::vScanner35TACalibrate(st35TACalibrate* r)
{
    r->header.set_status(DRV_NOT_SUPPORTED);
}

int32_t CKzdScanner::vPaperReady()
{
    if (scanner_ == nullptr) return -1;
    if (scanner_->scan_started) return 200;
    if (!scanner_button_detect(scanner_).ok()) return -1;
    const auto& st = scanner_->system_status;
    if (st[5]) return 0x8000;
    if (st[6]) return 0x4000;
    if (st[3]) return 0x80000;
    if (st[8]) return 0x2000;
    if (st[4]) return 0x40000;
    if (st[1]) return 0x20000;
    if (st[9]) return 0x800000;
    return 0;
}

void CKzdScanner::vScannerGetSupportedButtons(GET_SUPPORTED_BUTTONS* r)
{
    if (refused_without_device(scanner_, r->header, "vScannerGetSupportedButtons")) return;
    static constexpr std::pair<unsigned, uint32_t> kButtons[] = {{4, 0x08}, {5, 0x04}, {6, 0x01}, {2, 0x40},
                                                                 {0, 0x02}, {7, 0x10}, {3, 0x80}, {8, 0x800}};
    uint32_t mask = 0;
    for (const auto& [bit, value] : kButtons)
        if (scanner_->supported_buttons & (1u << bit)) mask |= value;
    r->dwButtonMask = mask;
    answer(r->header, DRV_SUCCESS, "vScannerGetSupportedButtons");
}

void CKzdScanner::vGetDriverVersion(DRIVER_VERSION* r)
{
    const auto* v = reinterpret_cast<const uint8_t*>(version_);
    r->wVersion = static_cast<uint16_t>(digit(v[0]) * 256 + digit(v[2]) * 10 + digit(v[3]));
    answer(r->header, DRV_SUCCESS, "vGetDriverVersion");
}

void CKzdScanner::vScannerGetAllFirmwareFullVersion(stFirmwareFullVersionNumber* r)
{
    if (refused_without_device(scanner_, r->header, "vScannerGetAllFirmwareFullVersion")) return;
    const GLScanner* g = scanner_;
    const uint8_t* inq = g->inquiry.data();
    auto fill = [&](uint8_t* support, char* text, bool supported, size_t at, size_t end) {
        std::memset(text, 0, FULL_VERSION_TEXT_SIZE);
        *support = supported ? 1 : 0;
        if (supported) copy_text(text, FULL_VERSION_TEXT_SIZE, inq + at, end - at);
    };
    fill(&r->cIsSupportFWFullVersionNumber, r->szFWFullVersionNumber, is_scanner_support_full_version_of_firmware(g),
         kFirmwareTextAt, kFpgaTextAt);
    fill(&r->cIsSupportFPGAFullVersionNumber, r->szFPGAFullVersionNumber, is_scanner_support_full_version_of_fpga(g),
         kFpgaTextAt, kMcuTextAt);
    fill(&r->cIsSupportMCUFullVersionNumber, r->szMCUFullVersionNumber, is_scanner_support_full_version_of_mcu(g),
         kMcuTextAt, kInquiryEnd);
    answer(r->header, DRV_SUCCESS, "vScannerGetAllFirmwareFullVersion");
}

void CKzdScanner::vGetCounterInfo(stCounterInfo* r)
{
    if (refused_without_device(scanner_, r->header, "vGetCounterInfo")) return;
    ScannerCounter c{};
    const eStatus st = scanner_read_scan_counter(scanner_, &c);
    r->header.set_status(get_scanner_error_code(scanner_, st));
    r->wMonth = static_cast<uint16_t>(c.month);
    r->wDay = static_cast<uint16_t>(c.day);
    r->wYear = static_cast<uint16_t>(c.year);
    r->dwCounter[0] = c.counter0;
    r->dwCounter[1] = c.counter1;
    r->dwCounter[2] = c.counter2;
    r->dwCounter[3] = c.counter3;
    r->dwCounter[4] = c.counter4;
    r->dwCounter[5] = c.reserved;
    log_status("vGetCounterInfo", r->header.status());
}

void CKzdScanner::vSetCounterInfo(stCounterInfo* r)
{
    DBG_LOG(kLogParameters, "vSetCounterInfo() %u-%u-%u\n", r->wYear, r->wMonth, r->wDay);
    if (refused_without_device(scanner_, r->header, "vSetCounterInfo")) return;
    const ScannerDate date{r->wYear, r->wMonth, r->wDay};
    const eStatus st = scanner_update_scan_counter(scanner_, &date, r->dwCounter[1], r->dwCounter[3]);
    r->header.set_status(get_scanner_error_code(scanner_, st));
    log_status("vSetCounterInfo", r->header.status());
}

void CKzdScanner::vDeviceSeriesNumber(DEVICESN* r)
{
    if (open_status_.ok() && scanner_ != nullptr) {
        r->wModelCode = get_scanner_model_code(scanner_);
        r->wSubModelCode = get_scanner_submodel_code(scanner_);
        get_scanner_serial_number(scanner_, r->szSerialNumber, sizeof r->szSerialNumber);
        r->header.set_status(DRV_SUCCESS);
    } else if (open_status_ == STATUS_REFUSED_REQUEST || scanner_ == nullptr) {
        // Without a device record there is nobody to ask for sense data.
        r->header.set_status(DRV_TRANSFER_FAILURE);
    } else {
        r->header.set_status(get_scanner_error_code(scanner_, open_status_));
    }
    log_status("vDeviceSeriesNumber", r->header.status());
}

void CKzdScanner::vDeviceModelName(DEVICENAME* r)
{
    std::memset(r->szModelName, 0, sizeof r->szModelName);
    if (scanner_ == nullptr) {
        r->header.set_status(DRV_TRANSFER_FAILURE);
    } else if (is_scanner_support_model_name(scanner_)) {
        get_scanner_model_name(scanner_, r->szModelName, sizeof r->szModelName);
        r->header.set_status(DRV_SUCCESS);
    } else {
        r->header.set_status(DRV_NOT_SUPPORTED);
    }
    log_status("vDeviceModelName", r->header.status());
}

void CKzdScanner::vEraseCaliData(stEraseCaliData* r)
{
    DBG_LOG(kLogParameters, "vEraseCaliData() resolution = %u\n", r->resolution);
    // Without a device record there is no calibration file to name: the request stays unanswered.
    if (scanner_ != nullptr) {
        try {
            erase_cali_data(scanner_, &setting_, r);
        } catch (...) {
            DBG_LOG(kLogErrors, "vEraseCaliData() - the calibration file could not be rewritten\n");
        }
    }
    DBG_LOG(kLogParameters, "vEraseCaliData() FUNC_STATUS = %u\n", r->status);
}

void CKzdScanner::KzdEntry(void* record)
{
    if (record == nullptr) return;
    auto* header = static_cast<stKzdHeader*>(record);
    switch (header->wFunctionCode) {
    case KZD_INITIALIZE_SCANNER: vInitializeScanner(static_cast<stScannerInit*>(record)); break;
    case KZD_SCANNER_CAPABILITY: vScannerCapability(static_cast<stScannerCapab*>(record)); break;
    case KZD_DEFAULT_ATTRIBUTE: vDefaultAttribute(static_cast<stScannerAttri*>(record)); break;
    case KZD_START_SCAN: vScannerStartScan(static_cast<stScannerAttri*>(record)); break;
    case KZD_GET_IMAGE: vScannerGetImage(static_cast<stGetImage*>(record)); break;
    case KZD_ABORT_SCAN: vScannerAbortScan(static_cast<stAbort*>(record)); break;
    case KZD_MULTI_LENS: vScannerMutiLens(static_cast<stSetLens*>(record)); break;
    case KZD_GET_LAMP_STATUS: vGetLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_SET_LAMP_STATUS: vSetLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_GET_SUPPORTED_BUTTONS: vScannerGetSupportedButtons(static_cast<GET_SUPPORTED_BUTTONS*>(record)); break;
    case KZD_GET_SAMPLE_LINES: vGetSampleLines(static_cast<IMAGE_SAMPLE_LINES*>(record)); break;
    case KZD_SET_SAMPLE_LINES: vSetSampleLines(static_cast<IMAGE_SAMPLE_LINES*>(record)); break;
    case KZD_GET_MULTI_LAMP_STATUS: vGetMultiLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_SET_MULTI_LAMP_STATUS: vSetMultiLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_GET_DRIVER_VERSION: vGetDriverVersion(static_cast<DRIVER_VERSION*>(record)); break;
    case KZD_GET_ALL_FIRMWARE_FULL_VERSION:
        vScannerGetAllFirmwareFullVersion(static_cast<stFirmwareFullVersionNumber*>(record));
        break;
    default: header->set_status(DRV_NOT_SUPPORTED); break;
    }
}

void CKzdScanner::vGetExtParams(stScannerExtParams* r)
{
    DBG_LOG(kLogParameters, "vGetExtParams() ScanSource = 0x%x\n", r->ScanSource);
    if (refused_without_device(scanner_, r->header, "vGetExtParams")) return;
    const uint16_t source = r->ScanSource;
    const stKzdHeader header = r->header;
    *r = stScannerExtParams{};
    r->header = header;
    r->ScanSource = source;
    const GLScanner* g = scanner_;
    r->bIsSupportUltrasonic = is_scanner_support_ultrasound_doublefeed_detection(g) ? 1 : 0;
    r->cIsSupportAutoSensorScan = is_scanner_support_ir_sensor_paper_detection(g) ? 1 : 0;
    r->cIsSupportHallSensor = is_scanner_support_hall_sensor_paper_detection(g) ? 1 : 0;
    r->cIsSupportLampSelection = is_scanner_support_multi_light(g) ? 3 : 0;
    r->cIsSupportGetAllFirmwareFullVersion = is_scanner_support_full_version_of_fpga(g) ? 1 : 0;
    r->cIsSupportPowerSetting =
        (is_scanner_support_power_saving_mode(g) || is_scanner_support_power_off_mode(g)) ? 1 : 0;
    answer(r->header, DRV_SUCCESS, "vGetExtParams");
}

void CKzdScanner::vDuplexGetImgMethod(DUPLEX_GETIMG_METHOD* r)
{
    r->nDuplexGetImgMethod = 1;
    answer(r->header, DRV_SUCCESS, "vDuplexGetImgMethod");
}

void CKzdScanner::vSetPaperSensorAttribute(stPaperSensorParams* r)
{
    DBG_LOG(kLogParameters, "vSetPaperSensorAttribute() IR = %u, hall = %u, level = %u\n", r->cIRSensorEnable,
            r->cHallSensorEnable, r->cHallSensorLevel);
    if (refused_without_device(scanner_, r->header, "vSetPaperSensorAttribute")) return;
    paper_sensor_ = *r;
    GLScanner* g = scanner_;
    g->ir_sensor_enable = r->cIRSensorEnable;
    g->hall_sensor_enable = r->cHallSensorEnable;
    eStatus st = STATUS_GOOD;
    if (is_scanner_support_ir_sensor_paper_detection(g)) {
        g->system_status[kSensorEnableAt] = r->cIRSensorEnable ? kSensorOn : 0;
        st = scanner_send_system_status(g);
    }
    if (st.ok() && is_scanner_support_hall_sensor_paper_detection(g)) {
        g->system_status[kSensorEnableAt] = r->cHallSensorEnable ? kSensorOn : 0;
        put_u16le(g->system_status.data() + kHallLevelAt, r->cHallSensorLevel);
        st = scanner_send_system_status(g);
    }
    r->header.set_status(get_scanner_error_code(g, st));
    log_status("vSetPaperSensorAttribute", r->header.status());
}

void CKzdScanner::vGetPaperSensorStatus(stPaperSensorStatus* r)
{
    if (refused_without_device(scanner_, r->header, "vGetPaperSensorStatus")) return;
    GLScanner* g = scanner_;
    auto detect = [&](uint8_t enabled) -> uint8_t {
        if (!enabled) return 2;
        if (!scanner_paper_sensor_detect(g).ok()) return 0;
        return g->system_status[kSensorStatusAt];
    };
    if (is_scanner_support_ir_sensor_paper_detection(g)) r->cIRSensorStatus = detect(paper_sensor_.cIRSensorEnable);
    if (is_scanner_support_hall_sensor_paper_detection(g))
        r->cHallSensorStatus = detect(paper_sensor_.cHallSensorEnable);
    answer(r->header, DRV_SUCCESS, "vGetPaperSensorStatus");
}

void CKzdScanner::vCalibrateAllDataRequest(stCalibrateALLParams* r)
{
    answer(r->header, DRV_SUCCESS, "vCalibrateAllDataRequest");
}

void CKzdScanner::vCalibrateAllDataAction(stCalibrateALLParams* r)
{
    answer(r->header, DRV_SUCCESS, "vCalibrateAllDataAction");
}

void CKzdScanner::vScannerFlashRead(stFlashRWParams* r)
{
    DBG_LOG(kLogParameters, "vScannerFlashRead() area = 0x%x\n", r->wArea);
    if (refused_without_device(scanner_, r->header, "vScannerFlashRead")) return;
    GLScanner* g = scanner_;
    DrvResult status = DRV_SUCCESS;
    switch (r->wArea) {
    case FLASH_AREA_PARTITION_FLAG:
        if (r->pPartitionFlag == nullptr)
            status = DRV_UNSUPPORTED_FLASH_AREA;
        else
            *r->pPartitionFlag = scanner_get_flash_partition_flag(g);
        break;
    case FLASH_AREA_COMPUTER_NAME: {
        const char* name = scanner_get_flash_computer_name(g);
        copy_text(r->szComputerName, sizeof r->szComputerName, reinterpret_cast<const uint8_t*>(name),
                  std::strlen(name));
        break;
    }
    case FLASH_AREA_USER_SETTING: {
        if (r->pReadData == nullptr || r->pReadLength == nullptr) {
            status = DRV_UNSUPPORTED_FLASH_AREA;
            break;
        }
        uint32_t length = *r->pReadLength;
        const eStatus st = scanner_get_flash_user_setting(g, r->pReadData, &length);
        *r->pReadLength = length;
        status = get_scanner_error_code(g, st);
        break;
    }
    default: status = DRV_UNSUPPORTED_FLASH_AREA; break;
    }
    r->header.set_status(status);
    log_status("vScannerFlashRead", r->header.status());
}

void CKzdScanner::vScannerFlashWrite(stFlashRWParams* r)
{
    DBG_LOG(kLogParameters, "vScannerFlashWrite() area = 0x%x\n", r->wArea);
    if (refused_without_device(scanner_, r->header, "vScannerFlashWrite")) return;
    GLScanner* g = scanner_;
    DrvResult status = DRV_SUCCESS;
    switch (r->wArea) {
    case FLASH_AREA_COMPUTER_NAME: {
        char name[FLASH_COMPUTER_NAME_SIZE];
        copy_text(name, sizeof name, reinterpret_cast<const uint8_t*>(r->szComputerName), sizeof r->szComputerName);
        status = get_scanner_error_code(g, scanner_set_flash_computer_name(g, name));
        break;
    }
    case FLASH_AREA_USER_SETTING:
        if (r->pWriteData == nullptr && r->dwWriteLength != 0) {
            status = DRV_UNSUPPORTED_FLASH_AREA;
            break;
        }
        status = get_scanner_error_code(g, scanner_set_flash_user_setting(g, r->pWriteData, r->dwWriteLength));
        break;
    default: status = DRV_UNSUPPORTED_FLASH_AREA; break;
    }
    r->header.set_status(status);
    log_status("vScannerFlashWrite", r->header.status());
}

void CKzdScanner::vMotorControlByAP(stMotorControlByAP* r)
{
    answer(r->header, DRV_SUCCESS, "vMotorControlByAP");
}

void CKzdScanner::vADFCalibrationMode(stScannerAttri* r)
{
    answer(r->header, DRV_SUCCESS, "vADFCalibrationMode");
}

void CKzdScanner::vScannerGetPowerSetting(stPowerSetting* r)
{
    if (refused_without_device(scanner_, r->header, "vScannerGetPowerSetting")) return;
    GLScanner* g = scanner_;
    uint16_t saving = 15;
    uint16_t off = 240;
    const eStatus st = scanner_get_power_setting(g, &saving, &off);
    r->header.set_status(get_scanner_error_code(g, st));
    const bool saving_mode = is_scanner_support_power_saving_mode(g);
    const bool off_mode = is_scanner_support_power_off_mode(g);
    r->wPowerSavingTime = saving_mode ? saving : 0;
    r->wPowerOffTime = off_mode ? off : 0;
    r->wMaxPowerSavingTime = saving_mode ? get_scanner_max_power_saving(g) : 0xFFFF;
    r->wMaxPowerOffTime = off_mode ? get_scanner_max_power_off(g) : 0xFFFF;
    log_status("vScannerGetPowerSetting", r->header.status());
}

void CKzdScanner::vScannerSetPowerSetting(stPowerSetting* r)
{
    DBG_LOG(kLogParameters, "vScannerSetPowerSetting() saving = %u, off = %u\n", r->wPowerSavingTime, r->wPowerOffTime);
    if (refused_without_device(scanner_, r->header, "vScannerSetPowerSetting")) return;
    GLScanner* g = scanner_;
    const eStatus st = scanner_set_power_setting(g, r->wPowerSavingTime, r->wPowerOffTime);
    r->wMaxPowerSavingTime = is_scanner_support_power_saving_mode(g) ? get_scanner_max_power_saving(g) : 0xFFFF;
    r->wMaxPowerOffTime = is_scanner_support_power_off_mode(g) ? get_scanner_max_power_off(g) : 0xFFFF;
    r->header.set_status(get_scanner_error_code(g, st));
    log_status("vScannerSetPowerSetting", r->header.status());
}
