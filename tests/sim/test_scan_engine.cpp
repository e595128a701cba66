// The simulated scanner's scan engine, driven directly: shading and the sensor model, file charts,
// production, status flags and the "INFO" counters.
#include "bytes.h"
#include "calibration_page.h"
#include "chart_scan_engine.h"
#include "scanner_profiles.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

using sim::ChartScanEngine;

struct Scan {
    uint32_t width = 64;
    uint32_t height = 4;
    uint8_t bits = 48;
    uint8_t sides = 1;
    uint16_t xres = 300;
    uint32_t dot_x = 0;
    uint8_t kind = 0;
    bool gamma = false;
};

class ScanEngineTest : public ::testing::Test {
protected:
    ScanEngineTest() : records_(*sim::scanner_profile("default")) {}

    sim::Sense scan(const Scan& s)
    {
        std::array<uint8_t, sim::kParametersSize> para{};
        para[10] = s.sides;
        para[18] = s.bits;
        sim::set_le16(&para[20], s.xres);
        sim::set_le16(&para[22], s.xres);
        sim::set_le32(&para[24], s.dot_x);
        sim::set_le32(&para[32], s.width);
        sim::set_le32(&para[36], s.height);
        std::array<uint8_t, sim::kWindowSize> window{};
        window[0] = s.kind;
        window[11] = s.gamma ? 1 : 0;
        sim::set_le16(&window[1], 100); // exposure ratio
        return engine_.scan(para, window, records_);
    }
    std::array<uint8_t, sim::kInfoSize> info()
    {
        std::array<uint8_t, sim::kInfoSize> reply{};
        engine_.info(reply, records_);
        return reply;
    }
    std::vector<uint8_t> take(int side, size_t n)
    {
        std::vector<uint8_t> out(n);
        engine_.read(side, out);
        return out;
    }
    // 16-bit samples of one whole 48-bit line.
    std::vector<uint16_t> line(int side, uint32_t width)
    {
        const std::vector<uint8_t> bytes = take(side, size_t{width} * 6);
        std::vector<uint16_t> samples(size_t{width} * 3);
        for (size_t k = 0; k < samples.size(); ++k) samples[k] = sim::le16(&bytes[2 * k]);
        return samples;
    }
    // Scans one 48-bit line of a flat chart without shading: the raw dark (F = 0) or white level.
    std::vector<uint8_t> raw_line(double f, const Scan& s)
    {
        engine_.set_chart(sim::flat_chart(f));
        EXPECT_FALSE(scan(s).refused());
        return take(0, size_t{s.width} * 6);
    }
    void set_shading(uint16_t value, std::vector<uint8_t> dark, std::vector<uint8_t> white)
    {
        records_.front_shading[1] = {value, 4, std::move(dark)};
        records_.front_shading[0] = {value, 4, std::move(white)};
    }

    sim::ScannerRecords records_;
    ChartScanEngine engine_;
};

uint16_t pattern(int64_t x, int64_t y, int c)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(7 * x + 13 * y + 85 * c) * 257);
}

TEST_F(ScanEngineTest, MatchingShadingReturnsTheChart)
{
    const Scan s{.width = 500, .height = 3, .dot_x = 2000};
    // Ideal sensor: a zero dark and full white at the scan's resolution give P exactly.
    engine_.set_sensor(sim::Sensor::Ideal);
    std::vector<uint8_t> zeros(size_t{s.width + s.dot_x} * 6, 0), full(zeros.size(), 0xFF);
    set_shading(s.xres, zeros, full);
    engine_.set_chart(sim::pattern_chart());
    ASSERT_FALSE(scan(s).refused());
    for (uint32_t y = 0; y < s.height; ++y) {
        const std::vector<uint16_t> samples = line(0, s.width);
        for (uint32_t i = 0; i < s.width; ++i)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(samples[3 * i + c], pattern(s.dot_x + i, y, c)) << i << " " << c;
    }

    // Realistic sensor: without shading a flat grey is uneven; dark and white lines scanned from
    // flat charts (at twice the resolution, so the pair is sampled at 2s) make it flat within 1 %.
    engine_.set_sensor(sim::Sensor::Realistic);
    records_.front_shading = {};
    const Scan fine{.width = 2 * (s.width + s.dot_x), .height = 1, .xres = 600};
    const std::vector<uint8_t> dark = raw_line(0.0, fine), white = raw_line(1.0, fine);
    engine_.set_chart(sim::flat_chart(0.5));
    ASSERT_FALSE(scan(s).refused());
    const auto [low, high] = std::ranges::minmax(line(0, s.width));
    EXPECT_GT(high - low, 0.05 * 65535) << "an uncalibrated scan shows the sensor's unevenness";

    set_shading(fine.xres, dark, white);
    const auto within = [&](auto expected) {
        ASSERT_FALSE(scan(s).refused());
        for (uint32_t y = 0; y < s.height; ++y) {
            const std::vector<uint16_t> samples = line(0, s.width);
            for (uint32_t i = 0; i < s.width; ++i)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(samples[3 * i + c], expected(s.dot_x + i, y, c), 0.01 * 65535) << i << " " << c;
        }
    };
    within([](int64_t, int64_t, int) { return 32768; });
    engine_.set_chart(sim::pattern_chart());
    within(pattern);
}

TEST_F(ScanEngineTest, CalibrationWindowsScanTheWholeSensor)
{
    // The window asks for 100 pixels at 500: the page is the sensor at 300 dpi, 2550 pixels.
    const uint32_t width = 2550, lines = 256;
    const auto shading = sim::expected_shading(records_, 0, 300, 100, 3);
    ASSERT_EQ(shading.dark.size(), 3u * width);
    // D and D + round(G W) by hand at the first and the middle pixel.
    EXPECT_EQ(std::vector<uint16_t>(shading.dark.begin(), shading.dark.begin() + 3),
              (std::vector<uint16_t>{801, 841, 881}));
    EXPECT_EQ(std::vector<uint16_t>(shading.white.begin(), shading.white.begin() + 3),
              (std::vector<uint16_t>{38329, 38992, 39065}));
    EXPECT_EQ(shading.white[3 * 1275 + 2], 51778);
    for (const uint8_t kind : {1, 2}) {
        ASSERT_FALSE(scan({.width = 100, .height = lines, .dot_x = 500, .kind = kind}).refused());
        const auto reply = info();
        EXPECT_EQ(sim::le16(&reply[16]), width);
        EXPECT_EQ(sim::le16(&reply[20]), lines);
        const std::vector<uint16_t>& level = kind == 1 ? shading.dark : shading.white;
        for (uint32_t l = 0; l < lines; ++l) {
            const std::vector<uint16_t> samples = line(0, width);
            for (size_t k = 0; k < samples.size(); ++k) {
                const size_t s = k / 3, c = k % 3;
                const uint16_t want = (s + 3 * c + 7 * l) % 64 != 0 ? level[k] : l % 2 == 0 ? 0 : 65535;
                ASSERT_EQ(samples[k], want) << int{kind} << " " << l << " " << k;
            }
        }
    }

    // Grey reads channel 1; noise stays within 1 %; the ideal sensor reads 0 and 65535 alone.
    const auto grey = sim::expected_shading(records_, 0, 300, 100, 1);
    EXPECT_EQ(grey.white[1275], shading.white[3 * 1275 + 1]);
    engine_.set_calibration_noise(true);
    ASSERT_FALSE(scan({.width = 8, .height = 2, .bits = 16, .kind = 2}).refused());
    std::vector<uint8_t> bytes = take(0, 2 * width);
    size_t moved = 0;
    for (size_t s = 1; s < width; ++s) {
        const uint16_t v = sim::le16(&bytes[2 * s]);
        if ((s + 3) % 64 == 0) continue;
        ASSERT_NEAR(v, grey.white[s], 0.01 * grey.white[s]) << s;
        moved += v != grey.white[s];
    }
    EXPECT_GT(moved, width / 2);
    engine_.set_sensor(sim::Sensor::Ideal);
    for (const uint8_t kind : {1, 2}) {
        ASSERT_FALSE(scan({.width = 8, .height = 2, .bits = 16, .kind = kind}).refused());
        bytes = take(0, 4 * width);
        const auto [low, high] = std::ranges::minmax(bytes);
        EXPECT_EQ(low, kind == 1 ? 0 : 0xFF);
        EXPECT_EQ(high, kind == 1 ? 0 : 0xFF);
    }
}

// A 4 × 3 16-bit RGB file whose samples are all distinct, the first three being black, mid grey
// (128 × 257) and white.
uint16_t file_sample(int64_t fx, int64_t fy, int c)
{
    constexpr uint16_t anchors[3] = {0, 32896, 65535};
    if (fy == 0 && fx == 0) return anchors[c];
    return static_cast<uint16_t>(5000 * (fy * 4 + fx) + 1000 * c + 7);
}

// What the sensor sees of a file sample: the sRGB value decoded to light.
uint16_t file_reflectance(uint16_t v)
{
    const double u = v / 65535.0;
    return static_cast<uint16_t>(
        std::lround(65535.0 * (u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4))));
}

std::string write_chart_file()
{
    std::vector<uint16_t> pixels;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c) pixels.push_back(file_sample(x, y, c));
    VipsImage* raw = vips_image_new_from_memory_copy(pixels.data(), pixels.size() * 2, 4, 3, 3, VIPS_FORMAT_USHORT);
    VipsImage* rgb = nullptr;
    const std::string path = std::filesystem::temp_directory_path() / ("lf-chart-" + std::to_string(getpid()) + ".png");
    EXPECT_EQ(vips_copy(raw, &rgb, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr), 0);
    EXPECT_EQ(vips_pngsave(rgb, path.c_str(), nullptr), 0);
    g_object_unref(rgb);
    g_object_unref(raw);
    return path;
}

TEST_F(ScanEngineTest, AFileChartIsSampledAtTheScanResolution)
{
    const std::string path = write_chart_file();
    std::string error;
    const auto chart = sim::parse_chart("file:" + path + "@300", &error);
    std::filesystem::remove(path);
    ASSERT_TRUE(chart) << error;
    EXPECT_FALSE(sim::parse_chart("file:/nonexistent.png", &error));
    EXPECT_FALSE(sim::parse_chart("flat:2", &error));

    engine_.set_chart(chart);
    engine_.set_sensor(sim::Sensor::Ideal);
    auto& media = records_.attributes[0];
    sim::set_le32(&media[4], 600); // a sensor of 8 pixels at 600 dpi
    sim::set_le32(&media[16], 8);
    for (const bool mirrored : {false, true}) {
        media[1] = mirrored ? 1 : 0;
        for (const int64_t scale : {1, 2}) {
            const Scan s{.width = static_cast<uint32_t>(4 * scale + 2),
                         .height = static_cast<uint32_t>(3 * scale + 1),
                         .xres = static_cast<uint16_t>(300 * scale)};
            ASSERT_FALSE(scan(s).refused());
            const int64_t sensor = 4 * scale;
            for (int64_t y = 0; y < s.height; ++y) {
                const std::vector<uint16_t> samples = line(0, s.width);
                for (int64_t i = 0; i < s.width; ++i) {
                    const int64_t x = mirrored ? sensor - 1 - i : i;
                    const bool inside = x >= 0 && x / scale < 4 && y / scale < 3;
                    for (int c = 0; c < 3; ++c)
                        EXPECT_EQ(samples[3 * i + c],
                                  inside ? file_reflectance(file_sample(x / scale, y / scale, c)) : 65535)
                            << "mirrored " << mirrored << " scale " << scale << " at " << i << "," << y;
                }
            }
        }
    }
    // The file holds sRGB values and the sensor reads light: black and white stay, mid grey 128 is
    // 21.6 % of white's light.
    media[1] = 0;
    ASSERT_FALSE(scan({.width = 1, .height = 1, .xres = 300}).refused());
    EXPECT_EQ(line(0, 1), (std::vector<uint16_t>{0, 14146, 65535}));
}

TEST_F(ScanEngineTest, PerPollProductionAndReadyBytes)
{
    engine_.set_production({.mode = sim::Production::Mode::PerPoll,
                            .lines_per_poll = 3,
                            .buffer_bytes = 1000,
                            .idle_polls = 1,
                            .back_delay = 2});
    ASSERT_FALSE(scan({.width = 100, .height = 7, .bits = 24, .sides = 3}).refused()); // 300-byte lines
    // Per poll: front ready, back ready, front page end; the front is taken as it comes.
    std::vector<std::array<uint32_t, 3>> seen;
    for (int poll = 0; poll < 6; ++poll) {
        const auto reply = info();
        seen.push_back({sim::le32(&reply[8]), sim::le32(&reply[12]), reply[24]});
        if (poll == 2) take(0, 700);
        if (poll == 3) take(0, 600);
    }
    const std::vector<std::array<uint32_t, 3>> expected = {{0, 0, 0},     {900, 0, 0},   {900, 0, 0},
                                                           {800, 900, 0}, {800, 900, 1}, {800, 900, 1}};
    EXPECT_EQ(seen, expected) << "idle first poll, buffer of 1000 bytes, back two polls later";
    take(0, 799);
    EXPECT_EQ(engine_.ready(0), 1u) << "bytes ready count down with every byte taken";

    // "CANC" 1 drops what is ready on both sides and stops production; "STOP" only stops it.
    engine_.cancel(1);
    const auto reply = info();
    EXPECT_EQ(sim::le32(&reply[8]) + sim::le32(&reply[12]), 0u);
    EXPECT_EQ(engine_.produced(1), 900u);
}

TEST_F(ScanEngineTest, StatusFlagsStayUntilCancelZero)
{
    EXPECT_EQ(scan({.width = 65536}).code, 0x24);
    EXPECT_EQ(scan({.height = 65536}).key, 5);
    engine_.add_status_fault({.kind = sim::StatusFault::Kind::Error, .poll = 1, .error = 7});
    engine_.add_status_fault(
        {.kind = sim::StatusFault::Kind::Jam, .poll = 2, .cancel_page = 1, .back_state = 2, .front_state = 3});
    ASSERT_FALSE(scan({}).refused());
    records_.system_status[0] = 1; // the feeder has paper
    const auto first = info(), second = info(), third = info();
    EXPECT_EQ(first[30], 7);
    EXPECT_EQ(first[29], 0);
    for (const auto& reply : {second, third})
        EXPECT_EQ(std::vector<int>({reply[26], reply[27], reply[29], reply[30], reply[34], reply[35]}),
                  std::vector<int>({2, 3, 'J', 7, 1, 'D'}));
    engine_.cancel(0);
    const auto cleared = info();
    EXPECT_EQ(std::vector<int>({cleared[26], cleared[27], cleared[29], cleared[30], cleared[34]}),
              std::vector<int>({0, 0, 0, 0, 0}));
    EXPECT_EQ(sim::le16(&cleared[4]), 1) << "the page goes on";
}

TEST_F(ScanEngineTest, GammaTablesApplyWhenTheWindowAsks)
{
    engine_.set_sensor(sim::Sensor::Ideal);
    records_.gamma_tables.assign(sim::kGammaSizePerChannel, 0);
    for (size_t t = 0; t < 3; ++t)
        for (uint32_t v = 0; v < 256; ++v)
            sim::set_le32(&records_.gamma_tables[4 * (256 * t + v)], ((v + 10 * t) & 255) << 8);
    for (const uint8_t control : {0, 4}) {
        records_.gamma_control[0] = control;
        for (const uint8_t bits : {24, 48}) {
            ASSERT_FALSE(scan({.width = 8, .height = 1, .bits = bits, .gamma = true}).refused());
            const std::vector<uint8_t> bytes = take(0, size_t{8} * bits / 8);
            for (int i = 0; i < 8; ++i)
                for (int c = 0; c < 3; ++c) {
                    const int t = control == 4 ? c : 0;
                    const int v = ((pattern(i, 0, c) >> 8) + 10 * t) & 255;
                    const int got = bits == 24 ? bytes[3 * i + c] : sim::le16(&bytes[2 * (3 * i + c)]);
                    EXPECT_EQ(got, bits == 24 ? v : v << 8) << int{control} << " " << int{bits} << " " << i << " " << c;
                }
        }
    }
}

} // namespace
