// The identification line of the connected scanner: model name, driver version and firmware
// version in one grey rounded label, e.g. "Velquor K5200 / Driver: V1.00 / Firmware: V1.05".
#pragma once

#include "quorvane_scanner.h"

#include <QLabel>
#include <QString>

namespace lumenfield {

class ScannerInfoView : public QLabel {
    Q_OBJECT

public:
    // Prints one trace line of `info` (each new view is one rebuild of the line).
    explicit ScannerInfoView(const SCANNERINFO& info, QWidget* parent = nullptr);

    const SCANNERINFO& info() const { return info_; }

    // The model name; first prints the trace line
    // `Scanner info: master 0x6204, sub 0, name "…", driver 100, firmware 105`.
    static QString scannerDisplayName(const SCANNERINFO& info);
    // " / Driver: V1.23" for a driver version of 123.
    static QString driverVersionText(const SCANNERINFO& info);
    // " / Firmware: V1.05" for a revision of 105 (the version × 100, in decimal); "" for 0.
    static QString firmwareVersionText(const SCANNERINFO& info);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SCANNERINFO info_;
};

} // namespace lumenfield
