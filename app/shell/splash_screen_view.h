// The connect screen, the first window of the program ("splash-window", 500 × 310): the icon, the
// product name and a moving bar while the driver is loaded and the first scanner opened; then either
// the main window, or the failure text with Close and Connect. Nothing retries by itself: a new
// attempt starts only from Connect.
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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void finishConnect(const std::shared_ptr<QuorvaneScanner>& scanner);
    void connectFinished(bool connected);
    void setConnecting(bool connecting);
    void showStatus();

    ScanManager& manager_;
    std::function<void()> openMainWindow_;
    bool connecting_ = true;
    bool appeared_ = false;
    QProgressBar* progress_;
    QGraphicsOpacityEffect* progressOpacity_;
    QPropertyAnimation* progressFade_;
    QLabel* message_;
    QWidget* buttons_;
};
