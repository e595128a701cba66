// The "Image Settings:" panel: the adjustment method with its sliders, or the black-and-white mode
// with its threshold, all editing the shared ImageSettings. Which rows show follows the colour type
// of the scan settings, the method and the mode; showing or hiding a row never changes a value.
// The whole panel is disabled while the scanner is busy.
//
// The main window calls loadImageSettings when it is first shown and saveImageSettings when it
// closes.
#pragma once

#include "enumerations.h"

#include <QString>
#include <QWidget>

class QLabel;
class QSettings;

namespace lumenfield {

class GroupBox;
class ImageSettings;
class ScanManager;
class ScanSettings;
class SegmentedControl;
class SliderView;

class ImageSettingsView : public QWidget {
    Q_OBJECT

public:
    ImageSettingsView(ImageSettings& imageSettings, ScanSettings& scanSettings, ScanManager& manager,
                      QWidget* parent = nullptr);

    GroupBox* groupBox() const { return groupBox_; }

    // The ten stored image values; inversion and the experimental switches are neither read nor
    // written.
    void loadImageSettings(QSettings& store);
    void saveImageSettings(QSettings& store);
    // The ten values to their defaults; nothing is stored.
    void resetImageSettings();

    // What the description row says about a method that adjusts the image by itself; empty for
    // manual.
    static QString methodDescription(AdjustmentMethod method);

private:
    void refresh();

    ImageSettings& imageSettings_;
    ScanSettings& scanSettings_;
    GroupBox* groupBox_;
    QWidget* bwModeRow_;
    SegmentedControl* bwModeSegmented_;
    SliderView* thresholdSlider_;
    QWidget* adjustmentRow_;
    SegmentedControl* adjustmentSegmented_;
    QWidget* sliders_;
    SliderView* saturationSlider_;
    SliderView* hueSlider_;
    QWidget* descriptionRow_;
    QLabel* methodDescription_;
};

} // namespace lumenfield
