#include "splash_screen_view.h"

#include "failure_messages.h"
#include "panel_style.h"
#include "scan_manager.h"
#include "symbol_icon.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace lumenfield {

namespace {

constexpr int kConnectDelayMs = 1000;
constexpr int kFadeMs = 300;
constexpr QSize kWindowSize(500, 310);
constexpr int kStatusMinHeight = 100;

} // namespace

SplashScreenView::SplashScreenView(ScanManager& manager, std::function<void()> openMainWindow, QWidget* parent)
    : QWidget(parent), manager_(manager), openMainWindow_(std::move(openMainWindow))
{
    setObjectName(QStringLiteral("splash-window"));
    setWindowTitle(QString());
    setFixedSize(kWindowSize);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("appIcon"));
    icon->setFixedSize(80, 100);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(symbolIcon(QStringLiteral("AppIcon"), ui::gray(), 80).pixmap(80, 80));

    auto* name = new QLabel(productName(QCoreApplication::applicationName()));
    name->setObjectName(QStringLiteral("productName"));
    QFont nameFont = ui::bodyFont();
    nameFont.setPixelSize(26);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setStyleSheet(QStringLiteral("color: %1").arg(ui::gray().name()));
    name->setAlignment(Qt::AlignCenter);

    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("connectProgress"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(300);
    // Faded out by its opacity, then hidden, keeping its place: a busy bar animates, and costs its
    // repaints, for as long as it is shown, however transparent.
    QSizePolicy keepsPlace = progress_->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    progress_->setSizePolicy(keepsPlace);
    progressOpacity_ = new QGraphicsOpacityEffect(progress_);
    progressOpacity_->setOpacity(1.0);
    progress_->setGraphicsEffect(progressOpacity_);
    progressFade_ = new QPropertyAnimation(progressOpacity_, "opacity", this);
    progressFade_->setDuration(kFadeMs);
    progressFade_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(progressFade_, &QPropertyAnimation::finished, this, [this] {
        if (!connecting_) progress_->hide();
    });

    message_ = new QLabel;
    message_->setObjectName(QStringLiteral("statusMessage"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    message_->setFixedWidth(420);
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("closeButton"));
    auto* connectButton = new QPushButton(QStringLiteral("Connect"));
    connectButton->setObjectName(QStringLiteral("connectButton"));
    connect(close, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    connect(connectButton, &QPushButton::clicked, this, &SplashScreenView::connectScanner);
    buttons_ = new QWidget;
    auto* buttonRow = new QHBoxLayout(buttons_);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addStretch();
    buttonRow->addWidget(close, 0, Qt::AlignBottom);
    buttonRow->addWidget(connectButton, 0, Qt::AlignBottom);
    buttonRow->addStretch();

    auto* status = new QFrame;
    status->setObjectName(QStringLiteral("statusBlock"));
    QColor fill = ui::gray();
    fill.setAlphaF(0.1f);
    status->setStyleSheet(QStringLiteral("QFrame#statusBlock { background: rgba(%1, %2, %3, %4); border-radius: 8px; }")
                              .arg(fill.red())
                              .arg(fill.green())
                              .arg(fill.blue())
                              .arg(fill.alpha()));
    status->setMinimumHeight(kStatusMinHeight);
    auto* statusLayout = new QVBoxLayout(status);
    statusLayout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    statusLayout->setSpacing(16);
    statusLayout->addStretch();
    statusLayout->addWidget(message_);
    statusLayout->addWidget(buttons_);
    statusLayout->addStretch();

    auto* column = new QVBoxLayout(this);
    // The stretches centre the column; margins would only take lines from a long failure text.
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ui::defaultSpacing);
    column->addStretch();
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addWidget(name, 0, Qt::AlignHCenter);
    column->addWidget(progress_, 0, Qt::AlignHCenter);
    column->addWidget(status, 0, Qt::AlignHCenter);
    column->addStretch();

    auto* quit = new QShortcut(QKeySequence::Quit, this);
    if (quit->key().isEmpty()) quit->setKey(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(quit, &QShortcut::activated, this, [] { QCoreApplication::quit(); });

    connect(&manager_, &ScanManager::scanStatusChanged, this, &SplashScreenView::showStatus);
    showStatus();
}

QString SplashScreenView::productName(const QString& applicationName)
{
    return applicationName.isEmpty() ? QStringLiteral("Lumenfield") : applicationName;
}

void SplashScreenView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    connectScanner();
}

void SplashScreenView::showFailure(const QString& text)
{
    appeared_ = true;
    failure_ = text;
    setConnecting(false);
    // Nothing was connecting here: the bar is hidden from the start.
    progressFade_->stop();
    progressOpacity_->setOpacity(0.0);
    progress_->hide();
}

void SplashScreenView::connectScanner()
{
    failure_.clear();
    setConnecting(true);
    if (!manager_.scanner()) manager_.setScanner(std::make_shared<QuorvaneScanner>());
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    if (!scanner) return;
    QTimer::singleShot(kConnectDelayMs, this, [this, scanner] { finishConnect(scanner); });
}

void SplashScreenView::finishConnect(const std::shared_ptr<QuorvaneScanner>& scanner)
{
    // The driver is loaded on the worker, where every driver call is made; the answer comes back to
    // this window through the session, which outlives the worker.
    manager_.runOnWorker([scanner, manager = &manager_, self = QPointer<SplashScreenView>(this)] {
        const bool connected = scanner->loadDriver();
        const QString failure = connected ? QString() : connectFailureText(scanner->connectFailure());
        QMetaObject::invokeMethod(
            manager,
            [self, connected, failure] {
                if (self) self->connectFinished(connected, failure);
            },
            Qt::QueuedConnection);
    });
}

void SplashScreenView::connectFinished(bool connected, const QString& failure)
{
    if (!connected) {
        failure_ = failure;
        setConnecting(false);
        return;
    }
    manager_.setScanStatus(rawValue(VekScanStatus::ready));
    // The main window first: closing the last window would end the program.
    if (openMainWindow_) openMainWindow_();
    close();
}

void SplashScreenView::setConnecting(bool connecting)
{
    if (connecting_ != connecting) {
        connecting_ = connecting;
        progressFade_->stop();
        if (connecting) progress_->show();
        progressFade_->setStartValue(progressOpacity_->opacity());
        progressFade_->setEndValue(connecting ? 1.0 : 0.0);
        progressFade_->start();
    }
    showStatus();
}

void SplashScreenView::showStatus()
{
    const bool failed = !connecting_ && manager_.scanStatus() == rawValue(VekScanStatus::notConnected);
    const QString failure = failure_.isEmpty() ? connectFailureText({}) : failure_;
    message_->setText(failed ? failure : QStringLiteral("Connecting..."));
    buttons_->setVisible(failed);
    fitText();
}

void SplashScreenView::fitText()
{
    // Every line of the text kept, whatever else the column holds: as wide as ever, and taller only
    // when the text needs it, keeping the window's centre.
    message_->setMinimumHeight(message_->heightForWidth(message_->width()));
    QWidget* status = message_->parentWidget();
    status->setMinimumHeight(std::max(kStatusMinHeight, status->layout()->totalMinimumSize().height()));
    const int height = std::max(kWindowSize.height(), layout()->totalMinimumSize().height());
    const int grown = height - this->height();
    if (grown == 0) return;
    setFixedSize(kWindowSize.width(), height);
    if (isVisible()) move(pos() - QPoint(0, grown / 2));
}

} // namespace lumenfield
