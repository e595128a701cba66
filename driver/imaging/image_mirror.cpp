#include "image_mirror.h"

#include <algorithm>
#include <cstddef>

namespace {

template <typename T> void mirror_three(T* line, int width)
{
    T* left = line;
    T* right = line + static_cast<size_t>(width - 1) * 3;
    for (int i = 0; i < width / 2; ++i, left += 3, right -= 3) {
        // Both pixels are read before either is written, in plain scalars.
        const T a0 = left[0], a1 = left[1], a2 = left[2];
        const T b0 = right[0], b1 = right[1], b2 = right[2];
        left[0] = b0;
        left[1] = b1;
        left[2] = b2;
        right[0] = a0;
        right[1] = a1;
        right[2] = a2;
    }
}

template <typename T> void mirror_lines(T* data, int width, int lines, int channels)
{
    if (data == nullptr || width < 2 || lines <= 0 || channels <= 0) return;
    const size_t line = static_cast<size_t>(width) * static_cast<size_t>(channels);
    for (int l = 0; l < lines; ++l, data += line) {
        switch (channels) {
        case 1: std::reverse(data, data + width); break;
        case 3: mirror_three(data, width); break;
        default: {
            T* left = data;
            T* right = data + line - static_cast<size_t>(channels);
            for (int i = 0; i < width / 2; ++i, left += channels, right -= channels)
                std::swap_ranges(left, left + channels, right);
        }
        }
    }
}

} // namespace

void image_mirror_8u(unsigned char* data, int width, int lines, int channels)
{
    mirror_lines(data, width, lines, channels);
}

void image_mirror_16u(unsigned short* data, int width, int lines, int channels)
{
    mirror_lines(data, width, lines, channels);
}
