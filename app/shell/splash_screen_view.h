// The connect screen, the first window of the program ("splash-window", 500 × 310, taller only when
// a failure text needs more lines than that leaves room for): the icon, the product name and a
// moving bar while the driver is loaded and the first scanner opened; then either the main window,
// or the failure text with Close and Connect, the bar hidden. The text tells apart no scanner, a
// scanner that another program holds, a scanner that cannot be opened and a driver that did not
// load (with the bundle's path and the loader's reason). Nothing retries by itself: a new attempt
// starts only from Connect. The quit shortcut (Ctrl+Q) ends the program as Close does.
//
// An attempt starts when the window first shows and at each Connect: the scan session's scanner
// object is made if there is none (an existing one is reused by every attempt), and one second later
// the driver is loaded on the session's worker thread, so the bar keeps moving. Success sets status
// 0 (ready), opens the main window and only then closes this window.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QFrame;
class QGraphicsOpacityEffect;
class QLabel;
class QProgressBar;
class QPropertyAnimation;

namespace lumenfield {

class QuorvaneScanner;
class ScanManager;

class SplashScreenView : public QWidget {
    Q_OBJECT

public:
    // `openMainWindow` is called once the scanner is ready, before this window closes.
    SplashScreenView(ScanManager& manager, std::function<void()> openMainWindow, QWidget* parent = nullptr);

    // The title under the icon: the application's name, or "Lumenfield" when it has none.
    static QString productName(const QString& applicationName);

    // From the start of an attempt until it fails.
    bool isConnecting() const { return connecting_; }
    // Starts one attempt (on first show, and from Connect).
    void connectScanner();
    // Shows the failed state with `text` and makes no attempt when the window shows: the screen
    // the program returns to when the scanner was lost. Connect tries again.
    void showFailure(const QString& text);
    // The failure text shown now (empty while connecting).
    QString failureText() const { return failure_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void finishConnect(const std::shared_ptr<QuorvaneScanner>& scanner);
    void connectFinished(bool connected, const QString& failure);
    void setConnecting(bool connecting);
    void showStatus();
    void fitText();

    ScanManager& manager_;
    std::function<void()> openMainWindow_;
    bool connecting_ = true;
    bool appeared_ = false;
    QString failure_;
    QProgressBar* progress_;
    QGraphicsOpacityEffect* progressOpacity_;
    QPropertyAnimation* progressFade_;
    QLabel* message_;
    QWidget* buttons_;
};

} // namespace lumenfield
