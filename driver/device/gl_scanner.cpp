#include "gl_scanner.h"

#include "scan_side_cache.h"
#include "dbg_log.h"
#include "driver_utils.h"
#include "job_cmd.h"
#include "le_bytes.h"
#include "vek_cmd.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kDefaultResolution = 3200;
constexpr double kCroppingScalingRatio = 0.8942125;
constexpr uint16_t kSideEdgeValue = 1600;

// Inquiry fields.
constexpr size_t kModelNameAt = 48;
constexpr size_t kModelNameSize = 32;
constexpr size_t kModelCodeAt = 88;
constexpr size_t kSubmodelCodeAt = 90;
constexpr size_t kVendorAt = 96;
constexpr char kVendor[] = "QUORVANE";
constexpr size_t kVendorSize = sizeof kVendor - 1;
constexpr size_t kFirmwareAt = 104;
constexpr size_t kFpgaAt = 136;
constexpr size_t kMcuAt = 168;
constexpr size_t kFullVersionLength = 8;

// The EEPROM's serial-number pieces: (offset, size).
constexpr std::pair<size_t, size_t> kSerialPieces[] = {{36, 4}, {40, 4}, {44, 7}, {51, 1}};
constexpr size_t kSerialTextSize = 30;

using Attributes = std::array<uint8_t, 64>;

const Attributes& attributes(const GLScanner* g, int media)
{
    static const Attributes none{};
    if (g == nullptr || media < 0 || static_cast<size_t>(media) >= SCANNER_MEDIA_SLOTS) return none;
    return g->attributes[static_cast<size_t>(media)];
}

uint32_t resolution_or_default(uint32_t value)
{
    return value != 0 ? value : kDefaultResolution;
}

// pixels × 1000 / resolution, which a device can push past 32 bits.
int32_t thousandths_of_inch(uint32_t pixels, uint32_t resolution)
{
    const uint64_t v = static_cast<uint64_t>(pixels) * 1000 / resolution;
    return static_cast<int32_t>(std::min<uint64_t>(v, INT32_MAX));
}

bool full_version(const GLScanner* g, size_t at, size_t size)
{
    if (g == nullptr) return false;
    const char* inquiry = reinterpret_cast<const char*>(g->inquiry.data());
    return std::memcmp(inquiry + kVendorAt, kVendor, kVendorSize) == 0 &&
        strnlen(inquiry + at, size) >= kFullVersionLength;
}

eStatus load_x_axis_magnification_compensation_setting(GLScanner* g)
{
    if (!is_scanner_support_x_axis_magnification_compensation(g)) return STATUS_GOOD;
    return vek_cmd_x_axis_magnification_compensation_setting(g);
}

eStatus load_rgb_alignment_setting(GLScanner* g)
{
    if (!is_scanner_support_rgb_alignment(g)) return STATUS_GOOD;
    return vek_cmd_rgb_alignment_setting(g);
}

eStatus read_side_edge(GLScanner* g)
{
    return vek_cmd_read_side_edge(g, kSideEdgeValue, 0);
}

struct OpenStep {
    const char* name;
    eStatus (*run)(GLScanner*);
};

constexpr OpenStep kOpenSequence[] = {
    {"cmd_job_create", cmd_job_create},
    {"vek_cmd_inquiry", vek_cmd_inquiry},
    {"vek_cmd_get_scanner_media", vek_cmd_get_scanner_media},
    {"vek_cmd_get_resolution_information", vek_cmd_get_resolution_information},
    {"vek_cmd_get_attributes", vek_cmd_get_attributes},
    {"vek_cmd_read_system_status", vek_cmd_read_system_status},
    {"vek_cmd_read_eeprom_data", vek_cmd_read_eeprom_data},
    {"vek_cmd_read_flash_config", vek_cmd_read_flash_config},
    {"vek_cmd_read_calibration_action_data", vek_cmd_read_calibration_action_data},
    {"load_x_axis_magnification_compensation_setting", load_x_axis_magnification_compensation_setting},
    {"load_rgb_alignment_setting", load_rgb_alignment_setting},
    {"vek_cmd_read_side_edge", read_side_edge},
    {"cmd_job_end", cmd_job_end},
};

} // namespace

eStatus scanner_new(GLDevice* device, GLScanner** out)
{
    DBG_LOG(kLogParameters, "scanner_new\n");
    if (out == nullptr) return STATUS_TRANSFER_FAILED;
    *out = nullptr;
    GLScanner* g = new (std::nothrow) GLScanner{};
    if (g == nullptr) return STATUS_NO_MEMORY;
    g->device = device;
    g->scan_job = new (std::nothrow) ScanJob{};
    g->dark_job = new (std::nothrow) ScanJob{};
    g->white_job = new (std::nothrow) ScanJob{};
    g->job_id = 0;
    g->word16 = 0;

    eStatus status = STATUS_GOOD;
    if (g->scan_job == nullptr || g->dark_job == nullptr || g->white_job == nullptr) {
        status = STATUS_NO_MEMORY;
    } else {
        for (const OpenStep& step : kOpenSequence) {
            status = step.run(g);
            if (!status.ok()) {
                DBG_LOG(kLogErrors, "scanner_new: %s failed with %u\n", step.name, status.code());
                break;
            }
        }
    }
    if (!status.ok()) {
        cmd_job_end(g);
        scanner_free(g);
        DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", static_cast<int>(status.code()));
        return status;
    }

    get_scanner_serial_number(g, g->serial_number, sizeof g->serial_number);
    char name[kModelNameSize + 1];
    get_scanner_model_name(g, name, sizeof name);
    DBG_LOG(kLogParameters, "scanner_new: model %04x_%04x \"%s\", serial \"%s\"\n", get_scanner_model_code(g),
            get_scanner_submodel_code(g), name, g->serial_number);
    *out = g;
    DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", 0);
    return STATUS_GOOD;
}

eStatus scanner_free(GLScanner* g)
{
    if (g == nullptr) return STATUS_GOOD;
    for (cache_t*& c : g->caches) {
        cache_free(c);
        c = nullptr;
    }
    delete g->scan_job;
    delete g->dark_job;
    delete g->white_job;
    delete g;
    return STATUS_GOOD;
}

eStatus scanner_device_features(GLScanner* g)
{
    if (const eStatus s = cmd_job_create(g); !s.ok()) return s;
    if (const eStatus s = vek_cmd_inquiry(g); !s.ok()) return s;
    return cmd_job_end(g);
}

void get_scanner_serial_number(const GLScanner* g, char* text, size_t size)
{
    if (text == nullptr || size == 0) return;
    std::memset(text, 0, size);
    if (g == nullptr) return;
    char serial[kSerialTextSize] = {};
    size_t length = 0;
    for (const auto& [at, piece] : kSerialPieces) {
        for (size_t i = 0; i < piece; ++i) {
            const uint8_t c = g->eeprom[at + i];
            if (c == 0 || c == 0xFF) break;
            serial[length++] = static_cast<char>(c);
        }
    }
    std::memcpy(text, serial, std::min(length, size - 1));
}

bool is_scanner_image_mirror(const GLScanner* g, int media)
{
    return attributes(g, media)[1] != 0;
}

bool is_scanner_support_ecc(const GLScanner* g, int media)
{
    return attributes(g, media)[57] != 0;
}

bool is_scanner_support_bqm(const GLScanner* g, int media)
{
    return attributes(g, media)[47] != 0;
}

uint32_t get_scanner_max_x_resolution(const GLScanner* g, int media)
{
    return resolution_or_default(get_u32le(attributes(g, media).data() + 4));
}

uint32_t get_scanner_max_y_resolution(const GLScanner* g, int media)
{
    return resolution_or_default(get_u32le(attributes(g, media).data() + 8));
}

uint32_t get_scanner_max_scan_width(const GLScanner* g, int media)
{
    return get_u32le(attributes(g, media).data() + 16);
}

uint32_t get_scanner_max_scan_height(const GLScanner* g, int media)
{
    return get_u32le(attributes(g, media).data() + 12);
}

int32_t get_scanner_max_scan_width_by_inch(const GLScanner* g, int media)
{
    return thousandths_of_inch(get_scanner_max_scan_width(g, media), get_scanner_max_x_resolution(g, media));
}

int32_t get_scanner_max_scan_height_by_inch(const GLScanner* g, int media)
{
    return thousandths_of_inch(get_scanner_max_scan_height(g, media), get_scanner_max_y_resolution(g, media));
}

uint16_t get_scanner_model_code(const GLScanner* g)
{
    return g != nullptr ? get_u16le(g->inquiry.data() + kModelCodeAt) : 0;
}

uint16_t get_scanner_submodel_code(const GLScanner* g)
{
    return g != nullptr ? get_u16le(g->inquiry.data() + kSubmodelCodeAt) : 0;
}

void get_scanner_model_name(const GLScanner* g, char* out, size_t size)
{
    if (out == nullptr || size == 0) return;
    std::memset(out, 0, size);
    if (g == nullptr) return;
    const char* name = reinterpret_cast<const char*>(g->inquiry.data() + kModelNameAt);
    std::memcpy(out, name, strnlen(name, std::min(kModelNameSize, size - 1)));
}

bool is_scanner_support_cropping_scaling(const GLScanner* g)
{
    return IsTR518Scanner(get_scanner_model_code(g), get_scanner_submodel_code(g));
}

double get_scanner_cropping_scaling_ratio(const GLScanner* g)
{
    return is_scanner_support_cropping_scaling(g) ? kCroppingScalingRatio : 1.0;
}

bool is_scanner_support_full_version_of_firmware(const GLScanner* g)
{
    return full_version(g, kFirmwareAt, kFpgaAt - kFirmwareAt);
}

bool is_scanner_support_full_version_of_fpga(const GLScanner* g)
{
    return full_version(g, kFpgaAt, kMcuAt - kFpgaAt);
}

bool is_scanner_support_full_version_of_mcu(const GLScanner* g)
{
    return full_version(g, kMcuAt, VEK_INQUIRY_SIZE - kMcuAt);
}

bool is_scanner_support_ir_sensor_paper_detection(const GLScanner* g)
{
    return g != nullptr && (g->detection & 1) != 0;
}

bool is_scanner_support_ultrasound_doublefeed_detection(const GLScanner* g)
{
    return g != nullptr && (g->detection & 2) != 0;
}

bool is_scanner_support_hall_sensor_paper_detection(const GLScanner* g)
{
    return g != nullptr && (g->detection & 4) != 0;
}

bool is_scanner_support_model_name(const GLScanner* g)
{
    return g != nullptr && (get_u32le(g->system_status.data() + 16) & 1) != 0;
}

uint8_t get_scanner_max_multi_sampling_line(const GLScanner* g)
{
    return attributes(g, 0)[31];
}

bool is_scanner_support_user_exposure(const GLScanner* g)
{
    return attributes(g, 0)[32] != 0;
}

bool is_scanner_support_multi_light(const GLScanner* g)
{
    return attributes(g, 0)[40] != 0;
}

bool is_scanner_support_x_axis_magnification_compensation(const GLScanner* g)
{
    return attributes(g, 0)[41] != 0;
}

bool is_scanner_support_power_saving_mode(const GLScanner* g)
{
    return attributes(g, 0)[42] != 0;
}

uint16_t get_scanner_max_user_exposure(const GLScanner* g)
{
    return get_u16le(attributes(g, 0).data() + 43);
}

uint16_t get_scanner_min_user_exposure(const GLScanner* g)
{
    return get_u16le(attributes(g, 0).data() + 45);
}

uint16_t get_scanner_max_power_saving(const GLScanner* g)
{
    return get_u16le(attributes(g, 0).data() + 48);
}

bool is_scanner_support_power_off_mode(const GLScanner* g)
{
    return attributes(g, 0)[52] != 0;
}

uint16_t get_scanner_max_power_off(const GLScanner* g)
{
    return get_u16le(attributes(g, 0).data() + 53);
}

bool is_scanner_support_rgb_alignment(const GLScanner* g)
{
    return attributes(g, 0)[58] != 0;
}
