// A segmented picker of the cases of a closed enumeration.
#pragma once

#include "enumerations.h"
#include "segmented_control.h"

#include <optional>

namespace lumenfield {

// Every case of E in declaration order, tagged with its raw value and shown as `text` gives it; a
// user's click hands the case to `choose`.
template <ClosedEnum E, typename Text, typename Choose>
SegmentedControl* makeEnumSegmented(const QString& objectName, Text text, Choose choose)
{
    auto* control = new SegmentedControl;
    control->setObjectName(objectName);
    for (E value : allCases<E>()) control->addItem(text(value), rawValue(value));
    QObject::connect(control, &SegmentedControl::activated, control, [choose](qint64 tag) {
        if (const std::optional<E> value = fromRawValue<E>(tag)) choose(*value);
    });
    return control;
}

// The same, each case shown by its display name.
template <DisplayedEnum E, typename Choose>
SegmentedControl* makeEnumSegmented(const QString& objectName, Choose choose)
{
    return makeEnumSegmented<E>(
        objectName, [](E value) { return displayName(value); }, choose);
}

} // namespace lumenfield
