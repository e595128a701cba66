#include "interpolate.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

int Floor(double value)
{
    // Out-of-range values would make the conversion undefined; the tables never get near them.
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT_MAX;
    if (value <= -2147483648.0) return INT_MIN;
    int t = static_cast<int>(value);
    if (static_cast<double>(t) > value) --t;
    return t;
}

void interpolate_position_table(uint32_t* table, uint32_t count, double ratio, uint32_t limit)
{
    interpolate_position_table(table, count, 0.0, ratio, limit);
}

void interpolate_position_table(uint32_t* table, uint32_t count, double origin, double step, uint32_t limit)
{
    for (uint32_t i = 0; i < count; ++i) {
        // With origin 0 the sum is the product exactly: tables placed by their sizes stay as they were.
        const double pos = std::max(0.0, origin + static_cast<double>(i) * step);
        const int k = Floor(pos);
        const double r = (pos - static_cast<double>(k)) * 256.0;
        const int f = (r > 0.0 && r < 1.0) ? 1 : Floor(r);
        uint32_t entry = (static_cast<uint32_t>(k) << 8) + static_cast<uint32_t>(f);
        if (entry > limit) entry = limit;
        table[i] = entry;
    }
}

// ---- vertical workers ---------------------------------------------------------------------------

void VResizeLinear_FIXPT_8u(interpolate_line_pair pair, void* dst_v, uint32_t samples, uint32_t f)
{
    const auto* a = static_cast<const uint8_t*>(pair.first);
    const auto* b = static_cast<const uint8_t*>(pair.second);
    auto* d = static_cast<uint8_t*>(dst_v);
    if (f == 0) { // (a x 256) >> 8 is a
        std::memmove(d, a, samples);
        return;
    }
    const uint32_t g = 256 - f;
    uint32_t s = 0;
#if defined(__SSE2__)
    // a(256 - f) + bf <= 65280, so 16-bit lanes hold the exact sum.
    const __m128i wa = _mm_set1_epi16(static_cast<short>(g));
    const __m128i wb = _mm_set1_epi16(static_cast<short>(f));
    const __m128i zero = _mm_setzero_si128();
    for (; s + 16 <= samples; s += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + s));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + s));
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb)),
                                          8);
        const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb)),
                                          8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + s), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; s < samples; ++s) d[s] = static_cast<uint8_t>((a[s] * g + b[s] * f) >> 8);
}

void VResizeLinear_FIXPT_16u(interpolate_line_pair pair, void* dst_v, uint32_t samples, uint32_t f)
{
    const auto* a = static_cast<const uint16_t*>(pair.first);
    const auto* b = static_cast<const uint16_t*>(pair.second);
    auto* d = static_cast<uint16_t*>(dst_v);
    if (f == 0) {
        std::memmove(d, a, static_cast<size_t>(samples) * 2);
        return;
    }
    const uint32_t g = 256 - f;
    uint32_t s = 0;
#if defined(__SSE2__)
    // Eight samples at a time. Each product a(256 - f) and bf is formed whole in 32 bits from its
    // low and high 16-bit halves; the sum shifted by 8 fits 16 bits, which are sign-extended so
    // that the signed pack keeps them as they are.
    const __m128i wa = _mm_set1_epi16(static_cast<short>(g));
    const __m128i wb = _mm_set1_epi16(static_cast<short>(f));
    for (; s + 8 <= samples; s += 8) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + s));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + s));
        const __m128i a_low = _mm_mullo_epi16(va, wa), a_high = _mm_mulhi_epu16(va, wa);
        const __m128i b_low = _mm_mullo_epi16(vb, wb), b_high = _mm_mulhi_epu16(vb, wb);
        const __m128i lo =
            _mm_srli_epi32(_mm_add_epi32(_mm_unpacklo_epi16(a_low, a_high), _mm_unpacklo_epi16(b_low, b_high)), 8);
        const __m128i hi =
            _mm_srli_epi32(_mm_add_epi32(_mm_unpackhi_epi16(a_low, a_high), _mm_unpackhi_epi16(b_low, b_high)), 8);
        const __m128i packed =
            _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16), _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + s), packed);
    }
#endif
    for (; s < samples; ++s) d[s] = static_cast<uint16_t>((a[s] * g + b[s] * f) >> 8);
}

// ---- horizontal workers -------------------------------------------------------------------------

namespace {

template <typename T, int CH> void copy_line(const void* src, void* dst, uint32_t dst_width)
{
    std::memcpy(dst, src, static_cast<size_t>(dst_width) * CH * sizeof(T));
}

// The pair (k, k + 1) is read directly from the entry: the same pair that walking along the line
// reaches, since the table never decreases. Entries never point past the second-to-last sample
// of a line of two or more; a table whose last entry is 0 is all zeros (a source of one sample,
// or one destination pixel), and every pixel is then sample 0 with weight 256.
template <typename T, int CH> void resize_line(const void* src_v, void* dst_v, uint32_t dst_width, const uint32_t* hval)
{
    const auto* s = static_cast<const T*>(src_v);
    auto* d = static_cast<T*>(dst_v);
    if (dst_width == 0) return;
    if (hval[dst_width - 1] == 0) {
        for (uint32_t i = 0; i < dst_width; ++i)
            for (int c = 0; c < CH; ++c) d[i * CH + c] = s[c];
        return;
    }
    for (uint32_t i = 0; i < dst_width; ++i) {
        const uint32_t v = hval[i];
        const uint32_t k = (v >> 8) * CH;
        const uint32_t f = v & 0xFF;
        const uint32_t g = 256 - f;
        for (int c = 0; c < CH; ++c) d[i * CH + c] = static_cast<T>((s[k + c] * g + s[k + CH + c] * f) >> 8);
    }
}

// The 8-bit three-channel form, the one a colour scan runs through, four lanes at a time: the
// pixel pair is interleaved as (a, b) 16-bit lanes and one multiply-add per channel gives
// a(256 - f) + bf exactly. Each result is stored as 4 bytes whose last one the next pixel
// overwrites; pixels whose loads or store would reach past a line take the scalar form.
void resize_line_8u3ch_sse2(const uint8_t* s, uint8_t* d, uint32_t dst_width, const uint32_t* hval, uint32_t& i)
{
#if defined(__SSE2__)
    // The source holds at least 3 x (k_last + 2) bytes; loads of 8 bytes at 3k + 3 stay inside
    // while 3k + 11 <= 3 x (k_last + 2).
    const uint64_t src_bytes = 3 * (static_cast<uint64_t>(hval[dst_width - 1] >> 8) + 2);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 1 < dst_width; ++i) {
        const uint32_t v = hval[i];
        const uint32_t k = (v >> 8) * 3;
        if (k + 11 > src_bytes) break;
        const uint32_t f = v & 0xFF;
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k + 3));
        const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
        const __m128i w = _mm_set1_epi32(static_cast<int>((256 - f) | (f << 16)));
        const __m128i sum = _mm_srli_epi32(_mm_madd_epi16(ab, w), 8);
        const __m128i px = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
        const uint32_t out = static_cast<uint32_t>(_mm_cvtsi128_si32(px));
        std::memcpy(d + 3 * i, &out, 4);
    }
#else
    (void)s, (void)d, (void)dst_width, (void)hval, (void)i;
#endif
}

#if defined(__x86_64__) || defined(__i386__)
// The same with byte shuffles, four pixels per round. One 8-byte load holds a pixel pair (a0 a1
// a2 b0 b1 b2); the shuffle spreads it to the 16-bit lanes (a0 b0 a1 b1 a2 b2 0 0), and one
// multiply-add by (256 - f, f) gives the three channels' sums exactly (at most 65280). The four
// pixels' 12 bytes are gathered into one 16-byte store whose last 4 bytes the next round
// overwrites; the rounds stop while a load or that store could still reach past a line.
// One pixel: its pair from source byte k, spread and blended by the weights in `w`; the three
// channels' results in the low 16 bits of lanes 0-2, lane 3 zero.
__attribute__((target("ssse3"), always_inline)) inline __m128i blend_pixel(const uint8_t* s, uint32_t k, __m128i spread,
                                                                           __m128i w)
{
    const __m128i pair = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k)), spread);
    return _mm_srli_epi32(_mm_madd_epi16(pair, w), 8);
}

__attribute__((target("ssse3"))) void resize_line_8u3ch_ssse3(const uint8_t* s, uint8_t* d, uint32_t dst_width,
                                                              const uint32_t* hval, uint32_t& done)
{
    const uint64_t src_bytes = 3 * (static_cast<uint64_t>(hval[dst_width - 1] >> 8) + 2);
    const __m128i spread = _mm_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
    const __m128i gather = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i byte_mask = _mm_set1_epi32(0xFF);
    const __m128i k256 = _mm_set1_epi32(256);
    uint32_t i = done;
    // The store of round i covers bytes 3i .. 3i + 15 of a line of 3 x dst_width bytes.
    for (; i + 6 <= dst_width; i += 4) {
        const uint32_t* h = hval + i;
        if (uint64_t{h[3] >> 8} * 3 + 8 > src_bytes) break;
        // Weights (256 - f) | f << 16 of the four pixels.
        const __m128i f = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), byte_mask);
        const __m128i w = _mm_add_epi32(_mm_sub_epi32(_mm_slli_epi32(f, 16), f), k256);
        const __m128i p0 = blend_pixel(s, (h[0] >> 8) * 3, spread, _mm_shuffle_epi32(w, 0x00));
        const __m128i p1 = blend_pixel(s, (h[1] >> 8) * 3, spread, _mm_shuffle_epi32(w, 0x55));
        const __m128i p2 = blend_pixel(s, (h[2] >> 8) * 3, spread, _mm_shuffle_epi32(w, 0xAA));
        const __m128i p3 = blend_pixel(s, (h[3] >> 8) * 3, spread, _mm_shuffle_epi32(w, 0xFF));
        const __m128i px = _mm_packus_epi16(_mm_packs_epi32(p0, p1), _mm_packs_epi32(p2, p3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * i), _mm_shuffle_epi8(px, gather));
    }
    done = i;
}

bool processor_has_ssse3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}

const bool kHasSsse3 = processor_has_ssse3();
bool use_ssse3 = kHasSsse3;
#else
constexpr bool kHasSsse3 = false;
bool use_ssse3 = false;
#endif

void resize_line_8u3ch(const void* src_v, void* dst_v, uint32_t dst_width, const uint32_t* hval)
{
    if (dst_width == 0 || hval[dst_width - 1] == 0) {
        resize_line<uint8_t, 3>(src_v, dst_v, dst_width, hval);
        return;
    }
    const auto* s = static_cast<const uint8_t*>(src_v);
    auto* d = static_cast<uint8_t*>(dst_v);
    uint32_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (use_ssse3) resize_line_8u3ch_ssse3(s, d, dst_width, hval, i);
#endif
    resize_line_8u3ch_sse2(s, d, dst_width, hval, i);
    for (; i < dst_width; ++i) {
        const uint32_t v = hval[i];
        const uint32_t k = (v >> 8) * 3;
        const uint32_t f = v & 0xFF;
        const uint32_t g = 256 - f;
        for (int c = 0; c < 3; ++c) d[3 * i + c] = static_cast<uint8_t>((s[k + c] * g + s[k + 3 + c] * f) >> 8);
    }
}

} // namespace

void HResizeLinear_FIXPT_Copy_8u1ch(const void* s, void* d, uint32_t w, const uint32_t*)
{
    copy_line<uint8_t, 1>(s, d, w);
}
void HResizeLinear_FIXPT_Copy_16u1ch(const void* s, void* d, uint32_t w, const uint32_t*)
{
    copy_line<uint16_t, 1>(s, d, w);
}
void HResizeLinear_FIXPT_Copy_8u3ch(const void* s, void* d, uint32_t w, const uint32_t*)
{
    copy_line<uint8_t, 3>(s, d, w);
}
void HResizeLinear_FIXPT_Copy_16u3ch(const void* s, void* d, uint32_t w, const uint32_t*)
{
    copy_line<uint16_t, 3>(s, d, w);
}
void HResizeLinear_FIXPT_ScaleUp_8u1ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint8_t, 1>(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleUp_16u1ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint16_t, 1>(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleUp_8u3ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line_8u3ch(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleUp_16u3ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint16_t, 3>(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleDown_8u1ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint8_t, 1>(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleDown_16u1ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint16_t, 1>(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleDown_8u3ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line_8u3ch(s, d, w, h);
}
void HResizeLinear_FIXPT_ScaleDown_16u3ch(const void* s, void* d, uint32_t w, const uint32_t* h)
{
    resize_line<uint16_t, 3>(s, d, w, h);
}

// ---- handle -------------------------------------------------------------------------------------

namespace {

uint32_t axis_limit(uint32_t size)
{
    // A single sample has no second one to blend with: every entry becomes (0, 0).
    return size == 1 ? 0 : ((size - 1) << 8) - 1;
}

// `copy`: the destination's pixels are the source's first ones, one for one.
interpolate_horizontal_fn choose_horizontal(uint32_t depth, uint32_t channels, uint32_t src, uint32_t dst, bool copy)
{
    static const interpolate_horizontal_fn table[3][4] = {
        {HResizeLinear_FIXPT_Copy_8u1ch, HResizeLinear_FIXPT_Copy_16u1ch, HResizeLinear_FIXPT_Copy_8u3ch,
         HResizeLinear_FIXPT_Copy_16u3ch},
        {HResizeLinear_FIXPT_ScaleUp_8u1ch, HResizeLinear_FIXPT_ScaleUp_16u1ch, HResizeLinear_FIXPT_ScaleUp_8u3ch,
         HResizeLinear_FIXPT_ScaleUp_16u3ch},
        {HResizeLinear_FIXPT_ScaleDown_8u1ch, HResizeLinear_FIXPT_ScaleDown_16u1ch, HResizeLinear_FIXPT_ScaleDown_8u3ch,
         HResizeLinear_FIXPT_ScaleDown_16u3ch},
    };
    const int mode = copy ? 0 : (src < dst ? 1 : 2);
    int kind;
    if (channels == 1)
        kind = depth == 16 ? 1 : 0;
    else
        kind = depth == 8 ? 2 : 3;
    return table[mode][kind];
}

uint32_t row_bytes(uint32_t depth, uint32_t width, uint32_t bytes_per_sample, uint32_t channels)
{
    if (depth == 1) return (width + 7) / 8;
    return width * bytes_per_sample * channels;
}

void free_handle(interpolate_handle* h)
{
    if (h == nullptr) return;
    delete[] h->hval;
    delete[] h->vval;
    delete[] h->line_block;
    delete h;
}

// Destination line j can be made once source line k + 1 (k = vval[j] >> 8) has arrived, that is
// when vval[j] < (lines_in - 1) << 8. With a single source line every entry is 0 and that line
// alone makes every destination line.
uint64_t ready_bound(const interpolate_handle* h, uint64_t lines_in)
{
    if (lines_in == 0) return 0;
    if (h->src_lines == 1) return 1;
    return (lines_in - 1) << 8;
}

void take_line(interpolate_handle* h, const uint8_t* src)
{
    if (h->lines_in == 0) {
        h->horizontal(src, h->line1, h->dst_width, h->hval);
        if (h->src_lines == 1) std::memcpy(h->line0, h->line1, h->dst_row_bytes);
    } else {
        uint8_t* t = h->line0;
        h->line0 = h->line1;
        h->line1 = t;
        h->horizontal(src, h->line1, h->dst_width, h->hval);
    }
    ++h->lines_in;
}

bool next_line_ready(const interpolate_handle* h)
{
    return h->lines_out < h->dst_lines && h->vval[h->lines_out] < ready_bound(h, h->lines_in);
}

void make_line(interpolate_handle* h, uint8_t* dst)
{
    h->vertical({h->line0, h->line1}, dst, h->dst_samples, h->vval[h->lines_out] & 0xFF);
    ++h->lines_out;
}

} // namespace

int interpolate_init(interpolate_handle** out, const interpolate_param_t* p)
{
    return interpolate_init_placed(out, p, nullptr);
}

int interpolate_init_placed(interpolate_handle** out, const interpolate_param_t* p, const interpolate_place_t* place)
{
    if (out == nullptr) return kInterpolateInvalid;
    *out = nullptr;
    if (p == nullptr) return kInterpolateInvalid;
    // Depth 1 is refused: its rows are packed bits, which the workers would read as bytes.
    if (p->depth != 8 && p->depth != 16) return kInterpolateInvalid;
    if (p->channels != 1 && p->channels != 3) return kInterpolateInvalid;
    if (p->src_lines == 0 || p->dst_lines == 0 || p->src_width == 0 || p->dst_width == 0) return kInterpolateInvalid;
    if (p->src_lines > kInterpolateMaxLines || p->dst_lines > kInterpolateMaxLines ||
        p->src_width > kInterpolateMaxWidth || p->dst_width > kInterpolateMaxWidth)
        return kInterpolateInvalid;

    auto* h = new (std::nothrow) interpolate_handle{};
    if (h == nullptr) return kInterpolateNoMemory;
    h->depth = p->depth;
    h->channels = p->channels;
    h->src_width = p->src_width;
    h->src_lines = p->src_lines;
    h->dst_width = p->dst_width;
    h->dst_lines = p->dst_lines;
    h->bytes_per_sample = p->depth == 16 ? 2 : 1;
    h->x_ratio = static_cast<double>(h->src_width) / static_cast<double>(h->dst_width);
    h->y_ratio = static_cast<double>(h->src_lines) / static_cast<double>(h->dst_lines);
    if (place != nullptr && place->x_step > 0) {
        h->x_origin = place->x_origin;
        h->x_ratio = place->x_step;
    }
    if (place != nullptr && place->y_step > 0) {
        h->y_origin = place->y_origin;
        h->y_ratio = place->y_step;
    }
    h->x_limit = axis_limit(h->src_width);
    h->y_limit = axis_limit(h->src_lines);
    h->src_row_bytes = row_bytes(h->depth, h->src_width, h->bytes_per_sample, h->channels);
    h->dst_row_bytes = row_bytes(h->depth, h->dst_width, h->bytes_per_sample, h->channels);
    h->dst_samples = h->dst_width * h->channels;

    h->hval = new (std::nothrow) uint32_t[h->dst_width];
    h->vval = new (std::nothrow) uint32_t[h->dst_lines];
    h->line_block = new (std::nothrow) uint8_t[2 * static_cast<size_t>(h->dst_row_bytes)]();
    if (h->hval == nullptr || h->vval == nullptr || h->line_block == nullptr) {
        free_handle(h);
        return kInterpolateNoMemory;
    }
    h->line0 = h->line_block;
    h->line1 = h->line_block + h->dst_row_bytes;
    interpolate_position_table(h->hval, h->dst_width, h->x_origin, h->x_ratio, h->x_limit);
    interpolate_position_table(h->vval, h->dst_lines, h->y_origin, h->y_ratio, h->y_limit);
    h->vertical = h->depth == 16 ? VResizeLinear_FIXPT_16u : VResizeLinear_FIXPT_8u;
    const bool copy = h->src_width == h->dst_width && h->x_origin == 0 && h->x_ratio == 1.0;
    h->horizontal = choose_horizontal(h->depth, h->channels, h->src_width, h->dst_width, copy);
    *out = h;
    return kInterpolateOk;
}

int interpolate_block(interpolate_handle** handle, const interpolate_input_t* input, interpolate_output_t* output,
                      uint32_t* made)
{
    if (made != nullptr) *made = 0;
    if (output != nullptr) output->lines = 0;
    if (handle == nullptr || *handle == nullptr || input == nullptr || output == nullptr || input->data == nullptr ||
        input->lines == 0)
        return kInterpolateInvalid;
    interpolate_handle* h = *handle;

    // The tables never decrease, so the lines this block will make are known before any work:
    // every line j from lines_out on whose entry lies below the bound after the whole block.
    const uint64_t bound = ready_bound(h, static_cast<uint64_t>(h->lines_in) + input->lines);
    uint32_t count = 0;
    while (h->lines_out + count < h->dst_lines && h->vval[h->lines_out + count] < bound) ++count;
    if (count > output->room) return kInterpolateNoRoom;
    if (count > 0 && output->data == nullptr) return kInterpolateInvalid;

    const auto* src = static_cast<const uint8_t*>(input->data);
    auto* dst = static_cast<uint8_t*>(output->data);
    uint32_t remaining = input->lines;
    uint32_t n = 0;
    auto emit = [&] {
        while (next_line_ready(h)) {
            make_line(h, dst);
            dst += h->dst_row_bytes;
            ++n;
        }
    };
    if (h->lines_in == 0) {
        take_line(h, src);
        src += h->src_row_bytes;
        --remaining;
        emit();
    }
    while (remaining > 0 && h->lines_out < h->dst_lines) {
        take_line(h, src);
        src += h->src_row_bytes;
        --remaining;
        emit();
    }
    output->lines = n;
    if (made != nullptr) *made = n;
    return kInterpolateOk;
}

int interpolate_one_line(interpolate_handle** handle, const void* src_line, uint32_t index, void* dst_line,
                         uint32_t* made)
{
    if (made != nullptr) *made = 0;
    if (handle == nullptr || *handle == nullptr || src_line == nullptr || index == 0) return kInterpolateInvalid;
    interpolate_handle* h = *handle;
    const auto* src = static_cast<const uint8_t*>(src_line);
    if (index == 1) {
        h->lines_in = 0;
        take_line(h, src);
    } else if (index > h->lines_in) {
        take_line(h, src);
        h->lines_in = index;
    }
    if (next_line_ready(h)) {
        if (dst_line == nullptr) return kInterpolateInvalid;
        make_line(h, static_cast<uint8_t*>(dst_line));
        if (made != nullptr) *made = 1;
    }
    return kInterpolateOk;
}

bool interpolate_use_ssse3(bool on)
{
    const bool previous = use_ssse3;
    use_ssse3 = on && kHasSsse3;
    return previous;
}

int interpolate_exit(interpolate_handle** handle)
{
    if (handle == nullptr) return kInterpolateOk;
    free_handle(*handle);
    *handle = nullptr;
    return kInterpolateOk;
}
