// The "Scan Settings:" panel: scan source, colour type, resolution and the scan frame row, all
// editing the shared ScanSettings; keeps the frame within what the resolution allows.
//
// Without a scanner only the colour row is offered, and "No Scanner Connected" stands in for the
// other three rows. The lists follow the scanner's information and capabilities on every change of
// the scan session and of the settings. The whole panel is disabled while the scanner is busy.
//
// The main window calls loadScanSettings when it is first shown and saveScanSettings when it
// closes; a load that changes the resolution or the frame type runs their reactions once it has
// finished, as a user's change would.
#pragma once

#include "binding.h"

#include <QWidget>

#include <memory>

class GroupBox;
class QComboBox;
class QSettings;
class QVBoxLayout;
class QuorvaneScanner;
class ScanFramePicker;
class ScanManager;
class ScanSettings;

class ScanSettingsView : public QWidget {
    Q_OBJECT

public:
    ScanSettingsView(ScanSettings& settings, ScanManager& manager, QWidget* parent = nullptr);

    GroupBox* groupBox() const { return groupBox_; }
    // The frame row while a scanner is present.
    ScanFramePicker* framePicker() const { return framePicker_; }

    void loadScanSettings(QSettings& store);
    void saveScanSettings(QSettings& store);
    // Source, colour type, resolution, frame type and frame to their defaults; the scale stays and
    // nothing is stored.
    void resetScanSettings();

private:
    void refresh();
    void showScannerRows(bool present);
    void replaceRow(QWidget*& row, QWidget* replacement);
    void clampFrame();

    ScanSettings& settings_;
    ScanManager& manager_;
    GroupBox* groupBox_;
    QVBoxLayout* rows_;
    QWidget* sourceRow_ = nullptr;
    QWidget* resolutionRow_ = nullptr;
    QWidget* frameRow_ = nullptr;
    QComboBox* colorTypeCombo_;
    QComboBox* scanSourceCombo_ = nullptr;
    QComboBox* resolutionCombo_ = nullptr;
    ScanFramePicker* framePicker_ = nullptr;
    bool scannerRows_ = false;
    DeferredReaction<qint64> resolutionReaction_;
};
