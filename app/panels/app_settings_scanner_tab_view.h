// The "Scanner" tab of the preferences window: the exposure ratio, scan quality and calibration
// mode of the shared AppSettings, the erasing of the scanner's calibration data, and the connected
// scanner's identification line at the foot.
//
// Which rows show is decided afresh at every change of the settings and of the scan session, from
// the scanner's capabilities as read at that moment:
//   exposure ratio    a scanner that can shrink its exposure ratio (flag exactly 1) with a usable
//                     range
//   scan quality      always
//   calibration mode  a scanner with smart calibration (flag exactly 1)
//   calibration data  the calibration-mode row shows and the mode is Smart
// The controls only write AppSettings; the options reach the scanner with the next scan. The one
// command sent from here is the erase, which runs on the scan worker thread like every driver call.
#pragma once

#include "quorvane_scanner.h"

#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

class QHBoxLayout;
class QToolButton;
class QVBoxLayout;

namespace lumenfield {

class AppSettings;
class ClearCalibrationConfirm;
class ScanManager;
class ScannerInfoView;
class SegmentedControl;
struct ExposureRatioSegment;

class AppSettingsScannerTabView : public QWidget {
    Q_OBJECT

public:
    AppSettingsScannerTabView(AppSettings& settings, ScanManager& manager, ClearCalibrationConfirm& confirm,
                              QWidget* parent = nullptr);

    // The segment at `position` of the current scanner's range ("" and 100 without a scanner or a
    // usable range).
    QString exposureRatioLabel(int32_t position) const;
    qint64 exposureRatioValue(int32_t position) const;

    // The Clear button's action: asks, then erases every stored calibration record of the current
    // scanner on the scan worker thread and prints the outcome once it is back.
    void confirmClearCalibrationData();

    // The rows in their order ("exposureRatioRow", "scanQualityRow", "calibrationModeRow",
    // "calibrationDataRow"); a row that does not apply is hidden.
    std::vector<QWidget*> rows() const;
    // The exposure-ratio picker of the current range, if it has one.
    SegmentedControl* exposureRatioSegmented() const { return exposureRatio_; }
    // The identification line while a scanner object is present.
    ScannerInfoView* scannerInfoView() const { return infoView_; }

private:
    void refresh();
    void setExposureSegments(const std::vector<ExposureRatioSegment>& segments);
    void rebuildScannerInfo(const std::shared_ptr<QuorvaneScanner>& scanner);
    std::optional<ScannerRange> exposureRange() const;

    AppSettings& settings_;
    ScanManager& manager_;
    ClearCalibrationConfirm& confirm_;
    QWidget* exposureRow_;
    QWidget* qualityRow_;
    QWidget* calibrationRow_;
    QWidget* dataRow_;
    QVBoxLayout* exposureColumn_;
    SegmentedControl* exposureRatio_ = nullptr;
    std::vector<std::pair<QString, qint64>> exposureShown_;
    SegmentedControl* quality_;
    SegmentedControl* calibrationMode_;
    QToolButton* clearButton_;
    QHBoxLayout* infoRow_;
    ScannerInfoView* infoView_ = nullptr;
};

} // namespace lumenfield
