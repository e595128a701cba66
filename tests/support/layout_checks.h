// Helpers of the widget tests that measure layouts: letting pending layouts be redone, and the
// height a widget asks a layout for.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QLayoutItem>
#include <QWidget>

// Lets every pending layout be redone: each pass lets one more level of widgets react to what
// changed in its children.
inline void settleLayouts()
{
    for (int pass = 0; pass < 16; pass++) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
}

// The height `widget` asks a layout for at its width: its size hint within its minimum and maximum.
inline int naturalHeight(const QWidget* widget)
{
    QWidgetItem item(const_cast<QWidget*>(widget));
    return item.hasHeightForWidth() ? item.heightForWidth(widget->width()) : item.sizeHint().height();
}
