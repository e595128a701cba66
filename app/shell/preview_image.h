// The raw preview shown by the preview pane, with its form scaled to the pane and the crop of the
// scan frame cut from that.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>

#include <vips/vips8>

#include <optional>

namespace lumenfield {

class PreviewImage {
public:
    // Takes `image` and answers whether it is a different image from the one held (a different image
    // object, or an image where there was none or the other way round).
    bool set(std::optional<vips::VImage> image);
    bool has() const { return image_.has_value(); }
    const std::optional<vips::VImage>& image() const { return image_; }
    // The preview's size in pixels; empty without a preview.
    QSize size() const;
    // Counts the images set so far; tells cached results of an earlier image apart.
    quint64 serial() const { return serial_; }

    // The preview resized by `scale`, computed once and kept in memory until the preview or the scale
    // changes. None without a preview, for an unusable scale or when libvips fails.
    std::optional<vips::VImage> scaled(double scale) const;
    // The unprocessed 8-bit crop of the scan frame `frame` (preview points at `scale`): the pixels of
    // cropRect() of the scaled preview. None without a preview, when nothing of the frame lies on the
    // image or when libvips fails. No side effect beyond the scaled form's cache.
    std::optional<vips::VImage> scanFrameImage(double scale, const QRectF& frame) const;

private:
    std::optional<vips::VImage> image_;
    quint64 serial_ = 0;
    mutable std::optional<vips::VImage> scaled_;
    mutable double scaledFor_ = 0;
};

// An 8-bit sRGB rendering of `image` (3 bands, the bytes as they are for an 8-bit image) as an
// RGB888 QImage that owns its pixels. A null QImage when libvips or the allocation fails.
QImage toQImage(const vips::VImage& image);

} // namespace lumenfield
