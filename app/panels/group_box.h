// The frame of every settings panel: a label row on top (title and Reset button), then the content
// inside a rounded frame.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QLayout;
class QToolButton;

namespace lumenfield {

class ScanManager;

// The label widget, 4 px, then the content inside a frame of radius 6 filled with black at 5 % and
// bordered by 1 px of black at 10 %, with an 8-px inset. The panels add their own padding inside.
class GroupBox : public QWidget {
    Q_OBJECT

public:
    GroupBox(QWidget* content, QWidget* label, QWidget* parent = nullptr);

    QWidget* label() const { return label_; }
    QWidget* content() const { return content_; }

private:
    QWidget* label_;
    QWidget* content_;
};

GroupBox* makeGroupBox(QWidget* content, QWidget* label);
// The same with a label row such as makePanelLabel's.
GroupBox* makeGroupBox(QWidget* content, QLayout* label);

// The Reset button of a panel ("resetButton"): a flat tool button with the counter-clockwise arrow
// before "Reset"; each click runs `reset` once.
QToolButton* makeResetButton(std::function<void()> reset);

// The label row of a panel: `title` on the left ("panelTitle"), the Reset button on the right.
// With `wideButton` the button sits right-aligned in a container that shares the row with the title;
// without it the button keeps its own width at the end of the row.
QHBoxLayout* makePanelLabel(const QString& title, std::function<void()> reset, bool wideButton);

// Keeps `panel` disabled while the scanner is busy, from now on.
void followScannerBusy(QWidget* panel, ScanManager& manager);

} // namespace lumenfield
