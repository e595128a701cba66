#include "save_target.h"

#include "output_settings.h"

#include <QFile>

#include <sys/stat.h>

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
    return folder + stem + QStringLiteral(" (") + todayString(now.toLocalTime().date()) + u'_' +
        QString::number(now.toSecsSinceEpoch()) + QStringLiteral(").") + extension;
}
