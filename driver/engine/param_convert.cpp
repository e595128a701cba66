#include "param_convert.h"

#include "dbg_log.h"
#include "external_config.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "scan_job.h"
#include "scan_setting.h"

#include <algorithm>

namespace {

bool media_present(const GLScanner* g, int media)
{
    return get_u32le(g->attributes[static_cast<size_t>(media)].data() + 20) != 0;
}

uint32_t round_up_to_8(uint32_t v)
{
    return saturate_u32((uint64_t{v} + 7) / 8 * 8);
}

constexpr size_t kResolutionListAt = 8;
constexpr size_t kBqmResolutionListAt = 72;
constexpr size_t kResolutionListSize = 32;
constexpr size_t kSamplingLinesAt = 31;
constexpr uint16_t kDefaultLights = 3;
constexpr uint16_t kWindowExposure = 1000;

// Walks one descending list from its start, taking each entry the request does not exceed.
uint32_t walk_resolutions(const uint8_t* list, uint32_t request, uint32_t value)
{
    for (size_t i = 0; i < kResolutionListSize; ++i) {
        const uint16_t entry = get_u16le(list + 2 * i);
        if (request > entry) break;
        value = entry;
    }
    return value;
}

uint16_t light_channels(const GLScanner* g, const SCAN_SETTING* s)
{
    const uint8_t count = s->scan_mode.cLightCount;
    return is_scanner_support_multi_light(g) && count != 0 ? count : kDefaultLights;
}

// The window's size raised to a multiple of 8, but never past the glass: `glass` is the media's
// size in whole pixels at the scan's resolution and `start` the window's first pixel. The frame
// itself always fits (its far edge lies inside the media's limits), so only padding is cut.
uint32_t window_size(uint32_t size, uint32_t start, uint32_t glass)
{
    const uint32_t room = glass > start ? glass - start : 0;
    return std::min(round_up_to_8(size), room);
}

void fill_parameters(GLScanner* g, const SCAN_SETTING* s, ScanJob* job, bool correction_on)
{
    const bool isp_flag = (get_u16le(g->isp_a.data()) & 1) != 0;
    const int media = get_scanner_media(g, s->source);
    const uint32_t dot_x = convert_to_par_dot_x(s, s->x_resolution, correction_on);
    const uint32_t dot_y = convert_to_par_dot_y(g, s, s->y_resolution);
    job->set_flags(2 | (isp_flag ? 0x100 : 0));
    job->set_bits_per_pixel(convert_to_par_bit(g, s));
    job->set_width(window_size(convert_to_par_width(g, s, s->x_resolution, correction_on), dot_x,
                               get_glass_width(g, media, s->x_resolution)));
    job->set_height(
        window_size(convert_to_par_height(g, s, s->y_resolution), dot_y, get_glass_length(g, media, s->y_resolution)));
    job->set_dot_x(dot_x);
    job->set_dot_y(dot_y);
    job->set_x_resolution(static_cast<uint16_t>(s->x_resolution));
    job->set_y_resolution(static_cast<uint16_t>(s->y_resolution));
    job->set_sides(convert_to_par_duplex(g, s));
    job->set_format(convert_to_par_format(g, s));
    job->set_mono_code(convert_to_par_mono(g, s));
    job->set_mode_flag((s->scan_mode.ScanMode & 0x09) != 0 ? 1 : 0);
    job->set_source(convert_to_par_source(g, s));
}

void fill_window(GLScanner* g, const SCAN_SETTING* s, ScanJob* job)
{
    const stSetScannerScanMode& mode = s->scan_mode;
    job->set_window_kind(0);
    job->set_media(convert_to_par_media(g, s));
    job->set_sampling_lines(convert_to_par_sampling_line(g, s));
    job->set_quality(convert_to_par_quality(g, s));
    job->set_exposure_ratio(s->exposure_ratio);
    job->set_ultrasound_double_feed(mode.cEnableUltraSound);
    job->set_scan_mode_bit2((mode.ScanMode >> 2) & 1);
    job->set_scan_mode_bit5((mode.ScanMode >> 5) & 1);
    job->set_paper_type((mode.dwScanPaperType >> 3) & 1);
    job->set_send_gamma(s->gamma_switch == 0 && s->front_side.gamma.table[0] != nullptr ? 1 : 0);
    job->set_preview(is_preview_scan(s));
    job->set_fixed_one(1);
    job->set_light_channels(light_channels(g, s));
    job->set_colour_consistency(mode.cEnableColorConsistency != 0 ? 1 : 0);
    job->set_exposure(s->bqm_switch != 0 && s->bqm_exposure != 0 ? s->bqm_exposure : kWindowExposure);
    external_config_t config{};
    ExternalConfig_Read(&config);
    job->set_scan_from_home(config.scan_raw_from_home != 0 || config.scan_from_home != 0 ? 1 : 0);
}

// What the calibration action record carries of the multiple-exposure setting.
void fill_calibration_action(GLScanner* g, const SCAN_SETTING* s)
{
    uint8_t* a = g->calibration_action.data();
    a[8] = s->bqm_switch != 0 ? 1 : 0;
    a[9] = s->bqm_params[1] != 0 ? 1 : 0;
    a[10] = static_cast<uint8_t>(s->bqm_params[0]);
    for (size_t i = 0; i < 4; ++i) put_u16le(a + 16 + 2 * i, static_cast<uint16_t>(s->bqm_params[2 + i]));
}

} // namespace

uint16_t get_scan_quality(uint32_t image_enhanced)
{
    if ((image_enhanced & 0x100) != 0) return 2;
    if ((image_enhanced & 0x80) != 0) return 0;
    return 1;
}

uint32_t get_scanner_resolution(const GLScanner* g, uint16_t source, uint32_t resolution, int bqm)
{
    if (g == nullptr) return 0;
    const uint8_t* entry = g->resolutions[static_cast<size_t>(get_scanner_media(g, source))].data();
    uint32_t value = walk_resolutions(entry + kResolutionListAt, resolution, get_u16le(entry + kResolutionListAt));
    if (bqm != 0) value = walk_resolutions(entry + kBqmResolutionListAt, resolution, value);
    return value;
}

uint32_t get_scanner_y_resolution(const GLScanner* g, uint16_t source, uint32_t resolution, int bqm)
{
    if (resolution == 1000 || resolution == 1200) return resolution;
    return get_scanner_resolution(g, source, resolution, bqm);
}

uint32_t get_min_of_exposure_time(uint16_t color_planes, uint32_t e0, uint32_t e1, uint32_t e2)
{
    return color_planes == 14 ? std::min({e0, e1, e2}) : e0;
}

int32_t get_multiple_exposure_pixels_per_segment(int32_t segments, int32_t pixels)
{
    if (segments == 0) return 0;
    // The one quotient that does not fit.
    if (segments == -1 && pixels == INT32_MIN) return INT32_MAX;
    return pixels / segments;
}

uint8_t is_preview_scan(const SCAN_SETTING* s)
{
    return s->scan_mode.ScanMode & 1;
}

int get_scanner_media(const GLScanner* g, uint16_t source)
{
    int media = (source & 0x08) != 0 ? 3 : (source & 0x02) != 0 ? 2 : (source & 0x04) != 0 ? 1 : 0;
    if (g == nullptr) return media;
    if (media == 0 && !media_present(g, 0)) media = 3;
    if (media == 3 && !media_present(g, 3)) media = 2;
    if (media == 2 && !media_present(g, 2)) media = 3;
    return media;
}

uint32_t convert_to_par_source(const GLScanner*, const SCAN_SETTING* s)
{
    return (s->source & 0x0A) != 0 ? PAR_SOURCE_FEEDER : PAR_SOURCE_FLATBED;
}

uint8_t convert_to_par_duplex(const GLScanner*, const SCAN_SETTING* s)
{
    return (s->source & 0x08) != 0 ? 3 : 1;
}

uint32_t convert_to_par_format(const GLScanner*, const SCAN_SETTING*)
{
    return PAR_FORMAT_RAW;
}

uint8_t convert_to_par_mono(const GLScanner*, const SCAN_SETTING* s)
{
    const uint16_t planes = s->color_planes;
    if ((planes & 0x0E) != 0) return 0;
    if ((planes & 0x101) != 0) return 1;
    if ((planes & 0x200) != 0) return 2;
    if ((planes & 0x400) != 0) return 3;
    return 0;
}

uint32_t convert_to_par_dot_x(const SCAN_SETTING* s, uint32_t x_resolution, bool correction_on)
{
    if (correction_on) return s->corrected_start_x;
    return get_scan_start(x_resolution, s->frame);
}

uint32_t convert_to_par_dot_y(const GLScanner*, const SCAN_SETTING* s, uint32_t y_resolution)
{
    return saturate_u32(thousandths_to_pixels(s->frame.top, y_resolution));
}

uint32_t get_glass_width(const GLScanner* g, int media, uint32_t resolution)
{
    const uint64_t pixels = get_scanner_max_scan_width(g, media);
    return saturate_u32(pixels * resolution / get_scanner_max_x_resolution(g, media));
}

uint32_t get_glass_length(const GLScanner* g, int media, uint32_t resolution)
{
    const uint64_t pixels = get_scanner_max_scan_height(g, media);
    return saturate_u32(pixels * resolution / get_scanner_max_y_resolution(g, media));
}

uint32_t convert_to_par_width(const GLScanner* g, const SCAN_SETTING* s, uint32_t x_resolution, bool correction_on)
{
    if (correction_on) {
        const int64_t width = int64_t{s->corrected_end_x} - int64_t{s->corrected_start_x} + 2;
        return saturate_u32(static_cast<uint64_t>(std::max<int64_t>(width, 0)));
    }
    return std::min(get_scan_width(x_resolution, s->frame),
                    get_glass_width(g, get_scanner_media(g, s->source), x_resolution));
}

uint32_t convert_to_par_height(const GLScanner* g, const SCAN_SETTING* s, uint32_t y_resolution)
{
    return std::min(get_scan_height(y_resolution, s->frame),
                    get_glass_length(g, get_scanner_media(g, s->source), y_resolution));
}

uint8_t convert_to_par_bit(const GLScanner*, const SCAN_SETTING* s)
{
    return static_cast<uint8_t>(s->color_switch != 0 ? s->depth * 3 : s->depth);
}

uint8_t convert_to_par_sampling_line(const GLScanner* g, const SCAN_SETTING* s)
{
    if (s->sample_lines < 2) return 1;
    const int media = get_scanner_media(g, s->source);
    const uint8_t media_most = g != nullptr ? g->attributes[static_cast<size_t>(media)][kSamplingLinesAt] : 0;
    return static_cast<uint8_t>(
        std::min<uint32_t>({s->sample_lines, get_scanner_max_multi_sampling_line(g), media_most}));
}

uint8_t convert_to_par_quality(const GLScanner*, const SCAN_SETTING* s)
{
    return s->quality == 2 ? 2 : s->quality != 0 ? 1 : 0;
}

uint8_t convert_to_par_media(const GLScanner* g, const SCAN_SETTING* s)
{
    return static_cast<uint8_t>(get_scanner_media(g, s->source));
}

void convert_to_scan_job(GLScanner* g, const SCAN_SETTING* s, ScanJob* job)
{
    *job = ScanJob{};
    const bool correction_on = s->magnification != nullptr;
    fill_parameters(g, s, job, correction_on);
    fill_window(g, s, job);
    fill_calibration_action(g, s);
    DBG_LOG(kLogDetails, "convert_to_scan_job() width = %u, height = %u, dot_x = %u, dot_y = %u, bits = %u\n",
            job->width(), job->height(), job->dot_x(), job->dot_y(), job->bits_per_pixel());
}

DrvResult convert_to_scanner_gamma_table(GLScanner* g, const SCAN_SETTING* s)
{
    const GAMMA_INFO& set = s->front_side.gamma;
    const bool colour = set.channel_mask == 7;
    const int channels = colour ? 3 : 1;
    const bool two_bytes = set.bytes_per_entry == 2;
    if ((set.entries != 256 && set.entries != 65536) || (set.bytes_per_entry != 1 && !two_bytes))
        return DRV_NOT_SUPPORTED;
    for (int c = 0; c < channels; ++c)
        if (set.table[c] == nullptr) return DRV_NOT_SUPPORTED;

    const uint16_t planes = s->color_planes;
    g->gamma_control[0] = colour ? 4 : (planes & 0x100) != 0 ? 0 : (planes & 0x400) != 0 ? 2 : 1;
    g->gamma_control[1] = 1;
    g->gamma_tables.fill(0);
    const size_t step = set.entries == 65536 ? 256 : 1;
    for (int c = 0; c < channels; ++c) {
        for (size_t i = 0; i < 256; ++i) {
            const size_t at = i * step;
            uint32_t v = two_bytes ? static_cast<const uint16_t*>(set.table[c])[at] >> 8
                                   : static_cast<const uint8_t*>(set.table[c])[at];
            put_u32le(g->gamma_tables.data() + (static_cast<size_t>(c) * 256 + i) * 4, v * 256);
        }
    }
    return DRV_SUCCESS;
}
