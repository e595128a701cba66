#include "unused_interp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Line = std::vector<int64_t>;

struct Shape {
    bool bilinear;
    int depth;
    bool colour;
    uint32_t sw, sl, dw, dl;
};

int64_t max_of(const Shape& s)
{
    return s.depth > 8 ? (int64_t{1} << s.depth) - 1 : 255;
}

int64_t dummy(int64_t a, int64_t b, int64_t max)
{
    return std::clamp<int64_t>(2 * a - b, 0, max);
}

// Bilinear sample j of D over S samples: at position (j + 1) S / D - 1, that is between samples
// i = floor(pos) and i + 1 with w = the fraction in units of 1/D; sample -1 is extrapolated.
int64_t bilinear_at(const std::vector<int64_t>& v, int64_t before, uint64_t s, uint64_t d, uint64_t j)
{
    const int64_t num = static_cast<int64_t>((j + 1) * s) - static_cast<int64_t>(d);
    const int64_t i = num >= 0 ? num / static_cast<int64_t>(d) : -1;
    const int64_t w = num - i * static_cast<int64_t>(d);
    auto at = [&](int64_t k) {
        return k < 0 ? before : v[static_cast<size_t>(std::min<int64_t>(k, static_cast<int64_t>(s) - 1))];
    };
    if (w == 0) return at(i);
    return at(i) + (at(i + 1) - at(i)) * w / static_cast<int64_t>(d);
}

// Linear: D of every S samples survive (counter rule), or E = D - S samples inserted by error
// diffusion as evenly weighted blends.
std::vector<int64_t> linear_axis(const std::vector<int64_t>& v, int64_t before, uint64_t s, uint64_t d)
{
    std::vector<int64_t> out;
    if (d <= s) {
        uint64_t c = d;
        for (uint64_t i = 0; i < s; ++i) {
            if (c >= s) c -= s;
            if (c < d) out.push_back(v[i]);
            c += d;
        }
        return out;
    }
    uint64_t r = 0;
    int64_t prev = before;
    for (uint64_t i = 0; i < s; ++i) {
        const uint64_t n = (d - s + r) / s;
        r = (d - s + r) % s;
        for (uint64_t k = 1; k <= n; ++k)
            out.push_back((static_cast<int64_t>(n + 1 - k) * prev + static_cast<int64_t>(k) * v[i]) /
                          static_cast<int64_t>(n + 1));
        out.push_back(v[i]);
        prev = v[i];
    }
    return out;
}

std::vector<int64_t> axis(const Shape& sh, const std::vector<int64_t>& v, int64_t before, uint64_t s, uint64_t d)
{
    if (s == d) return v;
    if (!sh.bilinear) return linear_axis(v, before, s, d);
    std::vector<int64_t> out;
    for (uint64_t j = 0; j < d; ++j) out.push_back(bilinear_at(v, before, s, d, j));
    return out;
}

Line resize_line(const Shape& sh, const Line& src)
{
    const uint32_t ch = sh.colour ? 3 : 1;
    Line out(static_cast<size_t>(sh.dw) * ch);
    for (uint32_t c = 0; c < ch; ++c) {
        std::vector<int64_t> v(sh.sw);
        for (uint32_t x = 0; x < sh.sw; ++x) v[x] = src[x * ch + c];
        const auto r = axis(sh, v, dummy(v[0], v[sh.sw > 1 ? 1 : 0], max_of(sh)), sh.sw, sh.dw);
        for (uint32_t x = 0; x < sh.dw; ++x) out[x * ch + c] = r[x];
    }
    return out;
}

// The whole image: with more destination lines, lines are blended at source width and then
// resized; otherwise resized and then blended. The line before line 0 is extrapolated for grey
// and line 0 itself for colour.
std::vector<Line> ref_image(const Shape& sh, const std::vector<Line>& src)
{
    const bool enlarge = sh.dl > sh.sl;
    std::vector<Line> base = src;
    if (!enlarge)
        std::transform(src.begin(), src.end(), base.begin(), [&](const Line& l) { return resize_line(sh, l); });
    std::vector<Line> out(sh.dl, Line(base[0].size()));
    for (size_t s = 0; s < base[0].size(); ++s) {
        std::vector<int64_t> column(sh.sl);
        for (uint32_t i = 0; i < sh.sl; ++i) column[i] = base[i][s];
        const int64_t before = sh.colour ? column[0] : dummy(column[0], column[sh.sl > 1 ? 1 : 0], max_of(sh));
        const auto r = axis(sh, column, before, sh.sl, sh.dl);
        for (uint32_t j = 0; j < sh.dl; ++j) out[j][s] = r[j];
    }
    if (enlarge) std::transform(out.begin(), out.end(), out.begin(), [&](const Line& l) { return resize_line(sh, l); });
    return out;
}

struct Engine {
    INTERP_STATE* st = nullptr;
    ~Engine() { InterpEnd(nullptr, &st); }
};

size_t bytes_per_sample(const Shape& sh)
{
    return sh.depth > 8 ? 2 : 1;
}

// Packs lines into rows of `row` bytes (a little padding beyond the pixels).
std::vector<uint8_t> pack(const Shape& sh, const std::vector<Line>& lines, size_t row)
{
    std::vector<uint8_t> out(row * lines.size(), 0xCD);
    for (size_t l = 0; l < lines.size(); ++l)
        for (size_t s = 0; s < lines[l].size(); ++s) {
            if (bytes_per_sample(sh) == 2) {
                const auto v = static_cast<uint16_t>(lines[l][s]);
                std::memcpy(&out[l * row + 2 * s], &v, 2);
            } else {
                out[l * row + s] = static_cast<uint8_t>(lines[l][s]);
            }
        }
    return out;
}

Line unpack(const Shape& sh, const uint8_t* p, size_t samples)
{
    Line l(samples);
    for (size_t s = 0; s < samples; ++s) {
        if (bytes_per_sample(sh) == 2) {
            uint16_t v;
            std::memcpy(&v, p + 2 * s, 2);
            l[s] = v;
        } else {
            l[s] = p[s];
        }
    }
    return l;
}

std::vector<Line> random_lines(std::mt19937& rng, const Shape& sh)
{
    const uint32_t ch = sh.colour ? 3 : 1;
    std::vector<Line> src(sh.sl, Line(static_cast<size_t>(sh.sw) * ch));
    for (auto& l : src)
        for (auto& s : l) {
            const uint32_t pick = rng() % 4;
            s = pick == 0 ? 0 : pick == 1 ? max_of(sh) : static_cast<int64_t>(rng() % (max_of(sh) + 1));
        }
    return src;
}

// Feeds the source lines in blocks of random size into destination blocks of random room (each
// exactly allocated, so a write past the room trips the address sanitizer), feeding what a call
// did not take into the next one.
std::vector<Line> run(const Shape& sh, const std::vector<Line>& src, std::mt19937& rng, uint32_t max_block,
                      uint32_t max_room)
{
    const uint32_t ch = sh.colour ? 3 : 1;
    const size_t src_row = sh.sw * ch * bytes_per_sample(sh) + 4;
    const size_t dst_row = sh.dw * ch * bytes_per_sample(sh) + 2;
    const auto packed = pack(sh, src, src_row);
    const INTERP_PARAM p{static_cast<int16_t>(sh.bilinear ? 1 : 0),
                         static_cast<uint16_t>(sh.depth),
                         static_cast<uint16_t>(sh.colour),
                         sh.sw,
                         sh.sl,
                         static_cast<uint32_t>(src_row),
                         sh.dw,
                         sh.dl,
                         static_cast<uint32_t>(dst_row)};
    Engine e;
    e.st = InterpStart(nullptr, &p);
    EXPECT_NE(e.st, nullptr);
    std::vector<Line> out;
    if (e.st == nullptr) return out;
    uint32_t y = 0;
    uint32_t stalls = 0;
    while (out.size() < sh.dl && stalls < 1000) {
        const uint32_t n = std::min(sh.sl - y, 1 + static_cast<uint32_t>(rng() % max_block));
        const uint32_t room = static_cast<uint32_t>(rng() % (max_room + 1)) + stalls;
        std::vector<uint8_t> dst(room * dst_row);
        interp_dst_block db{room ? dst.data() : nullptr, room};
        interp_src_block sb{packed.data() + y * src_row, n};
        uint32_t used = 99, made = 99;
        Interpolate(e.st, &db, &sb, &used, &made);
        EXPECT_LE(used, n);
        EXPECT_LE(made, room);
        for (uint32_t j = 0; j < made; ++j) out.push_back(unpack(sh, dst.data() + j * dst_row, sh.dw * ch));
        y += used;
        stalls = used == 0 && made == 0 ? stalls + 1 : 0;
    }
    EXPECT_EQ(y, sh.sl);
    return out;
}

} // namespace

TEST(InterpFamilies, ExamplesOfTheDefinition)
{
    // Bilinear 10, 20 -> four pixels: the pixel before is 0; 5, 10, 15, 20.
    Shape b{true, 8, false, 2, 1, 4, 1};
    EXPECT_EQ(ref_image(b, {{10, 20}})[0], (Line{5, 10, 15, 20}));
    std::mt19937 rng(1);
    EXPECT_EQ(run(b, {{10, 20}}, rng, 1, 1)[0], (Line{5, 10, 15, 20}));
    // Linear 3 -> 5 inserts n = 0, 1, 1: p0, (p0 + p1) / 2, p1, (p1 + p2) / 2, p2.
    Shape l{false, 8, false, 3, 1, 5, 1};
    EXPECT_EQ(run(l, {{10, 21, 40}}, rng, 1, 1)[0], (Line{10, 15, 21, 30, 40}));
    // Linear 4 -> 2 keeps pixels 1 and 3.
    Shape s{false, 8, false, 4, 1, 2, 1};
    EXPECT_EQ(run(s, {{1, 2, 3, 4}}, rng, 1, 1)[0], (Line{2, 4}));
    // Equal widths copy each line unchanged in both families.
    for (bool bil : {true, false}) {
        Shape c{bil, 16, true, 2, 2, 2, 2};
        const std::vector<Line> src = {{1, 2, 3, 4, 5, 6}, {65535, 0, 7, 8, 9, 10}};
        EXPECT_EQ(run(c, src, rng, 2, 2), src);
    }
}

TEST(InterpFamilies, StreamsMatchTheWholeImageWhateverTheBlocksAndRooms)
{
    std::mt19937 rng(77);
    for (int n = 0; n < 600; ++n) {
        Shape sh;
        sh.bilinear = n % 2 == 0;
        sh.depth = (n / 2) % 3 == 0 ? 8 : ((n / 2) % 3 == 1 ? 16 : 12);
        sh.colour = (n / 6) % 2 == 1;
        sh.sw = 1 + rng() % 9;
        sh.dw = 1 + rng() % 9;
        sh.sl = 1 + rng() % 9;
        sh.dl = 1 + rng() % 9;
        if (n % 7 == 0) sh.sl = 1;
        if (n % 11 == 0) sh.sw = 2;
        const auto src = random_lines(rng, sh);
        const auto expect = ref_image(sh, src);
        const uint32_t max_block = 1 + rng() % 5;
        const uint32_t max_room = rng() % 4;
        ASSERT_EQ(run(sh, src, rng, max_block, max_room), expect)
            << (sh.bilinear ? "bilinear " : "linear ") << sh.depth << (sh.colour ? " colour " : " grey ") << sh.sw
            << "x" << sh.sl << " -> " << sh.dw << "x" << sh.dl << " blocks " << max_block << " room " << max_room;
    }
}

TEST(InterpFamilies, KeptFirstGreyLineWaitsForItsNeighbour)
{
    // A first block of one grey line cannot extrapolate the line before it: the line is kept and
    // the result says a pair is open.
    const INTERP_PARAM p{1, 8, 0, 1, 3, 1, 1, 5, 1};
    Engine e;
    e.st = InterpStart(nullptr, &p);
    ASSERT_NE(e.st, nullptr);
    const uint8_t lines[3] = {100, 50, 0};
    uint8_t out[5] = {};
    uint32_t used = 0, made = 0;
    interp_src_block first{lines, 1};
    interp_dst_block room{out, 5};
    EXPECT_EQ(Interpolate(e.st, &room, &first, &used, &made), -1);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(made, 0u);
    interp_src_block rest{lines + 1, 2};
    EXPECT_EQ(Interpolate(e.st, &room, &rest, &used, &made), 0);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(made, 5u);
    // Positions (j + 1) 3 / 5 - 1 between lines -1 (150), 0, 1, 2.
    const uint8_t expect[5] = {120, 90, 60, 30, 0};
    EXPECT_EQ(0, std::memcmp(out, expect, 5));
}

TEST(InterpFamilies, StartRefusesWhatItCannotDivideOrHold)
{
    const INTERP_PARAM ok{1, 8, 0, 4, 4, 4, 2, 2, 2};
    Engine e;
    e.st = InterpStart(nullptr, &ok);
    ASSERT_NE(e.st, nullptr);
    EXPECT_EQ(e.st->first_line, 1u);
    EXPECT_EQ(e.st->counter[0], 2u);
    EXPECT_EQ(e.st->counter[1], 4u);
    EXPECT_EQ(e.st->max_value, 255);
    const INTERP_PARAM lin{0, 12, 1, 4, 4, 24, 8, 8, 48};
    Engine l;
    l.st = InterpStart(nullptr, &lin);
    ASSERT_NE(l.st, nullptr);
    EXPECT_EQ(l.st->counter[0], 0u);
    EXPECT_EQ(l.st->counter[1], 4u);
    EXPECT_EQ(l.st->counter[2], 0xFFFFFFFFu);
    EXPECT_EQ(l.st->max_value, 4095);

    INTERP_PARAM bad[] = {ok, ok, ok, ok, ok, ok, ok, ok};
    bad[0].src_pixels = 0;
    bad[1].src_lines = 0;
    bad[2].dst_pixels = 0;
    bad[3].dst_lines = 0;
    bad[4].depth = 0;
    bad[5].depth = 17;
    bad[6].src_row_bytes = 3;
    bad[7].color = 1; // three samples per pixel no longer fit the rows
    for (const auto& b : bad) EXPECT_EQ(InterpStart(nullptr, &b), nullptr);
    EXPECT_EQ(InterpStart(nullptr, nullptr), nullptr);
    InterpEnd(nullptr, nullptr);
    INTERP_STATE* none = nullptr;
    InterpEnd(nullptr, &none);
    EXPECT_EQ(_calBDummy(200, 10, 255), 255);
    EXPECT_EQ(_calBDummy(10, 200, 255), 0);
    EXPECT_EQ(_calWDummy(3000, 1000, 4095), 4095);
    EXPECT_EQ(_calWDummy(3000, 5000, 4095), 1000);
}
