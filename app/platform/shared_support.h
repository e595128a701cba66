// Where the running program finds what ships beside it.
#pragma once

#include <filesystem>

namespace lumenfield {

namespace platform {

// <folder of the running program>/../SharedSupport, normalised; empty when the program's own
// path cannot be read.
std::filesystem::path sharedSupportFolder();
// The folder of driver bundles: Driver/ in the shared-support folder.
std::filesystem::path driverFolder();

} // namespace platform

} // namespace lumenfield
