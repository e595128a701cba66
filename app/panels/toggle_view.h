// An on/off option as a checkable button: an optional symbol before the caption.
#pragma once

#include "property_binding.h"

#include <QPushButton>
#include <QString>

#include <optional>

namespace lumenfield {

class ToggleView : public QPushButton {
    Q_OBJECT

public:
    ToggleView(PropertyBinding<bool> isOn, const QString& label,
               const std::optional<QString>& symbolName = std::nullopt, QWidget* parent = nullptr);

    // The button's own size with 5 px more around its content.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    PropertyBinding<bool> isOn_;
};

} // namespace lumenfield
