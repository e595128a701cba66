#include "scanner_model_name.h"

namespace lumenfield {

QString scannerModelName(const SCANNERINFO& info)
{
    if (info.masterModelCode == 0x6204) {
        if (info.subModelCode == 0) return QStringLiteral("Velquor K5200");
        if (info.subModelCode == 2) return QStringLiteral("Tessaly K7700 Plus");
    }
    return QStringLiteral("Quorvane Velquor");
}

} // namespace lumenfield
