// The application's own data folder: where a scan writes its raw image and the preview caches
// live. It is the writable application-data location of the running program, which with the
// program's organisation and application names is ~/.local/share/Lumenfield/Lumenfield.
#pragma once

#include <QString>

#include <optional>

namespace lumenfield {

// The folder's path. With `create`, the folder is made with its parents when missing. None when the
// location is unknown, or when `create` is asked and there is no folder afterwards.
std::optional<QString> applicationDataFolder(bool create);

} // namespace lumenfield
