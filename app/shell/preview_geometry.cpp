#include "preview_geometry.h"

#include <algorithm>
#include <cmath>

namespace lumenfield {

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

std::optional<RescaledFrame> rescalePreviewRect(const QRectF& previewRect, double oldScale, const QSizeF& pane,
                                                const QSizeF& image)
{
    // A pane without area would set the scale to 0 and collapse the frame for good.
    if (!(pane.width() > 0 && pane.height() > 0 && image.width() > 0 && image.height() > 0)) return std::nullopt;
    const double scale = fitScale(pane, image);
    if (!validScale(scale)) return std::nullopt;
    if (!validScale(oldScale)) return RescaledFrame{scale, previewRect};
    const double factor = scale / oldScale;
    return RescaledFrame{scale,
                         QRectF(previewRect.x() * factor, previewRect.y() * factor, previewRect.width() * factor,
                                previewRect.height() * factor)};
}

QRect cropRect(const QRectF& frame, const QSize& scaledImage)
{
    const double values[] = {frame.x(), frame.y(), frame.width(), frame.height()};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); })) return QRect();
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

QRegion frameOutlineRegion(const QRectF& frame, double width)
{
    const double reach = width / 2 + 1;
    const QRectF r = frame.normalized();
    const double values[] = {r.x(), r.y(), r.width(), r.height(), reach};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); })) return QRegion();
    const QRect outer = r.adjusted(-reach, -reach, reach, reach).toAlignedRect();
    const QRectF inside = r.adjusted(reach, reach, -reach, -reach);
    if (!(inside.width() >= 1 && inside.height() >= 1)) return QRegion(outer);
    // The pixels wholly inside: from the first whole coordinate to the last one.
    const QRect hole(QPoint(int(std::ceil(inside.left())), int(std::ceil(inside.top()))),
                     QPoint(int(std::floor(inside.right())) - 1, int(std::floor(inside.bottom())) - 1));
    return hole.isValid() ? QRegion(outer).subtracted(QRegion(hole)) : QRegion(outer);
}

std::vector<QRectF> frameDashes(const QRectF& frame, double width, double dash, double phase, const QRectF& within)
{
    std::vector<QRectF> dashes;
    const QRectF r = frame.normalized();
    const double values[] = {r.x(), r.y(), r.width(), r.height(), width, dash, phase};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); }) ||
        !(width > 0 && dash > 0) || within.isEmpty())
        return dashes;
    const double half = width / 2;
    const double period = 2 * dash;
    // The sides in the order the outline runs, each from its corner in its direction.
    struct Side {
        QPointF from;
        QPointF direction;
        double length;
    };
    const Side sides[] = {{r.topLeft(), {1, 0}, r.width()},
                          {r.topRight(), {0, 1}, r.height()},
                          {r.bottomRight(), {-1, 0}, r.width()},
                          {r.bottomLeft(), {0, -1}, r.height()}};
    const QRectF reach = within.adjusted(-width, -width, width, width);
    double start = 0; // distance along the outline to the side's corner
    for (int i = 0; i < 4; i++) {
        const Side& side = sides[i];
        const bool horizontal = side.direction.y() == 0;
        const double across = horizontal ? side.from.y() : side.from.x();
        const double acrossLow = horizontal ? reach.top() : reach.left();
        const double acrossHigh = horizontal ? reach.bottom() : reach.right();
        // The part of the side within reach, as distances from its corner.
        const double along = horizontal ? side.from.x() : side.from.y();
        const double sign = horizontal ? side.direction.x() : side.direction.y();
        const double low = horizontal ? reach.left() : reach.top();
        const double high = horizontal ? reach.right() : reach.bottom();
        const double first = std::max(0.0, sign > 0 ? low - along : along - high);
        const double last = std::min(side.length, sign > 0 ? high - along : along - low);
        if (across >= acrossLow && across <= acrossHigh && first <= last) {
            // Dash k covers [k·period − phase, k·period − phase + dash) of the outline.
            for (double k = std::floor((start + first + phase) / period); k * period - phase < start + last; k++) {
                const double dashStart = k * period - phase;
                const double dashEnd = dashStart + dash;
                const double a = std::max(dashStart - start, first);
                double b = std::min(dashEnd - start, last);
                if (b <= a) continue;
                // Turning into the next side: the mitre's outer square, except at the outline's end.
                if (i < 3 && dashEnd - start > side.length && b == side.length) b += half;
                const QPointF p = side.from + side.direction * a;
                const QPointF q = side.from + side.direction * b;
                dashes.push_back(QRectF(p, q).normalized().adjusted(horizontal ? 0 : -half, horizontal ? -half : 0,
                                                                    horizontal ? 0 : half, horizontal ? half : 0));
            }
        }
        start += side.length;
    }
    return dashes;
}

} // namespace lumenfield
