#include "magnification_module.h"

#include "dbg_log.h"
#include "external_config.h"
#include "gl_scanner.h"
#include "kzd_records.h"
#include "le_bytes.h"
#include "param_convert.h"
#include "scan_setting.h"

#include <algorithm>
#include <cstdint>

namespace {

// Offsets of the x-axis magnification record.
constexpr size_t kSideEdgeAt = 0;
constexpr size_t kCoordsResolutionAt = 4;
constexpr size_t kCoordsCountAt = 6;
constexpr size_t kIdealAt = 8;
constexpr size_t kMeasuredAt = 104;

constexpr uint32_t kColourPlanes = 14;

void skip_correction(SCAN_SETTING* setting)
{
    free_magnification_correction_module(setting);
    DBG_LOG(kLogErrors, "init_magnification_correction_module() - correction skipped\n");
}

} // namespace

bool init_magnification_correction_coords(GLScanner* g, stScannerAttri* attributes,
                                          CoordinateCorrectionParameter* parameter)
{
    const uint8_t* x = g->x_axis_magnification.data();
    const uint16_t resolution = get_u16le(x + kCoordsResolutionAt);
    const uint16_t count = get_u16le(x + kCoordsCountAt);
    if (resolution == 0 || count == 0) return false;

    const int media = get_scanner_media(g, attributes->ScanSource);
    const uint64_t width = get_scanner_max_scan_width(g, media);
    // The divisor is never 0 (a reported 0 counts as 3200). The model refuses tables above 2^20
    // pixels, so the product saturates rather than wrapping into a usable-looking length.
    const uint64_t length = width * resolution / get_scanner_max_x_resolution(g, media);
    auto& d = parameter->coords_data;
    d.table_length = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    d.side_edge = get_u16le(x + kSideEdgeAt);
    d.coords_resolution = resolution;
    d.coords_count = count;
    const int marks = std::min<int>(count, kMagnificationMarks);
    for (int i = 0; i < marks; ++i) {
        d.ideal[i] = get_u16le(x + kIdealAt + 2 * i);
        d.measured[i] = get_u16le(x + kMeasuredAt + 2 * i);
    }
    return true;
}

void init_magnification_correction_settings(GLScanner*, SCAN_SETTING* setting, CoordinateCorrectionParameter* parameter)
{
    auto& s = parameter->settings;
    s.channel = setting->color_planes == kColourPlanes ? 3 : 1;
    s.depth = setting->depth == 16 ? 16 : 8;
    s.resolution = setting->x_resolution;
    s.start_x = setting->front_side.scan_start;
    // A frame narrower than one pixel has no last pixel: the model refuses an end of -1.
    const int64_t end = static_cast<int64_t>(setting->front_side.scan_end) - 1;
    s.end_x = end < 0 ? UINT32_MAX : static_cast<uint32_t>(end);
}

void init_magnification_rgb_alignment_settings(GLScanner* g, CoordinateCorrectionParameter* parameter)
{
    const uint8_t* r = g->rgb_alignment.data();
    const auto b = [r](int i) { return static_cast<int>(static_cast<int8_t>(r[i])); };
    DBG_LOG(kLogParameters,
            "init_magnification_rgb_alignment_settings() d0 = %d, d1 = %d, d2 = %d, d3 = %d, rl = %d, "
            "rr = %d, gl = %d, gr = %d, bl = %d, br = %d\n",
            b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8), b(9));
    const uint16_t d01 = get_u16le(r);
    const uint16_t d23 = get_u16le(r + 2);
    DBG_LOG(kLogParameters, "init_magnification_rgb_alignment_settings() d0-1 = %d, d2-3 = %d\n", d01, d23);

    external_config_t config{};
    ExternalConfig_Read(&config);
    if (d01 == 0 || d01 == 0xFFFF || d23 == 0 || d23 == 0xFFFF || config.disable_horizontal_magnification_of_rgb != 0)
        return;

    // The model aligns rows 0 .. left - 1 and right .. N - 1, each range at least two rows long.
    const int64_t n = parameter->coords_data.table_length;
    const int64_t left = n - static_cast<int64_t>(d23) * 10;
    const int64_t right = n - static_cast<int64_t>(d01) * 10;
    if (left < 2 || left > n || right < 0 || right > n - 2) {
        DBG_LOG(kLogErrors,
                "init_magnification_rgb_alignment_settings() - positions outside the table, left = %lld, "
                "right = %lld, table_length = %lld\n",
                static_cast<long long>(left), static_cast<long long>(right), static_cast<long long>(n));
        return;
    }
    const int rl = b(4), rr = b(5), gl = b(6), gr = b(7), bl = b(8), br = b(9);
    const int min_left = std::min({rl, gl, bl});
    const int max_right = std::max({rr, gr, br});
    parameter->pixel_position_left = static_cast<uint32_t>(left);
    parameter->pixel_position_right = static_cast<uint32_t>(right);
    // The left-end shifts come from the bytes named r, the right-end ones from those named l.
    parameter->red_offset_left = (max_right - rr) / 10.0;
    parameter->green_offset_left = (max_right - gr) / 10.0;
    parameter->blue_offset_left = (max_right - br) / 10.0;
    parameter->red_offset_right = (rl - min_left) / 10.0;
    parameter->green_offset_right = (gl - min_left) / 10.0;
    parameter->blue_offset_right = (bl - min_left) / 10.0;
}

DrvResult init_magnification_correction_module(GLScanner* g, stScannerAttri* attributes, SCAN_SETTING* setting)
{
    // A context left over from a scan that was not released is freed, not lost; the record and
    // the range start cleared, so nothing of an earlier scan is carried over.
    free_magnification_correction_module(setting);
    CoordinateCorrectionParameter* parameter = &setting->correction_parameters;
    *parameter = {};
    setting->corrected_start_x = 0;
    setting->corrected_end_x = 0;
    if (!init_magnification_correction_coords(g, attributes, parameter)) {
        skip_correction(setting);
        return DRV_SUCCESS;
    }
    init_magnification_correction_settings(g, setting, parameter);
    init_magnification_rgb_alignment_settings(g, parameter);
    if (!MagnificationCorrectionValidate(parameter)) {
        skip_correction(setting);
        return DRV_SUCCESS;
    }
    CoordinateCorrectionInformation range{};
    const int result = MagnificationCorrectionInit(&setting->magnification, parameter, &range);
    if (result == kMagnificationUnusable) {
        skip_correction(setting);
        return DRV_SUCCESS;
    }
    if (result != kMagnificationOk) return DRV_NO_MEMORY;
    setting->corrected_start_x = range.corrected_start_x;
    setting->corrected_end_x = range.corrected_end_x;
    return DRV_SUCCESS;
}

void free_magnification_correction_module(SCAN_SETTING* setting)
{
    if (setting == nullptr || setting->magnification == nullptr) return;
    MagnificationCorrectionExit(setting->magnification);
    setting->magnification = nullptr;
}
