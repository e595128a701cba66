// The connect screen, the main window and the application object on the offscreen platform: the
// connect attempts on the scriptable fake driver, the toolbar and the columns, the settings loaded
// and stored, and every way out of the program, with its event loop running.
#include "app_settings.h"
#include "app_settings_view.h"
#include "content_view.h"
#include "failure_messages.h"
#include "fake_driver.h"
#include "gui_test.h"
#include "hand_made_scanner.h"
#include "image_file.h"
#include "image_settings.h"
#include "layout_checks.h"
#include "lumenfield_app.h"
#include "output_file_name.h"
#include "output_settings.h"
#include "paint_counter.h"
#include "panel_style.h"
#include "preview_cache.h"
#include "preview_geometry.h"
#include "preview_image_view.h"
#include "preview_images.h"
#include "scan_manager.h"
#include "scan_frame_rules.h"
#include "scan_settings.h"
#include "splash_screen_view.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QLayout>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include <unistd.h>

using namespace lumenfield;

namespace {

using fake::FakeDriver;
using namespace std::chrono_literals;

template <typename T = QWidget> T* child(const QWidget* parent, const char* name)
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

// What keeps the status text from being shown whole, inside the window and above the buttons: in
// words, or empty when nothing does.
QString textFits(const SplashScreenView& splash)
{
    const auto* label = child<QLabel>(&splash, "statusMessage");
    const int needed = label->heightForWidth(label->width());
    if (label->height() < needed)
        return QStringLiteral("the text needs %1 px, the label has %2").arg(needed).arg(label->height());
    const QRect text(label->mapTo(&splash, QPoint(0, 0)), label->size());
    if (!splash.rect().contains(text)) return QStringLiteral("the label reaches out of the window");
    const QWidget* close = child(&splash, "closeButton");
    if (close->isVisible() && text.bottom() >= close->mapTo(&splash, QPoint(0, 0)).y())
        return QStringLiteral("the label reaches the buttons");
    return QString();
}

bool failureButtonsShown(const SplashScreenView& splash)
{
    return child(&splash, "closeButton")->isVisibleTo(&splash) && child(&splash, "connectButton")->isVisibleTo(&splash);
}

const QString failureText =
    QStringLiteral("No scanner was found. Please make sure the scanner is turned on, and connected to this computer.");

// The label's text without the breaks it may make after each '/' of a path.
QString plainText(const QString& text)
{
    return QString(text).remove(QChar(0x200B));
}

// A new file in place of the one at `path` (never written through: the old one may be mapped).
void overwrite(const std::filesystem::path& path, const QByteArray& bytes)
{
    std::filesystem::remove(path);
    QFile file(QString::fromStdString(path.string()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

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

    std::shared_ptr<QuorvaneScanner> fakeScanner() const { return std::make_shared<QuorvaneScanner>(drivers->path()); }

    // Reads of 50 lines of a 400-line image, 300 ms each: a scan that runs long enough to act on.
    void slowScans()
    {
        driver.scan.geometry = SEImageInfo{120, 400, 360};
        driver.scan.linesPerRead = 50;
        driver.scan.delay = 300ms;
    }
    // The program started on the fake driver, until its main window shows alone.
    bool startConnected(LumenfieldApp& app)
    {
        app.scanManager().setScanner(fakeScanner());
        app.start();
        return QTest::qWaitFor([&] { return app.mainWindow() && app.mainWindow()->isVisible() && !app.splashWindow(); },
                               5000);
    }

    // The shared objects of a main window, with its scanner made by hand.
    struct Window {
        ScanManager manager;
        AppSettings app;
        ScanSettings scan;
        ImageSettings image;
        ScanFrameCrop crop;
        OutputSettings output;
        int settingsOpened = 0;
        ContentView view{manager, app, scan, image, crop, output, [this] { settingsOpened++; }};
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
        auto* progress = child<QProgressBar>(&splash, "connectProgress");
        QVERIFY(progress->isVisible());
        const QRect barPlace = progress->geometry();

        for (int attempt = 1; attempt <= 2; attempt++) {
            QVERIFY(QTest::qWaitFor([&] { return !splash.isConnecting(); }, 5000));
            QVERIFY2(waited.elapsed() >= 950, "the driver is loaded a second after the attempt starts");
            QCOMPARE(statusMessage(splash), failureText);
            QVERIFY(failureButtonsShown(splash));
            QTRY_COMPARE(progressOpacity(splash), 0.0);
            // Left alone, the failed screen draws nothing: the faded bar no longer animates (it is
            // hidden), and keeps its place.
            PaintCounter counter;
            splash.installEventFilter(&counter);
            QTest::qWait(400);
            splash.removeEventFilter(&counter);
            QCOMPARE(counter.paints, 0);
            QVERIFY(!progress->isVisible());
            QCOMPARE(progress->geometry(), barPlace);
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
            QVERIFY(progress->isVisible());
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

    // Each way a connect can fail has its own words, and none names another platform.
    void connectTellsWhyItFailed()
    {
        ScanManager manager;
        const auto attempt = [&](const std::filesystem::path& folder) {
            manager.setScanner(std::make_shared<QuorvaneScanner>(folder));
            auto splash = std::make_unique<SplashScreenView>(manager, [] {});
            splash->show();
            [&] { QVERIFY(QTest::qWaitFor([&] { return !splash->isConnecting(); }, 5000)); }();
            manager.waitForWorker();
            return plainText(statusMessage(*splash));
        };

        // A bundle whose code is damaged.
        overwrite(drivers->code("FakeAlpha", "FakeAlpha"), "not a shared object");
        QString text = attempt(drivers->path());
        const std::string bundle = (drivers->path() / "FakeAlpha.bundle").string();
        QVERIFY2(
            text.startsWith(
                QStringLiteral("The scanner driver could not be loaded from %1: ").arg(QString::fromStdString(bundle))),
            qPrintable(text));
        // A bundle without the entry point.
        fake::DriverFolder noEntry;
        noEntry.add("FakeNoEntry");
        text = attempt(noEntry.path());
        QVERIFY2(text.contains(QStringLiteral("FakeNoEntry.bundle: the driver's code has no entry point SE_main.")),
                 qPrintable(text));
        // No bundle at all: the folder is named.
        QTemporaryDir empty;
        text = attempt(empty.path().toStdString());
        QCOMPARE(text,
                 QStringLiteral("The scanner driver could not be loaded from %1: no driver bundle was found there.")
                     .arg(empty.path()));
        // A driver that lists no scanner (and nothing on the bus).
        fake::DriverFolder working;
        working.add("FakeAlpha");
        driver.defaults.devices.clear();
        text = attempt(working.path());
        QCOMPARE(text, failureText);
        QVERIFY(!text.contains(QStringLiteral("mac")));
    }

    // A damaged driver installed deep in the home folder: the loader's reason is in the window, the
    // home folder is "~", and the window is tall enough for every line of the text. A path longer
    // than the window has room for loses folders from its middle.
    void aDriverThatFailsToLoadIsToldInFull()
    {
        const std::filesystem::path driverFolder = std::filesystem::path(QDir::homePath().toStdString()) /
            "a-folder-with-a-long-name" / "programs-for-scanning" / "Lumenfield.app" / "Contents" / "SharedSupport" /
            "Driver";
        std::filesystem::create_directories(driverFolder);
        fake::DriverFolder damaged;
        damaged.add("FakeAlpha");
        overwrite(damaged.code("FakeAlpha", "FakeAlpha"), QByteArray(256, 'x'));
        std::filesystem::remove_all(driverFolder / "FakeAlpha.bundle");
        std::filesystem::copy(damaged.path() / "FakeAlpha.bundle", driverFolder / "FakeAlpha.bundle",
                              std::filesystem::copy_options::recursive);

        ScanManager manager;
        manager.setScanner(std::make_shared<QuorvaneScanner>(driverFolder));
        SplashScreenView splash(manager, [] {});
        splash.show();
        QVERIFY(QTest::qWaitFor([&] { return !splash.isConnecting(); }, 5000));
        manager.waitForWorker();
        settleLayouts();
        QCOMPARE(plainText(statusMessage(splash)),
                 QStringLiteral("The scanner driver could not be loaded from ~/a-folder-with-a-long-name/"
                                "programs-for-scanning/Lumenfield.app/Contents/SharedSupport/Driver/FakeAlpha.bundle: "
                                "invalid ELF header (Contents/Linux/FakeAlpha.so)."));
        QVERIFY2(textFits(splash).isEmpty(), qPrintable(textFits(splash)));
        QCOMPARE(splash.size(), QSize(500, 310));
        QTRY_VERIFY(!child(&splash, "connectProgress")->isVisible());
        saveSnapshot(&splash, QStringLiteral("connect-driver-failed"));
        // A text that the standard window has no room for makes it taller, not wider.
        splash.showFailure(QStringLiteral("A failure told in many words. ").repeated(12));
        settleLayouts();
        QVERIFY2(textFits(splash).isEmpty(), qPrintable(textFits(splash)));
        QCOMPARE(splash.width(), 500);
        QVERIFY(splash.height() > 310);
        saveSnapshot(&splash, QStringLiteral("connect-long-failure"));

        const QString deep = QStringLiteral("/opt/") + QStringLiteral("a-folder-of-thirty-characters/").repeated(6) +
            QStringLiteral("Lumenfield.app/Contents/SharedSupport/Driver/Varnoth.bundle");
        const std::string reason = deep.toStdString() + "/Contents/Linux/Varnoth.so: file too short";
        const QString shortened =
            plainText(connectFailureText({ConnectFailure::Kind::driverNotLoaded, deep.toStdString(), reason}));
        QCOMPARE(shortened,
                 QStringLiteral("The scanner driver could not be loaded from /opt/\u2026/"
                                "a-folder-of-thirty-characters/Lumenfield.app/Contents/SharedSupport/Driver/"
                                "Varnoth.bundle: file too short (Contents/Linux/Varnoth.so)."));
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

        // What the pickers do not offer is not taken: a quality of 3, and with the scanner's
        // exposure-ratio picker (0.5 to 2.0) a ratio of 10.0.
        store.setValue("scanQuality", 3);
        store.setValue("exposureRatio", 1000);
        options.setExposureRatio(150);
        app.loadAppSettings(store);
        QCOMPARE(options.scanQualityRawValue(), 8);
        QCOMPARE(options.exposureRatio(), 1000); // no picker: within what the scanner's field holds
        auto scanner = handMadeScanner(1);
        ScannerCapabilities capabilities = scanner->capabilities();
        capabilities.isSupportShrinkableExposureRatio = 1;
        capabilities.shrinkableExposureRange = ScannerRange{50, 200, 3};
        scanner->setCapabilities(capabilities);
        app.scanManager().setScanner(scanner);
        options.setExposureRatio(150);
        app.loadAppSettings(store);
        QCOMPARE(options.exposureRatio(), 150);
        store.setValue("exposureRatio", 200);
        app.loadAppSettings(store);
        QCOMPARE(options.exposureRatio(), 200);
    }

    // What the scan panel shows is what the scanner is asked for: a stored resolution of another
    // model, a stored frame beside the glass, and frames carried over to the film unit (the fake's is
    // 1.5 × 2 inches), checked in the panel, on the pane and in the commands sent to the driver.
    void whatThePanelShowsIsScanned()
    {
        driver.subModel = 1; // its resolutions end at 1200
        const std::shared_ptr<QuorvaneScanner> scanner = fakeScanner();
        QVERIFY(scanner->loadDriver());
        const auto w = std::make_unique<Window>();
        w->manager.setScanner(scanner);
        w->manager.setScanStatus(rawValue(VekScanStatus::ready));
        QTemporaryDir outputFolder;
        w->output.setDirectoryPath(outputFolder.path());
        w->app.setOpenImageAfterScan(false);
        ContentController& controller = w->view.controller();
        controller.setRawPreview(1, gradientPreview(1275, 1755));
        controller.setRawPreview(3, gradientPreview(225, 300));
        const auto combo = [&](const char* name) { return child<QComboBox>(&w->view, name); };
        const auto readOut = [&] { return child<QLabel>(&w->view, "frameSizeLabel")->text(); };
        const auto settle = [] {
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        };
        // The resolution and the frame (in the source's base pixels) that a scan sends.
        const auto scanned = [&](int16_t& resolution, SEFrame& frame) {
            driver.clearTrace();
            QVERIFY(controller.scanImage());
            QVERIFY(QTest::qWaitFor([&] { return !controller.isFlowBusy(); }, 20000));
            const std::vector<fake::Call> resolutions = driver.calls(SE_CMD_RESOLUTION);
            const std::vector<fake::Call> frames = driver.calls(SE_CMD_SCAN_FRAME);
            QVERIFY(!resolutions.empty() && !frames.empty());
            resolution = int16_t(resolutions.back().value);
            frame = frames.back().as<SEFrame>();
        };
        const auto near = [](int value, int expected) { return std::abs(value - expected) <= 1; };

        {
            QSettings store;
            store.setValue("resolution", 4800);
            store.setValue("previewImageScale", 1.0);
            store.setValue("previewRect", QRectF(1500, 2000, 100, 100));
            w->view.loadSettings(store);
        }
        settle();
        QCOMPARE(combo("resolutionCombo")->currentText(), QStringLiteral("1200 DPI"));
        QCOMPARE(w->scan.previewRect(), QRectF(0, 0, 100, 100));
        QCOMPARE(readOut(), QStringLiteral("0.7 x 0.7"));
        int16_t resolution = 0;
        SEFrame frame{};
        scanned(resolution, frame);
        QCOMPARE(resolution, int16_t(1200));
        // 100 points at 150 per inch, in pixels of the glass's 1200 dpi.
        QVERIFY(frame.left == 0 && frame.top == 0 && near(frame.right, 800) && near(frame.bottom, 800));

        // "Full Area" carried over to positive film is the film unit's.
        w->view.show();
        w->view.resize(w->view.minimumSizeHint());
        QVERIFY(chooseComboItem(combo("resolutionCombo"), QStringLiteral("300 DPI")));
        QVERIFY(chooseComboItem(combo("frameTypeCombo"), QStringLiteral("Full Area")));
        settle();
        QCOMPARE(readOut(), QStringLiteral("8.5 x 11.7"));
        QVERIFY(chooseComboItem(combo("scanSourceCombo"), QStringLiteral("Positive")));
        settle();
        QCOMPARE(readOut(), QStringLiteral("1.5 x 2.0"));
        QCOMPARE(combo("frameTypeCombo")->currentText(), QStringLiteral("Full Area"));
        const PreviewImageView* pane = w->view.previewPane();
        QCOMPARE(pane->previewImage().size(), QSize(225, 300));
        const QRectF drawn = drawnImageRect(QSizeF(225, 300), w->scan.previewImageScale());
        QVERIFY(drawn.adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(w->scan.previewRect()));
        scanned(resolution, frame);
        QVERIFY(frame.left == 0 && frame.top == 0 && near(frame.right, 7199) && near(frame.bottom, 9599));
        QVERIFY(frame.right <= 7199 && frame.bottom <= 9599);

        // A frame of the glass beside the film unit gives the default frame there.
        QVERIFY(chooseComboItem(combo("scanSourceCombo"), QStringLiteral("Reflective")));
        settle();
        const double scale = ScanSettings::previewResolution * w->scan.previewImageScale();
        w->scan.setScanFrameType(VekScanFrameType::customized);
        w->scan.setPreviewRect(QRectF(3 * scale, 3 * scale, scale, scale));
        QVERIFY(chooseComboItem(combo("scanSourceCombo"), QStringLiteral("Positive")));
        settle();
        QCOMPARE(w->scan.scanFrameType(), VekScanFrameType::customized);
        const double filmScale = ScanSettings::previewResolution * w->scan.previewImageScale();
        const QRectF inches = physicalFrameSize(w->scan.previewRect(), filmScale, Unit::inch);
        QCOMPARE(inches.topLeft(), QPointF(0, 0));
        QVERIFY(inches.width() > 0 && inches.right() <= 1.5 && inches.bottom() <= 2.0);
        scanned(resolution, frame);
        QVERIFY(frame.left == 0 && frame.top == 0 && near(frame.right, int(inches.width() * 4800)) &&
                near(frame.bottom, int(inches.height() * 4800)));
        scanner->unloadDriver();
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
        QTest::newRow("quit shortcut") << QStringLiteral("shortcut");
        QTest::newRow("sigterm") << QStringLiteral("sigterm");
        QTest::newRow("close during a read") << QStringLiteral("scan");
        QTest::newRow("sigterm while the scan is written") << QStringLiteral("written");
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
        slowScans();
        LumenfieldApp app;
        QVERIFY(startConnected(app));
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
            // Slow enough that even a loaded machine closes the window before the last line.
            driver.scan.delay = 1500ms;
            QTest::mouseClick(child<QToolButton>(window, "previewButton"), Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([&] { return driver.entered(SE_CMD_READ_LINES) > 0; }, 5000));
        }
        // A quit while the scan is written waits for the file and the counter after it.
        QString written;
        if (way == "written") {
            driver.scan.delay = 0ms;
            window->controller().setRawPreview(1, gradientPreview(40, 40));
            window->controller().setImageWriter(
                [](const Image& image, const QString& path, OutputFormat format, const WriteOptions& options) {
                    std::this_thread::sleep_for(300ms);
                    return writeImage(image, path, format, options);
                });
            app.appSettings().setOpenImageAfterScan(false);
            written = outputFilePath(app.outputSettings());
            QTest::mouseClick(child<QToolButton>(window, "scanButton"), Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([&] { return app.scanManager().scanStatus() == 4; }, 5000));
        }
        const std::size_t traced = driver.traceSize();
        const int status = runUntilQuit([&] {
            if (way == "sigterm" || way == "written")
                ::kill(::getpid(), SIGTERM);
            else if (way == "shortcut")
                QTest::keySequence(window, window->quitAction()->shortcut());
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
        } stored[] = {{"showPreviousPreview", true},
                      {"openImageAfterScan", way != "written"},
                      {"resetFilenameSuffix", false},
                      {"exposureRatio", 150},
                      {"scanQuality", 8},
                      {"calibrationMode", 0},
                      {"suffixNumber", way == "written" ? 13 : 12},
                      {"resolution", 150}};
        for (const auto& row : stored) QCOMPARE(store.value(row.key).toString(), row.value.toString());
        if (way == "written") {
            QVERIFY2(QFile::exists(written), qPrintable(written));
            // The preview it stored is not the next test's.
            QVERIFY(QFile::remove(previewImageURL(1)));
        }

        // After the read in flight: the stop command, then the driver's end.
        const std::vector<std::string> trace = driver.compactTrace(traced);
        QVERIFY(!trace.empty());
        QCOMPARE(trace.back(), std::string("close"));
        const bool stopped =
            std::any_of(trace.begin(), trace.end(), [](const std::string& call) { return call.starts_with("33"); });
        QCOMPARE(stopped, way == "scan");
    }

    // The menu bar's settings command and Escape, which stops a preview or scan without a word.
    void menuCommands()
    {
        slowScans();
        LumenfieldApp app;
        QVERIFY(startConnected(app));
        ContentView* window = app.mainWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->settingsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
        QCOMPARE(window->quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

        QVERIFY(!window->stopAction()->isEnabled());
        QTest::keySequence(window, window->settingsAction()->shortcut());
        QTRY_VERIFY(app.settingsWindow() && app.settingsWindow()->isVisible());
        app.settingsWindow()->close();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));

        QTest::mouseClick(child<QToolButton>(window, "previewButton"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return driver.entered(SE_CMD_READ_LINES) > 0; }, 5000));
        QTRY_VERIFY(window->stopAction()->isEnabled());
        QVERIFY(!window->settingsAction()->isEnabled());
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !window->controller().isFlowBusy(); }, 10000));
        QCOMPARE(app.scanManager().scanStatus(), rawValue(VekScanStatus::stopped));
        QVERIFY(!window->controller().rawPreview(1));
        QVERIFY(!window->findChild<QMessageBox*>(QStringLiteral("failureMessage")));
        QVERIFY(driver.calls(SE_CMD_READ_LINES).size() < 8);
    }

    // A scanner lost during a preview: the connect screen says so, with the main window hidden, and
    // Connect brings the same main window back once the scanner answers again.
    void aLostScannerReturnsToTheConnectScreen()
    {
        LumenfieldApp app;
        QVERIFY(startConnected(app));
        QPointer<ContentView> window = app.mainWindow();
        QTest::mouseClick(child<QToolButton>(window, "settingsButton"), Qt::LeftButton);
        QVERIFY(app.settingsWindow());

        driver.scan.errorAtLine = 0;
        driver.scan.errorCode = SE_ERR_NO_DEVICE;
        QTest::mouseClick(child<QToolButton>(window, "previewButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(app.splashWindow() && app.splashWindow()->isVisible(), 5000);
        SplashScreenView* splash = app.splashWindow();
        QVERIFY(!splash->isConnecting());
        QVERIFY(statusMessage(*splash).startsWith(
            QStringLiteral("The connection to the scanner was lost (driver code -103).")));
        QVERIFY(failureButtonsShown(*splash));
        QVERIFY(!window->isVisible());
        QVERIFY(!app.settingsWindow() || !app.settingsWindow()->isVisible());
        QCOMPARE(app.scanManager().scanStatus(), rawValue(VekScanStatus::notConnected));
        QTRY_COMPARE(driver.trace().back().compact(), std::string("close"));
        saveSnapshot(splash, QStringLiteral("connect-lost"));

        // No attempt until Connect.
        driver.scan.errorAtLine.reset();
        QTest::qWait(1500);
        QVERIFY(!splash->isConnecting());
        QTest::mouseClick(child<QPushButton>(splash, "connectButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible() && !app.splashWindow(), 5000);
        QCOMPARE(app.mainWindow(), window.data());
        QCOMPARE(app.scanManager().scanStatus(), rawValue(VekScanStatus::ready));
        QTest::mouseClick(child<QToolButton>(window, "previewButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->controller().rawPreview(1).has_value(), 5000);
    }
};

LF_GUI_TEST_MAIN(AppTest)
#include "test_app.moc"
