#include "progress_card.h"

#include "panel_style.h"
#include "scan_manager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumenfield {

namespace {

constexpr int cardWidth = 300;
constexpr qreal cardRadius = 8;
// The bar's steps over the whole scan.
constexpr int barSteps = 1000;

double usableProgress(double progress)
{
    return std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
}

} // namespace

QString progressPercentText(double progress)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.f%%", (std::isfinite(progress) ? progress : 0.0) * 100);
    return QString::fromLatin1(text);
}

ProgressCard::ProgressCard(ScanManager& manager, QWidget* parent)
    : QWidget(parent)
    , manager_(manager)
    , title_(new QLabel)
    , progressRow_(new QWidget)
    , bar_(new QProgressBar)
    , percent_(new QLabel)
    , stop_(new QPushButton(QStringLiteral("Stop")))
{
    setObjectName(QStringLiteral("progressCard"));
    setFixedWidth(cardWidth);
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text}) colours.setColor(role, Qt::white);
    setPalette(colours);

    title_->setObjectName(QStringLiteral("progressTitle"));
    title_->setFont(ui::titleFont());
    title_->setAlignment(Qt::AlignCenter);
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setTextVisible(false);
    percent_->setObjectName(QStringLiteral("progressPercent"));
    stop_->setObjectName(QStringLiteral("stopButton"));

    auto* row = new QHBoxLayout(progressRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(ui::defaultSpacing);
    row->addWidget(bar_, 1);
    row->addWidget(percent_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    layout->setSpacing(ui::defaultPadding);
    layout->addWidget(title_);
    layout->addWidget(progressRow_);
    layout->addWidget(stop_, 0, Qt::AlignHCenter);

    // Only raises the session's stop flag: the scan worker sends the stop command.
    connect(stop_, &QPushButton::clicked, this, [this] { manager_.stopScan(); });
    connect(&manager_, &ScanManager::scanStatusChanged, this, [this] { showStatus(); });
    connect(&manager_, &ScanManager::scanProgressChanged, this, [this] { showProgress(); });
    showStatus();
}

void ProgressCard::showStatus()
{
    const auto status = VekScanStatus(manager_.scanStatus());
    const bool scanning = status == VekScanStatus::starting || status == VekScanStatus::reading;
    title_->setText(scanning                                       ? QStringLiteral("Scanning...")
                        : status == VekScanStatus::processingImage ? QStringLiteral("Image Processing...")
                        : status == VekScanStatus::writingFile     ? QStringLiteral("Writing Image File...")
                                                                   : QString());
    progressRow_->setVisible(scanning);
    percent_->setVisible(status == VekScanStatus::reading);
    stop_->setVisible(scanning);
    showProgress();
}

void ProgressCard::showProgress()
{
    if (VekScanStatus(manager_.scanStatus()) == VekScanStatus::reading) {
        bar_->setRange(0, barSteps);
        bar_->setValue(int(std::lround(usableProgress(manager_.scanProgress()) * barSteps)));
        percent_->setText(progressPercentText(manager_.scanProgress()));
    } else {
        // A range of 0 to 0 makes the bar a busy indicator.
        bar_->setRange(0, 0);
    }
}

void ProgressCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(rect(), cardRadius, cardRadius);
}

} // namespace lumenfield
