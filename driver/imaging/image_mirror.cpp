#include "image_mirror.h"

#include <algorithm>
#include <cstddef>

namespace {

template <typename T, int CH>
void mirror_fixed(T* line, int width)
{
    T* left = line;
    T* right = line + static_cast<size_t>(width - 1) * CH;
    for (int i = 0; i < width / 2; ++i, left += CH, right -= CH)
        for (int c = 0; c < CH; ++c) std::swap(left[c], right[c]);
}

template <typename T>
void mirror_lines(T* data, int width, int lines, int channels)
{
    if (data == nullptr || width < 2 || lines <= 0 || channels <= 0) return;
    const size_t line = static_cast<size_t>(width) * static_cast<size_t>(channels);
    for (int l = 0; l < lines; ++l, data += line) {
        switch (channels) {
        case 1: std::reverse(data, data + width); break;
        case 3: mirror_fixed<T, 3>(data, width); break;
        default: {
            T* left = data;
            T* right = data + line - static_cast<size_t>(channels);
            for (int i = 0; i < width / 2; ++i, left += channels, right -= channels)
                std::swap_ranges(left, left + channels, right);
        }
        }
    }
}

}  // namespace

void image_mirror_8u(unsigned char* data, int width, int lines, int channels)
{
    mirror_lines(data, width, lines, channels);
}

void image_mirror_16u(unsigned short* data, int width, int lines, int channels)
{
    mirror_lines(data, width, lines, channels);
}
