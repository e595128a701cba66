// The raw image of a scan: the scan lines as the scanner object delivers them, one below the other
// on a canvas, white where no line came, and the canvas written as an uncompressed RGB TIFF file
// with the driver's bytes unchanged.
//
// Memory stays linear in the image: the canvas is one buffer of width × height × 3 bytes that the
// lines are read into, and the same buffer becomes the image that is processed.
#pragma once

#include <QString>

#include <vips/vips8>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace lumenfield {

// The image a scan assembles: width × height pixels of 3 bytes, rows packed, scan line 0 the top
// row. The driver reads lines straight into its rows; a row holds nothing defined until a line or
// whiten() has been written to it.
class RawCanvas {
public:
    // A canvas whose rows are yet to be written; none when the size is not positive or the memory
    // cannot be had. No byte is touched here, so the memory of a row is only taken when it is read.
    static std::optional<RawCanvas> create(int64_t width, int64_t height);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    std::size_t rowBytes() const { return std::size_t(width_) * 3; }
    std::size_t byteCount() const { return rowBytes() * std::size_t(height_); }
    const uint8_t* data() const { return pixels_.get(); }
    // The start of row `first` (0 ≤ first < height), where lines of rowBytes() bytes are read in.
    uint8_t* row(int64_t first) { return pixels_.get() + std::size_t(first) * rowBytes(); }

    // Copies `lines` lines of `lineBytes` bytes each (at least rowBytes()) at `bytes` into rows
    // first .. first + lines − 1, each row the first 3 × width bytes of its line. Lines beyond the
    // canvas's last row are left out.
    void copyLines(const uint8_t* bytes, int64_t first, int64_t lines, std::size_t lineBytes);
    // Rows `first` to the last made white (every byte 0xFF): the part of the image no line reached.
    void whiten(int64_t first);

    // The canvas as an 8-bit sRGB image with the scan's resolution `dpi` (limited to 1..65535) in
    // pixels per inch, as reading its TIFF file back gives it. The image takes the pixels over
    // without a copy and frees them when it closes; the canvas is left empty. Throws vips::VError
    // when libvips cannot wrap them.
    vips::VImage intoImage(int64_t dpi) &&;

private:
    RawCanvas(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> pixels);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::unique_ptr<uint8_t[]> pixels_;
};

// Whether an RGB image of this size must be written as BigTIFF: its pixel data, with room for the
// file's own records, would not fit the 32-bit offsets of a classic TIFF file.
bool needsBigTIFF(int64_t width, int64_t height);

// What writeTIFF appends to the file's name for the partial file it writes first.
inline constexpr char kPartialFileSuffix[] = ".part";

// Writes the canvas as an uncompressed 8-bit RGB TIFF file at `path`, with no colour profile and
// the scan's resolution `dpi` (limited to 1..65535) in pixels per inch: first to `path` + ".part"
// in the same folder, then renamed over `path`, so a failed write leaves a previous file as it was.
// Answers `path`, or none with a printed line (the partial file is removed) and errno telling why
// where the system gave a reason. The first form writes BigTIFF exactly when needsBigTIFF says so.
std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi);
std::optional<QString> writeTIFF(const RawCanvas& canvas, const QString& path, int64_t dpi, bool bigTIFF);

} // namespace lumenfield
