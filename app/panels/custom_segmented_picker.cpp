#include "custom_segmented_picker.h"

#include "panel_style.h"
#include "symbol_icon.h"

#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr qreal fieldRadius = 8;
// The button's own frame shows around the field.
constexpr int buttonInset = 4;

// The label of a button: symbol above title, in white, on a rounded field.
class PickerField : public QWidget {
public:
    PickerField(const QString& title, const QString* icon)
    {
        setObjectName(QStringLiteral("customPickerField"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QPalette white = palette();
        white.setColor(QPalette::WindowText, Qt::white);
        setPalette(white);
        auto* layout = new QVBoxLayout(this);
        layout->setSpacing(ui::defaultSpacing);
        layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
        if (icon) {
            const int size = QFontInfo(ui::bodyFont()).pixelSize() * 2;
            auto* symbol = new QLabel;
            symbol->setObjectName(QStringLiteral("icon"));
            symbol->setPixmap(symbolIcon(*icon, Qt::white, size).pixmap(size, size));
            symbol->setAlignment(Qt::AlignCenter);
            layout->addWidget(symbol);
        }
        auto* text = new QLabel(title);
        text->setObjectName(QStringLiteral("title"));
        text->setAlignment(Qt::AlignCenter);
        layout->addWidget(text);
    }

    QColor colour;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(rect()), fieldRadius, fieldRadius);
    }
};

// A push button in the default style whose content is its field.
class PickerButton : public QPushButton {
public:
    explicit PickerButton(PickerField* field) : field_(field)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(buttonInset, buttonInset, buttonInset, buttonInset);
        layout->addWidget(field);
    }

    PickerField* field() const { return field_; }
    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

private:
    PickerField* field_;
};

} // namespace

CustomSegmentedPicker::CustomSegmentedPicker(const QStringList& titles, const QStringList& icons, int selection,
                                             QWidget* parent)
    : QWidget(parent), selection_(selection)
{
    setObjectName(QStringLiteral("customSegmentedPicker"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(ui::defaultSpacing);
    for (int index = 0; index < titles.size(); index++) {
        auto* button = new PickerButton(new PickerField(titles[index], index < icons.size() ? &icons[index] : nullptr));
        button->setObjectName(QStringLiteral("customPickerButton.%1").arg(index));
        connect(button, &QPushButton::clicked, this, [this, index] { setSelection(index); });
        layout->addWidget(button, 0, Qt::AlignVCenter);
        buttons_.push_back(button);
    }
    showSelection();
}

void CustomSegmentedPicker::setSelection(int selection)
{
    if (selection == selection_) return;
    selection_ = selection;
    showSelection();
    Q_EMIT selectionChanged(selection_);
}

QPushButton* CustomSegmentedPicker::button(int index) const
{
    return index >= 0 && index < count() ? buttons_[std::size_t(index)] : nullptr;
}

QColor CustomSegmentedPicker::fieldColor(int index) const
{
    const auto* picker = static_cast<const PickerButton*>(button(index));
    return picker ? picker->field()->colour : QColor();
}

void CustomSegmentedPicker::showSelection()
{
    for (int index = 0; index < count(); index++) {
        PickerField* field = static_cast<PickerButton*>(buttons_[std::size_t(index)])->field();
        field->colour = index == selection_ ? ui::blue() : ui::gray();
        field->update();
    }
}

} // namespace lumenfield
