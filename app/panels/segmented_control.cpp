#include "segmented_control.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>

namespace {

// A segment whose symbol and text stay together in the middle of the segment; the style would put
// them at its left edge once the segment is wider than they are.
class SegmentButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (icon().isNull() || toolButtonStyle() != Qt::ToolButtonTextBesideIcon) {
            QToolButton::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionToolButton option;
        initStyleOption(&option);
        QStyleOptionToolButton bevel = option;
        bevel.text.clear();
        bevel.icon = QIcon();
        painter.drawComplexControl(QStyle::CC_ToolButton, bevel);
        // The style puts 4 px between symbol and text.
        const int width = std::min(option.rect.width(),
                                   option.iconSize.width() + 4 + option.fontMetrics.horizontalAdvance(option.text) + 2);
        option.rect =
            QRect(option.rect.x() + (option.rect.width() - width) / 2, option.rect.y(), width, option.rect.height());
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
