#include "magnification_correction.h"

#include "dbg_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Marks every 100 table pixels, ideal = measured; k = 1 at 600 dpi.
CoordinateCorrectionParameter identity(uint32_t table_length = 3100, uint8_t channel = 3, uint32_t start_x = 40,
                                       uint32_t end_x = 2040)
{
    CoordinateCorrectionParameter p{};
    p.coords_data.table_length = table_length;
    p.coords_data.coords_resolution = 600;
    p.coords_data.coords_count = kMagnificationMarks;
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) p.coords_data.ideal[i] = p.coords_data.measured[i] = 100 * i;
    p.settings = {600, 8, channel, start_x, end_x};
    return p;
}

struct Model {
    ~Model() { MagnificationCorrectionExit(c); }
    int init(const CoordinateCorrectionParameter& p)
    {
        MagnificationCorrectionExit(c);
        c = nullptr;
        return MagnificationCorrectionInit(&c, &p, &info);
    }
    double x(uint32_t row, uint32_t ch) const { return c->x_table[row * c->parameters.settings.channel + ch]; }
    horizontal_magnification_correction_t* c = nullptr;
    CoordinateCorrectionInformation info{0xAAAA, 0xBBBB};
};

TEST(MagnificationModel, IdentityCoordinates)
{
    Model m;
    const auto p = identity();
    ASSERT_EQ(m.init(p), 1);
    for (double z : m.c->zoom) EXPECT_EQ(z, 1.0);
    for (uint32_t i = 0; i < p.coords_data.table_length; i += 7)
        for (uint32_t ch = 0; ch < 3; ++ch) ASSERT_EQ(m.x(i, ch), static_cast<double>(i)) << i;
    const uint32_t w = p.settings.end_x - p.settings.start_x + 1;
    for (uint32_t i = 0; i < w * 3; ++i) ASSERT_EQ(m.c->positions[i], (i / 3) * 65536u) << i;
    EXPECT_EQ(m.info.corrected_start_x, p.settings.start_x);
    EXPECT_EQ(m.info.corrected_end_x, p.settings.end_x);

    // The widened window (W + 1 pixels) comes out unchanged; an output block wider than the
    // model gets only W pixels.
    std::mt19937 rng(1);
    std::vector<uint8_t> src((w + 1) * 3 * 2);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out((w + 5) * 3 * 2, 0xEE);
    const magnification_line_block_t in{2, 0, w + 1, (w + 1) * 3, src.data()};
    const magnification_line_block_t o{2, 0, w + 5, (w + 5) * 3, out.data()};
    EXPECT_EQ(MagnificationCorrectionProcess(m.c, &in, &o), 1);
    for (uint32_t line = 0; line < 2; ++line) {
        const uint8_t* s = &src[line * (w + 1) * 3];
        const uint8_t* d = &out[line * (w + 5) * 3];
        ASSERT_TRUE(std::equal(s, s + w * 3, d)) << line;
        ASSERT_EQ(d[w * 3], 0xEE);
    }

    // A source of exactly W - 1 pixels in a buffer of that size, at an offset: the last column is
    // the last source pixel and nothing past the buffer is read (the sanitizer build checks).
    const uint32_t narrow = w - 1;
    std::vector<uint16_t> src16(4 + narrow * 3);
    for (auto& v : src16) v = static_cast<uint16_t>(rng());
    std::vector<uint16_t> out16(w * 3);
    CoordinateCorrectionParameter p16 = p;
    p16.settings.depth = 16;
    ASSERT_EQ(m.init(p16), 1);
    const magnification_line_block_t in16{1, 8, narrow, narrow * 6, reinterpret_cast<uint8_t*>(src16.data())};
    const magnification_line_block_t o16{1, 0, w, w * 6, reinterpret_cast<uint8_t*>(out16.data())};
    MagnificationCorrectionProcess(m.c, &in16, &o16);
    EXPECT_TRUE(std::equal(src16.begin() + 4, src16.end(), out16.begin()));
    for (uint32_t ch = 0; ch < 3; ++ch) EXPECT_EQ(out16[(w - 1) * 3 + ch], src16[4 + (narrow - 1) * 3 + ch]);
}

TEST(MagnificationModel, ZoomFactorsAndSegments)
{
    Model m;
    auto p = identity(10500, 1, 0, 10000);
    auto& d = p.coords_data;
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) d.ideal[i] = d.measured[i] = 340 * i;
    d.measured[5] += 20; // 360/340 and 320/340: both outside the bounds
    d.measured[10] += 6; // 346/340 and 334/340: both kept
    // 21/20 lies above the single-precision bound 1.05; 19/20 = 0.95 is kept.
    for (uint32_t i = 28; i <= 30; ++i) d.ideal[i] = d.ideal[27] + 20 * (i - 27);
    d.measured[28] = d.measured[27] + 21;
    d.measured[29] = d.measured[28] + 19;
    d.measured[30] = d.ideal[30];
    ASSERT_EQ(m.init(p), 1);
    const double want[][2] = {{4, 1.0}, {5, 1.0}, {9, 346.0 / 340}, {10, 334.0 / 340}, {27, 1.0}, {28, 0.95}};
    for (const auto& [s, z] : want) EXPECT_EQ(m.c->zoom[static_cast<int>(s)], z) << s;
    // Table pixel i advances by the zoom of the segment holding i; past the last mark by 1.0.
    EXPECT_NEAR(m.x(3406, 0) - m.x(3405, 0), 334.0 / 340, 1e-9);
    EXPECT_NEAR(m.x(3405, 0) - m.x(3404, 0), 346.0 / 340, 1e-9);
    EXPECT_NEAR(m.x(10400, 0) - m.x(10399, 0), 1.0, 1e-9);

    // Marks from 100 on: the pixels before them advance by exactly 1.0; the side edge shifts the
    // table onto the marks.
    auto q = identity();
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) {
        q.coords_data.ideal[i] = 100 + 90 * i;
        q.coords_data.measured[i] = 100 + 92 * i;
    }
    for (uint32_t edge : {0u, 50u}) {
        q.coords_data.side_edge = edge;
        ASSERT_EQ(m.init(q), 1);
        EXPECT_EQ(m.x(99 - edge, 0), 99.0 - edge);
        EXPECT_EQ(m.x(100 - edge, 0), 99.0 - edge + 92.0 / 90);
    }
}

// Every table pixel against the rule read literally: pixel i (at i + side_edge, or at side_edge
// for every pixel without a resolution) advances by the zoom of the first segment, in order, whose
// marks hold it, and by 1.0 outside them all; marks in any order, overlapping or repeated.
TEST(MagnificationModel, EveryPixelAdvancesByTheZoomOfItsFirstSegment)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        auto p = identity(1 + rng() % 4000, round % 2 == 0 ? 3 : 1, 0, 0);
        auto& d = p.coords_data;
        d.coords_resolution = round % 5 == 0 ? 0 : 600;
        d.side_edge = round % 3 == 0 ? 0 : rng() % 300;
        const uint32_t spread = round % 4 == 0 ? 60 : 4400;
        for (uint32_t i = 0; i < kMagnificationMarks; ++i) {
            d.ideal[i] = 150 * i;
            d.measured[i] = round % 7 == 0 ? 150 * i + rng() % 6 : rng() % spread;
        }
        p.settings.end_x = std::min<uint32_t>(d.table_length - 1, 10);
        Model m;
        if (m.init(p) != 1) continue;
        const uint32_t ch = p.settings.channel;
        std::vector<double> want(size_t{d.table_length} * ch, 0.0);
        for (uint32_t i = 1; i < d.table_length; ++i) {
            const int64_t at = (d.coords_resolution == 0 ? 0 : int64_t{i}) + d.side_edge;
            double zoom = 1.0;
            for (int s = 0; s < kMagnificationSegments; ++s)
                if (int32_t(d.measured[s]) <= at && at < int32_t(d.measured[s + 1])) {
                    zoom = m.c->zoom[s];
                    break;
                }
            for (uint32_t k = 0; k < ch; ++k) want[size_t{i} * ch + k] = want[size_t{i - 1} * ch + k] + zoom;
        }
        for (size_t k = 0; k < want.size(); ++k) ASSERT_EQ(m.c->x_table[k], want[k]) << "entry " << k;
    }
}

TEST(MagnificationModel, MissingMarksActAsAbsent)
{
    // Twenty marks (zero entries after them) build the tables of the same marks continued as the
    // identity: past the last mark every pixel advances by 1.0.
    auto full = identity();
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) full.coords_data.measured[i] = 100 * i + (i >= 5 ? 3 : 0);
    auto part = full;
    part.coords_data.coords_count = 20;
    for (uint32_t i = 20; i < kMagnificationMarks; ++i) part.coords_data.ideal[i] = part.coords_data.measured[i] = 0;
    Model a, b;
    ASSERT_EQ(a.init(full), 1);
    ASSERT_EQ(b.init(part), 1);
    const uint32_t w = full.settings.end_x - full.settings.start_x + 1;
    EXPECT_TRUE(std::equal(a.c->x_table, a.c->x_table + full.coords_data.table_length * 3, b.c->x_table));
    EXPECT_TRUE(std::equal(a.c->positions, a.c->positions + w * 3, b.c->positions));
    EXPECT_EQ(a.info.corrected_end_x, b.info.corrected_end_x);
}

TEST(MagnificationModel, IntegerStepAndGreyRange)
{
    Model m;
    // 1200 / 500 gives step 2: the scan table holds every second table pixel halved.
    auto p = identity(1000, 1, 10, 499);
    p.coords_data.coords_resolution = 1200;
    p.settings.resolution = 500;
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) p.coords_data.measured[i] = 100 * i + (i >= 1 ? 4 : 0);
    ASSERT_EQ(m.init(p), 1);
    // Segment 0 is stretched (104/100); the scan table is X[2j] / 2.
    const double s10 = m.x(20, 0) / 2;
    const double s499 = m.x(998, 0) / 2;
    EXPECT_EQ(m.c->positions[0], 0u);
    EXPECT_EQ(m.c->positions[1], MagnificationToU32((m.x(22, 0) / 2 - s10) * 65536.0 + 0.5));
    EXPECT_EQ(m.info.corrected_start_x, static_cast<uint32_t>(std::floor(s10)));
    EXPECT_EQ(m.info.corrected_end_x, static_cast<uint32_t>(std::ceil(s499)));
    EXPECT_NE(std::floor(s10), s10); // the grey range comes from a fractional column
}

// An identity over 100 table pixels with marks every 4, aligned up to pixel 20 and from pixel 80.
CoordinateCorrectionParameter aligned()
{
    auto p = identity(100, 3, 0, 99);
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) p.coords_data.ideal[i] = p.coords_data.measured[i] = 4 * i;
    p.pixel_position_left = 20;
    p.pixel_position_right = 80;
    return p;
}

TEST(MagnificationModel, RgbAlignmentAtBothEnds)
{
    auto p = aligned();
    p.red_offset_left = 0.5;
    p.red_offset_right = 0.0;
    p.green_offset_right = 0.3;
    p.blue_offset_right = 0.1;
    Model m;
    ASSERT_EQ(m.init(p), 1);
    const double left[3] = {0.5, 0.0, 0.0};
    const double right[3] = {0.0, 0.3, 0.1};
    for (uint32_t ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(m.x(0, ch), left[ch]);
        EXPECT_EQ(m.x(99, ch), 99.0 - right[ch]);
        for (uint32_t i = 20; i < 80; ++i) ASSERT_EQ(m.x(i, ch), static_cast<double>(i));
    }
    // The range starts at the smallest channel of the first column; red starts half a pixel in.
    EXPECT_EQ(m.info.corrected_start_x, 0u);
    EXPECT_EQ(m.c->positions[0], 32768u);

    // One fused multiply-add: here the fused and the two-step forms round differently.
    double rows[9] = {0, 0, 0, 1, 1, 1, 3, 3, 3};
    const double a[3] = {0.1, 0.1, 0.1};
    const double b[3] = {10.02, 10.02, 10.02};
    ScaleRGBData(rows, a, b, 3);
    EXPECT_EQ(rows[3], 3.4066666666666663);
    EXPECT_NE(rows[3], 3.4066666666666667);
}

// Left-end shifts of 1.5, 0 and 0.3 table pixels: the range starts at the first column of the
// smallest channel (green, 0; red's would be 1), every position is measured from that channel, and
// positions are rounded to the nearest 1/65536 (0.3 is 19660.8 of them).
TEST(MagnificationModel, PositionsAreRoundedFromTheSmallestChannel)
{
    auto p = aligned();
    p.red_offset_left = 1.5;
    p.blue_offset_left = 0.3;
    Model m;
    ASSERT_EQ(m.init(p), 1);
    EXPECT_EQ(m.info.corrected_start_x, 0u);
    EXPECT_EQ(m.c->positions[0], 98304u);
    EXPECT_EQ(m.c->positions[1], 0u);
    EXPECT_EQ(m.c->positions[2], 19661u);
    for (uint32_t i = 0; i < 100 * 3; ++i) {
        const double want = m.x(i / 3, i % 3) * 65536.0;
        ASSERT_LE(std::abs(double(m.c->positions[i]) - want), 0.5) << i;
    }
}

TEST(MagnificationModel, UnusableParametersTouchNoTable)
{
    struct Case {
        const char* name;
        void (*bend)(CoordinateCorrectionParameter&);
        int expected;
    };
    const Case cases[] = {
        {"table_length 0", [](auto& p) { p.coords_data.table_length = 0; }, -3},
        {"table above 2^20", [](auto& p) { p.coords_data.table_length = (1u << 20) + 1; }, -3},
        {"coordinate resolution 0", [](auto& p) { p.coords_data.coords_resolution = 0; }, -3},
        {"scan resolution 0", [](auto& p) { p.settings.resolution = 0; }, -3},
        {"step 0", [](auto& p) { p.settings.resolution = 1200; }, -3},
        {"end_x at M", [](auto& p) { p.settings.end_x = 3100; }, -3},
        {"end_x wrapped", [](auto& p) { p.settings.end_x = 0xFFFFFFFFu; }, -3},
        {"end_x before start_x", [](auto& p) { p.settings.end_x = 39; }, -3},
        {"two channels", [](auto& p) { p.settings.channel = 2; }, -2},
    };
    for (const auto& c : cases) {
        auto p = identity();
        c.bend(p);
        Model m;
        EXPECT_EQ(m.init(p), c.expected) << c.name;
        ASSERT_NE(m.c, nullptr) << c.name; // stored for the caller to release
        EXPECT_EQ(m.c->x_table, nullptr) << c.name;
        EXPECT_EQ(m.c->positions, nullptr) << c.name;
        EXPECT_EQ(m.info.corrected_start_x, 0xAAAAu) << c.name;
        uint8_t line[3] = {1, 2, 3};
        const magnification_line_block_t block{1, 0, 1, 3, line};
        EXPECT_EQ(MagnificationCorrectionProcess(m.c, &block, &block), 1);
    }

    // Alignment rows outside the table skip only the alignment.
    const uint32_t bad[][2] = {{1, 80}, {20, 99}, {101, 80}, {20, 0xFFFFFFFFu}};
    for (const auto& lr : bad) {
        auto p = identity(100, 3, 0, 99);
        p.pixel_position_left = lr[0];
        p.pixel_position_right = lr[1];
        p.red_offset_left = p.green_offset_right = 0.5;
        Model m;
        ASSERT_EQ(m.init(p), 1) << lr[0] << " " << lr[1];
        EXPECT_EQ(m.x(0, 0), 0.0);
        EXPECT_EQ(m.x(99, 1), 99.0);
    }

    EXPECT_EQ(MagnificationToU32(std::nan("")), 0u);
    EXPECT_EQ(MagnificationToU32(-0.5), 0u);
    EXPECT_EQ(MagnificationToU32(4294967296.0), 0xFFFFFFFFu);
    EXPECT_EQ(MagnificationCorrectionExit(nullptr), 1);
}

// The literal arithmetic, with both source pixels clamped to the line.
template <typename T, int C> void reference(const T* src, T* dst, uint32_t w, const uint32_t* pos, uint32_t src_w)
{
    for (uint32_t i = 0; i < w; ++i)
        for (int c = 0; c < C; ++c) {
            const uint32_t e = pos[i * C + c], k = e >> 16, f = e & 0xFFFF;
            const uint32_t k0 = std::min(k, src_w - 1), k1 = std::min(k + 1, src_w - 1);
            dst[i * C + c] = static_cast<T>((src[k0 * C + c] * (65536u - f) + src[k1 * C + c] * f) >> 16);
        }
}

template <typename T, int C> void check_line_function(magnification_line_fn fn)
{
    std::mt19937 rng(C * sizeof(T));
    const uint32_t src_w = 300, w = 320;
    std::vector<T> src(src_w * C), got(w * C), want(w * C);
    for (auto& v : src) v = static_cast<T>(rng());
    std::vector<uint32_t> pos(w * C);
    for (auto& e : pos) e = static_cast<uint32_t>(rng() % (static_cast<uint64_t>(src_w + 20) << 16));
    for (uint32_t i = 0; i < 8; ++i) pos[i] = (i * 7) << 16; // f = 0 copies src[k]
    fn(src.data(), got.data(), w, pos.data(), src_w);
    reference<T, C>(src.data(), want.data(), w, pos.data(), src_w);
    EXPECT_EQ(got, want) << sizeof(T) * 8 << "u" << C << "ch";
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(got[i], src[(i * 7 * C) + (i % C)]);
}

TEST(MagnificationLines, MatchTheLiteralArithmetic)
{
    check_line_function<uint8_t, 1>(HResizeLinear_FIXPT_Scale_8u1ch);
    check_line_function<uint16_t, 1>(HResizeLinear_FIXPT_Scale_16u1ch);
    check_line_function<uint8_t, 3>(HResizeLinear_FIXPT_Scale_8u3ch);
    check_line_function<uint16_t, 3>(HResizeLinear_FIXPT_Scale_16u3ch);

    // 65535 and 65535 give 65535 for every weight: the u32 sum peaks at 0xFFFF0000.
    const uint16_t white[2] = {65535, 65535};
    std::vector<uint32_t> pos(65536);
    for (uint32_t f = 0; f < 65536; ++f) pos[f] = f;
    std::vector<uint16_t> out(65536);
    HResizeLinear_FIXPT_Scale_16u1ch(white, out.data(), 65536, pos.data(), 2);
    for (uint32_t f = 0; f < 65536; ++f) ASSERT_EQ(out[f], 65535) << f;
}

std::vector<std::string> lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(MagnificationDumps, TablesAndLogTexts)
{
    std::string dir = fs::temp_directory_path() / "hmc.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir += "/";
    DBG_SET_SETTING("LEVEL", 20);
    DBG_SET_SETTING("FILE_LEVEL", 10);
    DBG_INIT(dir.c_str(), DBG_MODE_FILE);
    auto p = identity(100, 3, 10, 39);
    p.coords_data.coords_resolution = 1200;
    p.pixel_position_left = 20;
    p.pixel_position_right = 80;
    p.green_offset_right = 0.25;
    Model m;
    ASSERT_EQ(m.init(p), 1);
    // Rows, and one line of each: X and RGB at the table's 100, SCAN at M = 50, positions at W = 30.
    const struct {
        const char* name;
        size_t rows, at;
        const char* line;
    } dumps[] = {
        {"CorrectionTable_X", 100, 3, "3.000000, 3.000000, 3.000000,"},
        {"CorrectionTable_RGB", 100, 99, "99.000000, 98.750000, 99.000000,"},
        {"CorrectionTable_SCAN", 50, 12, "12.000000, 12.000000, 12.000000,"},
        {"CorrectionTable_SCAN_FIXED_POINT", 30, 1, "1.000000, 1.000000, 1.000000,"},
    };
    for (const auto& d : dumps) {
        const auto rows = lines(dir + d.name + ".csv");
        ASSERT_EQ(rows.size(), d.rows) << d.name;
        EXPECT_EQ(rows[d.at], d.line) << d.name;
    }

    std::stringstream log;
    log << std::ifstream(dir + "DEBUG-LOG-6204.txt").rdbuf();
    for (const char* text :
         {"MagnificationCorrectionInit(): para->coords_data.coords_resolution = 1200, "
          "para->coords_data.coords_count = 31, para->coords_data.side_edge = 0\n",
          "green_offset_right = 0.250000, blue_offset_right = 0.000000\n",
          ", 2900, 3000\nCalculateMagnificationCorrectionZoom(): measured = 0, 100,",
          "zoom 24~29 = 1.000000, 1.000000, 1.000000, 1.000000, 1.000000, 1.000000\n",
          "MagnificationCorrectionInit(): info->corrected_start_x = 10, info->corrected_end_x = 39\n"})
        EXPECT_NE(log.str().find(text), std::string::npos) << text;

    // A grey model dumps one column.
    ASSERT_EQ(m.init(identity(100, 1, 0, 9)), 1);
    EXPECT_EQ(lines(dir + "CorrectionTable_SCAN_FIXED_POINT.csv")[9], "9.000000,");
    DBG_RESET_SETTINGS();
    DBG_INIT(nullptr, DBG_MODE_STDOUT);
    fs::remove_all(dir);
}

} // namespace
