// The rows of the panels: a caption in the right-aligned caption column, then the row's control.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace lumenfield {

// A caption of the caption column ("caption"): fixed width 80, right-aligned.
QLabel* makeCaption(const QString& text);
// A row of the caption and `control`, which takes the rest of the width. No spacing between them.
QWidget* makeCaptionRow(const QString& caption, QWidget* control);
// A centred text standing in for a row ("placeholder").
QLabel* makePlaceholder(const QString& text);

} // namespace lumenfield
