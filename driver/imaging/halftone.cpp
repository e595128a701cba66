#include "halftone.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The 12 built-in patterns back to back in index order; each row from left to right, rows from
// top to bottom. A value is the threshold that a mapped grey value must stay below to give bit 1.
// clang-format off
const uint8_t kPatterns[403] = {
    // 0: side 8
     98,  77,  49, 105, 154, 175, 203, 144,
     46,  28,  32,  84, 210, 228, 224, 168,
     70,  39,  35,  56, 182, 217, 221, 196,
    119,  42,  63,  91, 130, 214, 189, 161,
    158, 179, 207, 151, 102,  81,  53, 112,
    210, 228, 224, 172,  46,  28,  32,  88,
    186, 217, 221, 200,  74,  39,  35,  60,
    137, 214, 193, 165, 126,  42,  67,  95,
    // 1: side 8
     18,  32,  21,  35,  25,  39,  28,  42,
     46,  60,  49,  63,  53,  67,  56,  70,
     74,  88,  77,  91,  81,  95,  84,  98,
    102, 116, 105, 119, 109, 123, 112, 126,
    130, 144, 133, 147, 137, 151, 140, 154,
    158, 172, 161, 175, 165, 179, 168, 182,
    186, 200, 189, 203, 193, 207, 196, 210,
    214, 228, 217, 231, 221, 235, 224, 238,
    // 2: side 8
     18,  46,  74, 102, 130, 158, 186, 214,
     21,  49,  77, 105, 133, 161, 189, 217,
     25,  53,  81, 109, 137, 165, 193, 221,
     28,  56,  84, 112, 140, 168, 196, 224,
     32,  60,  88, 116, 144, 172, 200, 228,
     35,  63,  91, 119, 147, 175, 203, 231,
     39,  67,  95, 123, 151, 179, 207, 235,
     42,  70,  98, 126, 154, 182, 210, 238,
    // 3: side 8
     21, 130,  49, 158,  28, 137,  56, 165,
    186,  77, 214, 105, 193,  84, 221, 112,
     63, 172,  35, 144,  70, 179,  42, 151,
    228, 119, 200,  91, 235, 126, 207,  98,
     28, 137,  56, 165,  21, 130,  49, 158,
    193,  84, 221, 112, 186,  77, 214, 105,
     70, 179,  42, 151,  63, 172,  35, 144,
    235, 126, 207,  98, 228, 119, 200,  91,
    // 4: side 6
     36,  44,  52, 132, 228, 220,
     28,  20,  68, 148, 236, 212,
    116, 100,  84, 164, 180, 196,
    140, 228, 220,  36,  44,  60,
    156, 236, 212,  28,  20,  76,
    172, 188, 204, 124, 108,  92,
    // 5: side 5
    236, 101, 110, 119, 128,
    227,  91,  29,  38, 137,
    218,  83,  20,  47, 146,
    209,  74,  65,  56, 155,
    200, 191, 182, 173, 164,
    // 6: side 5
    227, 191, 119, 155, 236,
    146,  83,  56,  91, 200,
    110,  47,  20,  29, 128,
    182,  74,  38,  65, 164,
    218, 137, 101, 173, 209,
    // 7: side 4
    107, 121, 135, 149,
     93,  23,  37, 163,
     79,  65,  51, 177,
    233, 219, 205, 191,
    // 8: side 4
    149, 135, 107,  65,
    121,  93,  51, 191,
     79,  37, 177, 219,
     23, 163, 205, 233,
    // 9: side 4
    219, 163, 107, 233,
     93,  37,  51, 177,
    149,  23,  65, 121,
    205,  79, 135, 191,
    // 10: side 3
     40, 150,  84,
    216, 128, 172,
    106, 194,  62,
    // 11: side 2
     44, 212,
    156, 100,
};
// clang-format on

const uint16_t kSides[kHalftonePatternCount] = {8, 8, 8, 8, 6, 5, 5, 4, 4, 4, 3, 2};

const uint16_t kDescriptors[kHalftonePatternCount] = {
    0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505, 0x5506, 0x4407, 0x4408, 0x4409, 0x330A, 0x220B,
};

bool is_built_in(int index)
{
    return index >= 0 && index < kHalftonePatternCount;
}

// Used when a record has no map: converting against the grey values themselves.
const uint8_t* identity_map()
{
    static const auto table = [] {
        struct Map {
            uint8_t v[256];
        } m{};
        for (int i = 0; i < 256; ++i) m.v[i] = static_cast<uint8_t>(i);
        return m;
    }();
    return table.v;
}

// Packs one bit per pixel, most significant first, eight to a byte, each byte XORed with the
// mask; a short last byte holds its bits at the top with zeros below them before the XOR.
// `bit(i, column)` gives pixel i's bit; `column` runs 0..side-1 from `first_column` and wraps.
template <typename Bit>
void pack_line(uint8_t* dst, int width, uint8_t xor_mask, uint32_t side, uint32_t first_column, Bit bit)
{
    uint32_t col = first_column;
    auto gather = [&](int i, int n) {
        uint32_t byte = 0;
        for (int b = 0; b < n; ++b) {
            byte = (byte << 1) | bit(i + b, col);
            if (++col == side) col = 0;
        }
        return byte;
    };
    int i = 0;
    for (; i + 8 <= width; i += 8) *dst++ = static_cast<uint8_t>(gather(i, 8) ^ xor_mask);
    if (i < width) {
        const int rest = width - i;
        *dst = static_cast<uint8_t>((gather(i, rest) << (8 - rest)) ^ xor_mask);
    }
}

#if defined(__SSE2__)
// Byte b with its bit order turned round.
const auto kReversed = [] {
    std::array<uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int k = 0; k < 8; ++k) r |= ((b >> k) & 1) << (7 - k);
        table[static_cast<size_t>(b)] = static_cast<uint8_t>(r);
    }
    return table;
}();

// Sixteen grey values through the map.
inline __m128i mapped(const uint8_t* src, const uint8_t* map, bool identity)
{
    if (identity) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    uint64_t low = 0, high = 0;
    for (int k = 7; k >= 0; --k) {
        low = (low << 8) | map[src[k]];
        high = (high << 8) | map[src[8 + k]];
    }
    return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// Whole groups of 16 pixels: map, compare with the thresholds of the pixels' columns (unsigned:
// a value at or above its threshold is where max(value, threshold) is the value), and turn the
// comparison mask, first pixel in its lowest bit, into bytes with the first pixel at the top.
// Gives the pixels done.
int convert_groups(uint8_t* dst, const uint8_t* src, int width, const uint8_t* map, const uint8_t* row, uint32_t side,
                   uint8_t xor_mask)
{
    if (side > kHalftoneMaxUserSide) return 0;
    bool identity = true;
    for (int v = 0; v < 256 && identity; ++v) identity = map[v] == v;
    // The thresholds of 16 pixels whose first one is in column c, for every c.
    __m128i thresholds[kHalftoneMaxUserSide];
    for (uint32_t c = 0; c < side; ++c) {
        alignas(16) uint8_t t[16];
        for (uint32_t k = 0; k < 16; ++k) t[k] = row[(c + k) % side];
        thresholds[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(t));
    }
    const uint32_t step = 16 % side;
    uint32_t column = 0;
    int i = 0;
    for (; i + 16 <= width; i += 16) {
        const __m128i v = mapped(src + i, map, identity);
        const __m128i at_or_above = _mm_cmpeq_epi8(_mm_max_epu8(v, thresholds[column]), v);
        const auto below = static_cast<uint32_t>(~_mm_movemask_epi8(at_or_above));
        dst[i / 8] = static_cast<uint8_t>(kReversed[below & 0xFF] ^ xor_mask);
        dst[i / 8 + 1] = static_cast<uint8_t>(kReversed[(below >> 8) & 0xFF] ^ xor_mask);
        column += step;
        if (column >= side) column -= side;
    }
    return i;
}
#endif

// One line: bit = map[grey] < threshold of the pixel's column, the columns running through `row`
// of `side` thresholds from the line's first pixel.
void convert_line(uint8_t* dst, const uint8_t* src, int width, const uint8_t* map, const uint8_t* row, uint32_t side,
                  uint8_t xor_mask)
{
    int done = 0;
#if defined(__SSE2__)
    done = convert_groups(dst, src, width, map, row, side, xor_mask);
#endif
    pack_line(dst + done / 8, width - done, xor_mask, side, static_cast<uint32_t>(done) % side,
              [&](int i, uint32_t col) { return static_cast<uint32_t>(map[src[done + i]] < row[col]); });
}

} // namespace

int GetNumOfHTPattern()
{
    return kHalftonePatternCount;
}

int GetHTPatStruct(uint16_t* destination, int first, int count)
{
    if (destination == nullptr || !is_built_in(first) || count <= 0) return 0;
    const int n = count < kHalftonePatternCount - first ? count : kHalftonePatternCount - first;
    for (int i = 0; i < n; ++i) destination[i] = kDescriptors[first + i];
    return n;
}

const uint8_t* getPattern(int index)
{
    if (!is_built_in(index)) return nullptr;
    size_t offset = 0;
    for (int i = 0; i < index; ++i) offset += static_cast<size_t>(kSides[i]) * kSides[i];
    return kPatterns + offset;
}

void* GetHTPattern(void* destination, int index)
{
    const uint8_t* pattern = getPattern(index);
    if (destination == nullptr || pattern == nullptr) return nullptr;
    std::memcpy(destination, pattern, static_cast<size_t>(kSides[index]) * kSides[index]);
    return destination;
}

HALFTONE_PARAM* SingleBitProcessPrologue(int type, const uint8_t* map, int index, uint8_t* pattern_buffer,
                                         uint16_t side, MYHANDLE handle)
{
    // A host pattern above 16 x 16 would not fit the record.
    if (!is_built_in(index) && side > kHalftoneMaxUserSide) return nullptr;
    auto* p = static_cast<HALFTONE_PARAM*>(lpMyGlobalAlloc(handle, sizeof(HALFTONE_PARAM)));
    if (p == nullptr) return nullptr;
    p->xor_mask = type == 1 ? 0x00 : 0xFF;
    p->row = 0;
    p->map = map;
    if (is_built_in(index)) {
        side = kSides[index];
        p->pattern = getPattern(index);
        if (pattern_buffer != nullptr) {
            pattern_buffer[0] = static_cast<uint8_t>(side);
            std::memcpy(pattern_buffer + 1, p->pattern, static_cast<size_t>(side) * side);
        }
        p->process = halftoneProcess;
    } else if (pattern_buffer != nullptr && side != 0) {
        std::memcpy(p->user_pattern, pattern_buffer, static_cast<size_t>(side) * side);
        p->pattern = p->user_pattern;
        p->process = halftoneProcess;
    } else {
        p->pattern = nullptr;
        p->process = lineartProcess;
    }
    p->side = side;
    return p;
}

void SingleBitProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width)
{
    if (param == nullptr || param->process == nullptr) return;
    param->process(param, dst, src, width);
}

void SingleBitEpilogue(MYHANDLE handle, HALFTONE_PARAM** param)
{
    if (param == nullptr) return;
    vMyGlobalFreeT(handle, param);
}

void halftoneProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width)
{
    if (param == nullptr) return;
    const uint32_t side = param->side;
    if (param->pattern == nullptr || side == 0) {
        lineartProcess(param, dst, src, width);
        return;
    }
    if (dst != nullptr && src != nullptr && width > 0) {
        const uint8_t* map = param->map != nullptr ? param->map : identity_map();
        const uint8_t* row = param->pattern + static_cast<size_t>(param->row % side) * side;
        convert_line(dst, src, width, map, row, side, param->xor_mask);
    }
    param->row = static_cast<uint16_t>((param->row % side + 1) % side);
}

void lineartProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width)
{
    if (param == nullptr || dst == nullptr || src == nullptr || width <= 0) return;
    const uint8_t* map = param->map != nullptr ? param->map : identity_map();
    static const uint8_t kMiddle = 128;
    convert_line(dst, src, width, map, &kMiddle, 1, param->xor_mask);
}
