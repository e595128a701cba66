#include "scanner_info_view.h"

#include "console_lines.h"
#include "panel_style.h"
#include "scanner_model_name.h"

#include <QPainter>

#include <cstdio>
#include <string>

namespace lumenfield {

namespace {

constexpr int verticalPadding = 8;
constexpr int horizontalPadding = 16;
constexpr qreal cornerRadius = 8;

QColor background()
{
    QColor colour = ui::gray();
    colour.setAlphaF(0.1f);
    return colour;
}

// The name is the device's text: it goes out as data, whatever it holds.
void printTrace(const SCANNERINFO& info)
{
    char head[64];
    std::snprintf(head, sizeof head, "Scanner info: master 0x%04x, sub %u, name \"", unsigned{info.masterModelCode},
                  unsigned{info.subModelCode});
    char tail[64];
    std::snprintf(tail, sizeof tail, "\", driver %u, firmware %u", unsigned{info.driverPrivilege},
                  unsigned{info.firmwareRevision});
    printLine(head + info.scannerName + tail);
}

} // namespace

ScannerInfoView::ScannerInfoView(const SCANNERINFO& info, QWidget* parent) : QLabel(parent), info_(info)
{
    setObjectName(QStringLiteral("scannerInfoView"));
    setText(scannerDisplayName(info) + driverVersionText(info) + firmwareVersionText(info));
    setTextFormat(Qt::PlainText);
    setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString ScannerInfoView::scannerDisplayName(const SCANNERINFO& info)
{
    printTrace(info);
    return scannerModelName(info);
}

QString ScannerInfoView::driverVersionText(const SCANNERINFO& info)
{
    return QString::asprintf(" / Driver: V%.2f", double(float(info.driverPrivilege) / 100.0f));
}

QString ScannerInfoView::firmwareVersionText(const SCANNERINFO& info)
{
    if (info.firmwareRevision == 0) return QString();
    return QString::asprintf(" / Firmware: V%.2f", info.firmwareRevision / 100.0);
}

void ScannerInfoView::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(background());
        painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    }
    QLabel::paintEvent(event);
}

} // namespace lumenfield
