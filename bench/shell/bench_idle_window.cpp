// What an idle main window costs: the window with a letter-size preview and a scan frame over all of
// it (or a small one), shown and left alone while the dashes of the frame march. Prints the
// process's CPU time as a share of one core over the measured seconds, and how often and how much
// of the preview face was repainted.
//
//   bench_idle_window [SECONDS] [full|small|none|connect]
//
// "none" shows no preview, so no frame: what the rest of the window costs. "connect" is the connect
// screen instead, after an attempt through the driver bundle as built has found no scanner (none is
// attached to a machine that runs this, unless it runs under the simulated scanner): what the
// screen costs while it waits for the user's Close or Connect; it prints the text shown.
//
// Runs on the platform Qt picks (QT_QPA_PLATFORM=offscreen without a display; under xvfb-run it
// draws through X as a desktop would); QT_SCALE_FACTOR=2 gives a device pixel ratio of 2.
#include "app_settings.h"
#include "content_view.h"
#include "hand_made_scanner.h"
#include "image_settings.h"
#include "output_settings.h"
#include "paint_counter.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "splash_screen_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <vips/vips8>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

using namespace lumenfield;

namespace {

// The connect screen once an attempt has failed, left alone for `seconds`.
int idleConnectScreen(double seconds)
{
    QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
    ScanManager manager;
    manager.setScanner(std::make_shared<QuorvaneScanner>(std::filesystem::path(LF_DRIVER_FOLDER)));
    SplashScreenView splash(manager, [] {});
    splash.show();
    double cpuStart = 0;
    QElapsedTimer wall;
    PaintCounter counter;
    splash.installEventFilter(&counter);
    for (QWidget* child : splash.findChildren<QWidget*>()) child->installEventFilter(&counter);
    int paintsStart = 0;
    QTimer poll;
    // Measured from a second after the attempt has failed: the bar has faded out by then.
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (splash.isConnecting()) return;
        poll.stop();
        QTimer::singleShot(1000, [&] {
            cpuStart = processCpuSeconds();
            paintsStart = counter.paints;
            wall.start();
            QTimer::singleShot(int(seconds * 1000), [] { QApplication::quit(); });
        });
    });
    poll.start(50);
    const int status = QApplication::exec();
    manager.waitForWorker();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpuSeconds() - cpuStart;
    const int paints = counter.paints - paintsStart;
    std::printf("platform %s, connect screen: \"%s\"\n", qPrintable(QGuiApplication::platformName()),
                qPrintable(splash.failureText().remove(QChar(0x200B))));
    std::printf("idle %.1f s: CPU %.3f s = %.2f %% of a core; %d paints of the window's widgets (%.1f per second)\n",
                elapsed, cpu, 100.0 * cpu / elapsed, paints, paints / elapsed);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const char* kind = argc > 2 ? argv[2] : "full";
    const bool full = std::strcmp(kind, "full") == 0;
    const bool none = std::strcmp(kind, "none") == 0;
    const bool connectScreen = std::strcmp(kind, "connect") == 0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: %s [SECONDS] [full|small|none|connect]\n", argv[0]);
        return 2;
    }
    // A home of its own: the window's settings objects make their default folders.
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8());
    if (VIPS_INIT(argv[0]) != 0) return 1;
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (connectScreen) return idleConnectScreen(seconds);

    ScanManager manager;
    AppSettings appSettings;
    ScanSettings scanSettings;
    ImageSettings imageSettings;
    ScanFrameCrop frameCrop;
    OutputSettings outputSettings;
    manager.setScanner(handMadeScanner());
    manager.setScanStatus(0);

    ContentView window(manager, appSettings, scanSettings, imageSettings, frameCrop, outputSettings, [] {});
    // A letter-size page at the preview resolution.
    if (!none) window.controller().setRawPreview(1, gradientPreview(1275, 1755));
    window.resize(1480, 1000);
    window.show();

    PaintCounter counter;
    QWidget* face = window.previewPane()->findChild<QWidget*>(QStringLiteral("imageFace"));
    if (!face) return 1;
    face->installEventFilter(&counter);

    double cpuStart = 0;
    QElapsedTimer wall;
    int paintsStart = 0;
    qint64 areaStart = 0;
    QSizeF frameSize;
    // Settle first (layout, the first paint, the processed crop), then measure.
    QTimer::singleShot(500, [&] {
        const QSizeF drawn = QSizeF(1275, 1755) * scanSettings.previewImageScale();
        scanSettings.setPreviewRect(full ? QRectF(QPointF(), drawn) : QRectF(40, 40, 150, 100));
        frameSize = scanSettings.previewRect().size();
    });
    int cropsStart = 0;
    // Three seconds for the processed crop and the first paints at the new frame, on a busy machine.
    QTimer::singleShot(3500, [&] {
        cropsStart = window.previewPane()->processedCropCount();
        cpuStart = processCpuSeconds();
        paintsStart = counter.paints;
        areaStart = counter.totalArea;
        wall.start();
        QTimer::singleShot(int(seconds * 1000), [&] { QApplication::quit(); });
    });
    const int status = QApplication::exec();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpuSeconds() - cpuStart;
    const int paints = counter.paints - paintsStart;
    const int crops = window.previewPane()->processedCropCount() - cropsStart;
    const double area = double(counter.totalArea - areaStart);
    std::printf("platform %s, device pixel ratio %.1f, ", qPrintable(QGuiApplication::platformName()),
                window.devicePixelRatioF());
    if (none)
        std::printf("no preview\n");
    else
        std::printf("%s frame %.0f x %.0f points\n", full ? "full-area" : "small", frameSize.width(),
                    frameSize.height());
    std::printf("idle %.1f s: CPU %.3f s = %.2f %% of a core; %d paints of the preview face (%.1f per second), "
                "%.0f square points each; %d processed crops\n",
                elapsed, cpu, 100.0 * cpu / elapsed, paints, paints / elapsed, paints ? area / paints : 0.0, crops);
    return status;
}
