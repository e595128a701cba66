#include "raw_image.h"

#include <QFile>

#include <vips/vips8>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

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

std::optional<BlockImage> makeBlockImage(const uint8_t* bytes, int32_t width, int32_t lines, std::size_t rowBytes)
{
    const std::optional<std::size_t> size = rgbBytes(width, lines);
    const std::size_t packedRow = std::size_t(width) * 3;
    if (bytes == nullptr || !size || rowBytes < packedRow) {
        std::printf("Failed to create CGImage\n");
        return std::nullopt;
    }
    BlockImage block{width, lines, allocate(*size)};
    if (!block.pixels) {
        std::printf("Failed to initialize vImage buffer\n");
        return std::nullopt;
    }
    if (rowBytes == packedRow) {
        std::memcpy(block.pixels.get(), bytes, *size);
    } else {
        for (int32_t row = 0; row < lines; row++)
            std::memcpy(block.pixels.get() + std::size_t(row) * packedRow, bytes + std::size_t(row) * rowBytes, packedRow);
    }
    return block;
}

RawCanvas::RawCanvas(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels))
{
}

std::optional<RawCanvas> RawCanvas::create(int64_t width, int64_t height)
{
    if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max()) return std::nullopt;
    const std::optional<std::size_t> size = rgbBytes(width, height);
    if (!size) return std::nullopt;
    std::unique_ptr<uint8_t[]> pixels = allocate(*size);
    if (!pixels) return std::nullopt;
    std::memset(pixels.get(), 0xFF, *size);
    return RawCanvas(static_cast<int32_t>(width), static_cast<int32_t>(height), std::move(pixels));
}

void RawCanvas::place(const BlockImage& block, int64_t first)
{
    if (!block.pixels || block.width <= 0) return;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = std::min<int64_t>(first + block.lines, height_);
    if (begin >= end) return;
    const std::size_t blockRow = std::size_t(block.width) * 3;
    const std::size_t copied = std::min(blockRow, rowBytes());
    const uint8_t* from = block.pixels.get() + std::size_t(begin - first) * blockRow;
    uint8_t* to = pixels_.get() + std::size_t(begin) * rowBytes();
    if (copied == rowBytes() && blockRow == rowBytes()) {
        std::memcpy(to, from, std::size_t(end - begin) * blockRow);
        return;
    }
    for (int64_t row = begin; row < end; row++, from += blockRow, to += rowBytes()) std::memcpy(to, from, copied);
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
        std::printf("Failed to write image to file\n");
        return std::nullopt;
    }
    const QByteArray target = QFile::encodeName(path);
    const QByteArray partial = QFile::encodeName(path + QStringLiteral(".part"));
    bool written = false;
    try {
        // The canvas is wrapped, not copied; libvips only reads it.
        vips::VImage image = vips::VImage::new_from_memory(const_cast<uint8_t*>(canvas.data()), canvas.byteCount(),
                                                           canvas.width(), canvas.height(), 3, VIPS_FORMAT_UCHAR);
        // libvips keeps resolutions in pixels per millimetre and writes them in the unit asked for.
        const double pixelsPerMillimetre = double(std::clamp<int64_t>(dpi, 1, 65535)) / 25.4;
        image = image.copy(vips::VImage::option()
                               ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                               ->set("xres", pixelsPerMillimetre)
                               ->set("yres", pixelsPerMillimetre));
        image.tiffsave(partial.constData(), vips::VImage::option()
                                                ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE)
                                                ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                                                ->set("bigtiff", bigTIFF));
        written = true;
    } catch (const vips::VError&) {
        vips_error_clear();
    }
    std::error_code error;
    if (written) std::filesystem::rename(partial.constData(), target.constData(), error);
    if (!written || error) {
        ::unlink(partial.constData()); // a file or a link, never a folder someone else made
        std::printf("Failed to write image to file\n");
        return std::nullopt;
    }
    return path;
}
