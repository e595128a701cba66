#include "calibration.h"

#include "cali_file.h"
#include "dbg_log.h"
#include "gl_scan.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "param_convert.h"
#include "scan_setting.h"
#include "scanner_shading.h"
#include "scanner_storage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

// Samples and shading lines are the device's little-endian u16, used in place.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr uint8_t kDarkWindow = 1;
constexpr uint8_t kWhiteWindow = 2;
constexpr uint16_t kWindowExposure = 1000;
constexpr size_t kFactorAt[] = {88, 90, 92}; // types 1, other, 3
constexpr size_t kStatusCheckByte = 11;
constexpr uint8_t kCheckCalibration = 0x01;
constexpr uint8_t kCalibrationValid = 0x10;
constexpr uint16_t kLeastShadingSpan = 4096;

DrvResult finish(DrvResult status)
{
    DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", status.code());
    return status;
}

unsigned channels_of(const CALI_PARAM* c)
{
    return c->colour != 0 ? 3 : 1;
}

template <typename T> void release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

// The value at index `rank` of the ascending order of v[0..n), by two counting passes: one over
// the high bytes finds the rank's high byte, one over the samples with that high byte finds the low.
uint32_t select_rank(const uint16_t* v, uint32_t n, uint32_t rank)
{
    std::array<uint16_t, 256> count{};
    for (uint32_t i = 0; i < n; ++i) ++count[v[i] >> 8];
    uint32_t high = 0;
    while (rank >= count[high]) rank -= count[high++];
    count.fill(0);
    for (uint32_t i = 0; i < n; ++i)
        if ((v[i] >> 8) == high) ++count[v[i] & 0xFF];
    uint32_t low = 0;
    while (rank >= count[low]) rank -= count[low++];
    return high << 8 | low;
}

// Every pixel column of `samples` through the column statistic into `line`.
void reduce(CALI_PARAM* c, const std::vector<uint16_t>& samples, std::vector<uint16_t>& line)
{
    const size_t width = size_t{c->pixels} * channels_of(c);
    const uint32_t lines = std::min(c->lines, CALI_MAX_LINES);
    if (samples.size() < width * lines || line.size() < width) return;
    const cali_column_fn statistic = c->column_statistic != nullptr ? c->column_statistic : cali_sortMid;
    uint16_t* column = c->column.data();
    const uint16_t* in = samples.data();
    for (size_t k = 0; k < width; ++k) {
        for (uint32_t l = 0; l < lines; ++l) column[l] = in[l * width + k];
        line[k] = statistic(c);
    }
}

void fill_window(GLScanner* g, SCAN_SETTING* s, ScanJob* job, uint8_t kind)
{
    const CALI_PARAM& c = s->working_calibration;
    const auto resolution = static_cast<uint16_t>(c.resolution);
    uint16_t lights = 3;
    if (is_scanner_support_multi_light(g) && s->scan_mode.cLightCount != 0) lights = s->scan_mode.cLightCount;

    *job = ScanJob{};
    job->set_source(convert_to_par_source(g, s));
    job->set_flags(2);
    job->set_sides(convert_to_par_duplex(g, s));
    job->set_mode_flag(1);
    job->set_format(convert_to_par_format(g, s));
    job->set_bits_per_pixel(s->color_switch != 0 ? 48 : 16);
    job->set_mono_code(convert_to_par_mono(g, s));
    job->set_x_resolution(resolution);
    job->set_y_resolution(resolution);
    // The window starts where the frame does at the scan's own x resolution, in both directions.
    job->set_dot_x(convert_to_par_dot_x(s, s->x_resolution, false));
    job->set_dot_y(convert_to_par_dot_y(g, s, s->x_resolution));
    job->set_width(convert_to_par_width(g, s, resolution, false));
    job->set_height(CALI_SAMPLE_LINES);

    job->set_window_kind(kind);
    job->set_exposure_ratio(s->exposure_ratio);
    job->set_quality(convert_to_par_quality(g, s));
    job->set_media(convert_to_par_media(g, s));
    job->set_sampling_lines(0);
    job->set_fixed_one(1);
    job->set_light_channels(lights);
    job->set_preview(s->scan_mode.ScanMode & 1);
    job->set_colour_consistency(s->scan_mode.cEnableColorConsistency != 0 ? 1 : 0);
    job->set_exposure(s->bqm_switch != 0 && s->bqm_exposure != 0 ? s->bqm_exposure : kWindowExposure);

    // The calibration action fields, as for an image scan; all zero while the BQM switch is off.
    auto& action = g->calibration_action;
    action[8] = s->bqm_switch != 0 ? 1 : 0;
    action[9] = s->bqm_params[1] != 0 ? 1 : 0;
    action[10] = static_cast<uint8_t>(s->bqm_params[0]);
    for (size_t i = 0; i < 4; ++i) put_u16le(action.data() + 16 + 2 * i, static_cast<uint16_t>(s->bqm_params[2 + i]));
}

// One shading scan of `kind` into the working record's line of that kind.
DrvResult take_shading(GLScanner* g, SCAN_SETTING* s, uint8_t kind)
{
    const bool white = kind == kWhiteWindow;
    const char* name = white ? "do_white()" : "do_dark()";
    DBG_LOG(kLogParameters, "%s\n", name);
    ScanJob* job = g == nullptr ? nullptr : white ? g->white_job : g->dark_job;
    if (s == nullptr || job == nullptr) return finish(DRV_STAGE_FAILURE);
    CALI_PARAM* c = &s->working_calibration;
    std::vector<uint16_t>& samples = white ? c->white_samples : c->dark_samples;
    std::vector<uint16_t>& line = white ? c->white_line : c->dark_line;

    fill_window(g, s, job, kind);
    // Once the device scan was started, a failure stops it; the first failure is the result.
    const auto fail = [&](DrvResult code) {
        release(samples);
        scanner_stop_scan(g, job);
        return finish(code);
    };
    if (const eStatus st = scanner_start_scan(g, job); !st.ok()) return fail(get_scanner_error_code(g, st));

    const uint32_t pixels = job->image_width(0);
    const uint32_t lines = job->image_height(0);
    if (pixels < 1 || lines < 1 || lines > CALI_MAX_LINES) {
        DBG_LOG(kLogErrors, "%s - the device reports %u pixels and %u lines\n", name, pixels, lines);
        return fail(DRV_STAGE_FAILURE);
    }
    const unsigned channels = channels_of(c);
    c->kind = white ? 1 : 0;
    c->pixels = pixels;
    c->line_bytes = pixels * 2 * channels;
    c->lines = lines;
    c->segments = 1;
    c->segment_pixels = pixels;
    const size_t width = size_t{pixels} * channels;
    try {
        release(line);
        line.assign(width, 0);
        samples.assign(width * lines, 0);
    } catch (const std::bad_alloc&) {
        DBG_LOG(kLogErrors, "%s - kNotEnoughMemory\n", name);
        return fail(DRV_NO_MEMORY);
    }
    uint32_t size = c->line_bytes * lines;
    uint8_t end = 0;
    if (const eStatus st = scanner_read(g, job, 0, reinterpret_cast<uint8_t*>(samples.data()), &size, &end); !st.ok())
        return fail(get_scanner_error_code(g, st));
    // Every line is a sample: a page that ended before all of them came (the rest reads as zeros)
    // would make a calibration of nothing.
    if (job->bytes_read[0] < size) {
        DBG_LOG(kLogErrors, "%s - the page ended after %llu of %u bytes\n", name,
                static_cast<unsigned long long>(job->bytes_read[0]), size);
        return fail(DRV_STAGE_FAILURE);
    }

    const cali_reduce_fn reduce_fn = white ? c->white_function : c->dark_function;
    (reduce_fn != nullptr ? reduce_fn : white ? cali_shadingForWhiteChunky : cali_shadingForDarkChunky)(c);
    release(samples);
    if (const eStatus st = scanner_stop_scan(g, job); !st.ok()) return finish(get_scanner_error_code(g, st));
    return finish(DRV_SUCCESS);
}

// Points the device record's shading state at the record's lines and sends them.
DrvResult send_shading(GLScanner* g, CALI_PARAM* c)
{
    const uint64_t have = std::min(c->dark_line.size(), c->white_line.size()) * uint64_t{2};
    if (c->line_bytes == 0 || have < c->line_bytes) return DRV_STAGE_FAILURE;
    ShadingState& sh = g->shading;
    sh.value = static_cast<uint16_t>(c->resolution);
    sh.second_value = c->pixels;
    sh.bytes_per_side = c->line_bytes;
    sh.format = c->colour != 0 ? 6 : 2;
    sh.level0_front = reinterpret_cast<const uint8_t*>(c->white_line.data());
    sh.level1_front = reinterpret_cast<const uint8_t*>(c->dark_line.data());
    if (const eStatus st = scanner_send_shading_data(g); !st.ok()) return get_scanner_error_code(g, st);
    return DRV_SUCCESS;
}

// Why a stored record cannot calibrate this scan, or null when it can. Its lines must be at least
// as wide as the calibration window this scan would ask the device for, and in every column the
// white level must lie well above the dark: a span below kLeastShadingSpan amplifies a column more
// than sixteen times, which no lamp-lit white strip calls for, and a span of zero or less turns it
// black. A record that fails is damage the store cannot see, and is made again.
const char* unfit_record(GLScanner* g, const SCAN_SETTING* s, const CALI_PARAM* c)
{
    const size_t width = size_t{c->pixels} * channels_of(c);
    if (c->pixels == 0 || c->dark_line.size() != width || c->white_line.size() != width) return "no lines";
    if (c->pixels < convert_to_par_width(g, s, static_cast<uint32_t>(c->resolution), false))
        return "lines narrower than the scan";
    for (size_t k = 0; k < width; ++k)
        if (int{c->white_line[k]} - int{c->dark_line[k]} < int{kLeastShadingSpan}) return "white not above dark";
    return nullptr;
}

} // namespace

DrvResult do_calibrate(GLScanner* g, SCAN_SETTING* s)
{
    DBG_LOG(kLogParameters, "do_calibrate\n");
    if (g == nullptr || s == nullptr) return finish(DRV_STAGE_FAILURE);
    get_calibration_setting(g, s);
    CALI_PARAM* c = &s->working_calibration;
    if (c->resolution == 0) {
        DBG_LOG(kLogErrors, "do_calibrate: no calibrator resolution for %u dpi\n", s->x_resolution);
        return finish(DRV_STAGE_FAILURE);
    }
    if (s->smart_calibration != 0) {
        if (load_calibration_from_file(c).ok()) {
            if (const char* why = unfit_record(g, s, c)) {
                DBG_LOG(kLogErrors,
                        "do_calibrate: the stored calibration does not fit this scan (%s); calibrating again\n", why);
            } else if (update_calibrator_to_scanner(g, c).ok() && check_calibration_status(g).ok()) {
                copy_calibration_scalars(&s->active_calibration, c);
                return finish(DRV_SUCCESS);
            }
        }
        DBG_LOG(kLogDetails, "do_calibrate: no stored calibration to reuse\n");
    }
    if (const DrvResult r = do_dark(g, s); !r.ok()) return finish(r);
    if (const DrvResult r = do_white(g, s); !r.ok()) return finish(r);
    if (const DrvResult r = update_calibrator_from_scanner(g, c); !r.ok()) return finish(r);
    // The file is a cache: a calibration that cannot be stored still serves this scan.
    if (!save_calibration_to_file(c).ok())
        DBG_LOG(kLogErrors, "do_calibrate: the calibration could not be stored; this scan uses it as made\n");
    copy_calibration_scalars(&s->active_calibration, c);
    return finish(DRV_SUCCESS);
}

void get_calibration_setting(GLScanner* g, SCAN_SETTING* s)
{
    CALI_PARAM* c = &s->working_calibration;
    if (!get_scanner_cali_data_file_path(g, c->path))
        DBG_LOG(kLogErrors, "get_calibration_setting: no calibration file name in the module folder\n");
    c->source = s->source;
    c->quality = s->quality;
    c->resolution = get_calibrator_resolution(g, s->source, static_cast<int>(s->x_resolution));
    c->colour = s->color_switch;
    c->exposure_ratio = s->exposure_ratio;
    for (int type = 1; type <= 3; ++type)
        c->factors[static_cast<size_t>(type - 1)] =
            get_calibrator_factor(g, s->source, static_cast<int>(s->x_resolution), type);
    c->constant = 5;
    c->marker = CALI_MARKER;
    c->bqm = s->bqm_switch != 0 ? 1 : 0;
    c->ecc = s->scan_mode.cEnableColorConsistency != 0 ? 1 : 0;
    c->white_function = c->bqm != 0 ? cali_white_shading_for_multiple_exposure_mode : cali_shadingForWhiteChunky;
    c->dark_function = cali_shadingForDarkChunky;
    c->third_function = nullptr;
    c->column_statistic = cali_sortMid;
    c->column_average = cali_average;
    DBG_LOG(kLogDetails, "get_calibration_setting: %s, resolution %d, colour %u, exposure %u\n", c->path, c->resolution,
            c->colour, c->exposure_ratio);
}

uint16_t get_calibrator_factor(const GLScanner* g, uint16_t source, int, int type)
{
    if (g == nullptr) return 0;
    const size_t at = type == 1 ? kFactorAt[0] : type == 3 ? kFactorAt[2] : kFactorAt[1];
    return get_u16le(g->resolutions[static_cast<size_t>(get_scanner_media(g, source))].data() + at);
}

DrvResult do_dark(GLScanner* g, SCAN_SETTING* s)
{
    return take_shading(g, s, kDarkWindow);
}

DrvResult do_white(GLScanner* g, SCAN_SETTING* s)
{
    return take_shading(g, s, kWhiteWindow);
}

DrvResult update_calibrator_from_scanner(GLScanner* g, CALI_PARAM* c)
{
    DBG_LOG(kLogParameters, "update_calibrator_from_scanner\n");
    if (g == nullptr || c == nullptr) return finish(DRV_STAGE_FAILURE);
    if (const eStatus st = scanner_read_calibration_data(g, static_cast<uint16_t>(c->resolution), c->colour != 0);
        !st.ok()) {
        DBG_LOG(kLogErrors, "update_calibrator_from_scanner() - kUndefineErrorCode = %d\n",
                static_cast<int>(st.code()));
        return finish(DRV_STAGE_FAILURE);
    }
    try {
        c->params.resize(CALI_PARAMS_SIZE);
    } catch (const std::bad_alloc&) {
        DBG_LOG(kLogErrors, "update_calibrator_from_scanner() - kNotEnoughMemory\n");
        return finish(DRV_NO_MEMORY);
    }
    std::memcpy(c->params.data(), g->calibration.data(), CALI_PARAMS_SIZE);
    return finish(send_shading(g, c));
}

DrvResult update_calibrator_to_scanner(GLScanner* g, CALI_PARAM* c)
{
    DBG_LOG(kLogParameters, "update_calibrator_to_scanner\n");
    if (g == nullptr || c == nullptr) return finish(DRV_STAGE_FAILURE);
    if (c->params.size() < CALI_PARAMS_SIZE) return finish(DRV_CALIBRATION_FILE);
    std::memcpy(g->calibration.data(), c->params.data(), CALI_PARAMS_SIZE);
    if (const eStatus st = scanner_send_calibration_data(g, static_cast<uint16_t>(c->resolution), c->colour != 0);
        !st.ok()) {
        DBG_LOG(kLogErrors, "update_calibrator_to_scanner() - kUndefineErrorCode = %d\n", static_cast<int>(st.code()));
        return finish(DRV_STAGE_FAILURE);
    }
    return finish(send_shading(g, c));
}

DrvResult check_calibration_status(GLScanner* g)
{
    DBG_LOG(kLogParameters, "check_calibration_status\n");
    if (g == nullptr) return finish(DRV_STAGE_FAILURE);
    if (const eStatus st = scanner_read_system_status(g); !st.ok()) return finish(get_scanner_error_code(g, st));
    g->system_status[kStatusCheckByte] |= kCheckCalibration;
    if (const eStatus st = scanner_send_system_status(g); !st.ok()) return finish(get_scanner_error_code(g, st));
    if (const eStatus st = scanner_read_system_status(g); !st.ok()) return finish(get_scanner_error_code(g, st));
    return finish((g->system_status[kStatusCheckByte] & kCalibrationValid) != 0 ? DRV_SUCCESS : DRV_CALIBRATION_FILE);
}

void cali_shadingForDarkChunky(CALI_PARAM* c)
{
    reduce(c, c->dark_samples, c->dark_line);
}

void cali_shadingForWhiteChunky(CALI_PARAM* c)
{
    reduce(c, c->white_samples, c->white_line);
}

void cali_white_shading_for_multiple_exposure_mode(CALI_PARAM* c)
{
    cali_shadingForWhiteChunky(c);
}

uint16_t cali_sortMid(CALI_PARAM* c)
{
    const uint32_t n = std::min(c->lines, CALI_MAX_LINES);
    if (n == 0) return 0;
    const uint16_t* column = c->column.data();
    // The element at n / 2 of the sorted column, found without sorting; the window sum does not
    // depend on the order.
    const uint32_t m = select_rank(column, n, n / 2);
    const uint32_t lo = m * 95 / 100, hi = m * 105 / 100;
    uint32_t sum = 0, count = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t v = column[i];
        const bool inside = v > lo && v < hi;
        sum += inside ? v : 0;
        count += inside ? 1 : 0;
    }
    return count > 0 ? static_cast<uint16_t>(sum / count) : cali_average(c);
}

uint16_t cali_average(CALI_PARAM* c)
{
    const uint32_t n = std::min(c->lines, CALI_MAX_LINES);
    if (n == 0) return 0;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum += c->column[i];
    return static_cast<uint16_t>(sum / n);
}

int compare(const void* a, const void* b)
{
    const uint16_t x = *static_cast<const uint16_t*>(a), y = *static_cast<const uint16_t*>(b);
    return (x > y) - (x < y);
}

void copy_calibration_scalars(CALI_PARAM* to, const CALI_PARAM* from)
{
    if (to == nullptr || from == nullptr || to == from) return;
    *to = CALI_PARAM{};
    std::memcpy(to->path, from->path, sizeof to->path);
    to->source = from->source;
    to->quality = from->quality;
    to->resolution = from->resolution;
    to->colour = from->colour;
    to->exposure_ratio = from->exposure_ratio;
    to->constant = from->constant;
    to->factors = from->factors;
    to->kind = from->kind;
    to->pixels = from->pixels;
    to->line_bytes = from->line_bytes;
    to->lines = from->lines;
    to->bqm = from->bqm;
    to->ecc = from->ecc;
    to->segments = from->segments;
    to->segment_pixels = from->segment_pixels;
    to->marker = from->marker;
}

void release_calibration_buffers(CALI_PARAM* c)
{
    if (c == nullptr) return;
    release(c->white_samples);
    release(c->white_line);
    release(c->dark_samples);
    release(c->dark_line);
    release(c->params);
}
