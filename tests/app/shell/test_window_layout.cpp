// The main window measured on the offscreen platform: its smallest size, where its panels sit in a
// window taller than they need, and what the window does while nobody touches it: the dashes of
// the scan frame march, and nothing else is drawn again. Run at a device pixel ratio of 1 and of 2
// (QT_SCALE_FACTOR); the pictures it saves carry the ratio in their names.
#include "app_settings.h"
#include "content_view.h"
#include "gui_test.h"
#include "hand_made_scanner.h"
#include "image_settings.h"
#include "image_settings_view.h"
#include "layout_checks.h"
#include "output_settings.h"
#include "output_settings_view.h"
#include "paint_counter.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scan_settings_view.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLayout>
#include <QMenuBar>
#include <QTimer>

#include <memory>

using namespace lumenfield;

namespace {

// Two columns 400 wide with 16 of padding on every side, 8 between the three parts, and a preview
// area at least 600 × 800.
constexpr int columnWidth = 400;
constexpr int padding = 16;
constexpr int minimumWindowWidth = 2 * (columnWidth + 2 * padding) + 2 * 8 + 600;
constexpr int minimumAreaHeight = 800;

// The share of a core an idle window may take in this build.
#ifdef __SANITIZE_ADDRESS__
constexpr double cpuBound = 0.30;
#else
constexpr double cpuBound = 0.10;
#endif

// A preview of one flat grey.
vips::VImage greyPreview(int width, int height)
{
    return (vips::VImage::black(width, height, vips::VImage::option()->set("bands", 3)) + 128)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .copy_memory();
}

// A preview of one-pixel columns, black and white in turn.
vips::VImage stripedPreview(int width, int height)
{
    const vips::VImage x = vips::VImage::xyz(width, height)[0];
    const vips::VImage level = ((x & 1) * 255).cast(VIPS_FORMAT_UCHAR);
    return level.bandjoin(level)
        .bandjoin(level)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .copy_memory();
}

// Whether the device pixel (x, y) of a grab of a widget lies within `reach` points of the outline
// of `frame`.
bool nearOutline(int x, int y, double ratio, const QRectF& frame, double reach)
{
    const QPointF p((x + 0.5) / ratio, (y + 0.5) / ratio);
    const QRectF outer = frame.adjusted(-reach, -reach, reach, reach);
    const QRectF inner = frame.adjusted(reach, reach, -reach, -reach);
    return outer.contains(p) && !inner.contains(p);
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

    struct Window {
        ScanManager manager;
        AppSettings app;
        ScanSettings scan;
        ImageSettings image;
        ScanFrameCrop crop;
        OutputSettings output;
        ContentView view{manager, app, scan, image, crop, output, [] {}};

        template <typename T = QWidget> T* child(const char* name) const
        {
            return view.findChild<T*>(QLatin1String(name));
        }
        QWidget* face() const { return view.previewPane()->findChild<QWidget*>(QStringLiteral("imageFace")); }
    };
    std::unique_ptr<Window> w;

    // Runs the event loop for `ms` milliseconds and nothing else (QTest::qWait would poll).
    static void idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QString pictureName(const char* name) const
    {
        const double ratio = w->view.devicePixelRatioF();
        return QString::fromLatin1(name) + (ratio == 1.0 ? QString() : QStringLiteral("@%1x").arg(ratio));
    }
    // The frame over the whole of the preview as drawn.
    void frameTheWholePreview(QSizeF previewPixels)
    {
        w->scan.setPreviewRect(QRectF(QPointF(), previewPixels * w->scan.previewImageScale()));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_window_layout") == 0); }

    void init()
    {
        w = std::make_unique<Window>();
        w->manager.setScanner(handMadeScanner());
        w->manager.setScanStatus(rawValue(VekScanStatus::ready));
        w->view.controller().setRawPreview(1, gradientPreview(1275, 1755));
        w->view.resize(minimumWindowWidth, 1400);
        w->view.show();
        settleLayouts();
    }
    void cleanup() { w.reset(); }

    // The window goes no smaller than the two columns and the preview area's least size: the
    // panels of either column fit in its height.
    void minimumSizeIsTheColumnsAndThePreviewArea()
    {
        QWidget* left = w->child("leftColumn");
        QWidget* right = w->child("rightColumn");
        QVERIFY(left->sizeHint().height() <= minimumAreaHeight && right->sizeHint().height() <= minimumAreaHeight);
        const int toolbar = w->child("toolbar")->height();
        const int menus = w->view.menuBar()->isNativeMenuBar() ? 0 : w->view.menuBar()->sizeHint().height();
        w->view.resize(100, 100);
        settleLayouts();
        QCOMPARE(w->view.size(), QSize(minimumWindowWidth, menus + toolbar + minimumAreaHeight));
        QCOMPARE(w->child("previewArea")->size(), QSize(600, minimumAreaHeight));
        QCOMPARE(left->height(), minimumAreaHeight);
        QVERIFY(!saveSnapshot(&w->view, pictureName("main-window-smallest")).isEmpty());
    }

    // However tall the window, the panels keep their own height at the top of their columns, in
    // every colour type, method and mode, and the columns' spacers take the rest.
    void panelsSitAtTheTopOfTheirColumns()
    {
        const auto spacerBelow = [](QWidget* column, QWidget* panel) {
            QLayout* layout = column->layout();
            QSpacerItem* spacer = layout->itemAt(layout->count() - 1)->spacerItem();
            QVERIFY(spacer);
            QCOMPARE(spacer->geometry().top(), panel->geometry().bottom() + 1);
            QCOMPARE(spacer->geometry().bottom(), column->height() - padding - 1);
        };
        auto* scanPanel = w->view.findChild<ScanSettingsView*>();
        auto* imagePanel = w->view.findChild<ImageSettingsView*>();
        auto* outputPanel = w->view.findChild<OutputSettingsView*>();
        const struct {
            VekColorType colorType;
            AdjustmentMethod method;
            BWMode mode;
            const char* picture;
        } cases[] = {{VekColorType::color, AdjustmentMethod::manual, BWMode::automatic, "main-window-tall-color"},
                     {VekColorType::gray, AdjustmentMethod::manual, BWMode::automatic, nullptr},
                     {VekColorType::blackAndWhite, AdjustmentMethod::manual, BWMode::manual, "main-window-tall-bw"},
                     {VekColorType::blackAndWhite, AdjustmentMethod::manual, BWMode::automatic, nullptr},
                     {VekColorType::color, AdjustmentMethod::raw, BWMode::automatic, "main-window-tall-raw"},
                     {VekColorType::color, AdjustmentMethod::manual, BWMode::automatic, nullptr}};
        for (const auto& c : cases) {
            w->scan.setColorType(c.colorType);
            w->image.setAdjustmentMethod(c.method);
            w->image.setBwMode(c.mode);
            settleLayouts();
            QCOMPARE(scanPanel->geometry(), QRect(padding, padding, columnWidth, naturalHeight(scanPanel)));
            QCOMPARE(
                imagePanel->geometry(),
                QRect(padding, scanPanel->geometry().bottom() + 1 + padding, columnWidth, naturalHeight(imagePanel)));
            spacerBelow(w->child("leftColumn"), imagePanel);
            QCOMPARE(outputPanel->geometry(), QRect(padding, padding, columnWidth, naturalHeight(outputPanel)));
            spacerBelow(w->child("rightColumn"), outputPanel);
            if (c.picture) QVERIFY(!saveSnapshot(&w->view, pictureName(c.picture)).isEmpty());
        }
    }

    // Left alone with a frame over the whole preview, the window draws the dashes' band again ten
    // times a second at most, never the picture inside the frame, and computes nothing.
    void idleWindowRepaintsOnlyTheDashes()
    {
        frameTheWholePreview(QSizeF(1275, 1755));
        QTest::qWait(300);
        const int computed = w->view.previewPane()->processedCropCount();
        PaintCounter counter;
        w->face()->installEventFilter(&counter);
        const double cpuStart = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        idle(2500);
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double cpu = processCpuSeconds() - cpuStart;
        w->face()->removeEventFilter(&counter);

        const QRectF frame = w->scan.previewRect();
        const double perimeter = 2 * (frame.width() + frame.height());
        qInfo("idle %.1f s: %d paints, the largest %lld square points (the frame covers %.0f), CPU %.1f %% of a core",
              seconds, counter.paints, counter.largestArea, frame.width() * frame.height(), 100 * cpu / seconds);
        QVERIFY2(counter.paints >= 3, "the dashes march");
        QVERIFY(counter.paints <= seconds * 10 + 2);
        // A band a few points wide along the outline, corners included.
        QVERIFY(counter.largestArea <= qint64((perimeter + 32) * 6));
        QCOMPARE(w->view.previewPane()->processedCropCount(), computed);
        // Far above what the idle window takes, below what repainting the frame's area at the
        // screen's rate took; process CPU time, which a busy machine does not inflate much. The
        // sanitizers' checks make every step a few times dearer.
        QVERIFY2(cpu / seconds < cpuBound, qPrintable(QStringLiteral("%1 % of a core").arg(100 * cpu / seconds)));
    }

    // Between two moments the dashes have moved, and nothing but the outline's band differs. On a
    // busy machine a step can come late or a processed crop can land between the two pictures:
    // those pairs are taken again, a few times at most.
    void dashesMarchOverAnUnchangedPicture()
    {
        frameTheWholePreview(QSizeF(1275, 1755));
        QTest::qWait(300);
        const QRectF frame = w->scan.previewRect();
        bool moved = false;
        for (int attempt = 0; attempt < 8 && !moved; attempt++) {
            const int computed = w->view.previewPane()->processedCropCount();
            const QImage before = w->face()->grab().toImage();
            QTest::qWait(250);
            const QImage after = w->face()->grab().toImage();
            if (w->view.previewPane()->processedCropCount() != computed) continue;
            QCOMPARE(after.size(), before.size());
            const double ratio = before.devicePixelRatio();
            int differing = 0;
            for (int y = 0; y < before.height(); y++)
                for (int x = 0; x < before.width(); x++) {
                    if (before.pixel(x, y) == after.pixel(x, y)) continue;
                    QVERIFY2(nearOutline(x, y, ratio, frame, 3), qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
                    differing++;
                }
            moved = differing > frame.width() * ratio;
        }
        QVERIFY2(moved, "the dashes did not move");
    }

    // On a flat preview, every device pixel along a frame at fractional coordinates is either a
    // dash's yellow or the picture under it: the dashes have sharp edges at any pixel ratio.
    void dashesAreWholeDevicePixels()
    {
        w->view.controller().setRawPreview(1, greyPreview(1275, 1755));
        w->scan.setPreviewRect(QRectF(40.3, 50.7, 200.45, 150.2));
        QTest::qWait(300);
        const QImage picture = w->face()->grab().toImage();
        const double ratio = picture.devicePixelRatio();
        const QRectF frame = w->scan.previewRect();
        const QRgb outside = picture.pixel(int(20 * ratio), int(20 * ratio));
        const QRgb inside = picture.pixel(int(frame.center().x() * ratio), int(frame.center().y() * ratio));
        const QRgb yellow = QColor(0xFF, 0xCC, 0x00).rgb();
        int dashPixels = 0;
        for (int y = 0; y < picture.height(); y++)
            for (int x = 0; x < picture.width(); x++) {
                if (!nearOutline(x, y, ratio, frame, 3)) continue;
                const QRgb pixel = picture.pixel(x, y);
                QVERIFY2(pixel == yellow || pixel == outside || pixel == inside,
                         qPrintable(QStringLiteral("(%1, %2) is %3").arg(x).arg(y).arg(pixel, 8, 16)));
                dashPixels += pixel == yellow;
            }
        // Half the outline, two points wide.
        const double perimeter = 2 * (frame.width() + frame.height());
        QVERIFY(std::abs(dashPixels - perimeter * ratio * ratio) < perimeter * ratio * ratio * 0.1);
        QVERIFY(!saveSnapshot(w->view.previewPane(), pictureName("pane-dashes")).isEmpty());
    }

    // A preview with as many pixels as the pane has device pixels is drawn one to one: its
    // one-pixel columns stay black and white at any pixel ratio.
    void previewIsDrawnAtTheScreensResolution()
    {
        const double ratio = w->view.devicePixelRatioF();
        const QSize pane = w->view.previewPane()->size();
        w->view.controller().setRawPreview(1, stripedPreview(int(pane.width() * ratio), int(pane.height() * ratio)));
        w->scan.setPreviewRect(QRectF(10, 10, 40, 40));
        QTest::qWait(300);
        QCOMPARE(w->scan.previewImageScale(), 1 / ratio);
        const QImage picture = w->face()->grab().toImage();
        const int y = int(pane.height() / 2 * ratio);
        int sharp = 0;
        int counted = 0;
        // Away from the image's border and from the frame.
        for (int x = int(100 * ratio); x < int((pane.width() - 20) * ratio); x++) {
            const QRgb pixel = picture.pixel(x, y);
            counted++;
            sharp += pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255);
        }
        QVERIFY2(sharp == counted, qPrintable(QStringLiteral("%1 of %2 pixels sharp").arg(sharp).arg(counted)));
    }
};

LF_GUI_TEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"
