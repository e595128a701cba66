// The application object: the six shared objects for the whole run, the three windows (connect,
// main and preferences), the loading and storing of the settings, and the orderly end of the program.
//
// The connect window shows first; the main window is made only when a scanner is connected, and
// hides while the connect window shows again after the scanner was lost. Before
// the main window first shows, the application options and then the panels' settings and the cached
// previews are loaded from one store. When the program ends after that (the main window closed, a
// quit, SIGTERM or SIGINT, the desktop's logout), they are all stored again; a program that ends from
// the connect screen stores nothing, since what it holds are still the defaults. A quit during a
// preview or scan waits for its flow as the main window's close does (a scan still reading is
// stopped, one that has been read is saved), so that the settings are stored after it. At the end
// the worker's task runs to its end and the driver is unloaded on the worker.
#pragma once

#include "clear_calibration_confirm.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QSettings;

namespace lumenfield {

class AppSettings;
class AppSettingsView;
class ContentView;
class ImageSettings;
class OutputSettings;
class ScanFrameCrop;
class ScanManager;
class ScanSettings;
class SplashScreenView;

class LumenfieldApp : public QObject {
    Q_OBJECT

public:
    // Needs the QApplication. Sets the organisation and application names ("Lumenfield") and the
    // Fusion style, then makes the scan session and the four settings objects in that order.
    LumenfieldApp();
    // Stops and unloads as a quit does (for a program that never ran its event loop; nothing is
    // stored), then deletes the windows before the shared objects go.
    ~LumenfieldApp() override;

    ScanManager& scanManager() { return *scanManager_; }
    AppSettings& appSettings() { return *appSettings_; }
    ScanSettings& scanSettings() { return *scanSettings_; }
    ImageSettings& imageSettings() { return *imageSettings_; }
    OutputSettings& outputSettings() { return *outputSettings_; }

    // Shows the connect window.
    void start();

    // The windows while they exist.
    SplashScreenView* splashWindow() const;
    ContentView* mainWindow() const;
    AppSettingsView* settingsWindow() const;

    // The six application options. A missing "calibrationMode" gives smart calibration exactly when
    // the connected scanner supports it.
    void loadAppSettings(const QSettings& store);
    void saveAppSettings(QSettings& store);

    // Opens the preferences window, or raises it when it is open.
    void openSettings();

private:
    void openMainWindow();
    void closeMainWindow();
    // The scanner was lost: the main window hides (keeping its state) and the connect screen shows
    // `text` until Connect finds the scanner again, which shows the main window again.
    void returnToConnectScreen(const QString& text);
    // Stores the panels' settings, the previews and the options, once the main window has appeared.
    void storeSettings();
    // The same once on the way out.
    void storeOnExit();
    void shutdown();

    std::unique_ptr<ScanManager> scanManager_;
    std::unique_ptr<AppSettings> appSettings_;
    std::unique_ptr<ScanSettings> scanSettings_;
    std::unique_ptr<ImageSettings> imageSettings_;
    std::unique_ptr<ScanFrameCrop> frameCrop_;
    std::unique_ptr<OutputSettings> outputSettings_;
    ClearCalibrationMessageBox clearConfirm_;

    QPointer<SplashScreenView> splash_;
    QPointer<ContentView> main_;
    QPointer<AppSettingsView> settings_;
    // The main window has loaded the settings, so they may be stored.
    bool appeared_ = false;
    bool storedOnExit_ = false;
    bool shutDown_ = false;
};

} // namespace lumenfield
