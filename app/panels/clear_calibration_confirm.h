// The question asked before the scanner's stored calibration data are erased.
#pragma once

class QString;
class QWidget;

namespace lumenfield {

class ClearCalibrationConfirm {
public:
    virtual ~ClearCalibrationConfirm() = default;
    // Asks the user, waiting for the answer; true only for "Perform".
    virtual bool confirmClear(QWidget* parent) = 0;
    // Tells the user how the erase ended (`cleared`, or why not in `text`); returns at once.
    virtual void showClearResult(QWidget* parent, bool cleared, const QString& text) = 0;
};

// The application-modal warning box with "Perform" (the default) and "Cancel" (Escape); the outcome
// in a box ("clearCalibrationResult") with OK, not waited for.
class ClearCalibrationMessageBox : public ClearCalibrationConfirm {
public:
    bool confirmClear(QWidget* parent) override;
    void showClearResult(QWidget* parent, bool cleared, const QString& text) override;
};

} // namespace lumenfield
