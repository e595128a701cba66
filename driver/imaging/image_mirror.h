// Reverses the pixel order of lines in place for the pipeline's mirror stage. Lines follow each
// other with no gap, a line being width x channels samples; the channels of a pixel move together.
#pragma once

#include <cstdint>

void image_mirror_8u(unsigned char* data, int width, int lines, int channels);
void image_mirror_16u(unsigned short* data, int width, int lines, int channels);
