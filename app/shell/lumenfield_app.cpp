#include "lumenfield_app.h"

#include "app_settings.h"
#include "app_settings_view.h"
#include "content_view.h"
#include "exposure_ratio_segments.h"
#include "image_settings.h"
#include "output_settings.h"
#include "quit_signals.h"
#include "scan_frame_crop.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "splash_screen_view.h"
#include "symbol_icon.h"

#include <QApplication>
#include <QScreen>
#include <QSessionManager>
#include <QSettings>

namespace lumenfield {

namespace {

void setIdentity()
{
    // Before any settings object: the store, the data folder and the output folder follow the names.
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenfield"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setWindowIcon(applicationIcon());
}

void centreOnScreen(QWidget* window)
{
    window->adjustSize();
    if (const QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

} // namespace

LumenfieldApp::LumenfieldApp()
{
    setIdentity();
    scanManager_ = std::make_unique<ScanManager>();
    appSettings_ = std::make_unique<AppSettings>();
    scanSettings_ = std::make_unique<ScanSettings>();
    imageSettings_ = std::make_unique<ImageSettings>();
    frameCrop_ = std::make_unique<ScanFrameCrop>();
    outputSettings_ = std::make_unique<OutputSettings>();
    new QuitOnSignals(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        storeOnExit();
        shutdown();
    });
    // The desktop's logout: the settings are stored now, as it may end the program without a quit.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { storeSettings(); });
}

LumenfieldApp::~LumenfieldApp()
{
    shutdown();
    // The preferences window is the main window's child.
    delete main_;
    delete splash_;
}

SplashScreenView* LumenfieldApp::splashWindow() const
{
    return splash_;
}

ContentView* LumenfieldApp::mainWindow() const
{
    return main_;
}

AppSettingsView* LumenfieldApp::settingsWindow() const
{
    return settings_;
}

void LumenfieldApp::start()
{
    if (splash_ || main_) return;
    splash_ = new SplashScreenView(*scanManager_, [this] { openMainWindow(); });
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    centreOnScreen(splash_);
    splash_->show();
}

void LumenfieldApp::openMainWindow()
{
    if (main_) {
        // Connected again after the scanner was lost: the window as it was.
        main_->show();
        main_->raise();
        main_->activateWindow();
        return;
    }
    main_ = new ContentView(*scanManager_, *appSettings_, *scanSettings_, *imageSettings_, *frameCrop_,
                            *outputSettings_, [this] { openSettings(); });
    connect(main_, &ContentView::closing, this, &LumenfieldApp::closeMainWindow);
    connect(&main_->controller(), &ContentController::scannerLost, this, &LumenfieldApp::returnToConnectScreen);
    {
        // The options first: the output panel's new-day rule reads them.
        QSettings store;
        loadAppSettings(store);
        main_->loadSettings(store);
    }
    appeared_ = true;
    centreOnScreen(main_);
    main_->show();
}

void LumenfieldApp::returnToConnectScreen(const QString& text)
{
    if (settings_) settings_->close();
    if (!splash_) {
        splash_ = new SplashScreenView(*scanManager_, [this] { openMainWindow(); });
        splash_->setAttribute(Qt::WA_DeleteOnClose);
    }
    splash_->showFailure(text);
    centreOnScreen(splash_);
    // Shown before the main window hides, so that the program never stands without a window.
    splash_->show();
    splash_->raise();
    splash_->activateWindow();
    if (main_) main_->hide();
}

void LumenfieldApp::loadAppSettings(const QSettings& store)
{
    const std::shared_ptr<QuorvaneScanner> scanner = scanManager_->scanner();
    const ScannerCapabilities capabilities = scanner ? scanner->capabilities() : ScannerCapabilities{};
    const bool supported = scanner && capabilities.isSupportSmartCalibration == 1;
    appSettings_->load(store, supported, scanner ? exposureRatioPickerRange(capabilities) : std::nullopt);
}

void LumenfieldApp::saveAppSettings(QSettings& store)
{
    appSettings_->save(store);
}

void LumenfieldApp::openSettings()
{
    if (settings_) {
        settings_->show();
        settings_->raise();
        settings_->activateWindow();
        return;
    }
    settings_ = openAppSettingsWindow(*appSettings_, *scanManager_, clearConfirm_, main_);
    settings_->setObjectName(QStringLiteral("settings-window"));
}

void LumenfieldApp::closeMainWindow()
{
    storeOnExit();
    // After the close has finished; a quit already on its way makes this one do nothing.
    // Posted to this object, so that it dies with it.
    QMetaObject::invokeMethod(
        this, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void LumenfieldApp::storeSettings()
{
    if (!appeared_ || !main_) return;
    QSettings store;
    main_->saveSettings(store);
    saveAppSettings(store);
    store.sync();
}

void LumenfieldApp::storeOnExit()
{
    if (storedOnExit_) return;
    storedOnExit_ = true;
    storeSettings();
}

void LumenfieldApp::shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    // The read in flight returns, the worker sends the stop command and a started file write is
    // finished; then the driver is unloaded where every driver call is made.
    scanManager_->stopScan();
    scanManager_->waitForWorker();
    if (const std::shared_ptr<QuorvaneScanner> scanner = scanManager_->scanner()) {
        scanManager_->runOnWorker([scanner] { scanner->unloadDriver(); });
        scanManager_->waitForWorker();
    }
}

} // namespace lumenfield
