// The shading reductions: the median-window column statistic and the chunky column order.
#include "calibration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

uint16_t sort_mid(std::vector<uint16_t> samples)
{
    CALI_PARAM c{};
    c.lines = static_cast<uint32_t>(samples.size());
    std::copy(samples.begin(), samples.end(), c.column.begin());
    return cali_sortMid(&c);
}

// The statistic as written: a full sort, the upper median, the window, the plain mean.
uint16_t sorted_reference(std::vector<uint16_t> v)
{
    if (v.empty()) return 0;
    std::qsort(v.data(), v.size(), sizeof v[0], compare);
    const uint32_t m = v[v.size() / 2], lo = m * 95 / 100, hi = m * 105 / 100;
    uint32_t sum = 0, count = 0, all = 0;
    for (uint16_t x : v) {
        all += x;
        if (x > lo && x < hi) sum += x, ++count;
    }
    return static_cast<uint16_t>(count > 0 ? sum / count : all / v.size());
}

TEST(Reductions, TheMedianWindowStatistic)
{
    EXPECT_EQ(sort_mid(std::vector<uint16_t>(256, 1000)), 1000);
    EXPECT_EQ(sort_mid(std::vector<uint16_t>(256, 7)), 7) << "below 20 the window is empty; the mean is the value";
    EXPECT_EQ(sort_mid({100, 100, 200, 200}), 200) << "an even count takes the element at n / 2";
    std::vector<uint16_t> outliers(252, 1000);
    outliers.insert(outliers.end(), {0, 0, 65535, 65535});
    EXPECT_EQ(sort_mid(outliers), 1000);
    EXPECT_EQ(sort_mid({5, 7, 19, 1000}), 257) << "an empty window gives the truncated mean";
    EXPECT_EQ(sort_mid({}), 0);
    EXPECT_EQ(sort_mid({950, 1000, 1000, 1050, 1049}), 1016) << "both bounds (950 and 1050) are excluded";

    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint16_t> v(1 + random() % 1024);
        const uint16_t level = static_cast<uint16_t>(random());
        for (uint16_t& x : v)
            x = random() % 4 == 0 ? static_cast<uint16_t>(random()) : static_cast<uint16_t>(level + random() % 64);
        ASSERT_EQ(sort_mid(v), sorted_reference(v)) << round;
    }
}

// Samples encode (pixel, channel, line); statistics that pick one line show each column's origin.
TEST(Reductions, ChunkyColumnsForColourAndGrey)
{
    for (const uint16_t colour : {0, 1}) {
        const unsigned channels = colour != 0 ? 3 : 1;
        CALI_PARAM c{};
        c.colour = colour;
        c.pixels = 5;
        c.lines = 7;
        const auto code = [&](size_t p, size_t ch, size_t l) { return static_cast<uint16_t>((p * 3 + ch) * 16 + l); };
        for (size_t l = 0; l < c.lines; ++l)
            for (size_t p = 0; p < c.pixels; ++p)
                for (size_t ch = 0; ch < channels; ++ch) {
                    c.dark_samples.push_back(code(p, ch, l));
                    c.white_samples.push_back(static_cast<uint16_t>(code(p, ch, l) + 1000));
                }
        c.dark_line.assign(c.pixels * channels, 0);
        c.white_line.assign(c.pixels * channels, 0);
        c.column_statistic = [](CALI_PARAM* r) { return r->column[r->lines - 1]; };
        cali_shadingForDarkChunky(&c);
        c.column_statistic = [](CALI_PARAM* r) { return r->column[0]; };
        cali_white_shading_for_multiple_exposure_mode(&c);
        for (size_t p = 0; p < c.pixels; ++p)
            for (size_t ch = 0; ch < channels; ++ch) {
                EXPECT_EQ(c.dark_line[p * channels + ch], code(p, ch, c.lines - 1)) << colour << " " << p << " " << ch;
                EXPECT_EQ(c.white_line[p * channels + ch], code(p, ch, 0) + 1000) << colour << " " << p << " " << ch;
            }
    }
}

} // namespace
