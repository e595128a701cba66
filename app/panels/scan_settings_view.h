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
//
// The frame and the frame picker's sizes follow the area of the current source (the film unit's on
// the film sources): after a change of the source, of the scanner, of the preview's scale, of the
// resolution and after a load, the frame is kept on that area and within 10000 pixels a side, so that
// the read-out shows what will be scanned. A resolution the scanner does not offer (one stored for
// another model) gives way to the nearest one it offers.
#pragma once

#include "property_binding.h"

#include <QRectF>
#include <QWidget>

#include <memory>

class QComboBox;
class QSettings;
class QVBoxLayout;

namespace lumenfield {

class GroupBox;
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
    // The area the current source scans, in inches; empty without a scanner.
    QRectF sourceArea() const;
    // Keeps the frame on the source's area and within the resolution's limit: at once, or once the
    // change in progress has finished (a scale is set before the frame rescaled to it).
    void fitFrame();
    void scheduleFit();

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
    bool fitScheduled_ = false;
};

} // namespace lumenfield
