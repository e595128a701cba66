#include "group_box.h"

#include "panel_style.h"
#include "scan_manager.h"
#include "symbol_icon.h"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int labelGap = 4;
constexpr int frameInset = 8;
constexpr qreal frameRadius = 6;

// The rounded frame around a panel's content.
class RoundedFrame : public QWidget {
public:
    explicit RoundedFrame(QWidget* content)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(frameInset, frameInset, frameInset, frameInset);
        layout->setSpacing(0);
        layout->addWidget(content);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ui::blackAtOpacity(0.10), 1));
        painter.setBrush(ui::blackAtOpacity(0.05));
        // Half a pixel in, so the 1-px border falls on whole pixels.
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), frameRadius, frameRadius);
    }
};

} // namespace

GroupBox::GroupBox(QWidget* content, QWidget* label, QWidget* parent)
    : QWidget(parent), label_(label), content_(content)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(labelGap);
    layout->addWidget(label);
    // No stretch factor: one would make the whole panel grow with its column, rows floating in it.
    layout->addWidget(new RoundedFrame(content));
}

GroupBox* makeGroupBox(QWidget* content, QWidget* label)
{
    return new GroupBox(content, label);
}

GroupBox* makeGroupBox(QWidget* content, QLayout* label)
{
    auto* holder = new QWidget;
    label->setContentsMargins(0, 0, 0, 0);
    holder->setLayout(label);
    return makeGroupBox(content, holder);
}

QToolButton* makeResetButton(std::function<void()> reset)
{
    auto* button = new QToolButton;
    button->setObjectName(QStringLiteral("resetButton"));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const int size = QFontInfo(ui::bodyFont()).pixelSize();
    button->setIcon(symbolIcon(QStringLiteral("arrow.counterclockwise"), ui::primaryColor(button->palette()), size));
    button->setIconSize(QSize(size, size));
    button->setText(QStringLiteral("Reset"));
    QObject::connect(button, &QToolButton::clicked, button, [reset = std::move(reset)] { reset(); });
    return button;
}

QHBoxLayout* makePanelLabel(const QString& title, std::function<void()> reset, bool wideButton)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::defaultSpacing);
    auto* label = new QLabel(title);
    label->setObjectName(QStringLiteral("panelTitle"));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(label, 1);
    QToolButton* button = makeResetButton(std::move(reset));
    if (wideButton) {
        auto* container = new QWidget;
        auto* inner = new QHBoxLayout(container);
        inner->setContentsMargins(0, 0, 0, 0);
        inner->addStretch(1);
        inner->addWidget(button);
        row->addWidget(container, 1);
    } else {
        row->addWidget(button);
    }
    return row;
}

void followScannerBusy(QWidget* panel, ScanManager& manager)
{
    panel->setEnabled(!isScannerBusy(manager.scanStatus()));
    QObject::connect(&manager, &ScanManager::scanStatusChanged, panel,
                     [panel](qint64 status) { panel->setEnabled(!isScannerBusy(status)); });
}

} // namespace lumenfield
