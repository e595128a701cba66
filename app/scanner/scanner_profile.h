// The scanner's own ICC colour profiles, shipped in the Profile folder of the program's shared
// support. A profile is named after the scanner's model codes and the kind of source:
//   vq<model>_<sub-model><xr|xt>.icm   first choice for reflective (xr) or film (xt) sources
//   vq<model>_<sub-model><rk|tk>.icm   second choice
//   vqgen<rk|tk>.icm                   when there is no scanner object
// with the codes as at least four lower-case hexadecimal digits. Sources 3 and 4 are film.
#pragma once

#include "color_space.h"
#include "scanner_enumerations.h"

#include <QString>

#include <optional>

namespace lumenfield {

class QuorvaneScanner;

// The Profile folder of the shared support; none when the program's own folder is unknown.
std::optional<QString> scannerProfileFolder();

// The path of the first profile file that exists in `folder`, by the names above; none when there
// is none. The generic name is tried only without a scanner object.
std::optional<QString> scannerProfileFileName(const QuorvaneScanner* scanner, VekScanSource source,
                                              const QString& folder);

// The profile of that file, read from `folder` (by default the shared support's Profile folder).
// Null when there is no folder or file, when the file cannot be read (with a printed line), or when
// its data are not an RGB profile.
ColorProfile loadScannerProfile(const QuorvaneScanner* scanner, VekScanSource source,
                                const std::optional<QString>& folder = std::nullopt);

} // namespace lumenfield
