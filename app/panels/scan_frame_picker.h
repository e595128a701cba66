// The scan frame row of the scan settings panel: the frame types that fit the scanner at the chosen
// resolution, and a read-out of the frame's size in inches or centimetres.
//
// Choosing a type writes ScanSettings::scanFrameType; once that change has finished, the frame is
// set from the type (frameForType). The read-out follows every change of the frame and of the
// preview's scale. The unit is the row's own state: inches each time the row is made.
#pragma once

#include "property_binding.h"
#include "scan_frame_rules.h"

#include <QRectF>
#include <QWidget>

class QComboBox;
class QLabel;

namespace lumenfield {

class ScanSettings;
class SegmentedControl;

class ScanFramePicker : public QWidget {
    Q_OBJECT

public:
    explicit ScanFramePicker(ScanSettings& settings, QWidget* parent = nullptr);

    // The area of the current scan source in inches (its "Full Area"); the panel sets it whenever the
    // scanner or the source changes.
    void setFullScanRect(const QRectF& fullScanRect);
    QRectF fullScanRect() const { return fullScanRect_; }
    Unit unit() const { return unit_; }

private:
    void refresh();
    void applyFrameType(qint64 type);
    double scale() const;

    ScanSettings& settings_;
    QRectF fullScanRect_;
    Unit unit_ = Unit::inch;
    QComboBox* frameTypeCombo_;
    QLabel* frameSizeLabel_;
    SegmentedControl* unitSegmented_;
    DeferredReaction<qint64> frameTypeReaction_;
};

} // namespace lumenfield
