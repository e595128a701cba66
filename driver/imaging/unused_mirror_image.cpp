#include "unused_mirror_image.h"

#include <algorithm>
#include <cstring>

namespace {

uint8_t* image_bytes(const MirrorImageJob& job)
{
    return static_cast<uint8_t*>(job.image);
}

// Bytes of the image the workers may touch: lines x bytes_per_line as passed.
uint64_t image_extent(const MirrorImageJob& job)
{
    return static_cast<uint64_t>(job.lines) * job.bytes_per_line;
}

unsigned sample_bytes(const MirrorImageJob& job)
{
    return job.depth > 8 ? 2 : 1;
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
void reverse_lines(const MirrorImageJob& job, uint64_t offset, uint64_t count, uint64_t pitch, unsigned group,
                   uint64_t extent)
{
    uint8_t* image = image_bytes(job);
    if (image == nullptr || group == 0) return;
    const uint64_t groups = std::min<uint64_t>(job.pixels, pitch / group);
    for (uint64_t j = 0; j < count; ++j) {
        const uint64_t start = offset + j * pitch;
        if (start + groups * group > extent) continue;
        reverse_groups(image + start, groups, group);
    }
}

} // namespace

void mirrorBW(MirrorImageJob& job)
{
    uint8_t* image = image_bytes(job);
    if (image == nullptr) return;
    const uint64_t pixels = std::min<uint64_t>(job.pixels, static_cast<uint64_t>(job.bytes_per_line) * 8);
    for (unsigned l = 0; l < job.lines; ++l) {
        uint8_t* line = image + static_cast<uint64_t>(l) * job.bytes_per_line;
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

void mirrorGray(MirrorImageJob& job)
{
    reverse_lines(job, 0, job.lines, job.bytes_per_line, sample_bytes(job), image_extent(job));
}

void mirrorIndexColor(MirrorImageJob& job)
{
    // The colour planes start 2 bytes into the image; the last sub-line then ends 2 bytes past
    // the image unless its pixels leave room, and is left alone in that case.
    const uint64_t extent = image_extent(job);
    job.lines *= 3;
    reverse_lines(job, 2, job.lines, job.bytes_per_line / 3, sample_bytes(job), extent);
}

void mirrorRGB(MirrorImageJob& job)
{
    // Whole pixels only: row padding beyond pixels x 3 (or x 6) bytes stays where it is.
    reverse_lines(job, 0, job.lines, job.bytes_per_line, job.depth > 8 ? 6 : 3, image_extent(job));
}

void mirrorLine(MirrorImageJob& job)
{
    const uint64_t extent = image_extent(job);
    job.lines *= 3;
    job.bytes_per_line /= 3;
    reverse_lines(job, 0, job.lines, job.bytes_per_line, sample_bytes(job), extent);
}

void MirrorImage(int type, int depth, unsigned pixels, unsigned bytes_per_line, unsigned lines, void* image)
{
    MirrorImageJob job{depth, pixels, bytes_per_line, lines, image};
    switch (type) {
    case 0: mirrorBW(job); break;
    case 1: mirrorGray(job); break;
    case 2: mirrorIndexColor(job); break;
    case 3: mirrorRGB(job); break;
    case 4: mirrorLine(job); break;
    default: break;
    }
}
