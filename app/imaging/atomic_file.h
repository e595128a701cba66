// Replacing a file so that readers see the old file or the complete new one, never a part.
#pragma once

#include <QString>

#include <functional>

// Writes through `write` into a new temporary file in the folder of `path`, named "." + name + "."
// + six random characters and created with mode 0666 less the umask, then flushes it to disk and
// renames it over `path`. `write` gets the open descriptor and gives whether it wrote everything.
// Any failure (the write, fsync, close, the rename) removes the temporary file and gives false, with
// errno telling the failed step's reason; whatever stood at `path` stays untouched then.
bool replaceFileAtomically(const QString& path, const std::function<bool(int descriptor)>& write);

// Writes all `size` bytes to the descriptor, retrying after interruptions and partial writes.
bool writeAll(int descriptor, const void* data, size_t size);
