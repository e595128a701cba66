#include "image_pipeline.h"

#include "dbg_log.h"
#include "gl_scan.h"
#include "halftone.h"
#include "image_mirror.h"
#include "lookup_table.h"
#include "magnification_correction.h"
#include "device_error.h"
#include "driver_result.h"
#include "frame_convert.h"
#include "scan_setting.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

double measure_scan_process = 0;
double measure_bqm_process = 0;
double measure_horizontal_correction_process = 0;
double measure_interpolation_process = 0;
double measure_gamma_process = 0;
double measure_mirror_process = 0;
double measure_lineart_process = 0;

namespace {

constexpr uint32_t kChunkLines = 32;
constexpr uint64_t kLargestFifo = INT32_MAX;
constexpr uint32_t kSmallTable = 256;
constexpr uint32_t kFullTable = 65536;

scanner_read_fn scan_read_replacement = nullptr;

IMAGE_SETTING* side_of(SCAN_SETTING* s, int side)
{
    return side != 0 ? &s->back_side : &s->front_side;
}

uint32_t channels_of(const IMAGE_SETTING* st)
{
    return st->image_type == IMAGE_TYPE_COLOUR ? 3 : 1;
}

// The frame's part of the device's image, which the scan stage passes on.
uint32_t frame_width_of(const IMAGE_SETTING* st)
{
    return st->frame_width != 0 ? std::min(st->frame_width, st->scan_width) : st->scan_width;
}

uint32_t frame_lines_of(const IMAGE_SETTING* st)
{
    return st->frame_lines != 0 ? std::min(st->frame_lines, st->scan_lines) : st->scan_lines;
}

uint32_t frame_row_bytes_of(const IMAGE_SETTING* st)
{
    return get_scan_bytes(st->image_type == IMAGE_TYPE_COLOUR, static_cast<int>(st->depth), frame_width_of(st));
}

void reset_timers()
{
    measure_scan_process = 0;
    measure_bqm_process = 0;
    measure_horizontal_correction_process = 0;
    measure_interpolation_process = 0;
    measure_gamma_process = 0;
    measure_mirror_process = 0;
    measure_lineart_process = 0;
}

// Processor time from construction to add(), in seconds (the clock counts microseconds).
class StageClock {
public:
    void add(double& total) const { total += static_cast<double>(std::clock() - start_) / 1000000; }

private:
    std::clock_t start_ = std::clock();
};

void free_fifo(data_buffer_t*& b)
{
    data_buffer_free(b);
    b = nullptr;
}

// A FIFO of `size` bytes (computed in 64 bits): 1, or -1007.
DrvResult make_fifo(uint64_t size, const data_buffer_desc_t& desc, data_buffer_t** out)
{
    *out = nullptr;
    if (size == 0 || size > kLargestFifo) {
        DBG_LOG(kLogErrors, "ip_initial() - a FIFO of %llu bytes\n", static_cast<unsigned long long>(size));
        return DRV_NO_MEMORY;
    }
    return data_buffer_new(static_cast<int>(size), &desc, out) == 1 ? DRV_SUCCESS : DRV_NO_MEMORY;
}

void log_task(const char* name, const data_buffer_t* b)
{
    DBG_LOG(kLogDetails, "%s() channel = %d, depth = %d, width = %d, height = %d\n", name,
            static_cast<int>(b->channels), static_cast<int>(b->depth), static_cast<int>(b->width),
            static_cast<int>(b->lines));
}

// ---- checks of ip_initial ----------------------------------------------------------------------

// Whether the gamma set fits the samples: one-byte tables of 256 or 65536 entries at depth 8,
// two-byte tables of 65536 entries at depth 16, a table for every channel.
bool gamma_usable(const IMAGE_SETTING* st)
{
    const GAMMA_INFO& g = st->gamma;
    const bool shape = st->depth == 8 ? g.bytes_per_entry == 1 && (g.entries == kSmallTable || g.entries == kFullTable)
                                      : g.bytes_per_entry == 2 && g.entries == kFullTable;
    if (!shape) return false;
    for (uint32_t c = 0; c < channels_of(st); ++c)
        if (g.table[c] == nullptr) return false;
    return true;
}

// Whether every entry the stage reads maps a sample to itself (the set is usable).
bool gamma_is_identity(const IMAGE_SETTING* st)
{
    const GAMMA_INFO& g = st->gamma;
    for (uint32_t c = 0; c < channels_of(st); ++c) {
        if (st->depth == 16) {
            const auto* t = static_cast<const uint16_t*>(g.table[c]);
            for (uint32_t i = 0; i < kFullTable; ++i)
                if (t[i] != i) return false;
        } else {
            // At depth 8 a 65536-entry table is read at sample × 256 only.
            const auto* t = static_cast<const uint8_t*>(g.table[c]);
            const uint32_t step = g.entries == kFullTable ? 256 : 1;
            for (uint32_t i = 0; i < 256; ++i)
                if (t[i * step] != i) return false;
        }
    }
    return true;
}

DrvResult check_side(const SCAN_SETTING* s, const IMAGE_SETTING* st)
{
    if (st->scan_width == 0 || st->scan_lines == 0) return DRV_STAGE_FAILURE;
    if (st->output_width == 0 || st->output_lines == 0) return DRV_NOT_SUPPORTED;
    if (st->depth != 8 && st->depth != 16) return DRV_NOT_SUPPORTED;
    if (st->image_type < IMAGE_TYPE_COLOUR || st->image_type > IMAGE_TYPE_GREY) return DRV_NOT_SUPPORTED;
    if (st->image_type == IMAGE_TYPE_LINE_ART && st->depth != 8) return DRV_NOT_SUPPORTED;
    // The resize and single-bit FIFOs take their row size from the colour switch, the data their
    // channels from the image type: the two must agree.
    if ((s->color_switch != 0) != (st->image_type == IMAGE_TYPE_COLOUR)) return DRV_NOT_SUPPORTED;
    if (s->gamma_switch != 0 && !gamma_usable(st)) return DRV_NOT_SUPPORTED;
    // The merge would write into a FIFO that nothing makes.
    if (s->bqm_switch != 0) return DRV_NOT_SUPPORTED;
    if (st->scan_row_bytes !=
        get_scan_bytes(st->image_type == IMAGE_TYPE_COLOUR, static_cast<int>(st->depth), st->scan_width))
        return DRV_STAGE_FAILURE;
    return DRV_SUCCESS;
}

// ---- the tasks of ip_initial -------------------------------------------------------------------

DrvResult initial_scan_task(IMAGE_SETTING* st)
{
    st->last_buffer = nullptr;
    free_fifo(st->scan_buffer);
    // The FIFO takes a chunk of whole device lines and holds the frame's part of them.
    const data_buffer_desc_t desc{frame_row_bytes_of(st), frame_width_of(st), channels_of(st), frame_lines_of(st),
                                  st->depth};
    if (const DrvResult r = make_fifo(uint64_t{kChunkLines} * st->scan_row_bytes, desc, &st->scan_buffer); !r.ok())
        return r;
    st->last_buffer = st->scan_buffer;
    log_task("initial_scan_task", st->scan_buffer);
    return DRV_SUCCESS;
}

DrvResult initial_horizontal_correction_task(SCAN_SETTING* s, IMAGE_SETTING* st)
{
    if (s->magnification == nullptr) return DRV_SUCCESS;
    free_fifo(st->correction_buffer);
    const data_buffer_t* prev = st->last_buffer;
    // The corrected line is never wider than the model's positions.
    const CoordinateCorrectionSettings& cs = s->magnification->parameters.settings;
    const uint64_t positions = cs.end_x >= cs.start_x ? uint64_t{cs.end_x} - cs.start_x + 1 : 0;
    const auto width = static_cast<uint32_t>(
        std::min<uint64_t>(get_scan_width(s->correction_parameters.settings.resolution, s->frame), positions));
    if (width == 0) return DRV_NOT_SUPPORTED;
    const uint32_t row_bytes = get_scan_bytes(prev->channels == 3, static_cast<int>(prev->depth), width);
    const uint64_t size = std::max<uint64_t>(uint64_t{2} * prev->capacity, uint64_t{kChunkLines} * row_bytes);
    const data_buffer_desc_t desc{row_bytes, width, prev->channels, prev->lines, prev->depth};
    if (const DrvResult r = make_fifo(size, desc, &st->correction_buffer); !r.ok()) return r;
    st->last_buffer = st->correction_buffer;
    log_task("initial_horizontal_correction_task", st->correction_buffer);
    return DRV_SUCCESS;
}

DrvResult initial_interpolation_task(SCAN_SETTING* s, IMAGE_SETTING* st)
{
    const data_buffer_t* prev = st->last_buffer;
    const uint64_t factor = st->output_lines / prev->lines + 1;
    if (prev->width == st->output_width && prev->lines == st->output_lines) {
        s->interpolation_switch = 0;
        return DRV_SUCCESS;
    }
    s->interpolation_switch = 1;
    interpolate_exit(&st->resize_handle);
    free_fifo(st->resize_buffer);
    st->resize_param = {prev->depth, prev->channels, prev->width, prev->lines, st->output_width, st->output_lines};
    if (interpolate_init_placed(&st->resize_handle, &st->resize_param, &st->resize_place) != kInterpolateOk)
        return DRV_NO_MEMORY;
    const uint32_t row_bytes = get_scan_bytes(s->color_switch, static_cast<int>(st->depth), st->output_width);
    // One pass of up to 32 lines can make more than 32 × factor lines (128 scan lines to 255
    // output lines make 65 from 32), so the FIFO holds at least 33 × factor + 1 lines.
    const uint64_t as_chained = uint64_t{prev->capacity} / prev->row_bytes * row_bytes * factor;
    const uint64_t size = std::max<uint64_t>(as_chained, (33 * factor + 1) * row_bytes);
    const data_buffer_desc_t desc{row_bytes, st->output_width, channels_of(st), st->output_lines, st->depth};
    if (const DrvResult r = make_fifo(size, desc, &st->resize_buffer); !r.ok()) return r;
    st->last_buffer = st->resize_buffer;
    log_task("initial_interpolation_task", st->resize_buffer);
    return DRV_SUCCESS;
}

DrvResult initial_lineart_task(SCAN_SETTING* s, IMAGE_SETTING* st)
{
    if (st->image_type != IMAGE_TYPE_LINE_ART) return DRV_SUCCESS;
    if (s->halftone == nullptr) {
        DBG_LOG(kLogErrors, "initial_lineart_task() - no halftone parameters\n");
        return DRV_NO_MEMORY;
    }
    free_fifo(st->single_bit_buffer);
    const data_buffer_t* prev = st->last_buffer;
    const uint32_t row_bytes = get_scan_bytes(s->color_switch, 1, prev->width);
    const data_buffer_desc_t desc{row_bytes, prev->width, 1, prev->lines, 1};
    if (const DrvResult r = make_fifo(prev->capacity, desc, &st->single_bit_buffer); !r.ok()) return r;
    st->last_buffer = st->single_bit_buffer;
    log_task("initial_lineart_task", st->single_bit_buffer);
    return DRV_SUCCESS;
}

// ---- releases ----------------------------------------------------------------------------------

void release_side(IMAGE_SETTING* st)
{
    free_fifo(st->scan_buffer);
    free_fifo(st->bqm_buffer);
    free_fifo(st->correction_buffer);
    interpolate_exit(&st->resize_handle);
    free_fifo(st->resize_buffer);
    free_fifo(st->single_bit_buffer);
    st->last_buffer = nullptr;
    st->built = 0;
}

// ---- one write pass ----------------------------------------------------------------------------

// The whole content of `in` moves on to `out`, `lines` lines of out's geometry.
void hand_on(data_buffer_t* in, data_buffer_t* out, uint32_t lines)
{
    data_buffer_reset(in);
    out->head = 0;
    out->fill = lines * out->row_bytes;
}

DrvResult scan_process(IMAGE_SETTING* st, GLScanner* g, int side)
{
    const StageClock clock;
    data_buffer_t* b = st->scan_buffer;
    const uint32_t chunk = std::min(st->scan_lines - st->lines_scanned, kChunkLines);
    uint32_t length = chunk * st->scan_row_bytes;
    uint8_t page_end = 0;
    const scanner_read_fn read = scan_read_replacement != nullptr ? scan_read_replacement : scanner_read;
    const eStatus status = read(g, g != nullptr ? g->scan_job : nullptr, side, b->data, &length, &page_end);
    const DrvResult result = get_scanner_error_code(g, status);
    if (!result.ok()) {
        DBG_LOG(kLogErrors, "scan_process() - status %u, code %d\n", status.code(), result.code());
        return result;
    }
    // A page the device ended early: after its last line the read gave zeros. The output lines
    // made of its own lines are noted, so that the image can end with them.
    if (page_end != 0 && g != nullptr && g->scan_job != nullptr && st->scan_row_bytes != 0 &&
        st->lines_made == UINT32_MAX) {
        const uint64_t delivered = g->scan_job->bytes_read[side != 0 ? 1 : 0] / st->scan_row_bytes;
        if (delivered < st->scan_lines) {
            const uint64_t frame = frame_lines_of(st);
            st->lines_made = static_cast<uint32_t>(std::min(delivered, frame) * st->output_lines / frame);
            DBG_LOG(kLogErrors, "scan_process() - side %d: the page ended after %llu of %u lines\n", side,
                    static_cast<unsigned long long>(delivered), st->scan_lines);
        }
    }
    // Padding columns on the right and padding lines at the bottom are dropped here.
    const uint32_t kept = std::min(chunk, frame_lines_of(st) - std::min(st->frame_lines_kept, frame_lines_of(st)));
    const uint32_t row_bytes = b->row_bytes;
    if (row_bytes != st->scan_row_bytes)
        for (uint32_t l = 1; l < kept; ++l)
            std::memmove(b->data + size_t{l} * row_bytes, b->data + size_t{l} * st->scan_row_bytes, row_bytes);
    b->head = 0;
    b->fill = kept * row_bytes;
    st->lines_scanned += chunk;
    st->frame_lines_kept += kept;
    clock.add(measure_scan_process);
    return DRV_SUCCESS;
}

data_buffer_t* horizontal_correction_process(const SCAN_SETTING* s, IMAGE_SETTING* st, data_buffer_t* in)
{
    const StageClock clock;
    data_buffer_t* out = st->correction_buffer;
    const uint32_t lines = in->fill / in->row_bytes;
    const magnification_line_block_t source{lines, 0, in->width, in->row_bytes, data_buffer_front(in)};
    const magnification_line_block_t output{lines, 0, out->width, out->row_bytes, out->data};
    MagnificationCorrectionProcess(s->magnification, &source, &output);
    hand_on(in, out, lines);
    clock.add(measure_horizontal_correction_process);
    return out;
}

DrvResult interpolation_process(IMAGE_SETTING* st, data_buffer_t* in, data_buffer_t** current)
{
    const StageClock clock;
    data_buffer_t* out = st->resize_buffer;
    const interpolate_input_t input{data_buffer_front(in), in->fill / in->row_bytes};
    interpolate_output_t output{out->data, out->capacity / out->row_bytes, 0};
    uint32_t made = 0;
    if (interpolate_block(&st->resize_handle, &input, &output, &made) != kInterpolateOk) {
        DBG_LOG(kLogErrors, "interpolation_process() - the resize refused %u lines\n", input.lines);
        return DRV_NO_MEMORY;
    }
    hand_on(in, out, made);
    *current = out;
    clock.add(measure_interpolation_process);
    return DRV_SUCCESS;
}

void gamma_process(IMAGE_SETTING* st, data_buffer_t* b)
{
    const StageClock clock;
    const GAMMA_INFO& g = st->gamma;
    const lookup_table_info_t info{g.entries, g.bytes_per_entry, {g.table[0], g.table[1], g.table[2]}};
    const uint32_t bytes_per_sample = st->depth == 16 ? 2 : 1;
    lookup_table_image_param_t image{data_buffer_front(b), st->depth, b->fill / b->channels / bytes_per_sample,
                                     b->channels};
    apply_lookup_table(&info, &image);
    clock.add(measure_gamma_process);
}

void mirror_process(const IMAGE_SETTING* st, data_buffer_t* b)
{
    const StageClock clock;
    const int lines = static_cast<int>(b->fill / b->row_bytes);
    const int width = static_cast<int>(b->width);
    const int channels = static_cast<int>(b->channels);
    if (st->depth == 16)
        image_mirror_16u(reinterpret_cast<unsigned short*>(data_buffer_front(b)), width, lines, channels);
    else
        image_mirror_8u(data_buffer_front(b), width, lines, channels);
    clock.add(measure_mirror_process);
}

data_buffer_t* lineart_process(SCAN_SETTING* s, IMAGE_SETTING* st, data_buffer_t* in)
{
    const StageClock clock;
    data_buffer_t* out = st->single_bit_buffer;
    const uint32_t lines = in->fill / in->row_bytes;
    const uint8_t* src = data_buffer_front(in);
    for (uint32_t l = 0; l < lines; ++l)
        SingleBitProcess(s->halftone, out->data + size_t{l} * out->row_bytes, src + size_t{l} * in->row_bytes,
                         static_cast<int>(out->width));
    hand_on(in, out, lines);
    clock.add(measure_lineart_process);
    return out;
}

// Reads the next chunk of scan lines and pushes it through every stage of the side.
DrvResult write_pass(SCAN_SETTING* s, IMAGE_SETTING* st, GLScanner* g, int side)
{
    if (const DrvResult r = scan_process(st, g, side); !r.ok()) return r;
    data_buffer_t* current = st->scan_buffer;
    if (current->fill == 0) return DRV_SUCCESS; // only padding lines
    if (s->magnification != nullptr) current = horizontal_correction_process(s, st, current);
    if (st->resize_handle != nullptr) {
        if (const DrvResult r = interpolation_process(st, current, &current); !r.ok()) return r;
    }
    if (s->gamma_switch != 0 && st->gamma_identity == 0) gamma_process(st, current);
    if ((st->mirror & 0xFF) != 0) mirror_process(st, current);
    if (st->image_type == IMAGE_TYPE_LINE_ART) lineart_process(s, st, current);
    return DRV_SUCCESS;
}

} // namespace

scanner_read_fn ip_set_scan_read_function(scanner_read_fn fn)
{
    const scanner_read_fn previous = scan_read_replacement;
    scan_read_replacement = fn;
    return previous;
}

DrvResult ip_initial(SCAN_SETTING* s, GLScanner*, int side)
{
    if (s == nullptr) return DRV_STAGE_FAILURE;
    IMAGE_SETTING* st = side_of(s, side);
    release_side(st);
    DrvResult r = check_side(s, st);
    if (r.ok()) r = initial_scan_task(st);
    if (r.ok()) r = initial_horizontal_correction_task(s, st);
    if (r.ok()) r = initial_interpolation_task(s, st);
    if (r.ok()) r = initial_lineart_task(s, st);
    if (r.ok() && st->output_row_bytes != st->last_buffer->row_bytes) r = DRV_NOT_SUPPORTED;
    if (!r.ok()) {
        DBG_LOG(kLogErrors, "ip_initial() - side %d failed with %d\n", side, r.code());
        return r;
    }
    st->gamma_identity = s->gamma_switch != 0 && gamma_is_identity(st) ? 1 : 0;
    st->lines_scanned = 0;
    st->frame_lines_kept = 0;
    st->lines_made = UINT32_MAX;
    st->built = 1;
    reset_timers();
    return DRV_SUCCESS;
}

DrvResult ip_read(SCAN_SETTING* s, GLScanner* g, int side, unsigned char* buffer, int lines, int* lines_left, int* end)
{
    if (s == nullptr) return DRV_STAGE_FAILURE;
    IMAGE_SETTING* st = side_of(s, side);
    if (st->built == 0) return DRV_STAGE_FAILURE;

    const uint32_t asked = lines > 0 ? std::min(static_cast<uint32_t>(lines), st->lines_to_deliver) : 0;
    const uint64_t wanted = uint64_t{asked} * st->output_row_bytes;
    if (asked > 0 && buffer == nullptr) return DRV_STAGE_FAILURE;
    uint64_t copied = 0;
    DrvResult result = DRV_SUCCESS;
    while (copied < wanted) {
        data_buffer_t* last = st->last_buffer;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(last->fill, wanted - copied));
        if (n > 0) {
            std::memcpy(buffer + copied, data_buffer_front(last), n);
            if (data_buffer_pop(last, static_cast<int>(n)) != 1) {
                result = DRV_STAGE_FAILURE;
                break;
            }
            copied += n;
            continue;
        }
        if (st->lines_scanned >= st->scan_lines) {
            // Every scan line went through and the chain has nothing more to give.
            DBG_LOG(kLogErrors, "ip_read() - side %d ran dry with %u lines to deliver\n", side, st->lines_to_deliver);
            result = DRV_STAGE_FAILURE;
            break;
        }
        result = write_pass(s, st, g, side);
        if (!result.ok()) break;
    }
    st->lines_to_deliver -= static_cast<uint32_t>(copied / st->output_row_bytes);
    if (lines_left != nullptr) *lines_left = static_cast<int>(std::min<uint32_t>(st->lines_to_deliver, INT32_MAX));
    if (end != nullptr) *end = result.ok() && st->lines_to_deliver == 0 ? 1 : 0;
    return result;
}

void ip_release(SCAN_SETTING* s)
{
    if (s != nullptr) {
        release_side(&s->front_side);
        release_side(&s->back_side);
    }
    if (measure_scan_process > 0) {
        DBG_LOG(kLogDetails, "ip_release() scan_process = %f\n", measure_scan_process);
        DBG_LOG(kLogDetails, "ip_release() bqm_process = %f\n", measure_bqm_process);
        DBG_LOG(kLogDetails, "ip_release() horizontal_correction_process = %f\n",
                measure_horizontal_correction_process);
        DBG_LOG(kLogDetails, "ip_release() interpolation_process = %f\n", measure_interpolation_process);
        DBG_LOG(kLogDetails, "ip_release() gamma_process = %f\n", measure_gamma_process);
        DBG_LOG(kLogDetails, "ip_release() mirror_process = %f\n", measure_mirror_process);
        DBG_LOG(kLogDetails, "ip_release() lineart_process = %f\n", measure_lineart_process);
        reset_timers();
    }
}
