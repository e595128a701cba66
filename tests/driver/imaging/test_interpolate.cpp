#include "cpu_info.h"
#include "interpolate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// ---- references written from the definitions, one step at a time ----

std::vector<uint32_t> ref_table(uint32_t src, uint32_t dst)
{
    const double ratio = static_cast<double>(src) / static_cast<double>(dst);
    const uint32_t limit = src == 1 ? 0 : ((src - 1) << 8) - 1;
    std::vector<uint32_t> t(dst);
    for (uint32_t i = 0; i < dst; ++i) {
        const double pos = i * ratio;
        const double k = std::floor(pos);
        const double r = (pos - k) * 256.0;
        const uint32_t f = (r > 0 && r < 1) ? 1 : static_cast<uint32_t>(std::floor(r));
        const uint32_t e = (static_cast<uint32_t>(k) << 8) + f;
        t[i] = e > limit ? limit : e;
    }
    return t;
}

enum class Mode {
    Copy,
    Up,
    Down
};

// Walks the pair of source pixels along the line: ScaleUp moves at most once per destination
// pixel, ScaleDown as often as the entry asks. A line of one pixel uses it as both.
template <typename T>
std::vector<T> ref_line(const T* src, uint32_t sw, uint32_t dw, uint32_t ch, const std::vector<uint32_t>& hval)
{
    std::vector<T> out(static_cast<size_t>(dw) * ch);
    const Mode mode = sw == dw ? Mode::Copy : (sw < dw ? Mode::Up : Mode::Down);
    if (mode == Mode::Copy) {
        std::copy(src, src + out.size(), out.begin());
        return out;
    }
    uint32_t a = 0, b = sw > 1 ? 1 : 0, k = 1;
    auto step = [&] {
        a = b;
        b = std::min(b + 1, sw - 1);
        ++k;
    };
    for (uint32_t i = 0; i < dw; ++i) {
        if (mode == Mode::Up) {
            if (hval[i] >= k * 256) step();
        } else {
            while (hval[i] >= k * 256) step();
        }
        const uint32_t f = hval[i] & 0xFF;
        for (uint32_t c = 0; c < ch; ++c)
            out[i * ch + c] = static_cast<T>((src[a * ch + c] * (256 - f) + src[b * ch + c] * f) >> 8);
    }
    return out;
}

template <typename T> std::vector<T> ref_image(const std::vector<T>& src, const interpolate_param_t& p)
{
    const auto hval = ref_table(p.src_width, p.dst_width);
    const auto vval = ref_table(p.src_lines, p.dst_lines);
    const size_t sr = static_cast<size_t>(p.src_width) * p.channels;
    const size_t dr = static_cast<size_t>(p.dst_width) * p.channels;
    std::vector<std::vector<T>> lines;
    for (uint32_t y = 0; y < p.src_lines; ++y)
        lines.push_back(ref_line(&src[y * sr], p.src_width, p.dst_width, p.channels, hval));
    std::vector<T> out(dr * p.dst_lines);
    for (uint32_t j = 0; j < p.dst_lines; ++j) {
        const uint32_t k = vval[j] >> 8, f = vval[j] & 0xFF;
        const uint32_t k2 = std::min(k + 1, p.src_lines - 1);
        for (size_t s = 0; s < dr; ++s)
            out[j * dr + s] = static_cast<T>((lines[k][s] * (256 - f) + lines[k2][s] * f) >> 8);
    }
    return out;
}

// ---- helpers ----

template <typename T> std::vector<T> random_image(std::mt19937& rng, size_t n)
{
    std::vector<T> v(n);
    for (auto& x : v) {
        const uint32_t pick = rng() % 4;
        // Extremes next to each other catch overflow in the blends.
        x = pick == 0 ? 0 : pick == 1 ? static_cast<T>(~T{0}) : static_cast<T>(rng());
    }
    return v;
}

struct Handle {
    interpolate_handle* h = nullptr;
    ~Handle() { interpolate_exit(&h); }
};

// Feeds the image in blocks of `block` lines (0: all at once) and collects what is made.
template <typename T> std::vector<T> stream(const std::vector<T>& src, const interpolate_param_t& p, uint32_t block)
{
    Handle h;
    EXPECT_EQ(interpolate_init(&h.h, &p), 0);
    const size_t sr = static_cast<size_t>(p.src_width) * p.channels;
    const size_t dr = static_cast<size_t>(p.dst_width) * p.channels;
    std::vector<T> out;
    for (uint32_t y = 0; y < p.src_lines;) {
        const uint32_t n = block == 0 ? p.src_lines : std::min(block, p.src_lines - y);
        std::vector<T> room(dr * p.dst_lines + 1);
        interpolate_input_t in{&src[y * sr], n};
        interpolate_output_t o{room.data(), p.dst_lines, 0};
        uint32_t made = 0;
        EXPECT_EQ(interpolate_block(&h.h, &in, &o, &made), 0);
        EXPECT_EQ(made, o.lines);
        out.insert(out.end(), room.begin(), room.begin() + static_cast<ptrdiff_t>(made * dr));
        y += n;
    }
    return out;
}

} // namespace

TEST(Resize, PositionTablesAndFloor)
{
    Handle h;
    const interpolate_param_t p{8, 1, 4, 3, 6, 3};
    ASSERT_EQ(interpolate_init(&h.h, &p), 0);
    EXPECT_EQ(std::vector<uint32_t>(h.h->hval, h.h->hval + 6), (std::vector<uint32_t>{0, 170, 341, 512, 682, 767}));
    EXPECT_EQ(std::vector<uint32_t>(h.h->vval, h.h->vval + 3), (std::vector<uint32_t>{0, 256, 511}));
    // The clamp wins over the weight-1 rule at the end of a 2-pixel line; 3 -> 769 shows the rule.
    for (auto [src, dst, i, entry] : {std::array<uint32_t, 4>{2, 257, 129, 255}, {3, 769, 257, 257}}) {
        std::vector<uint32_t> t(dst);
        interpolate_position_table(t.data(), dst, static_cast<double>(src) / dst, ((src - 1) << 8) - 1);
        EXPECT_EQ(t[i], entry);
        EXPECT_EQ(t, ref_table(src, dst));
    }
    for (uint32_t src : {1u, 10u, 5104u, 7008u})
        for (uint32_t dst : {1u, 3u, 4253u, 5840u, 7001u}) {
            std::vector<uint32_t> t(dst);
            interpolate_position_table(t.data(), dst, static_cast<double>(src) / dst,
                                       src == 1 ? 0 : ((src - 1) << 8) - 1);
            ASSERT_EQ(t, ref_table(src, dst)) << src << "->" << dst;
        }
    // Placed tables: destination sample i at origin + i x step; before the first source sample the
    // first, past the last the last pair. A placed handle with equal sizes still resizes.
    std::vector<uint32_t> placed(4);
    interpolate_position_table(placed.data(), 4, 0.4, 1.5, (4u << 8) - 1);
    EXPECT_EQ(placed, (std::vector<uint32_t>{102, 486, 870, 1023}));
    interpolate_position_table(placed.data(), 4, -0.75, 1.5, (4u << 8) - 1);
    EXPECT_EQ(placed, (std::vector<uint32_t>{0, 192, 576, 960}));
    Handle shifted;
    const interpolate_place_t half{0.5, 1.0, 0, 0};
    const interpolate_param_t same{8, 1, 4, 3, 4, 3};
    ASSERT_EQ(interpolate_init_placed(&shifted.h, &same, &half), 0);
    EXPECT_EQ(std::vector<uint32_t>(shifted.h->hval, shifted.h->hval + 4), (std::vector<uint32_t>{128, 384, 640, 767}));
    EXPECT_EQ(std::vector<uint32_t>(shifted.h->vval, shifted.h->vval + 3), (std::vector<uint32_t>{0, 256, 511}));
    EXPECT_NE(shifted.h->horizontal, &HResizeLinear_FIXPT_Copy_8u1ch);
    EXPECT_EQ(Floor(2.0), 2);
    EXPECT_EQ(Floor(2.5), 2);
    EXPECT_EQ(Floor(-0.5), -1);
    EXPECT_EQ(Floor(-2.0), -2);
}

TEST(Resize, FourToSixReadsThePairsAndWeightsOfTheDefinition)
{
    const auto t = ref_table(4, 6);
    const uint32_t pairs[6] = {0, 0, 1, 2, 2, 2};
    const uint32_t weights[6] = {0, 170, 85, 0, 170, 255};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(t[i] >> 8, pairs[i]);
        EXPECT_EQ(t[i] & 0xFF, weights[i]);
    }
    // Source pixels 0, 64, 128, 192 give the blends of those pairs.
    const uint8_t src[4] = {0, 64, 128, 192};
    uint8_t dst[6];
    HResizeLinear_FIXPT_ScaleUp_8u1ch(src, dst, 6, t.data());
    const uint8_t expect[6] = {0, 42, 85, 128, 170, 191};
    EXPECT_EQ(0, std::memcmp(dst, expect, 6));
}

TEST(Resize, InvalidParametersAreRefused)
{
    const interpolate_param_t bad[] = {
        {1, 1, 8, 8, 4, 4},      {12, 1, 8, 8, 4, 4},    {8, 2, 8, 8, 4, 4},      {8, 1, 0, 8, 4, 4},
        {8, 1, 8, 0, 4, 4},      {8, 1, 8, 8, 0, 4},     {8, 1, 8, 8, 4, 0},      {8, 1, 96001, 8, 4, 4},
        {8, 1, 8, 960001, 4, 4}, {8, 1, 8, 8, 96001, 4}, {8, 1, 8, 8, 4, 960001},
    };
    for (const auto& p : bad) {
        interpolate_handle dummy{};
        interpolate_handle* h = &dummy;
        EXPECT_EQ(interpolate_init(&h, &p), 3);
        EXPECT_EQ(h, nullptr);
    }
    Handle h;
    const interpolate_param_t ok{8, 1, 8, 8, 4, 4};
    ASSERT_EQ(interpolate_init(&h.h, &ok), 0);
    uint8_t line[8] = {};
    interpolate_input_t empty{line, 0};
    interpolate_output_t o{line, 4, 0};
    uint32_t made = 7;
    EXPECT_EQ(interpolate_block(&h.h, &empty, &o, &made), 3);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(interpolate_exit(&h.h), 0);
    EXPECT_EQ(h.h, nullptr);
    EXPECT_EQ(interpolate_exit(&h.h), 0);
}

// Every worker (mode x depth x channels) against the pair-walking reference, on random sizes:
// 1 and 2, equal sizes, 10 -> 3, and wide lines.
template <typename T> void check_family(uint32_t depth, uint32_t ch, Mode mode, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int n = 0; n < 500; ++n) {
        uint32_t sw = 0, dw = 0;
        const bool wide = n % 50 == 0;
        const uint32_t top = wide ? 12000 : 40;
        sw = 1 + rng() % top;
        if (n == 1) sw = 10;
        switch (mode) {
        case Mode::Copy: dw = sw; break;
        case Mode::Up:
            sw = std::min(sw, top - 1);
            dw = sw + 1 + rng() % (top - sw);
            break;
        case Mode::Down:
            sw = std::max(sw, 2u);
            dw = n == 1 ? 3 : 1 + rng() % (sw - 1);
            break;
        }
        const uint32_t sl = 1 + rng() % (wide ? 3 : 40);
        const uint32_t dl = 1 + rng() % (wide ? 3 : 40);
        const interpolate_param_t p{depth, ch, sw, sl, dw, dl};
        const auto src = random_image<T>(rng, static_cast<size_t>(sw) * ch * sl);
        const auto whole = stream(src, p, 0);
        ASSERT_EQ(whole, ref_image(src, p))
            << depth << "/" << ch << " " << sw << "x" << sl << " -> " << dw << "x" << dl;
        if (n % 25 == 0) { // the same bytes whatever the blocks
            ASSERT_EQ(stream(src, p, 1), whole);
            ASSERT_EQ(stream(src, p, 32), whole);
        }
    }
}

TEST(Resize, EveryWorkerMatchesThePairWalkingReference)
{
    uint32_t seed = 1;
    for (Mode m : {Mode::Copy, Mode::Up, Mode::Down}) {
        check_family<uint8_t>(8, 1, m, seed++);
        check_family<uint8_t>(8, 3, m, seed++);
        check_family<uint16_t>(16, 1, m, seed++);
        check_family<uint16_t>(16, 3, m, seed++);
    }
    // The 8-bit colour workers once more in the form the processor did not choose.
    const bool chosen = interpolate_use_ssse3(false);
    interpolate_use_ssse3(!chosen);
    for (Mode m : {Mode::Up, Mode::Down}) check_family<uint8_t>(8, 3, m, seed++);
    interpolate_use_ssse3(chosen);
}

TEST(Resize, FirstLineAloneAndLateBlocksMakeNothing)
{
    Handle h;
    const interpolate_param_t p{8, 1, 4, 3, 4, 5};
    ASSERT_EQ(interpolate_init(&h.h, &p), 0);
    std::vector<uint8_t> src(12, 9), out(4 * 8, 0);
    interpolate_input_t one{src.data(), 1};
    interpolate_output_t o{out.data(), 8, 0};
    uint32_t made = 99;
    ASSERT_EQ(interpolate_block(&h.h, &one, &o, &made), 0);
    EXPECT_EQ(made, 0u);
    interpolate_input_t rest{src.data() + 4, 2};
    ASSERT_EQ(interpolate_block(&h.h, &rest, &o, &made), 0);
    EXPECT_EQ(made, 5u);
    interpolate_input_t late{src.data(), 3};
    ASSERT_EQ(interpolate_block(&h.h, &late, &o, &made), 0);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(h.h->lines_out, 5u);
}

TEST(Resize, ShortRoomIsRefusedWithNothingWrittenAndStateKept)
{
    std::mt19937 rng(5);
    const interpolate_param_t p{8, 3, 11, 20, 7, 41};
    const auto src = random_image<uint8_t>(rng, 11 * 3 * 20);
    const auto expect = ref_image(src, p);
    Handle h;
    ASSERT_EQ(interpolate_init(&h.h, &p), 0);
    const size_t dr = 7 * 3;
    // What the first 10 lines make: line j needs source line (vval[j] >> 8) + 1.
    uint32_t needed = 0;
    while (needed < 41 && h.h->vval[needed] < (9u << 8)) ++needed;
    std::vector<uint8_t> out((needed - 1) * dr, 0xAB);
    interpolate_input_t in{src.data(), 10};
    interpolate_output_t short_room{out.data(), needed - 1, 0};
    uint32_t made = 0;
    EXPECT_EQ(interpolate_block(&h.h, &in, &short_room, &made), 4);
    EXPECT_EQ(made, 0u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(h.h->lines_in, 0u);
    EXPECT_EQ(h.h->lines_out, 0u);

    std::vector<uint8_t> all(41 * dr);
    interpolate_output_t room{all.data(), needed, 0};
    ASSERT_EQ(interpolate_block(&h.h, &in, &room, &made), 0);
    ASSERT_EQ(made, needed);
    interpolate_input_t rest{src.data() + 10 * 11 * 3, 10};
    interpolate_output_t room2{all.data() + needed * dr, 41 - needed, 0};
    ASSERT_EQ(interpolate_block(&h.h, &rest, &room2, &made), 0);
    EXPECT_EQ(made, 41 - needed);
    EXPECT_EQ(all, expect);
}

TEST(Resize, OneLineFormReproducesTheStreamOnADownscale)
{
    std::mt19937 rng(8);
    for (const interpolate_param_t& p :
         {interpolate_param_t{8, 3, 30, 50, 20, 31}, interpolate_param_t{16, 1, 30, 26, 31, 13},
          interpolate_param_t{8, 1, 6, 10, 6, 3}}) {
        const size_t sr = static_cast<size_t>(p.src_width) * p.channels * (p.depth / 8);
        const size_t dr = static_cast<size_t>(p.dst_width) * p.channels * (p.depth / 8);
        const auto src = random_image<uint8_t>(rng, sr * p.src_lines);
        Handle stream_h, line_h;
        ASSERT_EQ(interpolate_init(&stream_h.h, &p), 0);
        ASSERT_EQ(interpolate_init(&line_h.h, &p), 0);
        for (uint32_t y = 0; y < p.src_lines; ++y) {
            std::vector<uint8_t> a(dr, 0), b(dr, 0);
            interpolate_input_t in{&src[y * sr], 1};
            interpolate_output_t o{a.data(), 1, 0};
            uint32_t made_stream = 0, made_line = 0;
            ASSERT_EQ(interpolate_block(&stream_h.h, &in, &o, &made_stream), 0);
            ASSERT_EQ(interpolate_one_line(&line_h.h, &src[y * sr], y + 1, b.data(), &made_line), 0);
            ASSERT_EQ(made_line, made_stream) << "line " << y;
            EXPECT_EQ(a, b) << "line " << y;
        }
    }
}

TEST(Resize, ProcessorProbeKnowsNoFeature)
{
    for (int f = -1; f <= 256; ++f) EXPECT_FALSE(GetCpuInfo().checkHardwareSupport(f));
}
