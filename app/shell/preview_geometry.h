// The geometry of the preview pane, as plain functions: the scale the preview is drawn at, the
// rescaled scan frame when that scale changes, and the integer rectangle of the frame's crop.
//
// Frames are in points of the preview as drawn (see ScanSettings::previewRect), origin at the top
// left of the pane, where the image's top-left corner is drawn. One point is one pixel of the
// preview scaled by the scale.
#pragma once

#include <QRect>
#include <QRectF>
#include <QRegion>
#include <QSize>
#include <QSizeF>

#include <optional>
#include <vector>

namespace lumenfield {

// The scale that fits an image of `image` pixels into `pane` points with its aspect ratio kept:
// min(pane width / image width, pane height / image height).
double fitScale(const QSizeF& pane, const QSizeF& image);

// Where the image is drawn: at the top left of the pane, `scale` points per pixel.
QRectF drawnImageRect(const QSizeF& image, double scale);

// Whether a scale can be drawn at and divided by: a finite number above 0.
bool validScale(double scale);

struct RescaledFrame {
    double scale;
    QRectF previewRect;
};

// The scale for a pane of `pane` points showing an image of `image` pixels, and the frame scaled by
// new scale / `oldScale` about the origin, which keeps its place and size on the document. None
// when the pane or the image has no area or the new scale is unusable. A frame kept at an unusable
// old scale cannot be converted and stays as it is.
std::optional<RescaledFrame> rescalePreviewRect(const QRectF& previewRect, double oldScale, const QSizeF& pane,
                                                const QSizeF& image);

// The pixels of the preview scaled to `scaledImage` that the frame covers: from (⌊x⌋, ⌊y⌋) to
// (⌈maxX⌉, ⌈maxY⌉), cut to the image. Empty when nothing is left, or for a frame that is not finite.
QRect cropRect(const QRectF& frame, const QSize& scaledImage);

// The pixels that a line `width` points wide drawn along the outline of `frame` can touch,
// antialiasing included: the band from half the width plus a pixel outside the outline to as far
// inside it, in whole pixels. The whole of the outer rectangle when the band leaves no inside.
QRegion frameOutlineRegion(const QRectF& frame, double width);

// The dashes of a line `width` points wide along the outline of `frame`, `dash` points on and `dash`
// off, as rectangles to fill. The outline runs clockwise from the top-left corner; the pattern is
// `phase` points in at that corner. Dashes end square, and a dash that turns a corner fills the
// corner's outer square as a mitred line would. Only dashes that reach into `within` are given, so
// that a frame far larger than the pane costs no more than the pane.
std::vector<QRectF> frameDashes(const QRectF& frame, double width, double dash, double phase, const QRectF& within);

} // namespace lumenfield
