#include "scan_chart.h"

#include <vips/vips.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace sim {

namespace {

constexpr uint16_t kWhite = 65535;
constexpr uint32_t kDefaultDpi = 300;
// libvips reports 1 pixel per millimetre for a file that states no resolution.
constexpr double kNoResolution = 1.0;

class PatternChart final : public Chart {
public:
    void row(int64_t y, int64_t x0, int step, uint32_t count, uint32_t, uint32_t, uint16_t* rgb) const override
    {
        // (7x + 13y + 85c) mod 256 repeats every 256 pixels along a row: the first period is
        // worked out, the rest copied.
        const uint32_t period = std::min<uint32_t>(count, 256);
        auto v = static_cast<uint8_t>(7 * x0 + 13 * y);
        const auto dv = static_cast<uint8_t>(7 * step);
        for (uint32_t i = 0; i < period; ++i, v = static_cast<uint8_t>(v + dv)) {
            rgb[3 * i] = static_cast<uint16_t>(v * 257);
            rgb[3 * i + 1] = static_cast<uint16_t>(static_cast<uint8_t>(v + 85) * 257);
            rgb[3 * i + 2] = static_cast<uint16_t>(static_cast<uint8_t>(v + 170) * 257);
        }
        for (uint32_t i = period; i < count; i += period)
            std::copy_n(rgb, size_t{std::min(period, count - i)} * 3, rgb + size_t{i} * 3);
    }
};

class Pattern16Chart final : public Chart {
public:
    void row(int64_t y, int64_t x0, int step, uint32_t count, uint32_t, uint32_t, uint16_t* rgb) const override
    {
        int64_t x = x0;
        for (uint32_t i = 0; i < count; ++i, x += step)
            for (int c = 0; c < 3; ++c)
                rgb[3 * i + c] = static_cast<uint16_t>(static_cast<uint64_t>(7 * x + 13 * y + 85 * c) * 263);
    }
};

class FlatChart final : public Chart {
public:
    explicit FlatChart(uint16_t p) : p_(p) {}
    void row(int64_t, int64_t, int, uint32_t count, uint32_t, uint32_t, uint16_t* rgb) const override
    {
        std::fill_n(rgb, size_t{count} * 3, p_);
    }

private:
    uint16_t p_;
};

// A chart file holds sRGB values, but a sensor reads light: each 16-bit value v is decoded to the
// reflectance 65535 D(v / 65535), D the sRGB curve, once when the file is read.
const std::array<uint16_t, 65536>& srgb_to_reflectance()
{
    static const auto table = [] {
        auto t = std::make_unique<std::array<uint16_t, 65536>>();
        for (uint32_t v = 0; v < 65536; ++v) {
            const double u = v / 65535.0;
            const double linear = u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4);
            (*t)[v] = static_cast<uint16_t>(std::lround(linear * 65535.0));
        }
        return t;
    }();
    return *table;
}

class FileChart final : public Chart {
public:
    FileChart(std::vector<uint16_t> pixels, uint32_t width, uint32_t height, uint32_t dpi)
        : pixels_(std::move(pixels)), width_(width), height_(height), dpi_(dpi)
    {}

    void row(int64_t y, int64_t x0, int step, uint32_t count, uint32_t xres, uint32_t yres,
             uint16_t* rgb) const override
    {
        std::fill_n(rgb, size_t{count} * 3, kWhite);
        if (y < 0 || xres == 0 || yres == 0) return;
        const int64_t fy = y * dpi_ / yres;
        if (fy >= height_) return;
        const uint16_t* file_row = pixels_.data() + static_cast<size_t>(fy) * width_ * 3;
        int64_t x = x0;
        for (uint32_t i = 0; i < count; ++i, x += step) {
            if (x < 0) continue;
            const int64_t fx = x * dpi_ / xres;
            if (fx >= width_) continue;
            std::copy_n(file_row + fx * 3, 3, rgb + size_t{i} * 3);
        }
    }

private:
    std::vector<uint16_t> pixels_; // R, G, B per pixel, row after row
    int64_t width_;
    int64_t height_;
    int64_t dpi_;
};

std::string vips_failure(const std::string& what)
{
    std::string message = what + ": " + vips_error_buffer();
    vips_error_clear();
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return message;
}

// Owns one VipsImage reference.
struct ImageRef {
    VipsImage* image = nullptr;
    ~ImageRef()
    {
        if (image != nullptr) g_object_unref(image);
    }
};

} // namespace

std::shared_ptr<const Chart> pattern_chart()
{
    return std::make_shared<PatternChart>();
}

std::shared_ptr<const Chart> pattern16_chart()
{
    return std::make_shared<Pattern16Chart>();
}

std::shared_ptr<const Chart> flat_chart(double f)
{
    return std::make_shared<FlatChart>(static_cast<uint16_t>(std::lround(std::clamp(f, 0.0, 1.0) * 65535.0)));
}

std::shared_ptr<const Chart> file_chart(const std::string& path, uint32_t dpi, std::string* error)
{
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    ImageRef in, rgb, flat, cast;
    in.image = vips_image_new_from_file(path.c_str(), nullptr);
    if (in.image == nullptr) {
        why = vips_failure("cannot read " + path);
        return nullptr;
    }
    if (dpi == 0) {
        const double xres = vips_image_get_xres(in.image);
        dpi = xres > kNoResolution ? static_cast<uint32_t>(std::lround(xres * 25.4)) : kDefaultDpi;
    }
    if (vips_colourspace(in.image, &rgb.image, VIPS_INTERPRETATION_RGB16, nullptr) != 0) {
        why = vips_failure("cannot convert " + path + " to 16-bit RGB");
        return nullptr;
    }
    VipsImage* opaque = rgb.image;
    if (vips_image_hasalpha(rgb.image)) {
        VipsArrayDouble* white = vips_array_double_newv(1, 65535.0);
        const int r = vips_flatten(rgb.image, &flat.image, "background", white, "max_alpha", 65535.0, nullptr);
        vips_area_unref(VIPS_AREA(white));
        if (r != 0) {
            why = vips_failure("cannot flatten " + path);
            return nullptr;
        }
        opaque = flat.image;
    }
    if (vips_cast_ushort(opaque, &cast.image, nullptr) != 0 || vips_image_get_bands(cast.image) != 3) {
        why = vips_failure("cannot read " + path + " as 16-bit RGB");
        return nullptr;
    }
    size_t size = 0;
    void* memory = vips_image_write_to_memory(cast.image, &size);
    if (memory == nullptr) {
        why = vips_failure("cannot decode " + path);
        return nullptr;
    }
    const auto* samples = static_cast<const uint16_t*>(memory);
    const auto& decode = srgb_to_reflectance();
    std::vector<uint16_t> pixels(size / sizeof(uint16_t));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = decode[samples[i]];
    g_free(memory);
    const auto width = static_cast<uint32_t>(vips_image_get_width(cast.image));
    const auto height = static_cast<uint32_t>(vips_image_get_height(cast.image));
    return std::make_shared<FileChart>(std::move(pixels), width, height, std::max<uint32_t>(dpi, 1));
}

std::shared_ptr<const Chart> parse_chart(const std::string& text, std::string* error)
{
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    if (text == "pattern") return pattern_chart();
    if (text == "pattern16") return pattern16_chart();
    if (text.rfind("flat:", 0) == 0) {
        const std::string value = text.substr(5);
        char* stop = nullptr;
        errno = 0;
        const double f = std::strtod(value.c_str(), &stop);
        if (value.empty() || *stop != '\0' || errno != 0 || !(f >= 0.0 && f <= 1.0)) {
            why = "flat:F needs F between 0 and 1, not '" + value + "'";
            return nullptr;
        }
        return flat_chart(f);
    }
    if (text.rfind("file:", 0) == 0) {
        std::string path = text.substr(5);
        uint32_t dpi = 0;
        // A trailing "@DIGITS" is the resolution; any other '@' belongs to the path.
        const size_t at = path.rfind('@');
        if (at != std::string::npos && at + 1 < path.size() &&
            path.find_first_not_of("0123456789", at + 1) == std::string::npos) {
            const unsigned long v = std::strtoul(path.c_str() + at + 1, nullptr, 10);
            if (v == 0 || v > 1000000) {
                why = "the chart resolution must be 1 to 1000000 dpi";
                return nullptr;
            }
            dpi = static_cast<uint32_t>(v);
            path.resize(at);
        }
        if (path.empty()) {
            why = "file: needs a path";
            return nullptr;
        }
        return file_chart(path, dpi, &why);
    }
    why = "unknown chart '" + text + "' (pattern, pattern16, flat:F or file:PATH[@DPI])";
    return nullptr;
}

} // namespace sim
