// The main window ("main-window"): the scan and image panels on the left, the preview pane on a dark
// fill in the middle, the output panel on the right, and a toolbar that names the scanner, opens the
// preferences, shows the exposure ratio, starts a preview or a scan and opens the output folder, and
// a menu bar with the preferences, quit and stop commands.
//
// Its working half is the ContentController it owns; the window shows the raw preview of the current
// scan source in the pane and enables the toolbar by the controller's rules. The panels disable
// themselves while the scanner is busy. The shared objects outlive the window.
#pragma once

#include "content_controller.h"
#include "folder_chooser.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QToolButton;

namespace lumenfield {

class AppSettings;
class ImageSettings;
class ImageSettingsView;
class OutputSettings;
class OutputSettingsView;
class PreviewImageView;
class ScanManager;
class ScanSettings;
class ScanSettingsView;

class ContentView : public QMainWindow {
    Q_OBJECT

public:
    // `openSettings` is the Settings button's action.
    ContentView(ScanManager& scanManager, AppSettings& appSettings, ScanSettings& scanSettings,
                ImageSettings& imageSettings, ScanFrameCrop& frameCrop, OutputSettings& outputSettings,
                std::function<void()> openSettings, QWidget* parent = nullptr);

    ContentController& controller() { return *controller_; }
    PreviewImageView* previewPane() const { return pane_; }

    // The text of the exposure indicator: "%.1f" of the ratio in hundredths.
    static QString exposureRatioText(qint64 exposureRatio);
    static const QString& exposureWarning();

    // When the window first appears (after the application options): the three panels' settings in
    // order, the output panel last, then the cached previews.
    void loadSettings(QSettings& store);
    // When it goes: the cached previews, then the three panels' settings.
    void saveSettings(QSettings& store);

    // The menu bar's commands: the preferences ("Settings...", the platform's preferences shortcut
    // or Ctrl+,), quit (Ctrl+Q: the window closes, which ends the program) and, while a preview or
    // scan is starting or reading, stop (Escape).
    QAction* settingsAction() const { return settingsAction_; }
    QAction* quitAction() const { return quitAction_; }
    QAction* stopAction() const { return stopAction_; }

    // What the window says while it waits for a flow to end before it closes (empty otherwise).
    QString closingNote() const;

Q_SIGNALS:
    // The window is being closed; closing it ends the program. A close asked for during a preview
    // or scan (the window's own, the quit command, a quit of the application) waits for the flow
    // to end as ContentController::finishFlowForQuit says, with its note in the status bar; then
    // the window closes.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    // The toolbar stays: no menu to hide it.
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void buildToolbar();
    void buildMenus();
    void showActions();
    void showExposureRatio();
    void showPreview();

    ScanManager& scanManager_;
    AppSettings& appSettings_;
    ScanSettings& scanSettings_;
    std::function<void()> openSettings_;
    DialogFolderChooser folderChooser_;
    ContentController* controller_;
    ScanSettingsView* scanView_;
    ImageSettingsView* imageView_;
    OutputSettingsView* outputView_;
    PreviewImageView* pane_;
    QLabel* badge_ = nullptr;
    QToolButton* settingsButton_ = nullptr;
    QWidget* exposureIndicator_ = nullptr;
    QLabel* exposureSymbol_ = nullptr;
    QLabel* exposureText_ = nullptr;
    QToolButton* previewButton_ = nullptr;
    QToolButton* scanButton_ = nullptr;
    QToolButton* directoryButton_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    bool closeWaiting_ = false;
};

} // namespace lumenfield
