#include "app_data_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace lumenfield {

std::optional<QString> applicationDataFolder(bool create)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty()) return std::nullopt;
    if (create && (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())) return std::nullopt;
    return folder;
}

} // namespace lumenfield
