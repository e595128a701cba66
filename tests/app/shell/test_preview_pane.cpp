// The preview pane with real mouse events on the offscreen platform: its two faces and Stop, the
// frame gestures, when the processed crop is computed and where it shows, and the scale that
// follows the pane's size and the preview.
#include "gui_test.h"
#include "image_settings.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_manager.h"
#include "scan_settings.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Sides of the frame's border that may differ between two grabs: the dashes march.
constexpr int dashMargin = 3;

bool differsOnlyInside(const QImage& a, const QImage& b, const QRect& inside, int& differing)
{
    differing = 0;
    for (int y = 0; y < a.height(); y++)
        for (int x = 0; x < a.width(); x++) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            if (!inside.contains(x, y)) return false;
            differing++;
        }
    return true;
}

} // namespace

class PreviewPaneTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScanManager> manager;
    std::unique_ptr<ScanSettings> scan;
    std::unique_ptr<ImageSettings> image;
    // The preview area of the main window: a dark fill with the pane 16 points inside.
    std::unique_ptr<QWidget> host;
    PreviewImageView* pane = nullptr;

    void place(QSize size)
    {
        host->resize(size + QSize(32, 32));
        pane->setGeometry(QRect(QPoint(16, 16), size));
        QCoreApplication::processEvents();
    }
    QWidget* face() const { return pane->findChild<QWidget*>(QStringLiteral("imageFace")); }
    QWidget* shownFace() const { return static_cast<QStackedLayout*>(pane->layout())->currentWidget(); }
    template <typename T>
    T* child(const char* name) const
    {
        return pane->findChild<T*>(QString::fromLatin1(name));
    }
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, at, face()->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(face(), &event);
    }
    // Presses `button` at `from`, moves in four steps to `to` with the button held, runs `during`,
    // then releases.
    void drag(QPointF from, QPointF to, Qt::MouseButton button = Qt::LeftButton,
              const std::function<void()>& during = {})
    {
        mouse(QEvent::MouseButtonPress, from, button, button);
        for (int step = 1; step <= 4; step++) {
            mouse(QEvent::MouseMove, from + (to - from) * step / 4.0, Qt::NoButton, button);
            QCoreApplication::processEvents();
        }
        if (during) during();
        mouse(QEvent::MouseButtonRelease, to, button, Qt::NoButton);
        QCoreApplication::processEvents();
    }
    // The frame in inches of the document.
    QRectF frameInches() const
    {
        const double k = ScanSettings::previewResolution * scan->previewImageScale();
        const QRectF r = scan->previewRect();
        return QRectF(r.x() / k, r.y() / k, r.width() / k, r.height() / k);
    }
    static void compareRects(const QRectF& a, const QRectF& b, double tolerance)
    {
        QVERIFY2(std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance &&
                     std::abs(a.width() - b.width()) <= tolerance && std::abs(a.height() - b.height()) <= tolerance,
                 qPrintable(QStringLiteral("(%1, %2, %3, %4) against (%5, %6, %7, %8)")
                                .arg(a.x()).arg(a.y()).arg(a.width()).arg(a.height())
                                .arg(b.x()).arg(b.y()).arg(b.width()).arg(b.height())));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_preview_pane") == 0); }

    // An 800 × 600 pixel preview in a 400 × 300 pane: scale 0.5, frame (10, 20, 100, 50).
    void init()
    {
        manager = std::make_unique<ScanManager>();
        scan = std::make_unique<ScanSettings>();
        image = std::make_unique<ImageSettings>();
        host = std::make_unique<QWidget>();
        QPalette fill = host->palette();
        fill.setColor(QPalette::Window, QColor::fromRgbF(0.19f, 0.19f, 0.21f));
        host->setPalette(fill);
        host->setAutoFillBackground(true);
        pane = new PreviewImageView(*manager, *scan, *image, host.get());
        manager->setScanStatus(rawValue(VekScanStatus::ready));
        scan->setPreviewImageScale(0.5);
        scan->setPreviewRect(QRectF(10, 20, 100, 50));
        pane->setPreviewImage(gradientPreview(800, 600));
        place(QSize(400, 300));
        host->show();
        QCoreApplication::processEvents();
    }
    void cleanup()
    {
        host.reset();
        image.reset();
        scan.reset();
        manager.reset();
    }

    void facesFollowTheStatusAndStopEndsTheScan()
    {
        QCOMPARE(pane->objectName(), QStringLiteral("previewPane"));
        for (VekScanStatus status : {VekScanStatus::ready, VekScanStatus::stopped, VekScanStatus::notConnected}) {
            manager->setScanStatus(rawValue(status));
            QCOMPARE(shownFace(), face());
        }
        auto* title = child<QLabel>("progressTitle");
        auto* bar = child<QProgressBar>("progressBar");
        auto* percent = child<QLabel>("progressPercent");
        auto* stop = child<QPushButton>("stopButton");
        place(QSize(500, 300));

        manager->setScanStatus(rawValue(VekScanStatus::starting));
        QCOMPARE(shownFace()->objectName(), QStringLiteral("progressFace"));
        QCOMPARE(title->text(), QStringLiteral("Scanning..."));
        QVERIFY(bar->isVisible() && stop->isVisible() && !percent->isVisible());
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("card-starting")).isEmpty());

        manager->setScanStatus(rawValue(VekScanStatus::reading));
        const std::vector<std::pair<double, QString>> progress = {{0.426, "43%"}, {0.999, "100%"}, {0.0, "0%"}};
        for (const auto& [value, text] : progress) {
            manager->setScanProgress(value);
            QCOMPARE(percent->text(), text);
            QCOMPARE(bar->maximum(), 1000);
            QCOMPARE(bar->value(), qRound(value * 1000));
        }
        QVERIFY(bar->isVisible() && percent->isVisible() && stop->isVisible() && !bar->isTextVisible());
        manager->setScanProgress(0.426);
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("card-reading")).isEmpty());

        manager->setScanStatus(rawValue(VekScanStatus::processingImage));
        QCOMPARE(title->text(), QStringLiteral("Image Processing..."));
        QVERIFY(!bar->isVisible() && !stop->isVisible());
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("card-processing")).isEmpty());
        manager->setScanStatus(rawValue(VekScanStatus::writingFile));
        QCOMPARE(title->text(), QStringLiteral("Writing Image File..."));
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("card-writing")).isEmpty());

        manager->setScanStatus(rawValue(VekScanStatus::reading));
        QTest::mouseClick(stop, Qt::LeftButton);
        QTRY_COMPARE(manager->scanStatus(), rawValue(VekScanStatus::stopped));
        QCOMPARE(manager->scanProgress(), 0.0);
        QCOMPARE(shownFace(), face());
    }

    void dragsMoveOrDrawTheFrame()
    {
        scan->setScanFrameType(VekScanFrameType::a4);
        QCoreApplication::processEvents();
        const int computed = pane->processedCropCount();
        QVERIFY(computed >= 1);

        // Begun on the frame: moves it, keeps its type; the offset shows while the drag runs.
        drag(QPointF(50, 40), QPointF(80, 80), Qt::LeftButton, [&] {
            QVERIFY(pane->gestures().isDrag());
            QCOMPARE(pane->gestures().dragOffset(), QPointF(30, 40));
            QCOMPARE(scan->previewRect(), QRectF(10, 20, 100, 50));
            QCOMPARE(pane->processedCropCount(), computed);
        });
        QCOMPARE(scan->previewRect(), QRectF(40, 60, 100, 50));
        QCOMPARE(scan->scanFrameType(), VekScanFrameType::a4);
        QVERIFY(!pane->gestures().isDrag());
        QCOMPARE(pane->processedCropCount(), computed + 1);
        QVERIFY(image->scanFrameRawImage());
        QCOMPARE(image->scanFrameRawImage()->width(), 100);

        // Begun elsewhere: draws a new frame, live, and computes nothing until the end.
        drag(QPointF(200, 150), QPointF(300, 250), Qt::LeftButton, [&] {
            QCOMPARE(scan->previewRect(), QRectF(200, 150, 100, 100));
            QCOMPARE(pane->processedCropCount(), computed + 1);
            QVERIFY(!saveSnapshot(host.get(), QStringLiteral("face-drawing")).isEmpty());
        });
        QCOMPARE(scan->scanFrameType(), VekScanFrameType::customized);
        QCOMPARE(pane->processedCropCount(), computed + 2);
        QCOMPARE(image->scanFrameRawImage()->height(), 100);

        // Nine points, or the right button: nothing.
        const auto published = image->scanFrameRawImage()->get_image();
        drag(QPointF(20, 20), QPointF(29, 20));
        drag(QPointF(20, 20), QPointF(120, 120), Qt::RightButton);
        QCOMPARE(scan->previewRect(), QRectF(200, 150, 100, 100));
        QCOMPARE(image->scanFrameRawImage()->get_image(), published);
        QVERIFY(!pane->gestures().isDrag());

        pane->setPreviewImage(std::nullopt);
        QVERIFY(!image->scanFrameRawImage());
    }

    void processedCropFollowsTheSettingsInsideTheFrameOnly()
    {
        scan->setPreviewRect(QRectF(120, 60, 200, 150));
        QCoreApplication::processEvents();
        const int computed = pane->processedCropCount();
        const QImage before = face()->grab().toImage();
        face()->repaint();
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed);

        // Settings the processing does not read change nothing.
        scan->setResolution(600);
        image->setBrightness(0.5);
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed);

        image->setExposure(1.0);
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed + 1);
        const QImage after = face()->grab().toImage();
        int differing = 0;
        const QRect frame = scan->previewRect().toAlignedRect();
        QVERIFY(differsOnlyInside(before, after, frame.adjusted(-dashMargin, -dashMargin, dashMargin, dashMargin),
                                  differing));
        QVERIFY(differing > frame.width() * frame.height() / 2);
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("face-processed-crop")).isEmpty());

        scan->setColorType(VekColorType::gray);
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed + 2);
    }

    void scaleStaysInStepWithTheDrawnPreview()
    {
        host->hide();
        scan->setPreviewImageScale(0.5);
        scan->setPreviewRect(QRectF(10, 20, 100, 50));
        pane->setPreviewImage(gradientPreview(1275, 1650));
        QCOMPARE(scan->previewImageScale(), 0.5);  // not shown: no size to fit yet
        place(QSize(800, 600));
        host->show();
        QCoreApplication::processEvents();
        QCOMPARE(scan->previewImageScale(), 600.0 / 1650);
        compareRects(scan->previewRect(), QRectF(7.2727272727, 14.5454545454, 72.7272727272, 36.3636363636), 1e-9);
        QVERIFY(image->scanFrameRawImage());

        // A film preview of another shape, then another pane size: the frame stays on the document.
        const QRectF inches = frameInches();
        pane->setPreviewImage(gradientPreview(225, 1350));
        QCOMPARE(scan->previewImageScale(), 600.0 / 1350);
        compareRects(frameInches(), inches, 1e-9);
        pane->resize(800, 300);
        QCOMPARE(scan->previewImageScale(), 300.0 / 1350);
        compareRects(frameInches(), inches, 1e-9);

        // A pane without area changes nothing, nor does getting the old size back.
        const QRectF frame = scan->previewRect();
        pane->resize(0, 0);
        pane->resize(800, 300);
        QCoreApplication::processEvents();
        QCOMPARE(scan->previewImageScale(), 300.0 / 1350);
        QCOMPARE(scan->previewRect(), frame);

        // A settings load sets a scale and a frame in its units: brought back to the drawn scale.
        scan->setPreviewImageScale(0.5);
        scan->setPreviewRect(QRectF(10, 20, 100, 50));
        QCoreApplication::processEvents();
        QCOMPARE(scan->previewImageScale(), 300.0 / 1350);
        compareRects(frameInches(), QRectF(10.0 / 75, 20.0 / 75, 100.0 / 75, 50.0 / 75), 1e-9);
    }

    // A frame over the whole of a letter-size preview in a pane of about 570 × 780 points.
    void timesTheProcessedCropOfAFullPaneFrame()
    {
        pane->setPreviewImage(gradientPreview(1275, 1755));
        place(QSize(570, 780));
        const double scale = scan->previewImageScale();
        scan->setPreviewRect(QRectF(0, 0, 1275 * scale, 1755 * scale));
        QCoreApplication::processEvents();
        std::vector<double> times;
        for (int i = 1; i <= 5; i++) {
            image->setExposure(0.2 * i);
            QElapsedTimer timer;
            timer.start();
            QCoreApplication::processEvents();
            face()->repaint();
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        const QSize crop = scan->previewRect().toAlignedRect().size();
        qInfo("processing and painting the crop of a %d x %d frame: median %.1f ms (min %.1f, max %.1f)",
              crop.width(), crop.height(), times[2], times[0], times[4]);
        QVERIFY(pane->processedCropCount() >= 5);
    }
};

LF_GUI_TEST_MAIN(PreviewPaneTest)
#include "test_preview_pane.moc"
