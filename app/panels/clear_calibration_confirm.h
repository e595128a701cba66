// The question asked before the scanner's stored calibration data are erased.
#pragma once

class QWidget;

class ClearCalibrationConfirm {
public:
    virtual ~ClearCalibrationConfirm() = default;
    // Asks the user, waiting for the answer; true only for "Perform".
    virtual bool confirmClear(QWidget* parent) = 0;
};

// The application-modal warning box with "Perform" (the default) and "Cancel" (Escape).
class ClearCalibrationMessageBox : public ClearCalibrationConfirm {
public:
    bool confirmClear(QWidget* parent) override;
};
