#include "panel_style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

namespace ui {

namespace {

QFont atPixelSize(QFont font, int pixels)
{
    font.setPixelSize(pixels);
    return font;
}

} // namespace

QFont bodyFont()
{
    return QApplication::font();
}

QFont titleFont()
{
    return atPixelSize(bodyFont(), 22);
}

QFont captionFont()
{
    return atPixelSize(bodyFont(), 10);
}

QFont footnoteFont()
{
    return atPixelSize(bodyFont(), 10);
}

QFont monospacedFont(const QFont& like)
{
    return atPixelSize(QFontDatabase::systemFont(QFontDatabase::FixedFont), QFontInfo(like).pixelSize());
}

QColor primaryColor(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor secondaryColor(const QPalette& palette)
{
    return palette.color(QPalette::PlaceholderText);
}

QColor accentColor(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

} // namespace ui
