// The preferences window's content: the "General" and "Scanner" tabs in a tab widget of fixed size.
//
// The window edits the shared AppSettings in memory only; storing them is the application's task.
// Whoever opens the window makes a new view each time (openAppSettingsWindow), so every window
// starts on General. The window title follows the selected tab.
#pragma once

#include "settings_tab.h"

#include <QWidget>

class QTabWidget;

namespace lumenfield {

class AppSettings;
class AppSettingsGeneralTabView;
class AppSettingsScannerTabView;
class ClearCalibrationConfirm;
class ScanManager;

class AppSettingsView : public QWidget {
    Q_OBJECT

public:
    AppSettingsView(AppSettings& settings, ScanManager& manager, ClearCalibrationConfirm& confirm,
                    QWidget* parent = nullptr);

    SettingsTab selectedSettingsTab() const { return selected_; }
    // Shows the tab of `tab`; `image`, which no tab carries, changes nothing.
    void setSelectedSettingsTab(SettingsTab tab);

    QTabWidget* tabWidget() const { return tabs_; }
    AppSettingsGeneralTabView* generalTab() const { return general_; }
    AppSettingsScannerTabView* scannerTab() const { return scanner_; }

Q_SIGNALS:
    void selectedSettingsTabChanged(SettingsTab tab);

private:
    void followTab(int index);

    QTabWidget* tabs_;
    AppSettingsGeneralTabView* general_;
    AppSettingsScannerTabView* scanner_;
    SettingsTab selected_ = SettingsTab::general;
};

// Opens a new preferences window (a top-level window that deletes itself when closed), over the
// middle of `parent`'s window, and answers it. Escape and Ctrl+W close it.
AppSettingsView* openAppSettingsWindow(AppSettings& settings, ScanManager& manager, ClearCalibrationConfirm& confirm,
                                       QWidget* parent = nullptr);

} // namespace lumenfield
