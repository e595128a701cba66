#include "magnification_correction.h"

#include "dbg_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>

namespace {

using Context = horizontal_magnification_correction_t;

// The zoom bounds are single-precision constants widened to double.
constexpr double kZoomUpper = static_cast<double>(1.05f);
constexpr double kZoomLower = static_cast<double>(0.95f);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <typename T> T* alloc_table(uint64_t count)
{
    return static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

// Step between table pixels and scan pixels, and the down-sampled table's length. Validated
// parameters make both at least 1.
uint64_t step_of(const CoordinateCorrectionParameter& p)
{
    return p.settings.resolution == 0 ? 0 : p.coords_data.coords_resolution / p.settings.resolution;
}

uint64_t down_sampled_length(const CoordinateCorrectionParameter& p)
{
    const uint64_t k = step_of(p);
    return k == 0 ? 0 : p.coords_data.table_length / k;
}

// One diagnostic line: the prefix, the values separated by ", ", a newline.
int append_value(char* out, size_t room, int value)
{
    return std::snprintf(out, room, "%d", value);
}
int append_value(char* out, size_t room, double value)
{
    return std::snprintf(out, room, "%f", value);
}

template <typename T> void log_values(const char* prefix, const T* values, int count)
{
    if (DBG_LEVEL() < kLogDetails) return;
    char line[512];
    size_t used = 0;
    auto append = [&](int written) {
        if (written > 0) used = std::min(used + static_cast<size_t>(written), sizeof line - 1);
    };
    append(std::snprintf(line, sizeof line, "%s", prefix));
    for (int i = 0; i < count; ++i) {
        if (i > 0) append(std::snprintf(line + used, sizeof line - used, ", "));
        append(append_value(line + used, sizeof line - used, values[i]));
    }
    DBG_LOG(kLogDetails, "%s\n", line);
}

void CalculateMagnificationCorrectionZoom(Context* c)
{
    const auto& d = c->parameters.coords_data;
    for (int s = 0; s < kMagnificationSegments; ++s) {
        // Differences as signed 32-bit values, divided in double precision.
        const auto dm = static_cast<int32_t>(d.measured[s + 1] - d.measured[s]);
        const auto di = static_cast<int32_t>(d.ideal[s + 1] - d.ideal[s]);
        double zoom = static_cast<double>(dm) / static_cast<double>(di);
        // 0 / 0 is not a number and passes; such a segment is empty and never selected.
        if (zoom > kZoomUpper || zoom < kZoomLower) zoom = 1.0;
        c->zoom[s] = zoom;
    }
    int ideal[kMagnificationMarks];
    int measured[kMagnificationMarks];
    for (int i = 0; i < kMagnificationMarks; ++i) {
        ideal[i] = static_cast<int>(d.ideal[i]);
        measured[i] = static_cast<int>(d.measured[i]);
    }
    log_values("CalculateMagnificationCorrectionZoom(): ideal = ", ideal, kMagnificationMarks);
    log_values("CalculateMagnificationCorrectionZoom(): measured = ", measured, kMagnificationMarks);
    log_values("CalculateMagnificationCorrectionZoom(): zoom 0~11 = ", c->zoom, 12);
    log_values("CalculateMagnificationCorrectionZoom(): zoom 12~23 = ", c->zoom + 12, 12);
    log_values("CalculateMagnificationCorrectionZoom(): zoom 24~29 = ", c->zoom + 24, 6);
}

// The zoom of the segment holding table pixel i (offset by the side edge); 1.0 outside them all.
double GetZoomValue(const Context* c, uint32_t i)
{
    const auto& d = c->parameters.coords_data;
    const int64_t base =
        d.coords_resolution == 0 ? 0 : static_cast<int64_t>(i) * d.coords_resolution / d.coords_resolution;
    const int64_t p = base + d.side_edge;
    for (int s = 0; s < kMagnificationSegments; ++s) {
        const int64_t lo = static_cast<int32_t>(d.measured[s]);
        const int64_t hi = static_cast<int32_t>(d.measured[s + 1]);
        if (lo <= p && p < hi) return c->zoom[s];
    }
    return 1.0;
}

int InitailCoordsCorrectionTable(Context* c)
{
    const uint32_t n = c->parameters.coords_data.table_length;
    const uint32_t ch = c->parameters.settings.channel;
    c->x_table = alloc_table<double>(static_cast<uint64_t>(n) * ch);
    if (c->x_table == nullptr) return kMagnificationNoMemory;
    double* x = c->x_table;
    // The zoom changes only where a segment starts or ends, so it is looked up once for each run of
    // pixels between two such edges rather than for every pixel of a table of up to 2^20.
    const auto& d = c->parameters.coords_data;
    int64_t edges[2 * kMagnificationSegments];
    for (int s = 0; s < kMagnificationSegments; ++s) {
        edges[2 * s] = static_cast<int32_t>(d.measured[s]);
        edges[2 * s + 1] = static_cast<int32_t>(d.measured[s + 1]);
    }
    std::sort(std::begin(edges), std::end(edges));
    for (uint32_t i = 1; i < n;) {
        const double zoom = GetZoomValue(c, i);
        // Pixel i lies at i + side_edge (at side_edge for all of them without a resolution).
        uint32_t end = n;
        if (d.coords_resolution != 0) {
            const int64_t at = int64_t{i} + d.side_edge;
            const int64_t* next = std::upper_bound(std::begin(edges), std::end(edges), at);
            if (next != std::end(edges)) end = static_cast<uint32_t>(std::min<int64_t>(n, *next - d.side_edge));
        }
        for (; i < end; ++i)
            for (uint32_t k = 0; k < ch; ++k)
                x[static_cast<size_t>(i) * ch + k] = x[static_cast<size_t>(i - 1) * ch + k] + zoom;
    }
    DBG_CORRECTION_TABLE_CSV_FIE(kLogTables, "CorrectionTable_X", n, ch, x);
    return kMagnificationOk;
}

void UpdateCoordsCorrectionTableByRGBAlignment(Context* c)
{
    const auto& p = c->parameters;
    const uint32_t n = p.coords_data.table_length;
    const uint32_t left = p.pixel_position_left;
    const uint32_t right = p.pixel_position_right;
    // Each remapped range needs two distinct rows inside the table.
    if (left < 2 || left > n || right > n - 2) {
        DBG_LOG(kLogErrors,
                "UpdateCoordsCorrectionTableByRGBAlignment(): alignment skipped, "
                "pixel_position_left = %u, pixel_position_right = %u, table_length = %u\n",
                left, right, n);
        return;
    }
    double* x = c->x_table;
    const double offset_left[3] = {p.red_offset_left, p.green_offset_left, p.blue_offset_left};
    const double offset_right[3] = {p.red_offset_right, p.green_offset_right, p.blue_offset_right};

    const double* row_l = x + static_cast<size_t>(left - 1) * 3;
    const double end_left[3] = {row_l[0], row_l[1], row_l[2]};
    ScaleRGBData(x, offset_left, end_left, left);

    double* rows_r = x + static_cast<size_t>(right) * 3;
    const double* last = x + static_cast<size_t>(n - 1) * 3;
    const double start_right[3] = {rows_r[0], rows_r[1], rows_r[2]};
    const double end_right[3] = {last[0] - offset_right[0], last[1] - offset_right[1], last[2] - offset_right[2]};
    ScaleRGBData(rows_r, start_right, end_right, n - right);

    DBG_CORRECTION_TABLE_CSV_FIE(kLogTables, "CorrectionTable_RGB", n, 3, x);
}

int GenerateCorrectionTable(Context* c)
{
    const int result = InitailCoordsCorrectionTable(c);
    if (result != kMagnificationOk) return result;
    const auto& p = c->parameters;
    if (p.settings.channel == 3 && p.pixel_position_left != 0 && p.pixel_position_right != 0)
        UpdateCoordsCorrectionTableByRGBAlignment(c);
    return kMagnificationOk;
}

int CalculateCoordinateCorrectionInformation(Context* c)
{
    const auto& p = c->parameters;
    const uint32_t ch = p.settings.channel;
    const uint32_t start = p.settings.start_x;
    const uint32_t end = p.settings.end_x;
    const uint32_t w = end - start + 1;
    const auto k = static_cast<uint32_t>(step_of(p));
    const auto down_rows = static_cast<uint32_t>(down_sampled_length(p));

    std::unique_ptr<double, FreeDeleter> scan(alloc_table<double>(static_cast<uint64_t>(down_rows) * ch));
    c->positions = alloc_table<uint32_t>(static_cast<uint64_t>(w) * ch);
    if (scan == nullptr || c->positions == nullptr) return kMagnificationNoMemory;

    double* s = scan.get();
    for (uint32_t j = 0; j < down_rows; ++j)
        for (uint32_t q = 0; q < ch; ++q)
            s[static_cast<size_t>(j) * ch + q] = c->x_table[static_cast<size_t>(j) * k * ch + q] / k;

    const double* first = s + static_cast<size_t>(start) * ch;
    const double* last = s + static_cast<size_t>(end) * ch;
    double m = first[0];
    for (uint32_t q = 1; q < ch; ++q) m = std::min(m, first[q]);

    for (uint32_t i = 0; i < w; ++i)
        for (uint32_t q = 0; q < ch; ++q) {
            const double value = (first[static_cast<size_t>(i) * ch + q] - m) * 65536.0 + 0.5;
            c->positions[static_cast<size_t>(i) * ch + q] = MagnificationToU32(value);
        }
    DBG_CORRECTION_TABLE_CSV_FIE(kLogTables, "CorrectionTable_SCAN", down_rows, ch, s);
    DBG_SCAN_CORRECTION_TABLE_CSV_FIE(kLogTables, "CorrectionTable_SCAN_FIXED_POINT", w, ch, c->positions);

    double lo = std::floor(first[0]);
    double hi = std::ceil(last[0]);
    for (uint32_t q = 1; q < ch; ++q) {
        lo = std::min(lo, std::floor(first[q]));
        hi = std::max(hi, std::ceil(last[q]));
    }
    c->information.corrected_start_x = MagnificationToU32(lo);
    c->information.corrected_end_x = MagnificationToU32(hi);
    // Only a bent alignment on a tiny frame can turn the range around.
    if (c->information.corrected_end_x < c->information.corrected_start_x) return kMagnificationUnusable;
    return kMagnificationOk;
}

// k and f of a 16.16 position: the first of the two source pixels and the second one's weight.
// (a(65536 - f) + bf) >> 16 equals a + ((b - a)f >> 16) with an arithmetic shift, since 65536a
// is a whole multiple of 65536: one multiplication per sample, the same bits. From the last source
// pixel on both samples are that pixel, whose weighted sum is the pixel itself, so the tail
// copies it and nothing past the line is read.
template <typename T, int C, int Q>
inline __attribute__((always_inline)) void scale_sample(const T* __restrict src, T* __restrict dst, uint32_t e,
                                                        uint32_t last, const T* tail)
{
    // 8-bit differences times f fit in 32 bits; 16-bit ones need 64.
    using Wide = std::conditional_t<sizeof(T) == 1, int32_t, int64_t>;
    const uint32_t k = e >> 16;
    if (k < last) {
        const T* pair = src + static_cast<size_t>(k) * C + Q;
        const Wide a = pair[0];
        const Wide diff = static_cast<Wide>(pair[C]) - a;
        dst[Q] = static_cast<T>(a + ((diff * static_cast<Wide>(e & 0xFFFF)) >> 16));
    } else {
        dst[Q] = tail[Q];
    }
}

template <typename T, int C>
void scale_line(const void* src_v, void* dst_v, uint32_t dst_width, const uint32_t* positions_v, uint32_t src_width)
{
    if (src_width == 0) return;
    const T* __restrict src = static_cast<const T*>(src_v);
    T* __restrict dst = static_cast<T*>(dst_v);
    const uint32_t* __restrict e = positions_v;
    const uint32_t last = src_width - 1;
    const T* tail = src + static_cast<size_t>(last) * C;
    for (uint32_t i = 0; i < dst_width; ++i, e += C, dst += C) {
        scale_sample<T, C, 0>(src, dst, e[0], last, tail);
        if constexpr (C == 3) {
            scale_sample<T, C, 1>(src, dst, e[1], last, tail);
            scale_sample<T, C, 2>(src, dst, e[2], last, tail);
        }
    }
}

magnification_line_fn GetHorizontalCorrectionFunction(int channel, int depth)
{
    if (channel == 1) return depth == 16 ? HResizeLinear_FIXPT_Scale_16u1ch : HResizeLinear_FIXPT_Scale_8u1ch;
    if (channel == 3) return depth == 16 ? HResizeLinear_FIXPT_Scale_16u3ch : HResizeLinear_FIXPT_Scale_8u3ch;
    return nullptr;
}

} // namespace

uint32_t MagnificationToU32(double value)
{
    if (!(value >= 0.0)) return 0; // NaN and negatives
    if (value >= 4294967296.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

void ScaleRGBData(double* rows, const double* start, const double* end, uint32_t n)
{
    const double* first = rows;
    const double* last = rows + static_cast<size_t>(n - 1) * 3;
    const double f[3] = {first[0], first[1], first[2]};
    const double span[3] = {last[0] - f[0], last[1] - f[1], last[2] - f[2]};
    const double target[3] = {end[0] - start[0], end[1] - start[1], end[2] - start[2]};
    for (uint32_t r = 0; r < n; ++r)
        for (int q = 0; q < 3; ++q) {
            double& v = rows[static_cast<size_t>(r) * 3 + q];
            v = std::fma((v - f[q]) / span[q], target[q], start[q]);
        }
}

bool MagnificationCorrectionValidate(const CoordinateCorrectionParameter* parameter)
{
    if (parameter == nullptr) return false;
    const auto& d = parameter->coords_data;
    const auto& s = parameter->settings;
    if (d.table_length == 0 || d.table_length > kMagnificationMaxTableLength) return false;
    if (d.coords_resolution == 0 || s.resolution == 0) return false;
    if (step_of(*parameter) == 0) return false;
    if (s.end_x < s.start_x) return false;
    return static_cast<uint64_t>(s.end_x) < down_sampled_length(*parameter);
}

int MagnificationCorrectionInit(horizontal_magnification_correction_t** context,
                                const CoordinateCorrectionParameter* parameter,
                                CoordinateCorrectionInformation* information)
{
    if (context == nullptr || parameter == nullptr || information == nullptr) return kMagnificationUnusable;
    const auto& d = parameter->coords_data;
    const auto& s = parameter->settings;
    DBG_LOG(kLogDetails,
            "MagnificationCorrectionInit(): para->coords_data.coords_resolution = %d, "
            "para->coords_data.coords_count = %d, para->coords_data.side_edge = %d\n",
            static_cast<int>(d.coords_resolution), static_cast<int>(d.coords_count), static_cast<int>(d.side_edge));
    DBG_LOG(kLogDetails,
            "MagnificationCorrectionInit(): para->settings.channel = %d, para->settings.depth = %d, "
            "para->settings.resolution = %d, para->settings.start_x = %d, para->settings.end_x = %d\n",
            s.channel, s.depth, static_cast<int>(s.resolution), static_cast<int>(s.start_x), static_cast<int>(s.end_x));
    DBG_LOG(kLogDetails, "MagnificationCorrectionInit(): pixel_position_left = %d, pixel_position_right = %d\n",
            static_cast<int>(parameter->pixel_position_left), static_cast<int>(parameter->pixel_position_right));
    DBG_LOG(kLogDetails,
            "MagnificationCorrectionInit(): red_offset_left = %f, green_offset_left = %f, "
            "blue_offset_left = %f, red_offset_right = %f, green_offset_right = %f, "
            "blue_offset_right = %f\n",
            parameter->red_offset_left, parameter->green_offset_left, parameter->blue_offset_left,
            parameter->red_offset_right, parameter->green_offset_right, parameter->blue_offset_right);

    auto* c = alloc_table<Context>(1);
    *context = c;
    if (c == nullptr) return kMagnificationNoMemory;
    c->parameters = *parameter;

    c->line_function = GetHorizontalCorrectionFunction(s.channel, s.depth);
    if (c->line_function == nullptr) return kMagnificationBadChannel;
    if (!MagnificationCorrectionValidate(parameter)) {
        DBG_LOG(kLogErrors, "MagnificationCorrectionInit(): unusable parameters\n");
        return kMagnificationUnusable;
    }

    CalculateMagnificationCorrectionZoom(c);
    int result = GenerateCorrectionTable(c);
    if (result == kMagnificationOk) result = CalculateCoordinateCorrectionInformation(c);
    if (result == kMagnificationOk)
        *information = c->information;
    else if (result == kMagnificationUnusable)
        DBG_LOG(kLogErrors, "MagnificationCorrectionInit(): corrected range runs backwards\n");

    DBG_LOG(kLogDetails, "MagnificationCorrectionInit(): info->corrected_start_x = %d, info->corrected_end_x = %d\n",
            static_cast<int>(information->corrected_start_x), static_cast<int>(information->corrected_end_x));
    return result;
}

int MagnificationCorrectionProcess(const horizontal_magnification_correction_t* context,
                                   const magnification_line_block_t* source, const magnification_line_block_t* output)
{
    if (context == nullptr || source == nullptr || output == nullptr) return kMagnificationOk;
    if (context->positions == nullptr || context->line_function == nullptr) return kMagnificationOk;
    const auto& s = context->parameters.settings;
    const uint32_t positions = s.end_x - s.start_x + 1;
    const uint32_t width = std::min(output->width, positions);
    for (uint32_t line = 0; line < source->lines; ++line) {
        const uint8_t* src = source->data + source->offset + static_cast<size_t>(line) * source->row_bytes;
        uint8_t* dst = output->data + static_cast<size_t>(line) * output->row_bytes;
        context->line_function(src, dst, width, context->positions, source->width);
    }
    return kMagnificationOk;
}

int MagnificationCorrectionExit(horizontal_magnification_correction_t* context)
{
    if (context == nullptr) return kMagnificationOk;
    std::free(context->x_table);
    std::free(context->positions);
    std::free(context);
    return kMagnificationOk;
}

void HResizeLinear_FIXPT_Scale_8u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                     uint32_t src_width)
{
    scale_line<uint8_t, 1>(src, dst, dst_width, positions, src_width);
}

void HResizeLinear_FIXPT_Scale_16u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                      uint32_t src_width)
{
    scale_line<uint16_t, 1>(src, dst, dst_width, positions, src_width);
}

void HResizeLinear_FIXPT_Scale_8u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                     uint32_t src_width)
{
    scale_line<uint8_t, 3>(src, dst, dst_width, positions, src_width);
}

void HResizeLinear_FIXPT_Scale_16u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                      uint32_t src_width)
{
    scale_line<uint16_t, 3>(src, dst, dst_width, positions, src_width);
}
