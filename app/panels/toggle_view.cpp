#include "toggle_view.h"

#include "panel_style.h"
#include "symbol_icon.h"

#include <QFontInfo>

namespace lumenfield {

namespace {

constexpr int contentPadding = 5;

} // namespace

ToggleView::ToggleView(PropertyBinding<bool> isOn, const QString& label, const std::optional<QString>& symbolName,
                       QWidget* parent)
    : QPushButton(label, parent), isOn_(std::move(isOn))
{
    setCheckable(true);
    if (symbolName) {
        const int size = QFontInfo(font()).pixelSize();
        setIcon(symbolIcon(*symbolName, ui::primaryColor(palette()), size));
        setIconSize(QSize(size, size));
    }
    connect(this, &QPushButton::toggled, this, [this](bool on) { isOn_.set(on); });
    const auto show = [this] { showing(this, [this] { setChecked(isOn_.get()); }); };
    isOn_.observe(this, show);
    show();
}

QSize ToggleView::sizeHint() const
{
    return QPushButton::sizeHint() + QSize(2 * contentPadding, 2 * contentPadding);
}

QSize ToggleView::minimumSizeHint() const
{
    return QPushButton::minimumSizeHint() + QSize(2 * contentPadding, 2 * contentPadding);
}

} // namespace lumenfield
