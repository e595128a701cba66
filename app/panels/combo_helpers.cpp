#include "combo_helpers.h"

#include "property_binding.h"

namespace lumenfield {

void setComboItems(QComboBox* combo, const std::vector<ComboItem>& items)
{
    bool same = combo->count() == int(items.size());
    for (int i = 0; same && i < combo->count(); i++) {
        same = combo->itemText(i) == items[std::size_t(i)].text &&
            combo->itemData(i).toLongLong() == items[std::size_t(i)].tag;
    }
    if (same) return;
    showing(combo, [&] {
        combo->clear();
        for (const ComboItem& item : items) combo->addItem(item.icon, item.text, item.tag);
        combo->setCurrentIndex(-1);
    });
}

void setComboTag(QComboBox* combo, qint64 tag)
{
    showing(combo, [&] { combo->setCurrentIndex(combo->findData(tag)); });
}

std::optional<qint64> comboTag(const QComboBox* combo)
{
    if (combo->currentIndex() < 0) return std::nullopt;
    return combo->currentData().toLongLong();
}

void onComboChosen(QComboBox* combo, std::function<void(qint64)> choose)
{
    QObject::connect(combo, &QComboBox::activated, combo, [combo, choose = std::move(choose)](int index) {
        if (index >= 0) choose(combo->itemData(index).toLongLong());
    });
}

QComboBox* makeCombo(const QString& objectName, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(objectName);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The longest item does not widen the panel.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(4);
    return combo;
}

} // namespace lumenfield
