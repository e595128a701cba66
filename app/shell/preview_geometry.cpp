#include "preview_geometry.h"

#include <algorithm>
#include <cmath>

double fitScale(const QSizeF& pane, const QSizeF& image)
{
    return std::min(pane.width() / image.width(), pane.height() / image.height());
}

QRectF drawnImageRect(const QSizeF& image, double scale)
{
    return QRectF(0, 0, image.width() * scale, image.height() * scale);
}

bool validScale(double scale)
{
    return std::isfinite(scale) && scale > 0;
}

std::optional<RescaledFrame> rescalePreviewRect(const QRectF& previewRect, double oldScale,
                                                const QSizeF& pane, const QSizeF& image)
{
    // A pane without area would set the scale to 0 and collapse the frame for good.
    if (!(pane.width() > 0 && pane.height() > 0 && image.width() > 0 && image.height() > 0))
        return std::nullopt;
    const double scale = fitScale(pane, image);
    if (!validScale(scale)) return std::nullopt;
    if (!validScale(oldScale)) return RescaledFrame{scale, previewRect};
    const double factor = scale / oldScale;
    return RescaledFrame{scale, QRectF(previewRect.x() * factor, previewRect.y() * factor,
                                       previewRect.width() * factor, previewRect.height() * factor)};
}

QRect cropRect(const QRectF& frame, const QSize& scaledImage)
{
    const double values[] = {frame.x(), frame.y(), frame.width(), frame.height()};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); }))
        return QRect();
    // Cut in floating point first, so that no coordinate outside the image is converted to int.
    const auto cut = [](double v, int limit) { return int(std::clamp(v, 0.0, double(limit))); };
    const QRectF r = frame.normalized();
    const int left = cut(std::floor(r.left()), scaledImage.width());
    const int top = cut(std::floor(r.top()), scaledImage.height());
    const int right = cut(std::ceil(r.right()), scaledImage.width());
    const int bottom = cut(std::ceil(r.bottom()), scaledImage.height());
    if (right <= left || bottom <= top) return QRect();
    return QRect(left, top, right - left, bottom - top);
}
