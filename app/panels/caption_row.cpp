#include "caption_row.h"

#include "panel_style.h"

#include <QHBoxLayout>
#include <QLabel>

namespace lumenfield {

QLabel* makeCaption(const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("caption"));
    label->setFixedWidth(ui::captionWidth);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QWidget* makeCaptionRow(const QString& caption, QWidget* control)
{
    auto* row = new QWidget;
    row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeCaption(caption));
    layout->addWidget(control, 1);
    return row;
}

QLabel* makePlaceholder(const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("placeholder"));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace lumenfield
