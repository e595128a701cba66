#include "segmented_control.h"

#include "panel_style.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>

namespace lumenfield {

namespace {

constexpr qreal kSelectedRadius = 4;

// `icon` at `size` in one colour, keeping its shape.
QIcon tinted(const QIcon& icon, const QSize& size, qreal ratio, const QColor& colour)
{
    QPixmap pixmap = icon.pixmap(size, ratio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(pixmap.size()) / pixmap.devicePixelRatio()), colour);
    painter.end();
    return QIcon(pixmap);
}

// A segment whose symbol and text stay together in the middle of the segment; the style would put
// them at its left edge once the segment is wider than they are. The checked segment is filled with
// the accent and its text and symbol drawn light on it, so that the choice stands out from the
// style's checked bevel, which is only a shade darker than the others.
class SegmentButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const bool centred = !icon().isNull() && toolButtonStyle() == Qt::ToolButtonTextBesideIcon;
        if (!centred && !isChecked()) {
            QToolButton::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionToolButton option;
        initStyleOption(&option);
        if (isChecked()) {
            const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
            const QColor fill = ui::selectionFill(palette(), group);
            const QColor text = palette().color(group, QPalette::HighlightedText);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(fill.darker(115), 1));
            painter.setBrush(fill);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kSelectedRadius, kSelectedRadius);
            if (hasFocus()) {
                QColor ring = text;
                ring.setAlphaF(0.6f);
                painter.setPen(QPen(ring, 1));
                painter.setBrush(Qt::NoBrush);
                painter.drawRoundedRect(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), kSelectedRadius - 1,
                                        kSelectedRadius - 1);
            }
            option.palette.setColor(QPalette::ButtonText, text);
            option.palette.setColor(QPalette::WindowText, text);
            if (!option.icon.isNull()) option.icon = tinted(option.icon, option.iconSize, devicePixelRatioF(), text);
            // Drawn flat: the fill is the segment's whole face.
            option.state &= ~(QStyle::State_Sunken | QStyle::State_On | QStyle::State_Raised);
        } else {
            QStyleOptionToolButton bevel = option;
            bevel.text.clear();
            bevel.icon = QIcon();
            painter.drawComplexControl(QStyle::CC_ToolButton, bevel);
        }
        if (centred) {
            // The style puts 4 px between symbol and text.
            const int width =
                std::min(option.rect.width(),
                         option.iconSize.width() + 4 + option.fontMetrics.horizontalAdvance(option.text) + 2);
            option.rect = QRect(option.rect.x() + (option.rect.width() - width) / 2, option.rect.y(), width,
                                option.rect.height());
        }
        painter.drawControl(QStyle::CE_ToolButtonLabel, option);
    }
};

} // namespace

SegmentedControl::SegmentedControl(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_->setExclusive(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QToolButton* SegmentedControl::addItem(const QString& text, qint64 tag, const QIcon& icon)
{
    auto* button = new SegmentButton(this);
    const int index = count();
    if (!objectName().isEmpty()) button->setObjectName(objectName() + '.' + QString::number(index));
    button->setText(text);
    button->setCheckable(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    if (!icon.isNull()) {
        button->setIcon(icon);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    group_->addButton(button, index);
    tags_.push_back(tag);
    static_cast<QHBoxLayout*>(layout())->addWidget(button, 1);
    connect(button, &QToolButton::clicked, this, [this, tag] { Q_EMIT activated(tag); });
    return button;
}

QToolButton* SegmentedControl::button(int index) const
{
    return static_cast<QToolButton*>(group_->button(index));
}

void SegmentedControl::setCurrentTag(qint64 tag)
{
    const auto found = std::find(tags_.begin(), tags_.end(), tag);
    if (found != tags_.end()) {
        QAbstractButton* target = group_->button(int(found - tags_.begin()));
        if (!target->isChecked()) {
            const QSignalBlocker blocker(target);
            target->setChecked(true);
        }
        return;
    }
    // An exclusive group keeps one button checked; to show no selection it is opened for a moment.
    group_->setExclusive(false);
    for (QAbstractButton* button : group_->buttons()) {
        const QSignalBlocker blocker(button);
        button->setChecked(false);
    }
    group_->setExclusive(true);
}

std::optional<qint64> SegmentedControl::currentTag() const
{
    const int index = group_->checkedId();
    if (index < 0) return std::nullopt;
    return tags_[std::size_t(index)];
}

} // namespace lumenfield
