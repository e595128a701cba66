#include "unused_interp.h"

#include <algorithm>
#include <cstring>

// ---- samples and lines --------------------------------------------------------------------------

namespace {

bool in_words(const INTERP_STATE* st)
{
    return st->param.depth > 8;
}

uint32_t channels_of(const INTERP_STATE* st)
{
    return st->param.color != 0 ? 3 : 1;
}

size_t sample_bytes(const INTERP_STATE* st)
{
    return in_words(st) ? 2 : 1;
}

size_t src_samples(const INTERP_STATE* st)
{
    return static_cast<size_t>(st->param.src_pixels) * channels_of(st);
}

size_t dst_samples(const INTERP_STATE* st)
{
    return static_cast<size_t>(st->param.dst_pixels) * channels_of(st);
}

template <typename T> T extrapolate(T a, T b, uint16_t max_value)
{
    const int64_t v = 2 * static_cast<int64_t>(a) - static_cast<int64_t>(b);
    return static_cast<T>(std::clamp<int64_t>(v, 0, max_value));
}

// prev + (cur - prev) x w / D, the division truncating toward prev; w = D gives cur.
template <typename T> T blend_bilinear(T prev, T cur, uint64_t w, uint64_t d)
{
    const int64_t diff = static_cast<int64_t>(cur) - static_cast<int64_t>(prev);
    return static_cast<T>(static_cast<int64_t>(prev) + diff * static_cast<int64_t>(w) / static_cast<int64_t>(d));
}

template <typename T> T blend_linear(T prev, T cur, uint64_t wp, uint64_t wc, uint64_t div)
{
    return static_cast<T>((wp * prev + wc * cur) / div);
}

const uint8_t* line_of(const interp_src_block* src, const INTERP_STATE* st, uint32_t i)
{
    return src->data + static_cast<size_t>(i) * st->param.src_row_bytes;
}

uint8_t* line_of(const interp_dst_block* dst, const INTERP_STATE* st, uint32_t i)
{
    return dst->data + static_cast<size_t>(i) * st->param.dst_row_bytes;
}

void keep_line(INTERP_STATE* st, const uint8_t* line)
{
    if (line != st->line_a) std::memmove(st->line_a, line, src_samples(st) * sample_bytes(st));
    st->prev_line = st->line_a;
}

// The line before line 0 at source width into `out`: grey lines extrapolate sample by sample from
// lines 0 and 1 (line 0 alone when there is no line 1); colour lines repeat line 0.
template <typename T> void extrapolated_line(const INTERP_STATE* st, const void* l0_v, const void* l1_v, void* out_v)
{
    const auto* l0 = static_cast<const T*>(l0_v);
    const auto* l1 = static_cast<const T*>(l1_v);
    auto* out = static_cast<T*>(out_v);
    const size_t n = src_samples(st);
    if (st->param.color != 0) {
        std::memmove(out, l0, n * sizeof(T));
        return;
    }
    for (size_t s = 0; s < n; ++s) out[s] = extrapolate(l0[s], l1[s], st->max_value);
}

void make_extrapolated_line(const INTERP_STATE* st, const void* l0, const void* l1, void* out)
{
    if (in_words(st))
        extrapolated_line<uint16_t>(st, l0, l1, out);
    else
        extrapolated_line<uint8_t>(st, l0, l1, out);
}

} // namespace

uint8_t _calBDummy(uint8_t a, uint8_t b, uint16_t max_value)
{
    return extrapolate<uint8_t>(a, b, std::min<uint16_t>(max_value, 255));
}

uint16_t _calWDummy(uint16_t a, uint16_t b, uint16_t max_value)
{
    return extrapolate<uint16_t>(a, b, max_value);
}

// ---- horizontal workers -------------------------------------------------------------------------

namespace {

// Bilinear shrink: accumulators a = S, b = D; source pixel i makes a destination pixel from
// pixels i - 1 and i with w = D - (b - a) whenever a <= b (then a grows by S); b grows by D.
template <typename T, int CH> void bl_shrink(const INTERP_STATE* st, const void* src_v, void* dst_v)
{
    const auto* src = static_cast<const T*>(src_v);
    auto* dst = static_cast<T*>(dst_v);
    const uint64_t s_count = st->param.src_pixels, d_count = st->param.dst_pixels;
    uint64_t a = s_count, b = d_count;
    uint64_t j = 0;
    for (uint64_t i = 0; i < s_count && j < d_count; ++i) {
        if (a <= b && i > 0) {
            const uint64_t w = d_count - (b - a);
            for (int c = 0; c < CH; ++c)
                dst[j * CH + c] = blend_bilinear(src[(i - 1) * CH + c], src[i * CH + c], w, d_count);
            ++j;
            a += s_count;
        }
        b += d_count;
    }
}

// Bilinear enlarge: the pair starts at (extrapolated pixel -1, pixel 0) with t = S; before each
// destination pixel but the last, t > D moves the pair on one pixel (never past the last) and
// takes D off t; the pixel is the blend with w = t, then t grows by S. The last pixel is the last
// source pixel.
template <typename T, int CH> void bl_enlarge(const INTERP_STATE* st, const void* src_v, void* dst_v)
{
    const auto* src = static_cast<const T*>(src_v);
    auto* dst = static_cast<T*>(dst_v);
    const uint64_t s_count = st->param.src_pixels, d_count = st->param.dst_pixels;
    T before[CH];
    const uint64_t second = s_count > 1 ? 1 : 0;
    for (int c = 0; c < CH; ++c) before[c] = extrapolate(src[c], src[second * CH + c], st->max_value);
    const T* prev = before;
    uint64_t cur = 0;
    uint64_t t = s_count;
    for (uint64_t j = 0; j + 1 < d_count; ++j) {
        if (t > d_count) {
            if (cur + 1 < s_count) {
                prev = src + cur * CH;
                ++cur;
            }
            t -= d_count;
        }
        for (int c = 0; c < CH; ++c) dst[j * CH + c] = blend_bilinear(prev[c], src[cur * CH + c], t, d_count);
        t += s_count;
    }
    for (int c = 0; c < CH; ++c) dst[(d_count - 1) * CH + c] = src[(s_count - 1) * CH + c];
}

// Linear shrink: c starts at D; per source pixel c loses S when it can, the pixel survives when c
// is then below D, and c gains D. D of every S pixels survive, evenly spread.
template <typename T, int CH> void lin_shrink(const INTERP_STATE* st, const void* src_v, void* dst_v)
{
    const auto* src = static_cast<const T*>(src_v);
    auto* dst = static_cast<T*>(dst_v);
    const uint64_t s_count = st->param.src_pixels, d_count = st->param.dst_pixels;
    uint64_t counter = d_count;
    uint64_t j = 0;
    for (uint64_t i = 0; i < s_count && j < d_count; ++i) {
        if (counter >= s_count) counter -= s_count;
        if (counter < d_count) {
            for (int c = 0; c < CH; ++c) dst[j * CH + c] = src[i * CH + c];
            ++j;
        }
        counter += d_count;
    }
}

// Linear enlarge: E = D - S extra pixels spread by error diffusion; source pixel i brings
// n = (E + r) / S blends between the previous pixel and itself, then itself.
template <typename T, int CH> void lin_enlarge(const INTERP_STATE* st, const void* src_v, void* dst_v)
{
    const auto* src = static_cast<const T*>(src_v);
    auto* dst = static_cast<T*>(dst_v);
    const uint64_t s_count = st->param.src_pixels, d_count = st->param.dst_pixels;
    const uint64_t extra = d_count - s_count;
    T before[CH];
    const uint64_t second = s_count > 1 ? 1 : 0;
    for (int c = 0; c < CH; ++c) before[c] = extrapolate(src[c], src[second * CH + c], st->max_value);
    const T* prev = before;
    uint64_t r = 0;
    uint64_t j = 0;
    for (uint64_t i = 0; i < s_count; ++i) {
        const T* cur = src + i * CH;
        const uint64_t n = (extra + r) / s_count;
        r = (extra + r) % s_count;
        for (uint64_t k = 1; k <= n && j < d_count; ++k, ++j)
            for (int c = 0; c < CH; ++c) dst[j * CH + c] = blend_linear(prev[c], cur[c], n + 1 - k, k, n + 1);
        if (j < d_count) {
            for (int c = 0; c < CH; ++c) dst[j * CH + c] = cur[c];
            ++j;
        }
        prev = cur;
    }
}

} // namespace

namespace bilinear {
void _scaleHorColorInWord(const INTERP_STATE* st, const void* s, void* d)
{
    bl_shrink<uint16_t, 3>(st, s, d);
}
void _interpHorColorInWord(const INTERP_STATE* st, const void* s, void* d)
{
    bl_enlarge<uint16_t, 3>(st, s, d);
}
void _scaleHorColorInByte(const INTERP_STATE* st, const void* s, void* d)
{
    bl_shrink<uint8_t, 3>(st, s, d);
}
void _interpHorColorInByte(const INTERP_STATE* st, const void* s, void* d)
{
    bl_enlarge<uint8_t, 3>(st, s, d);
}
void _scaleHorGrayInWord(const INTERP_STATE* st, const void* s, void* d)
{
    bl_shrink<uint16_t, 1>(st, s, d);
}
void _interpHorGrayInWord(const INTERP_STATE* st, const void* s, void* d)
{
    bl_enlarge<uint16_t, 1>(st, s, d);
}
void _scaleHorGrayInByte(const INTERP_STATE* st, const void* s, void* d)
{
    bl_shrink<uint8_t, 1>(st, s, d);
}
void _interpHorGrayInByte(const INTERP_STATE* st, const void* s, void* d)
{
    bl_enlarge<uint8_t, 1>(st, s, d);
}
} // namespace bilinear

namespace linear {
void _scaleHorColorInWord(const INTERP_STATE* st, const void* s, void* d)
{
    lin_shrink<uint16_t, 3>(st, s, d);
}
void _interpHorColorInWord(const INTERP_STATE* st, const void* s, void* d)
{
    lin_enlarge<uint16_t, 3>(st, s, d);
}
void _scaleHorColorInByte(const INTERP_STATE* st, const void* s, void* d)
{
    lin_shrink<uint8_t, 3>(st, s, d);
}
void _interpHorColorInByte(const INTERP_STATE* st, const void* s, void* d)
{
    lin_enlarge<uint8_t, 3>(st, s, d);
}
void _scaleHorGrayInWord(const INTERP_STATE* st, const void* s, void* d)
{
    lin_shrink<uint16_t, 1>(st, s, d);
}
void _interpHorGrayInWord(const INTERP_STATE* st, const void* s, void* d)
{
    lin_enlarge<uint16_t, 1>(st, s, d);
}
void _scaleHorGrayInByte(const INTERP_STATE* st, const void* s, void* d)
{
    lin_shrink<uint8_t, 1>(st, s, d);
}
void _interpHorGrayInByte(const INTERP_STATE* st, const void* s, void* d)
{
    lin_enlarge<uint8_t, 1>(st, s, d);
}
} // namespace linear

void horizontalInterp(const INTERP_STATE* st, const void* src, void* dst)
{
    if (st->horizontal == nullptr)
        std::memmove(dst, src, src_samples(st) * sample_bytes(st));
    else
        st->horizontal(st, src, dst);
}

// ---- vertical blends of one line ----------------------------------------------------------------

namespace {

template <typename T>
void blend_lines_bilinear(const void* prev_v, const void* cur_v, void* out_v, size_t n, uint64_t w, uint64_t d)
{
    const auto* prev = static_cast<const T*>(prev_v);
    const auto* cur = static_cast<const T*>(cur_v);
    auto* out = static_cast<T*>(out_v);
    for (size_t s = 0; s < n; ++s) out[s] = blend_bilinear(prev[s], cur[s], w, d);
}

template <typename T>
void blend_lines_linear(const INTERP_STATE* st, const void* prev_v, const void* cur_v, void* out_v)
{
    const auto* prev = static_cast<const T*>(prev_v);
    const auto* cur = static_cast<const T*>(cur_v);
    auto* out = static_cast<T*>(out_v);
    const size_t n = src_samples(st);
    for (size_t s = 0; s < n; ++s) out[s] = blend_linear(prev[s], cur[s], st->weight_prev, st->weight_cur, st->divisor);
}

} // namespace

namespace bilinear {
void verticalInterp(const INTERP_STATE* st, const void* prev, const void* cur, void* out, uint32_t w)
{
    if (in_words(st))
        blend_lines_bilinear<uint16_t>(prev, cur, out, src_samples(st), w, st->param.dst_lines);
    else
        blend_lines_bilinear<uint8_t>(prev, cur, out, src_samples(st), w, st->param.dst_lines);
}

void verticalScale(const INTERP_STATE* st, const void* prev, const void* cur, void* out, uint32_t w)
{
    if (in_words(st))
        blend_lines_bilinear<uint16_t>(prev, cur, out, dst_samples(st), w, st->param.dst_lines);
    else
        blend_lines_bilinear<uint8_t>(prev, cur, out, dst_samples(st), w, st->param.dst_lines);
}
} // namespace bilinear

namespace linear {
void verticalInterp(const INTERP_STATE* st, const void* prev, const void* cur, void* out)
{
    if (in_words(st))
        blend_lines_linear<uint16_t>(st, prev, cur, out);
    else
        blend_lines_linear<uint8_t>(st, prev, cur, out);
}
} // namespace linear

// ---- vertical workers ---------------------------------------------------------------------------

namespace {

void clear_counts(uint32_t* used, uint32_t* made)
{
    *used = 0;
    *made = 0;
}

uint32_t available_lines(const INTERP_STATE* st, const interp_src_block* src)
{
    return std::min(src->lines, st->lines_expected);
}

int copy_lines(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
               uint32_t* made)
{
    const uint32_t n = std::min(available_lines(st, src), dst->lines);
    for (uint32_t i = 0; i < n; ++i) horizontalInterp(st, line_of(src, st, i), line_of(dst, st, i));
    st->lines_expected -= n;
    *used = n;
    *made = n;
    return 0;
}

// The enlarging workers of both families take source lines one at a time; taking a line makes
// every destination line that lies between it and the line before (the extrapolated line for
// line 0). A line is taken only when all of its destination lines fit the room. `make(prev, cur,
// first_pair)` returns how many lines taking `cur` makes, and with `out` non-null writes them.
struct Enlarger {
    INTERP_STATE* st;
    const interp_dst_block* dst;
    const interp_src_block* src;
    uint32_t* used;
    uint32_t* made;

    // count(out == nullptr) or emit lines for the pair (prev, cur); prev null = extrapolated line
    // before line 0, built from cur and `next`.
    template <typename Lines> int run(Lines lines)
    {
        clear_counts(used, made);
        const uint32_t avail = available_lines(st, src);
        uint32_t i = 0;
        const uint8_t* cur = st->prev_line;
        bool took_from_block = false;
        while (st->lines_expected > 0 || st->first_line == kInterpFirstPending) {
            const uint8_t* prev = cur;
            const uint8_t* line;
            const uint8_t* next = nullptr;
            if (st->first_line == kInterpFirstPending) {
                if (i >= avail) break;
                line = st->line_a;
                next = line_of(src, st, i);
            } else {
                if (i >= avail) break;
                line = line_of(src, st, i);
                if (st->first_line == kInterpFirstLine) {
                    if (i + 1 < avail)
                        next = line_of(src, st, i + 1);
                    else if (st->param.src_lines == 1)
                        next = line;
                }
            }
            const bool first = st->first_line != kInterpStarted;
            if (first && next == nullptr && lines.needs_line_before(st)) {
                // Line 1 is needed to extrapolate the line before line 0: keep line 0 until it comes.
                keep_line(st, line);
                st->first_line = kInterpFirstPending;
                --st->lines_expected;
                ++i;
                *used = i;
                return -1;
            }
            if (first && next == nullptr) next = line;
            const uint32_t count = lines.count(st);
            if (count > dst->lines - *made) break;
            lines.emit(st, first ? nullptr : prev, line, next, line_of(dst, st, *made));
            *made += count;
            if (st->first_line != kInterpFirstPending) {
                --st->lines_expected;
                ++i;
                took_from_block = true;
            }
            st->first_line = kInterpStarted;
            cur = line;
        }
        if (took_from_block) keep_line(st, cur);
        *used = i;
        return st->first_line != kInterpFirstLine && st->lines_expected > 0 ? -1 : 0;
    }
};

// Lines of one pair in the bilinear family: t runs over the positions between the two lines.
struct BilinearLines {
    static bool needs_line_before(const INTERP_STATE* st) { return st->param.color == 0 && st->param.src_lines > 1; }
    // t after moving on to the next line (line 0 keeps t = S).
    static uint64_t start(const INTERP_STATE* st)
    {
        const uint64_t t = st->counter[1];
        return st->first_line != kInterpStarted ? t : t - st->param.dst_lines;
    }
    static uint32_t count(const INTERP_STATE* st)
    {
        const uint64_t d = st->param.dst_lines, s = st->param.src_lines;
        uint64_t t = start(st);
        uint32_t n = 0;
        while (t <= d && n < st->counter[0]) {
            ++n;
            t += s;
        }
        return n;
    }
    static void emit(INTERP_STATE* st, const uint8_t* prev, const uint8_t* cur, const uint8_t* next, uint8_t* out)
    {
        const uint64_t d = st->param.dst_lines, s = st->param.src_lines;
        uint64_t t = start(st);
        while (t <= d && st->counter[0] > 0) {
            const uint8_t* before = prev;
            if (before == nullptr) {
                make_extrapolated_line(st, cur, next, st->line_b);
                before = st->line_b;
            }
            bilinear::verticalInterp(st, before, cur, st->line_b, static_cast<uint32_t>(t));
            horizontalInterp(st, st->line_b, out);
            out += st->param.dst_row_bytes;
            --st->counter[0];
            t += s;
        }
        st->counter[1] = static_cast<uint32_t>(t);
    }
};

// Lines of one source line in the linear family: n = (E + r) / S blends, then the line itself.
struct LinearLines {
    static uint64_t extras(const INTERP_STATE* st)
    {
        return (static_cast<uint64_t>(st->counter[1]) + st->counter[3]) / st->param.src_lines;
    }
    static bool needs_line_before(const INTERP_STATE* st)
    {
        return st->param.color == 0 && st->param.src_lines > 1 && extras(st) > 0;
    }
    static uint32_t count(const INTERP_STATE* st) { return static_cast<uint32_t>(extras(st) + 1); }
    static void emit(INTERP_STATE* st, const uint8_t* prev, const uint8_t* cur, const uint8_t* next, uint8_t* out)
    {
        const uint64_t sum = static_cast<uint64_t>(st->counter[1]) + st->counter[3];
        const uint64_t n = sum / st->param.src_lines;
        st->counter[3] = static_cast<uint32_t>(sum % st->param.src_lines);
        for (uint64_t k = 1; k <= n; ++k) {
            const uint8_t* before = prev;
            if (before == nullptr) {
                make_extrapolated_line(st, cur, next, st->line_b);
                before = st->line_b;
            }
            st->weight_prev = static_cast<uint32_t>(n + 1 - k);
            st->weight_cur = static_cast<uint32_t>(k);
            st->divisor = static_cast<uint32_t>(n + 1);
            linear::verticalInterp(st, before, cur, st->line_b);
            horizontalInterp(st, st->line_b, out);
            out += st->param.dst_row_bytes;
        }
        horizontalInterp(st, cur, out);
        ++st->counter[2];
    }
};

} // namespace

int bilinearCopy(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                 uint32_t* made)
{
    return copy_lines(st, dst, src, used, made);
}

int linearCopy(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
               uint32_t* made)
{
    return copy_lines(st, dst, src, used, made);
}

int bilinearInterpolate(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                        uint32_t* made)
{
    return Enlarger{st, dst, src, used, made}.run(BilinearLines{});
}

int linearInterpolate(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                      uint32_t* made)
{
    return Enlarger{st, dst, src, used, made}.run(LinearLines{});
}

// Fewer lines, bilinear: the accumulator rule over lines (b = counter 0, a = counter 1). Line i
// makes a destination line from line i - 1 (kept in buffer A, resized) and itself when a <= b;
// a line is kept exactly when the next line makes one. Only the difference b - a matters, so both
// are brought down by their minimum after each line and never grow without bound.
int bilinearScale(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                  uint32_t* made)
{
    clear_counts(used, made);
    const uint64_t s = st->param.src_lines, d = st->param.dst_lines;
    uint64_t b = st->counter[0], a = st->counter[1];
    const uint32_t avail = available_lines(st, src);
    uint32_t i = 0;
    for (; i < avail; ++i) {
        const bool makes = a <= b;
        if (makes && *made >= dst->lines) break;
        const uint8_t* line = line_of(src, st, i);
        if (makes) {
            horizontalInterp(st, line, st->line_b);
            bilinear::verticalScale(st, st->line_a, st->line_b, line_of(dst, st, *made),
                                    static_cast<uint32_t>(d - (b - a)));
            ++*made;
            a += s;
        }
        b += d;
        if (a <= b) {
            if (makes)
                std::swap(st->line_a, st->line_b);
            else
                horizontalInterp(st, line, st->line_a);
            st->prev_line = st->line_a;
        }
        const uint64_t low = std::min(a, b);
        a -= low;
        b -= low;
        --st->lines_expected;
    }
    st->counter[0] = static_cast<uint32_t>(b);
    st->counter[1] = static_cast<uint32_t>(a);
    if (i > 0) st->first_line = kInterpStarted;
    *used = i;
    return a <= b && st->lines_expected > 0 && st->first_line == kInterpStarted ? -1 : 0;
}

// Fewer lines, linear: the survival rule over lines (counter 0); survivors are resized.
int linearScale(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                uint32_t* made)
{
    clear_counts(used, made);
    const uint64_t s = st->param.src_lines, d = st->param.dst_lines;
    uint64_t c = st->counter[0];
    const uint32_t avail = available_lines(st, src);
    uint32_t i = 0;
    for (; i < avail; ++i) {
        uint64_t next = c;
        if (next >= s) next -= s;
        const bool survives = next < d;
        if (survives && *made >= dst->lines) break;
        if (survives) {
            horizontalInterp(st, line_of(src, st, i), line_of(dst, st, *made));
            ++*made;
        }
        c = next + d;
        --st->lines_expected;
    }
    st->counter[0] = static_cast<uint32_t>(c);
    if (i > 0) st->first_line = kInterpStarted;
    *used = i;
    return 0;
}

// ---- set-up -------------------------------------------------------------------------------------

namespace {

interp_horizontal_fn choose_horizontal(const INTERP_STATE* st, bool bilinear_family)
{
    const uint32_t s = st->param.src_pixels, d = st->param.dst_pixels;
    if (s == d) return nullptr;
    const bool shrink = d < s;
    const bool colour = st->param.color != 0;
    const bool words = in_words(st);
    // [family][colour][words][shrink]
    static const interp_horizontal_fn table[2][2][2][2] = {
        {{{linear::_interpHorGrayInByte, linear::_scaleHorGrayInByte},
          {linear::_interpHorGrayInWord, linear::_scaleHorGrayInWord}},
         {{linear::_interpHorColorInByte, linear::_scaleHorColorInByte},
          {linear::_interpHorColorInWord, linear::_scaleHorColorInWord}}},
        {{{bilinear::_interpHorGrayInByte, bilinear::_scaleHorGrayInByte},
          {bilinear::_interpHorGrayInWord, bilinear::_scaleHorGrayInWord}},
         {{bilinear::_interpHorColorInByte, bilinear::_scaleHorColorInByte},
          {bilinear::_interpHorColorInWord, bilinear::_scaleHorColorInWord}}},
    };
    return table[bilinear_family][colour][words][shrink];
}

} // namespace

void BilinearInterpPrologue(INTERP_STATE* st)
{
    const uint32_t s = st->param.src_lines, d = st->param.dst_lines;
    st->counter[0] = d;
    st->counter[1] = s;
    st->counter[2] = 0;
    st->counter[3] = 0;
    st->horizontal = choose_horizontal(st, true);
    st->vertical = d > s ? bilinearInterpolate : (d < s ? bilinearScale : bilinearCopy);
}

void LinearInterpPrologue(INTERP_STATE* st)
{
    const uint32_t s = st->param.src_lines, d = st->param.dst_lines;
    st->counter[0] = d < s ? d : 0;
    st->counter[1] = d - s;
    st->counter[2] = 0xFFFFFFFFu;
    st->counter[3] = 0;
    st->horizontal = choose_horizontal(st, false);
    st->vertical = d > s ? linearInterpolate : (d < s ? linearScale : linearCopy);
}

INTERP_STATE* InterpStart(MYHANDLE handle, const INTERP_PARAM* param)
{
    if (param == nullptr) return nullptr;
    const INTERP_PARAM& p = *param;
    if (p.src_pixels == 0 || p.src_lines == 0 || p.dst_pixels == 0 || p.dst_lines == 0) return nullptr;
    if (p.depth == 0 || p.depth > 16) return nullptr;
    const uint64_t bytes = (p.depth > 8 ? 2u : 1u) * (p.color != 0 ? 3u : 1u);
    if (static_cast<uint64_t>(p.src_pixels) * bytes > p.src_row_bytes ||
        static_cast<uint64_t>(p.dst_pixels) * bytes > p.dst_row_bytes)
        return nullptr;

    auto* st = static_cast<INTERP_STATE*>(lpMyGlobalAlloc(handle, sizeof(INTERP_STATE)));
    if (st == nullptr) return nullptr;
    st->param = p;
    st->first_line = kInterpFirstLine;
    st->handle = handle;
    st->lines_expected = p.src_lines;
    st->max_value = static_cast<uint16_t>(p.depth > 8 ? (1u << p.depth) - 1 : 255);
    if (p.src_lines != p.dst_lines) {
        const uint32_t size = std::max(p.src_row_bytes, p.dst_row_bytes);
        st->line_a = static_cast<uint8_t*>(lpMyGlobalAlloc(handle, size));
        st->line_b = static_cast<uint8_t*>(lpMyGlobalAlloc(handle, size));
        if (st->line_a == nullptr || st->line_b == nullptr) {
            InterpEnd(handle, &st);
            return nullptr;
        }
    }
    if (p.method == 1)
        BilinearInterpPrologue(st);
    else
        LinearInterpPrologue(st);
    return st;
}

int Interpolate(INTERP_STATE* state, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                uint32_t* made)
{
    uint32_t used_here = 0, made_here = 0;
    int result = 0;
    if (state != nullptr && dst != nullptr && src != nullptr && state->vertical != nullptr &&
        (src->lines == 0 || src->data != nullptr) && (dst->lines == 0 || dst->data != nullptr))
        result = state->vertical(state, dst, src, &used_here, &made_here);
    if (used != nullptr) *used = used_here;
    if (made != nullptr) *made = made_here;
    return result;
}

void InterpEnd(MYHANDLE handle, INTERP_STATE** state)
{
    if (state == nullptr || *state == nullptr) return;
    vMyGlobalFreeT(handle, &(*state)->line_a);
    vMyGlobalFreeT(handle, &(*state)->line_b);
    vMyGlobalFreeT(handle, state);
}
