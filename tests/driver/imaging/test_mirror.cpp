#include "image_mirror.h"
#include "unused_mirror_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

template <typename T> std::vector<T> ref_mirror(const std::vector<T>& in, int width, int lines, int channels)
{
    std::vector<T> out(in.size());
    for (int l = 0; l < lines; ++l)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                out[(static_cast<size_t>(l) * width + (width - 1 - x)) * channels + c] =
                    in[(static_cast<size_t>(l) * width + x) * channels + c];
    return out;
}

// Reverses `count` groups of `group` bytes at `p` (the definition of a mirrored line).
void ref_reverse(uint8_t* p, size_t count, size_t group)
{
    std::vector<uint8_t> tmp(p, p + count * group);
    for (size_t i = 0; i < count; ++i) std::memcpy(p + (count - 1 - i) * group, tmp.data() + i * group, group);
}

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

} // namespace

TEST(Mirror, PipelineLinesMatchTheDefinition)
{
    std::mt19937 rng(31);
    for (int channels : {1, 2, 3, 4})
        for (int width : {0, 1, 2, 3, 7, 64, 5103})
            for (int lines : {1, 3}) {
                const size_t n = static_cast<size_t>(width) * channels * lines;
                const auto in8 = random_bytes(rng, n);
                auto d8 = in8;
                image_mirror_8u(d8.data(), width, lines, channels);
                ASSERT_EQ(d8, ref_mirror(in8, width, lines, channels)) << width << "x" << channels;
                image_mirror_8u(d8.data(), width, lines, channels);
                ASSERT_EQ(d8, in8);

                std::vector<unsigned short> in16(n);
                for (auto& s : in16) s = static_cast<unsigned short>(rng());
                auto d16 = in16;
                image_mirror_16u(d16.data(), width, lines, channels);
                ASSERT_EQ(d16, ref_mirror(in16, width, lines, channels));
                image_mirror_16u(d16.data(), width, lines, channels);
                ASSERT_EQ(d16, in16);
            }
    // A three-channel pixel keeps its channel order at its mirrored place.
    unsigned char px[6] = {1, 2, 3, 4, 5, 6};
    image_mirror_8u(px, 2, 1, 3);
    const unsigned char expect[6] = {4, 5, 6, 1, 2, 3};
    EXPECT_EQ(0, std::memcmp(px, expect, 6));
    image_mirror_8u(nullptr, 4, 1, 1);
    image_mirror_8u(px, 2, -1, 3);
}

TEST(MirrorImage, PackedBitsOfTenPixels)
{
    // Bit 0 set: after mirroring it is bit 9; the 6 low bits of the second byte stay.
    uint8_t line[2] = {0x80, 0x15};
    MirrorImage(0, 1, 10, 2, 1, line);
    EXPECT_EQ(line[0], 0x00);
    EXPECT_EQ(line[1], 0x55);
    // Against the definition on random lines of several widths, with padding bytes.
    std::mt19937 rng(32);
    for (unsigned pixels : {1u, 2u, 9u, 17u, 64u}) {
        const unsigned bpl = (pixels + 7) / 8 + 1;
        auto img = random_bytes(rng, bpl * 3);
        auto expect = img;
        for (unsigned l = 0; l < 3; ++l) {
            uint8_t* p = &expect[l * bpl];
            std::vector<int> bits(pixels);
            for (unsigned i = 0; i < pixels; ++i) bits[i] = (p[i / 8] >> (7 - i % 8)) & 1;
            for (unsigned i = 0; i < pixels; ++i) {
                const unsigned j = pixels - 1 - i;
                p[j / 8] = static_cast<uint8_t>((p[j / 8] & ~(0x80 >> (j % 8))) | (bits[i] << (7 - j % 8)));
            }
        }
        MirrorImage(0, 1, pixels, bpl, 3, img.data());
        EXPECT_EQ(img, expect) << pixels;
    }
}

TEST(MirrorImage, LayoutsKeepToTheirLinesAndTheImage)
{
    std::mt19937 rng(33);
    for (int depth : {8, 16}) {
        const unsigned s = depth > 8 ? 2 : 1;
        for (unsigned pixels : {1u, 2u, 5u, 11u}) {
            // {type, bytes per line, bytes per group, (sub-)line pitch, (sub-)lines, lead-in}:
            // grey and interleaved colour with row padding that must stay; three exactly sized
            // sub-lines per line, also 2 bytes in, where a sub-line past the image stays.
            const unsigned sub = pixels * s;
            const struct {
                int type;
                unsigned bpl, group, pitch, count, lead;
            } layouts[] = {{1, sub + 3, s, sub + 3, 4, 0},
                           {3, 3 * sub + 2, 3 * s, 3 * sub + 2, 4, 0},
                           {4, 3 * sub, s, sub, 12, 0},
                           {2, 3 * sub, s, sub, 12, 2}};
            for (const auto& l : layouts) {
                auto img = random_bytes(rng, l.bpl * 4);
                auto expect = img;
                for (unsigned j = 0; j < l.count; ++j)
                    if (l.lead + j * l.pitch + pixels * l.group <= l.bpl * 4)
                        ref_reverse(&expect[l.lead + j * l.pitch], pixels, l.group);
                MirrorImage(l.type, depth, pixels, l.bpl, 4, img.data());
                EXPECT_EQ(img, expect) << l.type << " " << depth << " " << pixels;
            }
        }
    }
    // Lines too short for their pixels: each reversal stays within the line.
    auto img = random_bytes(rng, 2 * 5);
    auto expect = img;
    ref_reverse(&expect[0], 1, 3);
    ref_reverse(&expect[5], 1, 3);
    MirrorImage(3, 8, 4, 5, 2, img.data());
    EXPECT_EQ(img, expect);
    auto tiny = random_bytes(rng, 4);
    const auto tiny0 = tiny;
    MirrorImage(3, 8, 3, 2, 2, tiny.data()); // fewer than 3 bytes per line
    EXPECT_EQ(tiny, tiny0);
    MirrorImage(5, 8, 3, 2, 2, tiny.data());
    MirrorImage(-1, 8, 3, 2, 2, tiny.data());
    EXPECT_EQ(tiny, tiny0);
    MirrorImage(1, 8, 3, 3, 1, nullptr);
}
