// Menu-style pickers as QComboBox: each item carries its tag (a qint64) as its data. A value that
// no item has selects index -1, which shows the combo blank. The user's choices arrive through
// `activated`, so setting the selection from the model never looks like a user's choice.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace lumenfield {

struct ComboItem {
    ComboItem(QString itemText, qint64 itemTag, QIcon itemIcon = QIcon())
        : text(std::move(itemText)), tag(itemTag), icon(std::move(itemIcon))
    {}

    QString text;
    qint64 tag;
    QIcon icon;
};

// Replaces the items of `combo` with `items`, unless it already holds the same texts and tags in
// the same order. Emits nothing; the selection is lost when the items change.
void setComboItems(QComboBox* combo, const std::vector<ComboItem>& items);
// Selects the item tagged `tag`, or none. Emits nothing.
void setComboTag(QComboBox* combo, qint64 tag);
// The tag of the selected item, or none when no item is selected.
std::optional<qint64> comboTag(const QComboBox* combo);
// Calls `choose` with the tag of each item the user picks.
void onComboChosen(QComboBox* combo, std::function<void(qint64)> choose);
// A combo that takes the width it is given, so that rows line up.
QComboBox* makeCombo(const QString& objectName, QWidget* parent = nullptr);

} // namespace lumenfield
