#include "unused_mirror_image.h"

#include <algorithm>
#include <cstring>

int BitDepth = 0;
unsigned Pixels = 0;
unsigned bytesPerLine = 0;
unsigned Lines = 0;
void* lphSrcImage = nullptr;

namespace {

uint8_t* image_bytes()
{
    return static_cast<uint8_t*>(lphSrcImage);
}

// Bytes of the image the workers may touch: lines x bytes_per_line as passed.
uint64_t image_extent()
{
    return static_cast<uint64_t>(Lines) * bytesPerLine;
}

unsigned sample_bytes()
{
    return BitDepth > 8 ? 2 : 1;
}

// Reverses `count` groups of `group` bytes in place, from both ends inwards.
void reverse_groups(uint8_t* p, uint64_t count, unsigned group)
{
    if (count < 2) return;
    if (group == 1) {
        std::reverse(p, p + count);
        return;
    }
    uint8_t tmp[8];
    uint8_t* left = p;
    uint8_t* right = p + (count - 1) * group;
    while (right > left) {
        std::memcpy(tmp, left, group);
        std::memcpy(left, right, group);
        std::memcpy(right, tmp, group);
        left += group;
        right -= group;
    }
}

// The first `pixels` groups of each of `count` (sub-)lines `pitch` bytes apart, starting at
// `offset`, reversed; at most as many groups as a (sub-)line holds, and a (sub-)line that would
// reach past `extent` is left unchanged.
void reverse_lines(uint64_t offset, uint64_t count, uint64_t pitch, unsigned group, uint64_t extent)
{
    uint8_t* image = image_bytes();
    if (image == nullptr || group == 0) return;
    const uint64_t groups = std::min<uint64_t>(Pixels, pitch / group);
    for (uint64_t j = 0; j < count; ++j) {
        const uint64_t start = offset + j * pitch;
        if (start + groups * group > extent) continue;
        reverse_groups(image + start, groups, group);
    }
}

} // namespace

void mirrorBW()
{
    uint8_t* image = image_bytes();
    if (image == nullptr) return;
    const uint64_t pixels = std::min<uint64_t>(Pixels, static_cast<uint64_t>(bytesPerLine) * 8);
    for (unsigned l = 0; l < Lines; ++l) {
        uint8_t* line = image + static_cast<uint64_t>(l) * bytesPerLine;
        for (uint64_t i = 0, j = pixels - 1; pixels > 1 && i < j; ++i, --j) {
            const uint8_t mi = static_cast<uint8_t>(0x80u >> (i & 7));
            const uint8_t mj = static_cast<uint8_t>(0x80u >> (j & 7));
            const bool bi = (line[i >> 3] & mi) != 0;
            const bool bj = (line[j >> 3] & mj) != 0;
            if (bi != bj) {
                line[i >> 3] ^= mi;
                line[j >> 3] ^= mj;
            }
        }
    }
}

void mirrorGray()
{
    reverse_lines(0, Lines, bytesPerLine, sample_bytes(), image_extent());
}

void mirrorIndexColor()
{
    // The colour planes start 2 bytes into the image; the last sub-line then ends 2 bytes past
    // the image unless its pixels leave room, and is left alone in that case.
    const uint64_t extent = image_extent();
    Lines *= 3;
    reverse_lines(2, Lines, bytesPerLine / 3, sample_bytes(), extent);
}

void mirrorRGB()
{
    // Whole pixels only: row padding beyond pixels x 3 (or x 6) bytes stays where it is.
    reverse_lines(0, Lines, bytesPerLine, BitDepth > 8 ? 6 : 3, image_extent());
}

void mirrorLine()
{
    const uint64_t extent = image_extent();
    Lines *= 3;
    bytesPerLine /= 3;
    reverse_lines(0, Lines, bytesPerLine, sample_bytes(), extent);
}

void MirrorImage(int type, int depth, unsigned pixels, unsigned bytes_per_line, unsigned lines, void* image)
{
    BitDepth = depth;
    Pixels = pixels;
    bytesPerLine = bytes_per_line;
    Lines = lines;
    lphSrcImage = image;
    switch (type) {
    case 0: mirrorBW(); break;
    case 1: mirrorGray(); break;
    case 2: mirrorIndexColor(); break;
    case 3: mirrorRGB(); break;
    case 4: mirrorLine(); break;
    default: break;
    }
}
