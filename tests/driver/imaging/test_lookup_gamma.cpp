#include "gamma_table.h"
#include "lookup_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

template <typename T> std::vector<T> random_samples(std::mt19937& rng, size_t n)
{
    std::vector<T> v(n);
    for (auto& x : v) x = static_cast<T>(rng());
    return v;
}

// Sample c of pixel p through table c, as defined.
template <typename T, typename E>
std::vector<T> ref_apply(std::vector<T> data, uint32_t channels, const E* const (&t)[3], uint32_t scale)
{
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<T>(t[i % channels][static_cast<size_t>(data[i]) * scale]);
    return data;
}

} // namespace

TEST(LookupTable, EachVariantMatchesTheDefinition)
{
    std::mt19937 rng(3);
    const auto t256 = random_samples<uint8_t>(rng, 3 * 256);
    const auto t64k = random_samples<uint8_t>(rng, 3 * 65536);
    const auto w64k = random_samples<uint16_t>(rng, 3 * 65536);
    for (uint32_t channels : {1u, 3u}) {
        for (uint32_t pixels : {0u, 1u, 7u, 1001u}) {
            const uint8_t* b[3] = {&t256[0], &t256[256], &t256[512]};
            const uint8_t* bb[3] = {&t64k[0], &t64k[65536], &t64k[131072]};
            const uint16_t* w[3] = {&w64k[0], &w64k[65536], &w64k[131072]};
            auto bytes = random_samples<uint8_t>(rng, static_cast<size_t>(pixels) * channels);
            auto words = random_samples<uint16_t>(rng, static_cast<size_t>(pixels) * channels);

            auto d = bytes;
            lookup_table_info_t info{256, 1, {b[0], b[1], b[2]}};
            lookup_table_image_param_t img{d.data(), 8, pixels, channels};
            apply_lookup_table(&info, &img);
            EXPECT_EQ(d, ref_apply(bytes, channels, b, 1));

            d = bytes;
            info = {65536, 1, {bb[0], bb[1], bb[2]}};
            apply_lookup_table(&info, &img);
            EXPECT_EQ(d, ref_apply(bytes, channels, bb, 256));

            auto dw = words;
            info = {65536, 2, {w[0], w[1], w[2]}};
            img = {dw.data(), 16, pixels, channels};
            apply_lookup_table(&info, &img);
            EXPECT_EQ(dw, ref_apply(words, channels, w, 1));
        }
    }
}

TEST(LookupTable, EdgeCasesOfTheStage)
{
    // A grey side applies table 0 to its single channel; the others are never looked at.
    std::vector<uint8_t> inv(256);
    for (int i = 0; i < 256; ++i) inv[i] = static_cast<uint8_t>(255 - i);
    std::vector<uint8_t> grey = {0, 10, 255};
    lookup_table_info_t info{256, 1, {inv.data(), nullptr, nullptr}};
    lookup_table_image_param_t img{grey.data(), 8, 3, 1};
    apply_lookup_table(&info, &img);
    EXPECT_EQ(grey, (std::vector<uint8_t>{255, 245, 0}));

    // 8-bit data with a 65536-entry one-byte table: value 1 reads entry 256.
    std::vector<uint8_t> big(65536, 0);
    big[256] = 77;
    std::vector<uint8_t> one = {1};
    info = {65536, 1, {big.data(), big.data(), big.data()}};
    img = {one.data(), 8, 1, 1};
    apply_lookup_table(&info, &img);
    EXPECT_EQ(one[0], 77);

    // A two-byte table of 65536 entries maps every 16-bit value.
    std::vector<uint16_t> rev(65536), all(65536);
    for (uint32_t i = 0; i < 65536; ++i) {
        rev[i] = static_cast<uint16_t>(65535 - i);
        all[i] = static_cast<uint16_t>(i);
    }
    info = {65536, 2, {rev.data(), rev.data(), rev.data()}};
    img = {all.data(), 16, 65536, 1};
    apply_lookup_table(&info, &img);
    for (uint32_t i = 0; i < 65536; ++i) ASSERT_EQ(all[i], 65535 - i);
}

TEST(LookupTable, MismatchedShapesChangeNothingAndReadNothingBeyond)
{
    // Tables are exactly as long as they claim, so an over-read trips the address sanitizer.
    std::vector<uint8_t> b256(256, 9);
    std::vector<uint16_t> w256(256, 9);
    std::vector<uint8_t> b64k(65536, 9);
    std::vector<uint8_t> bytes(30, 200);
    std::vector<uint16_t> words(30, 60000);
    const auto bytes0 = bytes;
    const auto words0 = words;
    struct Case {
        lookup_table_info_t info;
        uint32_t depth;
        uint32_t channels;
    } cases[] = {
        {{256, 2, {w256.data(), w256.data(), w256.data()}}, 8, 3},    // two-byte over 8-bit
        {{256, 2, {w256.data(), w256.data(), w256.data()}}, 16, 3},   // 16-bit, 256 entries
        {{65536, 1, {b64k.data(), b64k.data(), b64k.data()}}, 16, 3}, // one-byte over 16-bit
        {{256, 1, {b256.data(), nullptr, b256.data()}}, 8, 3},        // a needed table missing
        {{256, 1, {b256.data(), b256.data(), b256.data()}}, 8, 4},    // no fourth table
    };
    for (const auto& c : cases) {
        lookup_table_image_param_t img{c.depth == 8 ? static_cast<void*>(bytes.data())
                                                    : static_cast<void*>(words.data()),
                                       c.depth, 10 / 3 * 3 / c.channels, c.channels};
        apply_lookup_table(&c.info, &img);
        EXPECT_EQ(bytes, bytes0);
        EXPECT_EQ(words, words0);
    }
    // The variants refuse tables too short for their samples when called directly.
    lookup_table_info_t short_info{256, 2, {w256.data(), w256.data(), w256.data()}};
    lookup_table_image_param_t img{words.data(), 16, 10, 3};
    apply_16bit_lookup_table(&short_info, &img);
    EXPECT_EQ(words, words0);
    apply_lookup_table(nullptr, &img);
    apply_lookup_table(&short_info, nullptr);
}

TEST(Gamma, LinearFillSpreadsEveryValueEvenly)
{
    for (uint32_t entries : {16u, 256u, 1000u, 4096u, 65536u}) {
        std::vector<uint8_t> t0(entries, 1), t1(entries, 1), t2(entries, 1);
        GAMMA_INFO set{entries, 1, 5, {t0.data(), t1.data(), t2.data()}};
        GetLinearGamma(&set);
        for (uint32_t i = 0; i < entries; ++i)
            ASSERT_EQ(t0[i], static_cast<uint8_t>(uint64_t{i} * 256 / entries)) << entries << " " << i;
        EXPECT_EQ(t0, t2);
        EXPECT_TRUE(std::all_of(t1.begin(), t1.end(), [](uint8_t v) { return v == 1; }));
        EXPECT_EQ(t0.back(), entries >= 256 ? 255 : 256 - 256 / entries);
    }
    // 4096 one-byte entries hold each value 16 times in a row.
    std::vector<uint8_t> t(4096);
    GAMMA_INFO set{4096, 1, 1, {t.data(), nullptr, nullptr}};
    GetLinearGamma(&set);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(t[i], i / 16);

    std::vector<uint16_t> w(65536, 1);
    GAMMA_INFO words{65536, 2, 2, {nullptr, w.data(), nullptr}};
    GetLinearGamma(&words);
    for (uint32_t i = 0; i < 65536; ++i) ASSERT_EQ(w[i], i);
    GetLinearGamma(nullptr);
}

namespace {

// Each source entry becomes m destination entries ending on its own value, interpolated from the
// entry before (16-bit sum); the destination's tail repeats the last value written.
std::vector<uint32_t> ref_interp(const std::vector<uint8_t>& src, uint32_t dst_entries)
{
    const uint32_t m = dst_entries >> 8;
    std::vector<uint32_t> out;
    uint32_t prev = src[0];
    for (uint8_t cur : src) {
        for (uint32_t k = 0; k + 1 < m; ++k)
            out.push_back(static_cast<uint16_t>((m - 1 - k) * prev + (k + 1) * cur) / m);
        out.push_back(cur);
        prev = cur;
    }
    out.resize(std::min<size_t>(out.size(), dst_entries));
    while (out.size() < dst_entries) out.push_back(out.back());
    return out;
}

} // namespace

TEST(Gamma, ExpandResamplesToTheDestinationShape)
{
    std::mt19937 rng(4);
    const auto src = random_samples<uint8_t>(rng, 256);
    std::vector<uint8_t> s = src;
    GAMMA_INFO in{256, 1, 7, {s.data(), s.data(), s.data()}};

    // one byte -> one byte of 4096, 65536 (positions beyond 16 bits) and 131072 entries (sums beyond)
    for (uint32_t n : {4096u, 65536u, 131072u}) {
        std::vector<uint8_t> d(n);
        GAMMA_INFO out{n, 1, 1, {d.data(), nullptr, nullptr}};
        ExpandGamma(&in, &out);
        const auto ref = ref_interp(src, n);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(d[i], ref[i]) << n << " " << i;
    }
    // one byte -> two bytes of 4096: each value q becomes q x 16 + q / 16, so 255 gives 4095.
    std::vector<uint8_t> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = static_cast<uint8_t>(i);
    GAMMA_INFO ramp_set{256, 1, 7, {ramp.data(), ramp.data(), ramp.data()}};
    std::vector<uint16_t> d(4096);
    GAMMA_INFO out{4096, 2, 2, {nullptr, d.data(), nullptr}};
    ExpandGamma(&ramp_set, &out);
    EXPECT_EQ(d[4095], 4095);
    const auto ref = ref_interp(ramp, 4096);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(d[i], ref[i] * 16 + ref[i] / 16) << i;

    // m above 256: the divisor 256 / m is 0 and its term is 0.
    std::vector<uint8_t> huge_src(131072, 2);
    std::vector<uint16_t> huge(131072);
    GAMMA_INFO huge_in{131072, 1, 1, {huge_src.data(), nullptr, nullptr}};
    GAMMA_INFO huge_out{131072, 2, 1, {huge.data(), nullptr, nullptr}};
    ExpandGamma(&huge_in, &huge_out);
    EXPECT_EQ(huge[7], 2 * 512);

    // No source set, or a missing source table: identity values.
    std::vector<uint16_t> id(4096, 9);
    GAMMA_INFO id_set{4096, 2, 1, {id.data(), nullptr, nullptr}};
    ExpandGamma(nullptr, &id_set);
    EXPECT_EQ(id[4095], 4095);
    std::fill(id.begin(), id.end(), 9);
    GAMMA_INFO no_table{256, 1, 1, {nullptr, nullptr, nullptr}};
    ExpandGamma(&no_table, &id_set);
    EXPECT_EQ(id[100], 100);
}

TEST(Gamma, FourteenBitSetStopsAtTheSourceEnd)
{
    // A source of 100 entries (exactly allocated) feeds 25 destination entries; the rest repeat.
    std::vector<uint8_t> src(100);
    for (int i = 0; i < 100; ++i) src[i] = static_cast<uint8_t>(i * 2);
    GAMMA_INFO in{100, 1, 7, {src.data(), src.data(), src.data()}};
    std::vector<uint16_t> d(4096, 1);
    GAMMA_INFO out{4096, 2, 1, {d.data(), nullptr, nullptr}};
    To14Gamma(&in, &out);
    for (uint32_t i = 0; i < 25; ++i) ASSERT_EQ(d[i], (i * 8) << 6);
    for (uint32_t i = 25; i < 4096; ++i) ASSERT_EQ(d[i], (24 * 8) << 6);

    std::vector<uint16_t> wsrc(65536);
    for (uint32_t i = 0; i < 65536; ++i) wsrc[i] = static_cast<uint16_t>(i);
    GAMMA_INFO win{65536, 2, 1, {wsrc.data(), nullptr, nullptr}};
    To14Gamma(&win, &out);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(d[i], (4 * i) >> 2);

    // No source entries: identity; no source set: identity; a one-byte destination: untouched.
    GAMMA_INFO empty{0, 1, 1, {src.data(), nullptr, nullptr}};
    To14Gamma(&empty, &out);
    EXPECT_EQ(d[4095], 4095);
    std::fill(d.begin(), d.end(), 1);
    To14Gamma(nullptr, &out);
    EXPECT_EQ(d[17], 17);
    std::vector<uint8_t> b(256, 3);
    GAMMA_INFO bytes_out{256, 1, 1, {b.data(), nullptr, nullptr}};
    To14Gamma(&in, &bytes_out);
    EXPECT_EQ(b[0], 3);
}
