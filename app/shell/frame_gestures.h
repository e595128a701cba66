// The gestures that set the scan frame on the preview, without any widget: drawing a new frame,
// moving the frame, and placing one from the pointer (built, but no view uses it).
//
// The pane feeds them from the pointer: each change step gets the drag so far, each end step ends
// it. Positions are in the pane's points, origin at the top left where the preview's top-left
// corner is drawn. The frame and its scale live in ScanSettings; the crop of the frame that each
// gesture's end publishes goes to the ScanFrameCrop.
//
// Derived on every step, with S the preview scale, P the preview resolution and D the scan
// resolution:
//   W, H     the drawn image's size: its pixels × S;
//   minSide  half an inch of the document, P × S × 0.5, per axis;
//   maxSide  10000 pixels of the final scan, (10000 / D) × P × S, per axis; none when D ≤ 0.
#pragma once

#include <QPointF>
#include <QRectF>

namespace lumenfield {

class PreviewImage;
class ScanFrameCrop;
class ScanSettings;

// A drag so far: where it began, where the pointer is, and how far it has moved.
struct DragValue {
    QPointF startLocation;
    QPointF location;
    QPointF translation;

    static DragValue between(const QPointF& start, const QPointF& location)
    {
        return {start, location, location - start};
    }
};

class FrameGestures {
public:
    FrameGestures(ScanSettings& scanSettings, ScanFrameCrop& frameCrop, const PreviewImage& preview);

    // True from the first change of a drag until its end.
    bool isDrag() const { return isDrag_; }
    // How far the frame being moved has moved, kept inside the image.
    QPointF dragOffset() const { return dragOffset_; }
    // The frame as drawn: the stored frame moved by the drag offset.
    QRectF displayedFrame() const;

    // The point with x limited to [0, W] and y to [0, H]; unchanged without a preview.
    QPointF clampToPreviewBounds(const QPointF& point) const;

    // Drawing: the frame from the (clamped) start point to the clamped pointer, each side at least
    // minSide (pushed back inside the image at its edges) and at most maxSide from the start point.
    void updateNewScanFrame(const DragValue& drag);
    // The end of a drawing (or placing) drag: frame type 18 ("Customized"), the new crop published,
    // the gesture over.
    void finishScanFrameGesture();

    // Moving: the offset follows the translation, limited so that the frame stays inside the image;
    // the right and bottom limits apply last, so a frame larger than the image keeps to the image's
    // right and bottom edges.
    void updateDragOffset(const DragValue& drag);
    // The end of a move: the frame moved by the last limited offset, the new crop published, offset
    // zero, the gesture over. The frame type stays.
    void commitDragOffset();

    // Placing: the frame with its origin at the pointer and the translation as its size, unlimited.
    void updateResizedFrame(const DragValue& drag);

private:
    double scale() const;
    void publishCrop();

    ScanSettings& scanSettings_;
    ScanFrameCrop& frameCrop_;
    const PreviewImage& preview_;
    bool isDrag_ = false;
    QPointF dragOffset_;
};

} // namespace lumenfield
