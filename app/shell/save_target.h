// Where a final scan is written when the planned output file's name is taken.
#pragma once

#include <QDateTime>
#include <QString>

namespace lumenfield {

// What stands at a path, the last component not followed when it is a link.
struct PathEntry {
    bool exists = false;
    bool regularFile = false;
    bool directory = false;
};

PathEntry entryAt(const QString& path);

// The longest file name, in bytes, of the file systems the program writes to.
inline constexpr qsizetype kLongestFileName = 255;

// The planned path with the date and time put into the name, from one reading of the clock: the
// name without its last extension, " (", the local date as "yyyyMMdd", "_", the whole seconds since
// 1970-01-01 00:00 UTC, ")." and the extension, in the planned folder (kept as text). The part
// before the date is shortened, by whole characters, as far as the name needs to stay within
// kLongestFileName bytes also with the " (1000)" that numberedPath may put before the extension when
// the name is taken; the date and the seconds stay whole. Whether a file stands there is not looked at.
QString timestampedPath(const QString& planned, const QDateTime& now);

} // namespace lumenfield
