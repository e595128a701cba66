// The frame gestures and the pane's geometry without widgets: drawing and moving the frame with its
// limits, the rescale that keeps the frame on the document, and the crop of the frame.
#include "frame_gestures.h"
#include "preview_geometry.h"
#include "preview_image.h"
#include "preview_images.h"
#include "scan_frame_crop.h"
#include "scan_settings.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>

using namespace lumenfield;

namespace {

using Span = std::pair<double, double>;

std::string bytesOf(const vips::VImage& image)
{
    size_t size = 0;
    void* data = image.write_to_memory(&size);
    std::string bytes(static_cast<const char*>(data), size);
    g_free(data);
    return bytes;
}

// P = 150, S = 0.5 (half an inch is 37.5 points) and an 800 × 600 pixel preview drawn 400 × 300.
class FrameGesturesTest : public testing::Test {
protected:
    ScanSettings scan;
    ScanFrameCrop crop;
    PreviewImage preview;
    FrameGestures gestures{scan, crop, preview};

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
        gestures.finishScanFrameGesture();
        return scan.previewRect();
    }
    // The x extent of a frame drawn from x `from` to x `to` (y from 100 to 200).
    Span drawX(double from, double to)
    {
        const QRectF frame = draw(QPointF(from, 100), QPointF(to, 200));
        return {frame.left(), frame.right()};
    }
};

TEST_F(FrameGesturesTest, DrawingKeepsEachSideBetweenHalfAnInchAndTheScanLimitInsideTheImage)
{
    EXPECT_EQ(drawX(100, 120), Span(100, 137.5));
    EXPECT_EQ(drawX(390, 395), Span(362.5, 400)); // pushed back at the right edge
    EXPECT_EQ(drawX(10, -10), Span(0, 37.5));     // the pointer clamped to 0, pushed back at the left
    EXPECT_EQ(drawX(100, 600), Span(100, 400));   // the pointer stops at the image's edge
    const QRectF down = draw(QPointF(100, 290), QPointF(200, 310));
    EXPECT_EQ(Span(down.top(), down.bottom()), Span(262.5, 300));
    EXPECT_EQ(draw(QPointF(300, 250), QPointF(100, 50)), QRectF(100, 50, 200, 200)); // reversed
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::customized);
    EXPECT_FALSE(gestures.isDrag());

    // Started beside the image: the start point is clamped too.
    EXPECT_EQ(drawX(500, 300), Span(300, 400));
    EXPECT_EQ(drawX(450, 440), Span(362.5, 400));

    // 4800 dpi allows 10000 / 4800 inches: 156.25 points, measured from the start point.
    scan.setResolution(4800);
    EXPECT_EQ(drawX(50, 350), Span(50, 206.25));
    EXPECT_EQ(drawX(350, 50), Span(193.75, 350));
    // A resolution of 0 or below sets no maximum.
    for (qint64 resolution : {-300, 0}) {
        scan.setResolution(resolution);
        EXPECT_EQ(drawX(50, 350), Span(50, 350)) << resolution;
    }
}

TEST_F(FrameGesturesTest, MovingKeepsTheFrameInsideTheImageAndPlacingIsUnlimited)
{
    scan.setScanFrameType(VekScanFrameType::b4);
    gestures.updateDragOffset(DragValue::between(QPointF(50, 50), QPointF(20, 450)));
    EXPECT_EQ(gestures.dragOffset(), QPointF(-10, 230));
    EXPECT_EQ(gestures.displayedFrame(), QRectF(0, 250, 100, 50));
    gestures.commitDragOffset();
    EXPECT_EQ(scan.previewRect(), QRectF(0, 250, 100, 50));
    EXPECT_EQ(gestures.dragOffset(), QPointF());
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::b4);

    // Right and bottom come last: a frame wider than the image keeps to its right edge.
    scan.setPreviewRect(QRectF(10, 10, 500, 50));
    gestures.updateDragOffset(DragValue::between(QPointF(), QPointF(-40, 0)));
    EXPECT_EQ(gestures.displayedFrame().right(), 400);

    gestures.updateResizedFrame(DragValue::between(QPointF(650, 480), QPointF(-50, 500)));
    EXPECT_EQ(scan.previewRect(), QRectF(-750, 500, 700, 20));
}

TEST_F(FrameGesturesTest, WithoutAPreviewOnlyTheEndOfADrawActs)
{
    preview.set(std::nullopt);
    crop.setImage(gradientPreview(4, 4));
    EXPECT_EQ(gestures.clampToPreviewBounds(QPointF(-5, 900)), QPointF(-5, 900));
    gestures.updateDragOffset(DragValue::between(QPointF(), QPointF(30, 30)));
    EXPECT_EQ(gestures.dragOffset(), QPointF());
    EXPECT_EQ(draw(QPointF(10, 10), QPointF(200, 200)), QRectF(10, 20, 100, 50));
    EXPECT_EQ(scan.scanFrameType(), VekScanFrameType::customized);
    EXPECT_FALSE(crop.image());
}

TEST(PreviewGeometry, RescaleNeedsAnAreaToFitAndAUsableOldScale)
{
    const QRectF r(10, 20, 100, 50);
    EXPECT_FALSE(rescalePreviewRect(r, 0.5, QSizeF(0, 0), QSizeF(1275, 1650)));
    EXPECT_FALSE(rescalePreviewRect(r, 0.5, QSizeF(800, 600), QSizeF(0, 1650)));
    EXPECT_EQ(rescalePreviewRect(r, 0.0, QSizeF(800, 600), QSizeF(1275, 1650))->previewRect, r);
}

TEST(PreviewGeometry, CropIsTheScaledPreviewInsideTheFrameInWholePixels)
{
    const QSize scaled(638, 825); // 1275 × 1650 at 0.5
    EXPECT_EQ(cropRect(QRectF(0, 0, 100, 50), scaled), QRect(0, 0, 100, 50));
    EXPECT_EQ(cropRect(QRectF(10.4, 20.6, 100.2, 50.1), scaled), QRect(10, 20, 101, 51));
    EXPECT_EQ(cropRect(QRectF(-50, 800, 100, 100), scaled), QRect(0, 800, 50, 25));
    EXPECT_TRUE(cropRect(QRectF(700, 10, 100, 100), scaled).isEmpty());
    EXPECT_TRUE(cropRect(QRectF(1e300, 10, 1e300, 100), scaled).isEmpty());
    EXPECT_TRUE(cropRect(QRectF(std::nan(""), 0, 10, 10), scaled).isEmpty());

    PreviewImage preview;
    EXPECT_FALSE(preview.scanFrameImage(0.5, QRectF(0, 0, 10, 10)));
    ASSERT_TRUE(preview.set(gradientPreview(1275, 1650)));
    const auto whole = preview.scaled(0.5);
    const auto crop = preview.scanFrameImage(0.5, QRectF(10, 20, 100, 50));
    ASSERT_TRUE(whole && crop);
    EXPECT_EQ(whole->get_image(), preview.scaled(0.5)->get_image()); // kept, not made again
    EXPECT_EQ(QSize(crop->width(), crop->height()), QSize(100, 50));
    EXPECT_EQ(bytesOf(*crop), bytesOf(whole->extract_area(10, 20, 100, 50)));
}

TEST(ScanFrameCropHolder, ChangesByIdentity)
{
    ScanFrameCrop crop;
    int changes = 0;
    QObject::connect(&crop, &ScanFrameCrop::imageChanged, [&changes] { changes++; });
    const vips::VImage first = vips::VImage::black(2, 2);
    crop.setImage(first);
    crop.setImage(first);
    crop.setImage(vips::VImage::black(3, 2));
    crop.setImage(std::nullopt);
    crop.setImage(std::nullopt);
    EXPECT_EQ(changes, 3);
}

// Pixels painted other than white on a white image of `size`.
QImage white(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

TEST(PreviewGeometry, DashesAreThoseOfADashedPenAlongTheOutline)
{
    // 2 points wide, 5 on and 5 off, square ends and mitred corners, as a pen draws them.
    const QRectF frames[] = {QRectF(10, 10, 100, 50), QRectF(7, 13, 93, 37), QRectF(20, 20, 4, 6)};
    for (const QRectF& frame : frames)
        for (int phase = 0; phase < 10; phase++) {
            QImage pen = white(QSize(140, 90));
            {
                QPainter painter(&pen);
                QPen dashed(Qt::black, 2, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
                dashed.setDashPattern({2.5, 2.5});
                dashed.setDashOffset(phase / 2.0);
                painter.setPen(dashed);
                painter.drawRect(frame);
            }
            QImage rects = white(pen.size());
            {
                QPainter painter(&rects);
                for (const QRectF& dash : frameDashes(frame, 2, 5, phase, QRectF(QPointF(), pen.size())))
                    painter.fillRect(dash, Qt::black);
            }
            // The pen leaves the corner where the outline begins and ends open; elsewhere they agree.
            const QRectF start(frame.topLeft() - QPointF(2, 2), QSizeF(4, 4));
            for (int y = 0; y < pen.height(); y++)
                for (int x = 0; x < pen.width(); x++) {
                    if (pen.pixel(x, y) == rects.pixel(x, y)) continue;
                    EXPECT_TRUE(start.contains(QPointF(x + 0.5, y + 0.5)))
                        << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height()
                        << ", phase " << phase << ": pixel (" << x << ", " << y << ")";
                }
        }

    // A frame far larger than the pane gives the dashes of what the pane shows, nothing more.
    const QRectF pane(0, 0, 600, 800);
    const std::vector<QRectF> dashes = frameDashes(QRectF(-1e7, 10, 2e7, 1e7), 2, 5, 3, pane);
    EXPECT_LT(dashes.size(), 100u);
    for (const QRectF& dash : dashes) EXPECT_TRUE(dash.intersects(pane.adjusted(-2, -2, 2, 2)));
    EXPECT_TRUE(frameDashes(QRectF(std::nan(""), 0, 10, 10), 2, 5, 0, pane).empty());
}

TEST(PreviewGeometry, OutlineRegionHoldsWhatTheDashesPaintAndLittleElse)
{
    const QRectF frames[] = {QRectF(10.3, 20.7, 300.4, 150.2), QRectF(0, 0, 567.6, 781.9), QRectF(50.5, 60.5, 3, 2)};
    for (const QRectF& frame : frames) {
        const QRegion band = frameOutlineRegion(frame, 2);
        // Every pixel that an antialiased stroke of the whole outline touches, at any phase.
        QImage painted = white(QSize(640, 800));
        {
            QPainter painter(&painted);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
            painter.drawRect(frame);
            for (const QRectF& dash : frameDashes(frame, 2, 5, 0, QRectF(0, 0, 640, 800)))
                painter.fillRect(dash, Qt::black);
        }
        for (int y = 0; y < painted.height(); y++)
            for (int x = 0; x < painted.width(); x++) {
                if (painted.pixel(x, y) == qRgb(255, 255, 255)) continue;
                EXPECT_TRUE(band.contains(QPoint(x, y))) << "pixel (" << x << ", " << y << ")";
            }
        // A band about four points wide.
        qint64 area = 0;
        for (const QRect& r : band) area += qint64(r.width()) * r.height();
        EXPECT_LE(area, qint64((2 * (frame.width() + frame.height()) + 32) * 6));
    }
    EXPECT_FALSE(frameOutlineRegion(QRectF(10, 10, 300, 200), 2).contains(QPoint(160, 110)));
    EXPECT_TRUE(frameOutlineRegion(QRectF(std::nan(""), 0, 10, 10), 2).isEmpty());
}

} // namespace
