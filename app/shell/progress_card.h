// The card the preview pane shows while a scan is busy: what the scan is doing, how far reading
// has come, and the Stop button while the scanner is starting or reading.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace lumenfield {

class ScanManager;

// The text of a reading progress (0 to 1) in percent, "%.f%%": 0.426 gives "43%", 0.999 "100%".
// A value that is not finite shows as 0.
QString progressPercentText(double progress);

// 300 wide, padding and spacing 16, white on black with radius 8. Rows by scan status:
//   1  "Scanning...", an indeterminate bar, Stop;
//   2  "Scanning...", a bar at the progress beside its percent text, Stop;
//   3  "Image Processing...";
//   4  "Writing Image File...".
// Stop asks the session to stop; the session then posts progress 0 and status 5.
class ProgressCard : public QWidget {
    Q_OBJECT

public:
    explicit ProgressCard(ScanManager& manager, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showStatus();
    void showProgress();

    ScanManager& manager_;
    QLabel* title_;
    QWidget* progressRow_;
    QProgressBar* bar_;
    QLabel* percent_;
    QPushButton* stop_;
};

} // namespace lumenfield
