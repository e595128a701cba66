// A row of push buttons acting as a segmented picker, each showing a white symbol above its white
// title on a rounded field: blue for the selected button, gray for the others. No window shows it.
#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <vector>

class QPushButton;

namespace lumenfield {

class CustomSegmentedPicker : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)

public:
    // One button per title ("customPickerButton.<index>"); the icon at a title's index is a symbol
    // name, and a button whose index has no icon shows its title alone. `selection` is taken as
    // given: outside the indices, no button is selected.
    CustomSegmentedPicker(const QStringList& titles, const QStringList& icons, int selection,
                          QWidget* parent = nullptr);

    int selection() const { return selection_; }
    void setSelection(int selection);

    int count() const { return int(buttons_.size()); }
    QPushButton* button(int index) const;
    // The field colour of button `index`.
    QColor fieldColor(int index) const;

Q_SIGNALS:
    void selectionChanged(int selection);

private:
    void showSelection();

    std::vector<QPushButton*> buttons_;
    int selection_;
};

} // namespace lumenfield
