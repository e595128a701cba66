#include "image_helpers.h"

#include <cstdlib>
#include <memory>

using namespace lumenfield;

namespace {

template <typename T> Image ownedImage(int width, int height, const std::vector<T>& pixels, VipsBandFormat format)
{
    VipsImage* image =
        vips_image_new_from_memory_copy(pixels.data(), pixels.size() * sizeof(T), width, height, 3, format);
    if (!image) throw vips::VError();
    return Image(image);
}

template <typename T> std::vector<T> pixelsOf(const Image& image, VipsBandFormat format)
{
    const Image cast = image.cast(format);
    size_t size = 0;
    void* memory = cast.write_to_memory(&size);
    const std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const auto* values = static_cast<const T*>(memory);
    return std::vector<T>(values, values + size / sizeof(T));
}

} // namespace

Image byteImage(int width, int height, const std::function<Bytes3(int, int)>& pixel)
{
    std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Bytes3 p = pixel(x, y);
            for (int b = 0; b < 3; ++b) pixels[(static_cast<size_t>(y) * width + x) * 3 + b] = p[b];
        }
    return ownedImage(width, height, pixels, VIPS_FORMAT_UCHAR)
        .copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

Image flatBytes(int width, int height, Bytes3 value)
{
    return byteImage(width, height, [value](int, int) { return value; });
}

Image floatImage(int width, int height, const std::function<Floats3(int, int)>& pixel)
{
    std::vector<float> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Floats3 p = pixel(x, y);
            for (int b = 0; b < 3; ++b) pixels[(static_cast<size_t>(y) * width + x) * 3 + b] = p[b];
        }
    return ownedImage(width, height, pixels, VIPS_FORMAT_FLOAT)
        .copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
}

std::vector<std::uint8_t> bytesOf(const Image& image)
{
    return pixelsOf<std::uint8_t>(image, VIPS_FORMAT_UCHAR);
}

std::vector<float> floatsOf(const Image& image)
{
    return pixelsOf<float>(image, VIPS_FORMAT_FLOAT);
}

int maxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

Image testChart(int width, int height)
{
    return byteImage(width, height, [width, height](int x, int y) -> Bytes3 {
        const unsigned noise = (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 27;
        if ((x / 24) % 5 == 1 && (y / 10) % 4 == 1) return {30, 28, 35}; // text-like blocks
        if (y < height / 4) {                                            // saturated patches
            static constexpr Bytes3 patches[] = {{220, 40, 40},  {40, 200, 60},  {50, 60, 210},
                                                 {230, 220, 50}, {200, 60, 190}, {60, 200, 210}};
            return patches[(x * 6) / width];
        }
        const auto level = [&](int v) { return static_cast<std::uint8_t>(20 + v + int(noise % 8)); };
        return {level(x * 200 / width), level(y * 200 / height), level((x + y) * 100 / (width + height) + 60)};
    });
}
