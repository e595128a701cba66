#include "elided_label.h"

#include <QEvent>

namespace lumenfield {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString& text)
{
    if (text == fullText_ && !text.isEmpty()) return;
    fullText_ = text;
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(fullText_) + margins.left() + margins.right() + 2 * margin(),
                 QLabel::sizeHint().height());
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) elide();
}

void ElidedLabel::elide()
{
    // Cut only what does not fit by the measure the size hint asks with.
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = fontMetrics().horizontalAdvance(fullText_) <= room
        ? fullText_
        : fontMetrics().elidedText(fullText_, mode_, room);
    if (shown != text()) QLabel::setText(shown);
}

} // namespace lumenfield
