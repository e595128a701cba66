#include "symbol_icon.h"

#include "console_lines.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Outside any namespace, as the resource initialiser requires; the library is static, so the
// resources are registered on first use rather than by a static initialiser the linker may drop.
static void registerSymbols()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    (void)registered;
}

namespace lumenfield {

QIcon symbolIcon(const QString& name, const QColor& colour, int pixelSize)
{
    registerSymbols();
    const QString path = QStringLiteral(":/symbols/%1.svg").arg(name);
    if (!QFile::exists(path)) {
        printLineFormatted("Unknown symbol: %s", name.toUtf8().constData());
        return QIcon();
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || pixelSize <= 0) return QIcon();
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const auto drawn = [&](const QColor& tint) {
        QPixmap pixmap(QSize(pixelSize, pixelSize) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixelSize, pixelSize));
        // Keep the drawing's coverage, take the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(0, 0, pixelSize, pixelSize), tint);
        return pixmap;
    };
    QIcon icon(drawn(colour));
    // Disabled, the symbol fades as the text beside it does.
    QColor faded = colour;
    faded.setAlphaF(colour.alphaF() * 0.3f);
    icon.addPixmap(drawn(faded), QIcon::Disabled);
    return icon;
}

QIcon applicationIcon()
{
    registerSymbols();
    // Drawn here rather than by an icon plug-in, which a system may lack.
    QSvgRenderer renderer(QStringLiteral(":/symbols/AppIcon.svg"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace lumenfield
