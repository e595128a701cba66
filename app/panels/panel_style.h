// The shared look of the panels and windows: spacing, fonts and colours. A size in points of the
// design is the same number of pixels at scale 1.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace lumenfield {

namespace ui {

constexpr int defaultPadding = 16;
constexpr int defaultSpacing = 8;
// Width of the right-aligned caption column of every panel row.
constexpr int captionWidth = 80;

// The application font.
QFont bodyFont();
// The body font at 22 px.
QFont titleFont();
// The body font at 10 px.
QFont captionFont();
QFont footnoteFont();
// The system's fixed-pitch font at the pixel size of `like`.
QFont monospacedFont(const QFont& like = bodyFont());

// Text colours of a palette: primary text, secondary (dimmed) text and the accent.
QColor primaryColor(const QPalette& palette);
QColor secondaryColor(const QPalette& palette);
QColor accentColor(const QPalette& palette);

inline QColor yellow()
{
    return QColor(0xFF, 0xCC, 0x00);
}
inline QColor red()
{
    return QColor(0xFF, 0x3B, 0x30);
}
inline QColor pink()
{
    return QColor(0xFF, 0x2D, 0x55);
}
inline QColor blue()
{
    return QColor(0x00, 0x7A, 0xFF);
}
inline QColor gray()
{
    return QColor(0x8E, 0x8E, 0x93);
}

// The contrast of two opaque colours as the readability guidelines for text measure it: from 1 (the
// same) to 21 (black and white).
double contrastRatio(const QColor& a, const QColor& b);

// The fill of a selected choice in `group` of `palette`: the accent, darkened or lightened until the
// palette's text on a selection reads at 5:1 at least.
QColor selectionFill(const QPalette& palette, QPalette::ColorGroup group);

// Black with alpha `opacity` (0 to 1).
inline QColor blackAtOpacity(double opacity)
{
    QColor colour(Qt::black);
    colour.setAlphaF(float(opacity));
    return colour;
}

} // namespace ui

} // namespace lumenfield
