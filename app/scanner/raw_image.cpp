#include "raw_image.h"

#include "console_lines.h"

#include <QFile>

#include <vips/vips8>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

namespace lumenfield {

namespace {

// Bytes of an RGB image of this size, for sizes that are not empty; no product of two 64-bit sizes
// overflows it.
unsigned __int128 rgbByteCount(int64_t width, int64_t height)
{
    return static_cast<unsigned __int128>(width) * static_cast<unsigned __int128>(height) * 3;
}

// Bytes of an RGB image of this size; none when it is empty or cannot be addressed.
std::optional<std::size_t> rgbBytes(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0) return std::nullopt;
    const unsigned __int128 bytes = rgbByteCount(width, height);
    if (bytes > static_cast<unsigned __int128>(std::numeric_limits<std::ptrdiff_t>::max())) return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

std::unique_ptr<uint8_t[]> allocate(std::size_t bytes)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

} // namespace

RawCanvas::RawCanvas(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels))
{}

std::optional<RawCanvas> RawCanvas::create(int64_t width, int64_t height)
{
    if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    const std::optional<std::size_t> size = rgbBytes(width, height);
    if (!size) return std::nullopt;
    std::unique_ptr<uint8_t[]> pixels = allocate(*size);
    if (!pixels) return std::nullopt;
    return RawCanvas(static_cast<int32_t>(width), static_cast<int32_t>(height), std::move(pixels));
}

void RawCanvas::copyLines(const uint8_t* bytes, int64_t first, int64_t lines, std::size_t lineBytes)
{
    if (bytes == nullptr || lineBytes < rowBytes()) return;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = std::min<int64_t>(first + lines, height_);
    const uint8_t* from = bytes + std::size_t(begin - first) * lineBytes;
    for (int64_t line = begin; line < end; line++, from += lineBytes) std::memcpy(row(line), from, rowBytes());
}

void RawCanvas::whiten(int64_t first)
{
    first = std::max<int64_t>(first, 0);
    if (first < height_) std::memset(row(first), 0xFF, std::size_t(height_ - first) * rowBytes());
}

namespace {

void freePixels(VipsImage*, gpointer pixels)
{
    delete[] static_cast<uint8_t*>(pixels);
}

// The pixels of `image` as the raw TIFF file holds them: sRGB, `dpi` pixels per inch.
vips::VImage withResolution(const vips::VImage& image, int64_t dpi)
{
    // libvips keeps resolutions in pixels per millimetre and writes them in the unit asked for.
    const double pixelsPerMillimetre = double(std::clamp<int64_t>(dpi, 1, 65535)) / 25.4;
    return image.copy(vips::VImage::option()
                          ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                          ->set("xres", pixelsPerMillimetre)
                          ->set("yres", pixelsPerMillimetre));
}

} // namespace

vips::VImage RawCanvas::intoImage(int64_t dpi) &&
{
    VipsImage* wrapped = vips_image_new_from_memory(pixels_.get(), byteCount(), width_, height_, 3, VIPS_FORMAT_UCHAR);
    if (!wrapped) throw vips::VError();
    uint8_t* pixels = pixels_.release();
    width_ = height_ = 0;
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freePixels), pixels);
    const vips::VImage owner(wrapped); // takes the reference
    vips::VImage image = withResolution(owner, dpi);
    // As the TIFF loader names the unit the file gives its resolution in.
    image.set(VIPS_META_RESOLUTION_UNIT, "in");
    return image;
}

bool needsBigTIFF(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && rgbByteCount(width, height) >= (uint64_t{1} << 32) - (uint64_t{1} << 20);
}

std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi)
{
    return writeTIFF(canvas, path, dpi, needsBigTIFF(canvas.width(), canvas.height()));
}

std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi, bool bigTIFF)
{
    if (canvas.data() == nullptr || path.isEmpty()) {
        printLine("Failed to write image to file");
        return std::nullopt;
    }
    const QByteArray target = QFile::encodeName(path);
    const QByteArray partial = QFile::encodeName(path + QLatin1String(kPartialFileSuffix));
    bool written = false;
    int reason = 0;
    try {
        // The canvas is wrapped, not copied; libvips only reads it.
        const vips::VImage image =
            withResolution(vips::VImage::new_from_memory(const_cast<uint8_t*>(canvas.data()), canvas.byteCount(),
                                                         canvas.width(), canvas.height(), 3, VIPS_FORMAT_UCHAR),
                           dpi);
        image.tiffsave(partial.constData(),
                       vips::VImage::option()
                           ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE)
                           ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                           ->set("bigtiff", bigTIFF));
        written = true;
    } catch (const vips::VError&) {
        reason = errno;
        vips_error_clear();
    }
    std::error_code error;
    if (written) std::filesystem::rename(partial.constData(), target.constData(), error);
    if (!written || error) {
        if (error) reason = error.value();
        ::unlink(partial.constData()); // a file or a link, never a folder someone else made
        printLine("Failed to write image to file");
        errno = reason;
        return std::nullopt;
    }
    return path;
}

} // namespace lumenfield
