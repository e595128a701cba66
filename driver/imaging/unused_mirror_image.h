// Whole-image mirroring in five layouts. Nothing in the driver calls it: the pipeline mirrors its
// lines with image_mirror.h.
#pragma once

#include <cstdint>

// Layouts: 0 packed bits (most significant first), 1 one sample per pixel, 2 three sub-lines per
// line after a 2-byte lead-in, 3 interleaved three-sample pixels, 4 three sub-lines per line. A
// sample is 16-bit when depth is above 8, else one byte. Any other type does nothing. No worker
// touches a byte outside lines x bytes_per_line from the image start, and each (sub-)line's
// reversal stays within the bytes that (sub-)line holds.
void MirrorImage(int type, int depth, unsigned pixels, unsigned bytes_per_line, unsigned lines, void* image);

// What MirrorImage hands its worker. The sub-line layouts count their sub-lines as lines, and
// mirrorLine its sub-line size as the line size, in this record as they go.
struct MirrorImageJob {
    int depth;
    unsigned pixels;
    unsigned bytes_per_line;
    unsigned lines;
    void* image;
};

void mirrorBW(MirrorImageJob& job);
void mirrorGray(MirrorImageJob& job);
void mirrorIndexColor(MirrorImageJob& job);
void mirrorRGB(MirrorImageJob& job);
void mirrorLine(MirrorImageJob& job);
