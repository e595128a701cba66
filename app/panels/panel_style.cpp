#include "panel_style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#include <algorithm>
#include <cmath>

namespace lumenfield {

namespace ui {

namespace {

QFont atPixelSize(QFont font, int pixels)
{
    font.setPixelSize(pixels);
    return font;
}

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

// Above the 4.5:1 asked of body text: antialiased thin strokes come out a little less.
constexpr double kSelectionContrast = 5.0;

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

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor selectionFill(const QPalette& palette, QPalette::ColorGroup group)
{
    QColor fill = palette.color(group, QPalette::Highlight);
    const QColor text = palette.color(group, QPalette::HighlightedText);
    const bool lightText = relativeLuminance(text) > relativeLuminance(fill);
    // A few per cent at a time, so the hue stays; black or white always get there.
    for (int i = 0; i < 60 && contrastRatio(fill, text) < kSelectionContrast; i++)
        fill = lightText ? fill.darker(105) : fill.lighter(105);
    return fill;
}

} // namespace ui

} // namespace lumenfield
