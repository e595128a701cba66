// The connect screen, the main window and the application object on the offscreen platform: the
// connect attempts on the scriptable fake driver, the toolbar and the columns, the settings loaded
// and stored, and every way out of the program, with its event loop running.
#include "app_settings.h"
#include "app_settings_view.h"
#include "content_view.h"
#include "fake_driver.h"
#include "gui_test.h"
#include "hand_made_scanner.h"
#include "image_settings.h"
#include "lumenfield_app.h"
#include "output_settings.h"
#include "panel_style.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "splash_screen_view.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {

using fake::FakeDriver;
using namespace std::chrono_literals;

template <typename T = QWidget>
T* child(const QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

double progressOpacity(const SplashScreenView& splash)
{
    return static_cast<QGraphicsOpacityEffect*>(child<QProgressBar>(&splash, "connectProgress")->graphicsEffect())
        ->opacity();
}

QString statusMessage(const SplashScreenView& splash)
{
    return child<QLabel>(&splash, "statusMessage")->text();
}

bool failureButtonsShown(const SplashScreenView& splash)
{
    return child(&splash, "closeButton")->isVisibleTo(&splash) &&
           child(&splash, "connectButton")->isVisibleTo(&splash);
}

const QString failureText = QStringLiteral("Please make sure the scanner is turned on, and connected to your mac.");

// The program's event loop with `action` as its first event, for at most 20 s.
int runUntilQuit(const std::function<void()>& action)
{
    return runEventLoopUntilQuit(action, 20000);
}

QByteArray storeBytes()
{
    QFile file(QSettings().fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class AppTest : public QObject {
    Q_OBJECT

    FakeDriver& driver = FakeDriver::instance();
    std::unique_ptr<fake::DriverFolder> drivers;

    std::shared_ptr<QuorvaneScanner> fakeScanner() const
    {
        return std::make_shared<QuorvaneScanner>(drivers->path());
    }

    // The shared objects of a main window, with its scanner made by hand.
    struct Window {
        ScanManager manager;
        AppSettings app;
        ScanSettings scan;
        ImageSettings image;
        OutputSettings output;
        int settingsOpened = 0;
        ContentView view{manager, app, scan, image, output, [this] { settingsOpened++; }};
    };
    std::unique_ptr<Window> makeWindow()
    {
        auto window = std::make_unique<Window>();
        window->manager.setScanner(handMadeScanner(1));
        window->manager.setScanStatus(rawValue(VekScanStatus::ready));
        return window;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_shell_app") == 0); }

    void init()
    {
        driver.reset();
        drivers = std::make_unique<fake::DriverFolder>();
        drivers->add("FakeAlpha");
        QSettings store;
        store.clear();
        store.sync();
    }

    void cleanup() { drivers.reset(); }

    void connectFailsAndConnectTriesAgainWithTheSameScanner()
    {
        driver.defaults.devices.clear();
        ScanManager manager;
        const std::shared_ptr<QuorvaneScanner> scanner = fakeScanner();
        manager.setScanner(scanner);
        int opened = 0;
        SplashScreenView splash(manager, [&] { opened++; });
        QElapsedTimer waited;
        waited.start();
        splash.show();
        QCOMPARE(splash.windowTitle(), QString());
        QCOMPARE(splash.size(), QSize(500, 310));
        QCOMPARE(child<QLabel>(&splash, "productName")->text(), QStringLiteral("Lumenfield"));
        QCOMPARE(SplashScreenView::productName(QString()), QStringLiteral("Lumenfield"));
        QCOMPARE(SplashScreenView::productName(QStringLiteral("Other")), QStringLiteral("Other"));
        QCOMPARE(statusMessage(splash), QStringLiteral("Connecting..."));
        QCOMPARE(progressOpacity(splash), 1.0);
        QVERIFY(!failureButtonsShown(splash));
        saveSnapshot(&splash, QStringLiteral("connect-connecting"));

        for (int attempt = 1; attempt <= 2; attempt++) {
            QVERIFY(QTest::qWaitFor([&] { return !splash.isConnecting(); }, 5000));
            QVERIFY2(waited.elapsed() >= 950, "the driver is loaded a second after the attempt starts");
            QCOMPARE(statusMessage(splash), failureText);
            QVERIFY(failureButtonsShown(splash));
            QTRY_COMPARE(progressOpacity(splash), 0.0);
            if (attempt == 1) saveSnapshot(&splash, QStringLiteral("connect-failed"));
            // One load per attempt, on the worker, always through the same bridge object.
            const std::vector<fake::Call> trace = driver.trace();
            QCOMPARE(int(std::count_if(trace.begin(), trace.end(),
                                       [](const fake::Call& c) { return c.compact() == "open"; })),
                     attempt);
            QVERIFY(trace.front().thread != std::this_thread::get_id());
            QCOMPARE(manager.scanner(), scanner);
            QCOMPARE(manager.scanStatus(), rawValue(VekScanStatus::notConnected));
            if (attempt == 2) break;
            waited.restart();
            QTest::mouseClick(child<QPushButton>(&splash, "connectButton"), Qt::LeftButton);
            QVERIFY(splash.isConnecting());
            QCOMPARE(statusMessage(splash), QStringLiteral("Connecting..."));
            QVERIFY(!failureButtonsShown(splash));
            QTRY_COMPARE(progressOpacity(splash), 1.0);
        }
        QCOMPARE(opened, 0);
    }

    void connectOpensTheMainWindowReadyThenCloses()
    {
        ScanManager manager;
        manager.setScanner(fakeScanner());
        QPointer<SplashScreenView> splash;
        qint64 statusAtOpen = -1;
        bool splashShownAtOpen = false;
        splash = new SplashScreenView(manager, [&] {
            statusAtOpen = manager.scanStatus();
            splashShownAtOpen = splash && splash->isVisible();
        });
        splash->setAttribute(Qt::WA_DeleteOnClose);
        splash->show();
        QTRY_VERIFY_WITH_TIMEOUT(!splash, 5000);
        QCOMPARE(statusAtOpen, rawValue(VekScanStatus::ready));
        QVERIFY(splashShownAtOpen);
        manager.runOnWorker([scanner = manager.scanner()] { scanner->unloadDriver(); });
        manager.waitForWorker();
    }

    void exposureIndicator()
    {
        const std::unique_ptr<Window> w = makeWindow();
        auto* indicator = child(&w->view, "exposureIndicator");
        auto* text = child<QLabel>(indicator, "exposureText");
        const QColor secondary = ui::secondaryColor(w->view.palette());
        const struct {
            qint64 ratio;
            const char* text;
        } rows[] = {{100, "1.0"}, {150, "1.5"}, {125, "1.2"}, {95, "0.9"}, {0, "0.0"}};
        for (const auto& row : rows) {
            w->app.setExposureRatio(row.ratio);
            QCOMPARE(text->text(), QLatin1String(row.text));
            const bool normal = row.ratio == 100;
            QCOMPARE(text->palette().color(QPalette::WindowText), normal ? secondary : ui::pink());
            QCOMPARE(indicator->toolTip(), normal ? QString() : ContentView::exposureWarning());
        }
        w->app.setExposureRatio(150);
        w->view.show();
        saveSnapshot(child<QToolBar>(&w->view, "toolbar"), QStringLiteral("toolbar-exposure-150"));
    }

    void toolbarFollowsTheSessionAndTheSources()
    {
        const std::unique_ptr<Window> w = makeWindow();
        ContentController& controller = w->view.controller();
        auto* settings = child<QToolButton>(&w->view, "settingsButton");
        auto* preview = child<QToolButton>(&w->view, "previewButton");
        auto* scan = child<QToolButton>(&w->view, "scanButton");
        auto* directory = child<QToolButton>(&w->view, "openDirectoryButton");
        auto* badge = child<QLabel>(&w->view, "productBadge");

        // No preview of the current source yet.
        QVERIFY(settings->isEnabled() && preview->isEnabled() && !scan->isEnabled());
        controller.setRawPreview(1, gradientPreview(40, 30));
        QVERIFY(scan->isEnabled());
        for (qint64 status = 1; status <= 4; status++) {
            w->manager.setScanStatus(status);
            QVERIFY(!settings->isEnabled() && !preview->isEnabled() && !scan->isEnabled());
            QVERIFY(directory->isEnabled());
        }
        w->manager.setScanStatus(rawValue(VekScanStatus::stopped));
        QVERIFY(settings->isEnabled() && preview->isEnabled() && scan->isEnabled());

        // The pane shows the preview of the current source, the reflective one for any other.
        controller.setRawPreview(3, gradientPreview(30, 20));
        controller.setRawPreview(4, gradientPreview(20, 10));
        const struct {
            qint64 source;
            QSize shown;
        } sources[] = {{3, {30, 20}}, {4, {20, 10}}, {1, {40, 30}}, {2, {40, 30}}};
        for (const auto& row : sources) {
            w->scan.setScanSourceRawValue(row.source);
            QCOMPARE(w->view.previewPane()->previewImage().size(), row.shown);
        }
        controller.setRawPreview(1, gradientPreview(50, 30));
        QCOMPARE(w->view.previewPane()->previewImage().size(), QSize(50, 30));

        QCOMPARE(badge->text(), QStringLiteral("Velquor K5200"));
        w->manager.setScanner(handMadeScanner(1, 2));
        QCOMPARE(badge->text(), QStringLiteral("Tessaly K7700 Plus"));
        w->manager.setScanner(nullptr);
        QCOMPARE(badge->text(), QStringLiteral("Quorvane Scanner"));

        struct Recorder : FileOpener {
            QStringList opened;
            void open(const QString& path) override { opened << path; }
        };
        auto opener = std::make_shared<Recorder>();
        controller.setFileOpener(opener);
        QTest::mouseClick(directory, Qt::LeftButton);
        QCOMPARE(opener->opened, QStringList{w->output.directoryPath()});
        QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(w->settingsOpened, 1);
    }

    void columnsKeepTheirWidth()
    {
        const std::unique_ptr<Window> w = makeWindow();
        w->view.controller().setRawPreview(1, gradientPreview(850, 1170));
        w->view.show();
        w->scan.setPreviewRect(QRectF(60, 80, 300, 200));
        QCoreApplication::processEvents();
        for (const QSize size : {w->view.minimumSizeHint(), QSize(2600, 1500)}) {
            w->view.resize(size);
            QCoreApplication::processEvents();
            // The column's own width less its padding: its layout may still be waiting to be redone
            // for what the resize changed in the panels.
            for (const char* column : {"leftColumn", "rightColumn"}) {
                const QWidget* box = child(&w->view, column);
                const QMargins padding = box->layout()->contentsMargins();
                QCOMPARE(box->width() - padding.left() - padding.right(), 400);
            }
            const QSize area = child(&w->view, "previewArea")->size();
            QVERIFY(area.width() >= 600 && area.height() >= 800);
        }
        w->view.resize(w->view.minimumSizeHint());
        saveSnapshot(&w->view, QStringLiteral("main-window"));
    }

    void appSettingsLoad()
    {
        LumenfieldApp app;
        AppSettings& options = app.appSettings();
        QSettings store;
        for (const uint8_t support : {1, 0}) {
            app.scanManager().setScanner(handMadeScanner(support));
            options.setShowPreviousPreview(false);
            options.setScanQuality(VekScanQuality(1));
            app.loadAppSettings(store);
            QVERIFY(options.isShowPreviousPreview() && options.isOpenImageAfterScan() &&
                    options.isResetSuffixForNewDay());
            QCOMPARE(options.exposureRatio(), 100);
            QCOMPARE(options.scanQualityRawValue(), 8);
            QCOMPARE(options.calibrationModeRawValue(), support ? 0 : 1);
        }
        app.scanManager().setScanner(nullptr);
        app.loadAppSettings(store);
        QCOMPARE(options.calibrationModeRawValue(), 1);

        store.setValue("scanQuality", 3);
        options.setExposureRatio(150);
        app.loadAppSettings(store);
        QCOMPARE(options.scanQualityRawValue(), 3);
        QCOMPARE(options.exposureRatio(), 150);
    }

    // Close on the connect screen quits and leaves the store as it was.
    void closeOnTheConnectScreen()
    {
        driver.defaults.devices.clear();
        {
            QSettings seeded;
            seeded.setValue("exposureRatio", 125);
            seeded.setValue("suffixNumber", 4);
        }
        const QByteArray before = storeBytes();
        QVERIFY(!before.isEmpty());
        LumenfieldApp app;
        app.scanManager().setScanner(fakeScanner());
        app.start();
        QVERIFY(QTest::qWaitFor([&] { return app.splashWindow() && !app.splashWindow()->isConnecting(); }, 5000));
        const int status = runUntilQuit(
            [&] { QTest::mouseClick(child<QPushButton>(app.splashWindow(), "closeButton"), Qt::LeftButton); });
        QCOMPARE(status, 0);
        QVERIFY(!app.mainWindow());
        QCOMPARE(storeBytes(), before);
    }

    // Closing the main window, a quit (also from SIGTERM) and a close during a scan all store the
    // options and the panels, stop the scan and unload the driver.
    void waysOut_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("close") << QStringLiteral("close");
        QTest::newRow("quit") << QStringLiteral("quit");
        QTest::newRow("sigterm") << QStringLiteral("sigterm");
        QTest::newRow("close during a read") << QStringLiteral("scan");
    }
    void waysOut()
    {
        QFETCH(QString, way);
        {
            // A date prefix of another day: the suffix stays only when the options are loaded first.
            QSettings seeded;
            seeded.setValue("resetFilenameSuffix", false);
            seeded.setValue("prefixType", 0);
            seeded.setValue("prefix", "20000101");
            seeded.setValue("suffixNumber", 9);
        }
        driver.scan.geometry = SEImageInfo{120, 400, 360};
        driver.scan.linesPerRead = 50;
        driver.scan.delay = 300ms;
        LumenfieldApp app;
        app.scanManager().setScanner(fakeScanner());
        app.start();
        QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow() && app.mainWindow()->isVisible() && !app.splashWindow(), 5000);
        ContentView* window = app.mainWindow();
        QCOMPARE(window->objectName(), QStringLiteral("main-window"));
        QCOMPARE(app.outputSettings().suffixNumber(), 9);

        // Settings opens one preferences window, and raises it when it is open.
        auto* settingsButton = child<QToolButton>(window, "settingsButton");
        QTest::mouseClick(settingsButton, Qt::LeftButton);
        QPointer<AppSettingsView> preferences = app.settingsWindow();
        QVERIFY(preferences && preferences->isVisible());
        QCOMPARE(preferences->objectName(), QStringLiteral("settings-window"));
        QTest::mouseClick(settingsButton, Qt::LeftButton);
        QCOMPARE(app.settingsWindow(), preferences.data());

        app.appSettings().setExposureRatio(150);
        app.outputSettings().setSuffixNumber(12);
        if (way == "scan") {
            QTest::mouseClick(child<QToolButton>(window, "previewButton"), Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([&] { return driver.entered(SE_CMD_READ_LINES) > 0; }, 5000));
        }
        const std::size_t traced = driver.traceSize();
        const int status = runUntilQuit([&] {
            if (way == "sigterm")
                ::kill(::getpid(), SIGTERM);
            else if (way == "quit")
                QCoreApplication::quit();
            else
                window->close();
        });
        QCOMPARE(status, 0);
        QVERIFY(!preferences || !preferences->isVisible());

        QSettings store;
        const struct {
            const char* key;
            QVariant value;
        } stored[] = {{"showPreviousPreview", true}, {"openImageAfterScan", true}, {"resetFilenameSuffix", false},
                      {"exposureRatio", 150},        {"scanQuality", 8},         {"calibrationMode", 0},
                      {"suffixNumber", 12},          {"resolution", 150}};
        for (const auto& row : stored) QCOMPARE(store.value(row.key).toString(), row.value.toString());

        // After the read in flight: the stop command, then the driver's end.
        const std::vector<std::string> trace = driver.compactTrace(traced);
        QVERIFY(!trace.empty());
        QCOMPARE(trace.back(), std::string("close"));
        const bool stopped =
            std::any_of(trace.begin(), trace.end(), [](const std::string& call) { return call.starts_with("33"); });
        QCOMPARE(stopped, way == "scan");
    }
};

LF_GUI_TEST_MAIN(AppTest)
#include "test_app.moc"
