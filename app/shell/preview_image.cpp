#include "preview_image.h"

#include "preview_geometry.h"
#include "working_color.h"

#include <cstring>

namespace lumenfield {

bool PreviewImage::set(std::optional<vips::VImage> image)
{
    const bool same = image.has_value() == image_.has_value() && (!image || image->get_image() == image_->get_image());
    if (same) return false;
    image_ = std::move(image);
    scaled_.reset();
    scaledFor_ = 0;
    serial_++;
    return true;
}

QSize PreviewImage::size() const
{
    return image_ ? QSize(image_->width(), image_->height()) : QSize();
}

std::optional<vips::VImage> PreviewImage::scaled(double scale) const
{
    if (!image_ || !validScale(scale)) return std::nullopt;
    if (scaled_ && scaledFor_ == scale) return scaled_;
    try {
        // Held in memory: every crop of the frame reads it, and a lazy resize would run again for
        // each of them.
        scaled_ = image_->resize(scale).copy_memory();
        scaledFor_ = scale;
        return scaled_;
    } catch (const vips::VError&) {
        vips_error_clear();
        scaled_.reset();
        return std::nullopt;
    }
}

std::optional<vips::VImage> PreviewImage::scanFrameImage(double scale, const QRectF& frame) const
{
    const std::optional<vips::VImage> source = scaled(scale);
    if (!source) return std::nullopt;
    const QRect area = cropRect(frame, QSize(source->width(), source->height()));
    if (area.isEmpty()) return std::nullopt;
    try {
        return source->extract_area(area.x(), area.y(), area.width(), area.height());
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

QImage toQImage(const vips::VImage& image)
{
    try {
        const vips::VImage bytes = encode8(image, EncodeSpace::sRGB);
        const int width = bytes.width(), height = bytes.height();
        QImage result(width, height, QImage::Format_RGB888);
        if (result.isNull()) return QImage();
        size_t size = 0;
        void* data = bytes.write_to_memory(&size);
        const size_t rowBytes = size_t(width) * 3;
        if (!data || size != rowBytes * size_t(height)) {
            g_free(data);
            return QImage();
        }
        for (int y = 0; y < height; y++)
            std::memcpy(result.scanLine(y), static_cast<const unsigned char*>(data) + rowBytes * y, rowBytes);
        g_free(data);
        return result;
    } catch (const vips::VError&) {
        vips_error_clear();
        return QImage();
    }
}

} // namespace lumenfield
