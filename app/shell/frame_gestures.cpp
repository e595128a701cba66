#include "frame_gestures.h"

#include "preview_image.h"
#include "scan_frame_crop.h"
#include "scan_settings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumenfield {

namespace {

// Largest scan side in pixels of the final scan.
constexpr double maxScanPixels = 10000.0;

// One axis of a drawn frame: the start and end coordinates for a drag from `s` to the clamped `p`.
void limitAxis(double s, double p, double limit, double minSide, double maxSide, double& start, double& end)
{
    const double d = std::abs(p - s);
    if (d < minSide) {
        if (s <= p) {
            if (limit < s + minSide) {
                end = limit;
                start = limit - minSide;
            } else {
                end = s + minSide;
            }
        } else {
            if (s - minSide < 0) {
                end = 0;
                start = minSide;
            } else {
                end = s - minSide;
            }
        }
    } else if (maxSide < d) {
        if (s <= p) {
            end = s + maxSide;
        } else {
            end = s;
            start = s - maxSide;
        }
    }
}

} // namespace

FrameGestures::FrameGestures(ScanSettings& scanSettings, ScanFrameCrop& frameCrop, const PreviewImage& preview)
    : scanSettings_(scanSettings), frameCrop_(frameCrop), preview_(preview)
{}

double FrameGestures::scale() const
{
    return scanSettings_.previewImageScale();
}

QRectF FrameGestures::displayedFrame() const
{
    return scanSettings_.previewRect().translated(dragOffset_);
}

QPointF FrameGestures::clampToPreviewBounds(const QPointF& point) const
{
    if (!preview_.has()) return point;
    const QSize size = preview_.size();
    const double width = size.width() * scale(), height = size.height() * scale();
    // Written as comparisons, not std::clamp, which needs a non-empty range.
    const auto limit = [](double v, double high) { return v < 0 ? 0.0 : (v > high ? high : v); };
    return QPointF(limit(point.x(), width), limit(point.y(), height));
}

void FrameGestures::updateNewScanFrame(const DragValue& drag)
{
    isDrag_ = true;
    if (!preview_.has()) return;
    const double s = scale();
    const double minSide = ScanSettings::previewResolution * s * 0.5;
    // A resolution of 0 or below, which only a damaged store can hold, sets no maximum: a negative
    // maximum would turn the frame around.
    const qint64 resolution = scanSettings_.resolution();
    const double maxSide = resolution > 0 ? (maxScanPixels / double(resolution)) * ScanSettings::previewResolution * s
                                          : std::numeric_limits<double>::infinity();
    const QSize size = preview_.size();
    // The start point is clamped too: the pane is larger than the image, and a drag begun beside
    // the image must not make a frame outside it.
    const QPointF from = clampToPreviewBounds(drag.startLocation);
    const QPointF to = clampToPreviewBounds(drag.location);
    QPointF start = from, end = to;
    limitAxis(from.x(), to.x(), size.width() * s, minSide, maxSide, start.rx(), end.rx());
    limitAxis(from.y(), to.y(), size.height() * s, minSide, maxSide, start.ry(), end.ry());
    scanSettings_.setPreviewRect(QRectF(start, QSizeF(end.x() - start.x(), end.y() - start.y())).normalized());
}

void FrameGestures::finishScanFrameGesture()
{
    scanSettings_.setScanFrameType(VekScanFrameType::customized);
    publishCrop();
    isDrag_ = false;
}

void FrameGestures::updateDragOffset(const DragValue& drag)
{
    isDrag_ = true;
    if (!preview_.has()) return;
    const QSize size = preview_.size();
    const double boundsWidth = size.width() * scale(), boundsHeight = size.height() * scale();
    const QRectF r = scanSettings_.previewRect();
    QPointF offset = drag.translation;
    if (r.x() + offset.x() < 0) offset.rx() = -r.x();
    if (r.y() + offset.y() < 0) offset.ry() = -r.y();
    if (boundsWidth < r.x() + r.width() + offset.x()) offset.rx() = boundsWidth - (r.x() + r.width());
    if (boundsHeight < r.y() + r.height() + offset.y()) offset.ry() = boundsHeight - (r.y() + r.height());
    dragOffset_ = offset;
}

void FrameGestures::commitDragOffset()
{
    scanSettings_.setPreviewRect(scanSettings_.previewRect().translated(dragOffset_));
    publishCrop();
    dragOffset_ = QPointF();
    isDrag_ = false;
}

void FrameGestures::updateResizedFrame(const DragValue& drag)
{
    isDrag_ = true;
    scanSettings_.setPreviewRect(
        QRectF(drag.location, QSizeF(drag.translation.x(), drag.translation.y())).normalized());
}

void FrameGestures::publishCrop()
{
    frameCrop_.setImage(preview_.scanFrameImage(scale(), scanSettings_.previewRect()));
}

} // namespace lumenfield
