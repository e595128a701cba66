#include "halftone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace {

uint32_t crc32(const std::vector<uint8_t>& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

int side_of(int index)
{
    uint16_t d = 0;
    GetHTPatStruct(&d, index, 1);
    return (d >> 8) & 0xF;
}

struct Record {
    HALFTONE_PARAM* p = nullptr;
    ~Record() { SingleBitEpilogue(nullptr, &p); }
};

// Bits gathered most significant first; each byte XORed with the mask; a short last byte holds
// its bits at the top.
std::vector<uint8_t> ref_convert(const std::vector<uint8_t>& src, const uint8_t* map, const uint8_t* pattern, int side,
                                 int row, uint8_t mask)
{
    const size_t width = src.size();
    std::vector<uint8_t> out((width + 7) / 8, 0);
    for (size_t i = 0; i < width; ++i) {
        const int threshold = pattern == nullptr ? 128 : pattern[row * side + static_cast<int>(i % side)];
        if (map[src[i]] < threshold) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    for (auto& b : out) b ^= mask;
    return out;
}

uint8_t identity[256];
const bool identity_ready = [] {
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<uint8_t>(i);
    return true;
}();

} // namespace

TEST(Halftone, BuiltInPatternsAreTheDefinedOnes)
{
    EXPECT_EQ(GetNumOfHTPattern(), 12);
    uint16_t d[13] = {};
    ASSERT_EQ(GetHTPatStruct(d, 0, 13), 12);
    const uint16_t expect[12] = {0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505,
                                 0x5506, 0x4407, 0x4408, 0x4409, 0x330A, 0x220B};
    std::vector<uint8_t> all;
    const int sums[12] = {8192, 8192, 8192, 8192, 4608, 3199, 3199, 2048, 2048, 2048, 1152, 512};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(d[i], expect[i]);
        EXPECT_EQ(d[i] & 0xFF, i);
        EXPECT_EQ((d[i] >> 8) & 0xF, (d[i] >> 12) & 0xF);
        const int side = side_of(i);
        const uint8_t* p = getPattern(i);
        ASSERT_NE(p, nullptr);
        std::vector<uint8_t> copy(static_cast<size_t>(side * side) + 1, 0xEE);
        EXPECT_EQ(GetHTPattern(copy.data(), i), copy.data());
        EXPECT_EQ(copy.back(), 0xEE);
        copy.pop_back();
        EXPECT_TRUE(std::equal(copy.begin(), copy.end(), p));
        EXPECT_EQ(std::accumulate(copy.begin(), copy.end(), 0), sums[i]) << i;
        all.insert(all.end(), copy.begin(), copy.end());
    }
    ASSERT_EQ(all.size(), 403u);
    EXPECT_EQ(std::accumulate(all.begin(), all.end(), 0), 51582);
    EXPECT_EQ(crc32(all), 0x610290A1u);
    EXPECT_EQ(getPattern(12), nullptr);
    EXPECT_EQ(getPattern(-1), nullptr);
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(GetHTPattern(buf, 12), nullptr);
    EXPECT_EQ(GetHTPattern(buf, -1), nullptr);
    EXPECT_EQ(buf[0], 1);
}

TEST(Halftone, DescriptorRangesAreBounded)
{
    uint16_t d[16];
    std::fill(std::begin(d), std::end(d), 0xFFFF);
    EXPECT_EQ(GetHTPatStruct(d, 10, 5), 2);
    EXPECT_EQ(d[0], 0x330A);
    EXPECT_EQ(d[1], 0x220B);
    EXPECT_EQ(d[2], 0xFFFF);
    for (auto [first, count] : {std::pair{12, 1}, {13, 1}, {-1, 5}, {0, 0}, {3, -2}}) {
        std::fill(std::begin(d), std::end(d), 0xFFFF);
        EXPECT_EQ(GetHTPatStruct(d, first, count), 0);
        EXPECT_EQ(d[0], 0xFFFF);
    }
}

TEST(Halftone, PrologueCopiesPatternsAndRefusesOversizedOnes)
{
    uint8_t map[256] = {};
    uint8_t buf[1 + 64];
    Record built_in; // the caller's buffer receives the side and the pattern
    built_in.p = SingleBitProcessPrologue(1, map, 4, buf, 0, nullptr);
    ASSERT_NE(built_in.p, nullptr);
    EXPECT_EQ(built_in.p->side, 6);
    EXPECT_EQ(buf[0], 6);
    EXPECT_EQ(0, std::memcmp(buf + 1, getPattern(4), 36));
    Record no_buffer;
    no_buffer.p = SingleBitProcessPrologue(2, map, 11, nullptr, 0, nullptr);
    ASSERT_NE(no_buffer.p, nullptr);
    EXPECT_EQ(no_buffer.p->xor_mask, 0xFF);

    // A host pattern of side 17 would overflow the record: refused.
    std::vector<uint8_t> too_big(17 * 17, 1);
    EXPECT_EQ(SingleBitProcessPrologue(1, map, -1, too_big.data(), 17, nullptr), nullptr);
    EXPECT_EQ(SingleBitProcessPrologue(1, map, 12, too_big.data(), 17, nullptr), nullptr);

    HALFTONE_PARAM* gone = SingleBitProcessPrologue(1, map, -1, too_big.data(), 16, nullptr);
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->pattern, gone->user_pattern);
    SingleBitEpilogue(nullptr, &gone);
    EXPECT_EQ(gone, nullptr);
    SingleBitEpilogue(nullptr, &gone);
}

TEST(Halftone, PatternElevenAlternatesAcrossCalls)
{
    Record r;
    r.p = SingleBitProcessPrologue(1, identity, 11, nullptr, 0, nullptr);
    ASSERT_NE(r.p, nullptr);
    const std::vector<uint8_t> grey(16, 128);
    for (int line = 0; line < 5; ++line) {
        uint8_t out[2];
        SingleBitProcess(r.p, out, grey.data(), 16);
        const uint8_t expect = line % 2 == 0 ? 0x55 : 0xAA;
        EXPECT_EQ(out[0], expect) << line;
        EXPECT_EQ(out[1], expect) << line;
    }
}

TEST(Halftone, PackingOfAShortLastByte)
{
    const std::vector<uint8_t> dark = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int type : {1, 2}) {
        Record r;
        r.p = SingleBitProcessPrologue(type, identity, -1, nullptr, 0, nullptr);
        uint8_t out[3] = {0x11, 0x22, 0x33};
        SingleBitProcess(r.p, out, dark.data(), 10);
        EXPECT_EQ(out[0], type == 1 ? 0xFF : 0x00);
        EXPECT_EQ(out[1], type == 1 ? 0xC0 : 0x3F); // bits 8 and 9 at the top, the filler inverted too
        EXPECT_EQ(out[2], 0x33);
    }
    Record r;
    r.p = SingleBitProcessPrologue(1, identity, -1, nullptr, 0, nullptr);
    const std::vector<uint8_t> edge = {127, 128};
    uint8_t out = 0;
    SingleBitProcess(r.p, &out, edge.data(), 2);
    EXPECT_EQ(out, 0x80);
}

TEST(Halftone, EveryPatternMatchesTheDefinitionAndWrapsItsRows)
{
    std::mt19937 rng(21);
    uint8_t random_map[256];
    for (auto& m : random_map) m = static_cast<uint8_t>(rng());
    uint8_t user[16 * 16];
    for (auto& u : user) u = static_cast<uint8_t>(rng());
    // Built-in patterns, the plain threshold (-1) and host patterns of several sides (12 and up),
    // through a map and through none; lines short, at the edges of whole groups of pixels, and
    // long.
    const int user_sides[] = {1, 3, 7, 16};
    for (const uint8_t* map : {static_cast<const uint8_t*>(random_map), static_cast<const uint8_t*>(identity)}) {
        for (int index = -1; index < 12 + 4; ++index) {
            for (int type : {1, 0}) {
                const bool host = index >= 12;
                const int host_side = host ? user_sides[index - 12] : 0;
                Record r;
                r.p = SingleBitProcessPrologue(type, map, host ? -1 : index, host ? user : nullptr, host_side, nullptr);
                ASSERT_NE(r.p, nullptr);
                const int side = index >= 0 && index < 12 ? side_of(index) : (host ? host_side : 1);
                const uint8_t* pattern = index >= 0 && index < 12 ? getPattern(index) : (host ? user : nullptr);
                for (int line = 0; line < 40; ++line) {
                    static const int kEdges[] = {15, 16, 17, 31, 32, 33, 48, 200, 1021};
                    const int width = line < 31 ? 1 + static_cast<int>(rng() % 45) : kEdges[line - 31];
                    std::vector<uint8_t> src(static_cast<size_t>(width));
                    for (auto& s : src) s = static_cast<uint8_t>(rng());
                    std::vector<uint8_t> out((width + 7) / 8 + 1, 0x5A);
                    SingleBitProcess(r.p, out.data(), src.data(), width);
                    EXPECT_EQ(out.back(), 0x5A);
                    out.pop_back();
                    EXPECT_EQ(out, ref_convert(src, map, pattern, side, line % side, type == 1 ? 0 : 0xFF))
                        << "pattern " << index << " line " << line << " width " << width
                        << (map == identity ? " identity" : " mapped");
                }
            }
        }
    }
}
