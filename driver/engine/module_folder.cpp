#include "module_folder.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

std::optional<std::string>& folder_override()
{
    static std::optional<std::string> folder;
    return folder;
}

std::string with_slash(std::string path)
{
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

bool is_writable_folder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), W_OK) == 0;
}

// Creates every missing folder of the path; true when the whole path is a folder afterwards.
bool make_folders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string driver_module_folder()
{
    if (folder_override()) return *folder_override();
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&driver_module_folder), &info) == 0 || info.dli_fname == nullptr) return {};
    // The object's name is as it was loaded, possibly relative: resolve it once.
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(info.dli_fname, nullptr), &std::free);
    if (resolved == nullptr) return {};
    std::string path = resolved.get();
    // .../Contents/Linux/Varnoth.so: the module folder is the parent of the object's folder.
    for (int i = 0; i < 2; ++i) {
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return {};
        path.erase(slash);
    }
    if (path.empty()) return {};
    return with_slash(path);
}

std::optional<std::string> driver_set_module_folder(std::optional<std::string> folder)
{
    std::optional<std::string> previous = std::move(folder_override());
    folder_override() = std::move(folder);
    return previous;
}

std::string driver_writable_folder(const std::string& module_folder)
{
    if (is_writable_folder(module_folder)) return with_slash(module_folder);
    std::string data;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        data = with_slash(xdg);
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return {};
        data = with_slash(home) + ".local/share/";
    }
    const std::string folder = data + "Varnoth/";
    return make_folders(folder) ? folder : std::string{};
}
