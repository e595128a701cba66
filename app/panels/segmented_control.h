// A segmented picker: a row of checkable buttons sharing the control's width, one per item, at most
// one of them checked. Each item has a text, an optional icon and a tag.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QButtonGroup;
class QToolButton;

namespace lumenfield {

class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    // Appends a segment; its button is named "<control's objectName>.<index>" once the control has a
    // name.
    QToolButton* addItem(const QString& text, qint64 tag, const QIcon& icon = QIcon());
    int count() const { return int(tags_.size()); }
    QToolButton* button(int index) const;
    // Checks the segment tagged `tag`, or none when no segment has it. Emits nothing.
    void setCurrentTag(qint64 tag);
    // The tag of the checked segment, if any.
    std::optional<qint64> currentTag() const;

Q_SIGNALS:
    // A user's click on a segment (also on the one already checked).
    void activated(qint64 tag);

private:
    QButtonGroup* group_;
    std::vector<qint64> tags_;
};

} // namespace lumenfield
