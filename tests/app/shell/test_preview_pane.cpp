// The preview pane with real mouse events on the offscreen platform: its two faces and Stop, the
// frame gestures, when the processed crop is computed and where it shows, and the scale that
// follows the pane's size and the preview.
#include "gui_test.h"
#include "image_settings.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_frame_crop.h"
#include "scan_manager.h"
#include "scan_settings.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>

#include <functional>
#include <memory>

using namespace lumenfield;

namespace {

// Whether two grabs differ only inside `inside`, and in more than `atLeast` pixels.
bool differOnlyInside(const QImage& a, const QImage& b, const QRect& inside, int atLeast)
{
    int differing = 0;
    for (int y = 0; y < a.height(); y++)
        for (int x = 0; x < a.width(); x++) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            if (!inside.contains(x, y)) return false;
            differing++;
        }
    return differing > atLeast;
}

bool near(const QRectF& a, const QRectF& b)
{
    const QRectF d(a.topLeft() - b.topLeft(), a.size() - b.size());
    return std::max({std::abs(d.x()), std::abs(d.y()), std::abs(d.width()), std::abs(d.height())}) <= 1e-9;
}

} // namespace

class PreviewPaneTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScanManager> manager;
    std::unique_ptr<ScanSettings> scan;
    std::unique_ptr<ImageSettings> image;
    std::unique_ptr<ScanFrameCrop> crop;
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
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, at, face()->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(face(), &event);
    }
    // Presses `button` at `from`, moves in four steps to `to` with it held, runs `during`, releases.
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
    QRectF frameInches() const
    {
        const double k = ScanSettings::previewResolution * scan->previewImageScale();
        const QRectF r = scan->previewRect();
        return QRectF(r.x() / k, r.y() / k, r.width() / k, r.height() / k);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_preview_pane") == 0); }

    // An 800 × 600 pixel preview in a 400 × 300 pane: scale 0.5, frame (10, 20, 100, 50).
    void init()
    {
        manager = std::make_unique<ScanManager>();
        scan = std::make_unique<ScanSettings>();
        image = std::make_unique<ImageSettings>();
        crop = std::make_unique<ScanFrameCrop>();
        host = std::make_unique<QWidget>();
        host->setPalette(QPalette(QColor::fromRgbF(0.19f, 0.19f, 0.21f)));
        host->setAutoFillBackground(true);
        pane = new PreviewImageView(*manager, *scan, *image, *crop, host.get());
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
        crop.reset();
        image.reset();
        scan.reset();
        manager.reset();
    }

    void facesFollowTheStatusAndStopEndsTheScan()
    {
        for (VekScanStatus status : {VekScanStatus::ready, VekScanStatus::stopped, VekScanStatus::notConnected}) {
            manager->setScanStatus(rawValue(status));
            QCOMPARE(shownFace(), face());
        }
        auto* title = pane->findChild<QLabel*>(QStringLiteral("progressTitle"));
        auto* bar = pane->findChild<QProgressBar*>(QStringLiteral("progressBar"));
        auto* percent = pane->findChild<QLabel*>(QStringLiteral("progressPercent"));
        auto* stop = pane->findChild<QPushButton*>(QStringLiteral("stopButton"));
        place(QSize(500, 300));
        manager->setScanProgress(0.426);
        for (auto [status, text, name] : {std::tuple{VekScanStatus::starting, "Scanning...", "card-starting"},
                                          {VekScanStatus::reading, "Scanning...", "card-reading"},
                                          {VekScanStatus::processingImage, "Image Processing...", "card-processing"},
                                          {VekScanStatus::writingFile, "Writing Image File...", "card-writing"}}) {
            manager->setScanStatus(rawValue(status));
            QCOMPARE(shownFace()->objectName(), QStringLiteral("progressFace"));
            QCOMPARE(title->text(), QString::fromLatin1(text));
            const bool scanning = status == VekScanStatus::starting || status == VekScanStatus::reading;
            QCOMPARE(bar->isVisible() && stop->isVisible(), scanning);
            QCOMPARE(percent->isVisible(), status == VekScanStatus::reading);
            if (scanning) QCOMPARE(bar->maximum(), status == VekScanStatus::reading ? 1000 : 0);
            QVERIFY(!saveSnapshot(host.get(), QString::fromLatin1(name)).isEmpty());
        }

        manager->setScanStatus(rawValue(VekScanStatus::reading));
        for (auto [value, text] : {std::pair{0.426, "43%"}, {0.999, "100%"}, {0.0, "0%"}}) {
            manager->setScanProgress(value);
            QCOMPARE(percent->text(), QString::fromLatin1(text));
            QCOMPARE(bar->value(), qRound(value * 1000));
        }
        QTest::mouseClick(stop, Qt::LeftButton);
        QTRY_COMPARE(manager->scanStatus(), rawValue(VekScanStatus::stopped));
        QCOMPARE(shownFace(), face());
    }

    void dragsMoveOrDrawTheFrame()
    {
        scan->setScanFrameType(VekScanFrameType::a4);
        QCoreApplication::processEvents();
        const int computed = pane->processedCropCount();
        QVERIFY(computed >= 1);

        // Begun on the frame: moves it, keeps its type, and computes no crop until the end.
        drag(QPointF(50, 40), QPointF(80, 80), Qt::LeftButton, [&] {
            QCOMPARE(pane->gestures().dragOffset(), QPointF(30, 40));
            QCOMPARE(pane->processedCropCount(), computed);
        });
        QCOMPARE(scan->previewRect(), QRectF(40, 60, 100, 50));
        QCOMPARE(scan->scanFrameType(), VekScanFrameType::a4);
        QCOMPARE(pane->processedCropCount(), computed + 1);

        // Begun elsewhere: draws a new frame, live.
        drag(QPointF(200, 150), QPointF(300, 250), Qt::LeftButton, [&] {
            QCOMPARE(scan->previewRect(), QRectF(200, 150, 100, 100));
            QCOMPARE(pane->processedCropCount(), computed + 1);
            QVERIFY(!saveSnapshot(host.get(), QStringLiteral("face-drawing")).isEmpty());
        });
        QCOMPARE(scan->scanFrameType(), VekScanFrameType::customized);
        QCOMPARE(pane->processedCropCount(), computed + 2);
        QCOMPARE(crop->image()->height(), 100);

        // Nine points, or the right button: nothing.
        drag(QPointF(20, 20), QPointF(29, 20));
        drag(QPointF(20, 20), QPointF(120, 120), Qt::RightButton);
        QCOMPARE(scan->previewRect(), QRectF(200, 150, 100, 100));

        // A scan that begins mid-drag hides the face: the drag ends there, as a release would end it.
        mouse(QEvent::MouseButtonPress, QPointF(20, 20), Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseMove, QPointF(120, 100), Qt::NoButton, Qt::LeftButton);
        QVERIFY(pane->gestures().isDrag());
        manager->setScanStatus(rawValue(VekScanStatus::starting));
        QVERIFY(!pane->gestures().isDrag());
        QCOMPARE(scan->previewRect(), QRectF(20, 20, 100, 80));

        pane->setPreviewImage(std::nullopt);
        QVERIFY(!crop->image());
    }

    void processedCropFollowsTheSettingsInsideTheFrameOnly()
    {
        scan->setPreviewRect(QRectF(120, 60, 200, 150));
        QCoreApplication::processEvents();
        const int computed = pane->processedCropCount();
        const QImage before = face()->grab().toImage();
        face()->repaint();
        scan->setResolution(600); // settings the processing does not read
        image->setBrightness(0.5);
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed);

        image->setExposure(1.0);
        QCoreApplication::processEvents();
        QCOMPARE(pane->processedCropCount(), computed + 1);
        // The dashes march between the grabs: their band around the frame may differ too.
        const QRect frame = scan->previewRect().toAlignedRect();
        QVERIFY(differOnlyInside(before, face()->grab().toImage(), frame.adjusted(-3, -3, 3, 3),
                                 frame.width() * frame.height() / 2));
        QVERIFY(!saveSnapshot(host.get(), QStringLiteral("face-processed-crop")).isEmpty());
    }

    void scaleStaysInStepWithTheDrawnPreview()
    {
        host->hide();
        scan->setPreviewImageScale(0.5);
        scan->setPreviewRect(QRectF(10, 20, 100, 50));
        pane->setPreviewImage(gradientPreview(1275, 1650));
        place(QSize(800, 600));
        host->show();
        QCoreApplication::processEvents();
        QCOMPARE(scan->previewImageScale(), 600.0 / 1650);
        QVERIFY(near(scan->previewRect(), QRectF(80.0 / 11, 160.0 / 11, 800.0 / 11, 400.0 / 11)));

        // A film preview of another shape, then another pane size: the frame stays on the document.
        const QRectF inches = frameInches();
        pane->setPreviewImage(gradientPreview(225, 1350));
        QCOMPARE(scan->previewImageScale(), 600.0 / 1350);
        QVERIFY(near(frameInches(), inches));
        pane->resize(800, 300);
        QCOMPARE(scan->previewImageScale(), 300.0 / 1350);
        QVERIFY(near(frameInches(), inches));

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
        QVERIFY(near(frameInches(), QRectF(10.0 / 75, 20.0 / 75, 100.0 / 75, 50.0 / 75)));
    }

    // A frame over the whole of a letter-size preview in a pane of about 570 × 780 points.
    void timesTheProcessedCropOfAFullPaneFrame()
    {
        pane->setPreviewImage(gradientPreview(1275, 1755));
        place(QSize(570, 780));
        scan->setPreviewRect(QRectF(QPointF(), QSizeF(1275, 1755) * scan->previewImageScale()));
        QCoreApplication::processEvents();
        const int computed = pane->processedCropCount();
        QElapsedTimer timer;
        timer.start();
        for (int i = 1; i <= 10; i++) {
            image->setExposure(0.1 * i);
            QCoreApplication::processEvents();
            face()->repaint();
        }
        qInfo("processing and painting the crop of a %d x %d frame: %.1f ms each",
              scan->previewRect().toAlignedRect().width(), scan->previewRect().toAlignedRect().height(),
              timer.nsecsElapsed() / 1e7);
        QCOMPARE(pane->processedCropCount(), computed + 10);
    }
};

LF_GUI_TEST_MAIN(PreviewPaneTest)
#include "test_preview_pane.moc"
