#include "save_target.h"

#include "output_settings.h"

#include <QFile>

#include <sys/stat.h>

namespace lumenfield {

PathEntry entryAt(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return {};
    return {true, S_ISREG(status.st_mode), S_ISDIR(status.st_mode)};
}

QString timestampedPath(const QString& planned, const QDateTime& now)
{
    const qsizetype slash = planned.lastIndexOf(u'/');
    const QString folder = planned.left(slash + 1);
    const QString name = planned.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    const QString tail = QStringLiteral(" (") + todayString(now.toLocalTime().date()) + u'_' +
        QString::number(now.toSecsSinceEpoch()) + QStringLiteral(").") + extension;
    // The most a taken name gets from numberedPath: the writer tries 1000 names.
    const qsizetype room = kLongestFileName - QFile::encodeName(tail).size() - qsizetype(sizeof " (1000)" - 1);
    // Whole characters from the front while they fit (one outside the basic plane is two code units).
    qsizetype kept = 0;
    qsizetype bytes = 0;
    while (kept < stem.size()) {
        const qsizetype units = stem.at(kept).isHighSurrogate() && kept + 1 < stem.size() ? 2 : 1;
        bytes += QFile::encodeName(stem.mid(kept, units)).size();
        if (bytes > room) break;
        kept += units;
    }
    return folder + stem.left(kept) + tail;
}

} // namespace lumenfield
