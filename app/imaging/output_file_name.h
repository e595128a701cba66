// The name and path of the next output file.
#pragma once

#include "enumerations.h"

#include <QString>

namespace lumenfield {

class OutputSettings;

// prefix + suffix + "." + extension, before lower-casing: what the output panel shows.
//   suffix     empty without the automatic suffix; otherwise "-" and the number printed as %0*lld
//              prints it with the width L = suffixLength limited to 1..10 (so -5 at length 3
//              gives "--05");
//   extension  the format's display name lower-cased: "jpeg", "png" or "tiff";
//   prefix     with every '/' and NUL replaced by '_', so that the name stays a name.
QString composeOutputName(const QString& prefix, bool isAutoSuffix, qint64 suffixNumber, qint64 suffixLength,
                          OutputFormat format);

// The same name lower-cased (full Unicode mapping, independent of the locale).
QString outputFileName(const QString& prefix, bool isAutoSuffix, qint64 suffixNumber, qint64 suffixLength,
                       OutputFormat format);

// directoryPath + "/" + the file name of the settings, as plain text: a folder ending in "/" gives
// "//", the folder keeps its case, and the folder is neither examined nor created.
QString outputFilePath(const OutputSettings& settings);

} // namespace lumenfield
