// The product name of a connected scanner, as the toolbar and the preferences show it.
#pragma once

#include "quorvane_scanner.h"

#include <QString>

namespace lumenfield {

// "Velquor K5200" and "Tessaly K7700 Plus" for the two known models of scanner id 0x6204 (sub-models
// 0 and 2); "Quorvane Velquor" for every other scanner.
QString scannerModelName(const SCANNERINFO& info);

} // namespace lumenfield
