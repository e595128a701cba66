#include "segmented_control.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

#include <algorithm>

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
    auto* button = new QToolButton(this);
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
