#include "shared_support.h"

#include <system_error>

namespace lumenfield {

namespace platform {

std::filesystem::path sharedSupportFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || program.empty()) return {};
    return (program.parent_path() / ".." / "SharedSupport").lexically_normal();
}

std::filesystem::path driverFolder()
{
    const std::filesystem::path shared = sharedSupportFolder();
    return shared.empty() ? shared : shared / "Driver";
}

} // namespace platform

} // namespace lumenfield
