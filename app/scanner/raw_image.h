// The raw image of a scan: blocks of scan lines as the scanner object delivers them, placed one
// below the other on a white canvas, and the canvas written as an uncompressed RGB TIFF file with
// the driver's bytes unchanged.
//
// Memory stays linear in the image: the canvas is one buffer of width × height × 3 bytes, and a
// block holds only its own lines.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

// One block of scan lines as an owned image: `width` × `lines` pixels of 3 bytes (red, green,
// blue), rows packed at 3 × width bytes.
struct BlockImage {
    int32_t width = 0;
    int32_t lines = 0;
    std::unique_ptr<uint8_t[]> pixels;
};

// The block image of `lines` lines of `rowBytes` bytes each at `bytes`: each row is the first
// 3 × width bytes of its line. None, with a printed line, when the block cannot be allocated or
// its sizes describe no image.
std::optional<BlockImage> makeBlockImage(const uint8_t* bytes, int32_t width, int32_t lines, std::size_t rowBytes);

// The image a scan assembles: width × height pixels of 3 bytes, rows packed, white until a block
// covers them. Scan line 0 is the top row.
class RawCanvas {
public:
    // A white canvas; none when the size is not positive or the memory cannot be had.
    static std::optional<RawCanvas> create(int64_t width, int64_t height);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    std::size_t rowBytes() const { return std::size_t(width_) * 3; }
    std::size_t byteCount() const { return rowBytes() * std::size_t(height_); }
    const uint8_t* data() const { return pixels_.get(); }

    // Copies the block's rows into rows first .. first + lines − 1. Rows outside the canvas, and
    // the part of a row beyond the canvas's width, are left out.
    void place(const BlockImage& block, int64_t first);

private:
    RawCanvas(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> pixels);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::unique_ptr<uint8_t[]> pixels_;
};

// Whether an RGB image of this size must be written as BigTIFF: its pixel data, with room for the
// file's own records, would not fit the 32-bit offsets of a classic TIFF file.
bool needsBigTIFF(int64_t width, int64_t height);

// Writes the canvas as an uncompressed 8-bit RGB TIFF file at `path`, with no colour profile and
// the scan's resolution `dpi` (limited to 1..65535) in pixels per inch: first to `path` + ".part"
// in the same folder, then renamed over `path`, so a failed write leaves a previous file as it was.
// Answers `path`, or none with a printed line (the partial file is removed). The first form writes
// BigTIFF exactly when needsBigTIFF says so.
std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi);
std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi, bool bigTIFF);
