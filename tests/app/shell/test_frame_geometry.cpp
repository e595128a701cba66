// The frame gestures and the pane's geometry without widgets: drawing and moving the frame with its
// limits, the rescale that keeps the frame on the document, and the crop of the frame.
#include "frame_gestures.h"
#include "image_settings.h"
#include "preview_geometry.h"
#include "preview_image.h"
#include "preview_images.h"
#include "scan_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> bytesOf(const vips::VImage& image)
{
    size_t size = 0;
    void* data = image.write_to_memory(&size);
    std::vector<unsigned char> bytes(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
    g_free(data);
    return bytes;
}

void expectRect(const QRectF& actual, double x, double y, double width, double height, double tolerance = 1e-9)
{
    EXPECT_NEAR(actual.x(), x, tolerance);
    EXPECT_NEAR(actual.y(), y, tolerance);
    EXPECT_NEAR(actual.width(), width, tolerance);
    EXPECT_NEAR(actual.height(), height, tolerance);
}

// P = 150, S = 0.5 (half an inch is 37.5 points) and an 800 × 600 pixel preview drawn 400 × 300.
class FrameGesturesTest : public testing::Test {
protected:
    ScanSettings scan;
    ImageSettings image;
    PreviewImage preview;
    FrameGestures gestures{scan, image, preview};

    void SetUp() override
    {
        scan.setPreviewImageScale(0.5);
        scan.setPreviewRect(QRectF(10, 20, 100, 50));
        preview.set(gradientPreview(800, 600));
    }
    // A drawing drag from `from` to `to`, ended; gives the frame it made.
    QRectF draw(QPointF from, QPointF to)
    {
        gestures.updateNewScanFrame(DragValue::between(from, to));
        EXPECT_TRUE(gestures.isDrag());
        gestures.finishScanFrameGesture();
        return scan.previewRect();
    }
    // The x extent of a frame drawn from x `from` to x `to` (y from 100 to 200).
    std::pair<double, double> drawX(double from, double to)
    {
        const QRectF frame = draw(QPointF(from, 100), QPointF(to, 200));
        EXPECT_DOUBLE_EQ(frame.y(), 100);
        EXPECT_DOUBLE_EQ(frame.height(), 100);
        return {frame.left(), frame.right()};
    }
};

using Span = std::pair<double, double>;

TEST_F(FrameGesturesTest, DrawingKeepsEachSideBetweenHalfAnInchAndTheScanLimitInsideTheImage)
{
    EXPECT_EQ(drawX(100, 120), Span(100, 137.5));
    EXPECT_EQ(drawX(390, 395), Span(362.5, 400));  // pushed back at the right edge
    EXPECT_EQ(drawX(10, -10), Span(0, 37.5));      // the pointer clamped to 0, pushed back at the left
    EXPECT_EQ(drawX(100, 600), Span(100, 400));    // the pointer stops at the image's edge
    EXPECT_EQ(drawX(300, 100), Span(100, 300));    // a reversed drag has a positive size
    const QRectF down = draw(QPointF(100, 290), QPointF(200, 310));
    EXPECT_EQ(Span(down.top(), down.bottom()), Span(262.5, 300));
    const QRectF up = draw(QPointF(300, 250), QPointF(100, 50));
    EXPECT_EQ(up, QRectF(100, 50, 200, 200));

    // 4800 dpi allows 10000 / 4800 inches: 156.25 points, measured from the start point.
    scan.setResolution(4800);
    EXPECT_EQ(drawX(50, 350), Span(50, 206.25));
    EXPECT_EQ(drawX(350, 50), Span(193.75, 350));
}

TEST_F(FrameGesturesTest, DrawingFromBesideTheImageStartsAtItsEdge)
{
    EXPECT_EQ(drawX(500, 300), Span(300, 400));
    EXPECT_EQ(drawX(450, 440), Span(362.5, 400));
    const QRectF below = draw(QPointF(100, 350), QPointF(200, 250));
    EXPECT_EQ(Span(below.top(), below.bottom()), Span(250, 300));
}

TEST_F(FrameGesturesTest, ResolutionOfZeroOrBelowSetsNoMaximum)
{
    for (qint64 resolution : {-300, 0}) {
        scan.setResolution(resolution);
        EXPECT_EQ(drawX(50, 350), Span(50, 350)) << resolution;
        EXPECT_EQ(drawX(350, 50), Span(50, 350)) << resolution;
    }
}

TEST_F(FrameGesturesTest, EndOfADrawMakesTheFrameCustomizedAndPublishesItsCrop)
{
    scan.setScanFrameType(VekScanFrameType::a4);
    draw(QPointF(100, 100), QPointF(200, 150));
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::customized);
    EXPECT_FALSE(gestures.isDrag());
    ASSERT_TRUE(image.scanFrameRawImage());
    EXPECT_EQ(image.scanFrameRawImage()->width(), 100);
    EXPECT_EQ(image.scanFrameRawImage()->height(), 50);
}

TEST_F(FrameGesturesTest, MovingKeepsTheFrameInsideTheImageAndKeepsItsType)
{
    scan.setScanFrameType(VekScanFrameType::b4);
    gestures.updateDragOffset(DragValue::between(QPointF(50, 50), QPointF(20, 450)));
    EXPECT_TRUE(gestures.isDrag());
    EXPECT_EQ(gestures.dragOffset(), QPointF(-10, 230));
    EXPECT_EQ(gestures.displayedFrame(), QRectF(0, 250, 100, 50));
    EXPECT_EQ(scan.previewRect(), QRectF(10, 20, 100, 50));  // stored only at the end
    gestures.commitDragOffset();
    EXPECT_EQ(scan.previewRect(), QRectF(0, 250, 100, 50));
    EXPECT_EQ(gestures.dragOffset(), QPointF());
    EXPECT_FALSE(gestures.isDrag());
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::b4);
    ASSERT_TRUE(image.scanFrameRawImage());
    EXPECT_EQ(image.scanFrameRawImage()->width(), 100);

    // Right and bottom come last: a frame wider than the image keeps to its right edge.
    scan.setPreviewRect(QRectF(10, 10, 500, 50));
    gestures.updateDragOffset(DragValue::between(QPointF(), QPointF(-40, 0)));
    EXPECT_EQ(gestures.displayedFrame().right(), 400);
}

TEST_F(FrameGesturesTest, PlacingIsUnlimited)
{
    gestures.updateResizedFrame(DragValue::between(QPointF(650, 480), QPointF(-50, 500)));
    EXPECT_TRUE(gestures.isDrag());
    EXPECT_EQ(scan.previewRect(), QRectF(-750, 500, 700, 20));
    gestures.finishScanFrameGesture();
    EXPECT_FALSE(image.scanFrameRawImage());  // nothing of it lies on the image
}

TEST_F(FrameGesturesTest, WithoutAPreviewOnlyTheEndOfADrawActs)
{
    preview.set(std::nullopt);
    image.setScanFrameRawImage(gradientPreview(4, 4));
    EXPECT_EQ(gestures.clampToPreviewBounds(QPointF(-5, 900)), QPointF(-5, 900));
    gestures.updateDragOffset(DragValue::between(QPointF(), QPointF(30, 30)));
    EXPECT_EQ(gestures.dragOffset(), QPointF());
    gestures.commitDragOffset();
    EXPECT_EQ(draw(QPointF(10, 10), QPointF(200, 200)), QRectF(10, 20, 100, 50));
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::customized);
    EXPECT_FALSE(image.scanFrameRawImage());
}

TEST(PreviewGeometry, RescaleKeepsTheFrameOnTheDocument)
{
    const auto rescaled = rescalePreviewRect(QRectF(10, 20, 100, 50), 0.5, QSizeF(800, 600), QSizeF(1275, 1650));
    ASSERT_TRUE(rescaled);
    EXPECT_NEAR(rescaled->scale, 600.0 / 1650, 1e-12);
    expectRect(rescaled->previewRect, 7.2727272727, 14.5454545454, 72.7272727272, 36.3636363636, 1e-9);

    // A film preview of another shape: the frame keeps its size in inches.
    const auto film = rescalePreviewRect(rescaled->previewRect, rescaled->scale, QSizeF(800, 600), QSizeF(225, 1350));
    ASSERT_TRUE(film);
    const auto inches = [](const QRectF& r, double s) {
        const double k = ScanSettings::previewResolution * s;
        return QRectF(r.x() / k, r.y() / k, r.width() / k, r.height() / k);
    };
    expectRect(inches(film->previewRect, film->scale), 10.0 / 75, 20.0 / 75, 100.0 / 75, 50.0 / 75);

    // Nothing to fit into or nothing to fit: no rescale; an old scale of 0 cannot convert the frame.
    EXPECT_FALSE(rescalePreviewRect(QRectF(10, 20, 100, 50), 0.5, QSizeF(0, 0), QSizeF(1275, 1650)));
    EXPECT_FALSE(rescalePreviewRect(QRectF(10, 20, 100, 50), 0.5, QSizeF(800, 600), QSizeF(0, 1650)));
    const auto fromZero = rescalePreviewRect(QRectF(10, 20, 100, 50), 0.0, QSizeF(800, 600), QSizeF(1275, 1650));
    ASSERT_TRUE(fromZero);
    EXPECT_EQ(fromZero->previewRect, QRectF(10, 20, 100, 50));
}

TEST(PreviewGeometry, CropRectangleCoversTheFrameInWholePixelsOnTheImage)
{
    const QSize scaled(638, 825);  // 1275 × 1650 at 0.5
    EXPECT_EQ(cropRect(QRectF(0, 0, 100, 50), scaled), QRect(0, 0, 100, 50));
    EXPECT_EQ(cropRect(QRectF(10.4, 20.6, 100.2, 50.1), scaled), QRect(10, 20, 101, 51));
    EXPECT_EQ(cropRect(QRectF(600, 800, 100, 100), scaled), QRect(600, 800, 38, 25));
    EXPECT_EQ(cropRect(QRectF(-50, -60, 100, 100), scaled), QRect(0, 0, 50, 40));
    EXPECT_TRUE(cropRect(QRectF(700, 10, 100, 100), scaled).isEmpty());
    EXPECT_TRUE(cropRect(QRectF(1e300, 10, 1e300, 100), scaled).isEmpty());
    EXPECT_TRUE(cropRect(QRectF(std::nan(""), 0, 10, 10), scaled).isEmpty());
}

TEST(PreviewGeometry, CropOfAnIntegralFrameIsThoseScaledPixels)
{
    PreviewImage preview;
    EXPECT_FALSE(preview.scanFrameImage(0.5, QRectF(0, 0, 10, 10)));
    const vips::VImage raw = gradientPreview(1275, 1650);
    EXPECT_TRUE(preview.set(raw));
    EXPECT_FALSE(preview.set(raw));
    const auto scaled = preview.scaled(0.5);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->get_image(), preview.scaled(0.5)->get_image());  // kept, not made again

    const auto crop = preview.scanFrameImage(0.5, QRectF(10, 20, 100, 50));
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->width(), 100);
    EXPECT_EQ(crop->height(), 50);
    EXPECT_EQ(crop->format(), VIPS_FORMAT_UCHAR);
    EXPECT_EQ(bytesOf(*crop), bytesOf(scaled->extract_area(10, 20, 100, 50)));
    EXPECT_FALSE(preview.scanFrameImage(0.0, QRectF(10, 20, 100, 50)));
    EXPECT_FALSE(preview.scanFrameImage(0.5, QRectF(1000, 20, 100, 50)));

    // Displayed as the bytes are.
    const QImage shown = toQImage(*crop);
    ASSERT_EQ(shown.size(), QSize(100, 50));
    EXPECT_EQ(std::memcmp(shown.constScanLine(7), bytesOf(crop->extract_area(0, 7, 100, 1)).data(), 300), 0);
}

} // namespace
