// Writing a file so that readers see the old file or the complete new one, never a part, and the
// clean-up of the temporary files that a killed writer left behind.
//
// Every temporary file is made in the folder of its target under a short name of our own,
// ".lumenfield-" and six random characters, so that a target name of any legal length works; the
// writer holds an exclusive lock on it until it is renamed into place or removed.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace lumenfield {

// Writes through `write` into a new temporary file in the folder of `path`, created with mode 0666
// less the umask, then flushes it to disk and renames it over `path`. `write` gets the open
// descriptor and gives whether it wrote everything. Any failure (the write, fsync, close, the
// rename) removes the temporary file and gives false, with errno telling the failed step's reason;
// whatever stood at `path` stays untouched then. Only for a file whose replacing nobody has to
// agree to (a cache), or one the user agreed to replace.
bool replaceFileAtomically(const QString& path, const std::function<bool(int descriptor)>& write);

// The same, but the file never replaces another: it takes the first of the names `candidate(0)`,
// `candidate(1)`, ... at which nothing stands when it is renamed into place (an exclusive rename),
// trying at most `candidates` of them. Gives the name taken, or none with errno set (EEXIST when
// every name tried was taken, also one taken by another program while the file was written).
std::optional<QString> createFileAtomically(const std::function<QString(int attempt)>& candidate,
                                            const std::function<bool(int descriptor)>& write, int candidates = 1000);

// `path` itself for 0, else the name with " (n + 1)" put before its extension: for scan.tiff
// scan.tiff, scan (2).tiff, scan (3).tiff, ...
QString numberedPath(const QString& path, int n);

// Whether a file name is exactly that of the temporary files made here: ".lumenfield-" and six
// characters of A-Z, a-z and 0-9. Any other name is somebody else's, however much it looks like a
// temporary file (".holiday.png.backup").
bool isOwnTemporaryName(const QString& name);

// How long a temporary file must have been left unchanged before it counts as left behind.
inline constexpr std::chrono::minutes kStaleTemporaryAge{10};

// Removes from `folder` the regular files that have not changed for `age` and whose writer holds no
// lock on them any more (a writer of another running instance does), among those named as
// isOwnTemporaryName says and those named exactly one of `ownNames` (the partial files that a
// writer of that folder makes under a fixed name). Gives how many were removed; a folder that cannot
// be read removes none.
int removeStaleTemporaries(const QString& folder, const QStringList& ownNames = {},
                           std::chrono::seconds age = kStaleTemporaryAge);

// Writes all `size` bytes to the descriptor, retrying after interruptions and partial writes.
bool writeAll(int descriptor, const void* data, size_t size);

} // namespace lumenfield
