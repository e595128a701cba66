// Symbol images: the project's own simple drawings, one SVG per symbol name, tinted to one colour.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace lumenfield {

// The symbol `name` (for example "arrow.counterclockwise") in `colour`, `pixelSize` pixels square,
// faded when its widget is disabled. An unknown name gives a null icon and prints one line.
QIcon symbolIcon(const QString& name, const QColor& colour, int pixelSize);

// The application's icon in its own colours (the symbol "AppIcon"), for window icons.
QIcon applicationIcon();

} // namespace lumenfield
