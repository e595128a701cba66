// Whole-image mirroring in five layouts. Nothing in the driver calls it: the pipeline mirrors its
// lines with image_mirror.h. The arguments are kept in process-wide variables that the workers
// read, so only one call may run at a time.
#pragma once

#include <cstdint>

// Layouts: 0 packed bits (most significant first), 1 one sample per pixel, 2 three sub-lines per
// line after a 2-byte lead-in, 3 interleaved three-sample pixels, 4 three sub-lines per line. A
// sample is 16-bit when depth is above 8, else one byte. Any other type does nothing. No worker
// touches a byte outside lines x bytes_per_line from the image start, and each (sub-)line's
// reversal stays within the bytes that (sub-)line holds.
void MirrorImage(int type, int depth, unsigned pixels, unsigned bytes_per_line, unsigned lines, void* image);

extern int BitDepth;
extern unsigned Pixels;
extern unsigned bytesPerLine;
extern unsigned Lines;
extern void* lphSrcImage;

void mirrorBW();
void mirrorGray();
void mirrorIndexColor();
void mirrorRGB();
void mirrorLine();
