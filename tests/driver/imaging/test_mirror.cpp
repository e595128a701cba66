#include "image_mirror.h"
#include "mirror_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

template <typename T>
std::vector<T> ref_mirror(const std::vector<T>& in, int width, int lines, int channels)
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
    for (size_t i = 0; i < count; ++i)
        std::memcpy(p + (count - 1 - i) * group, tmp.data() + i * group, group);
}

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace

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
            // Grey with row padding: only the first pixels samples of each line move.
            {
                const unsigned bpl = pixels * s + 3;
                auto img = random_bytes(rng, bpl * 4);
                auto expect = img;
                for (unsigned l = 0; l < 4; ++l) ref_reverse(&expect[l * bpl], pixels, s);
                MirrorImage(1, depth, pixels, bpl, 4, img.data());
                EXPECT_EQ(img, expect);
            }
            // Interleaved colour with padding: whole pixels move, the padding stays.
            {
                const unsigned bpl = pixels * 3 * s + 2;
                auto img = random_bytes(rng, bpl * 4);
                auto expect = img;
                for (unsigned l = 0; l < 4; ++l) ref_reverse(&expect[l * bpl], pixels, 3 * s);
                MirrorImage(3, depth, pixels, bpl, 4, img.data());
                EXPECT_EQ(img, expect);
            }
            // Three sub-lines per line, exactly sized: every sub-line reversed.
            {
                const unsigned bpl = pixels * s * 3;
                auto img = random_bytes(rng, bpl * 4);
                auto expect = img;
                for (unsigned j = 0; j < 12; ++j) ref_reverse(&expect[j * (bpl / 3)], pixels, s);
                MirrorImage(4, depth, pixels, bpl, 4, img.data());
                EXPECT_EQ(img, expect);
                EXPECT_EQ(Lines, 12u);
                EXPECT_EQ(bytesPerLine, bpl / 3);
            }
            // The same layout 2 bytes in: a sub-line that would end past the image stays.
            {
                const unsigned bpl = pixels * s * 3;
                auto img = random_bytes(rng, bpl * 4);
                auto expect = img;
                for (unsigned j = 0; j < 12; ++j)
                    if (2 + j * (bpl / 3) + pixels * s <= bpl * 4) ref_reverse(&expect[2 + j * (bpl / 3)], pixels, s);
                MirrorImage(2, depth, pixels, bpl, 4, img.data());
                EXPECT_EQ(img, expect);
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
    MirrorImage(3, 8, 3, 2, 2, tiny.data());  // fewer than 3 bytes per line
    EXPECT_EQ(tiny, tiny0);
    MirrorImage(5, 8, 3, 2, 2, tiny.data());
    MirrorImage(-1, 8, 3, 2, 2, tiny.data());
    EXPECT_EQ(tiny, tiny0);
    MirrorImage(1, 8, 3, 3, 1, nullptr);
}
