#include "plugin_bundle.h"

#include "console_lines.h"

#include <dlfcn.h>

#include <algorithm>
#include <system_error>

namespace lumenfield {

namespace platform {

namespace {

constexpr std::string_view kBundleSuffix = ".bundle";
constexpr char kExecutableKey[] = "CFBundleExecutable";

bool endsWith(const std::string& text, std::string_view suffix)
{
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::vector<std::filesystem::path> findBundles(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> bundles;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return bundles;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (endsWith(name, kBundleSuffix) && it->is_directory(typeError)) bundles.push_back(it->path());
    }
    // Bytewise order of the names (std::string compares as unsigned bytes through char_traits).
    std::sort(bundles.begin(), bundles.end(),
              [](const auto& a, const auto& b) { return a.filename().string() < b.filename().string(); });
    return bundles;
}

std::unique_ptr<PluginBundle> PluginBundle::create(const std::filesystem::path& bundleDirectory)
{
    std::error_code error;
    if (!std::filesystem::is_directory(bundleDirectory, error)) return nullptr;
    return std::unique_ptr<PluginBundle>(new PluginBundle(bundleDirectory));
}

PluginBundle::PluginBundle(std::filesystem::path path)
    : path_(std::move(path)), info_(readInfoDictionary(path_ / "Contents" / "Info.plist"))
{}

PluginBundle::~PluginBundle()
{
    unloadExecutable();
}

std::optional<std::string> PluginBundle::infoString(std::string_view key) const
{
    if (!info_) return std::nullopt;
    const auto found = info_->find(std::string(key));
    if (found == info_->end()) return std::nullopt;
    return found->second;
}

std::optional<std::filesystem::path> PluginBundle::executablePath() const
{
    const std::optional<std::string> name = infoString(kExecutableKey);
    if (!name || name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos)
        return std::nullopt;
    return path_ / "Contents" / "Linux" / (*name + ".so");
}

bool PluginBundle::loadExecutable()
{
    if (module_ != nullptr) return true;
    const std::optional<std::filesystem::path> code = executablePath();
    if (!code) {
        printLineFormatted("Bundle %s names no usable executable", path_.c_str());
        loadError_ = "the bundle names no usable executable";
        return false;
    }
    // Never RTLD_DEEPBIND: the driver's USB library must bind to the process's own file calls.
    module_ = dlopen(code->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        const char* message = dlerror();
        loadError_ = message != nullptr ? message : "dlopen failed";
        printLine(loadError_.c_str());
        return false;
    }
    loadError_.clear();
    return true;
}

void* PluginBundle::functionPointer(const char* name) const
{
    if (module_ == nullptr) return nullptr;
    dlerror();
    return dlsym(module_, name);
}

void PluginBundle::unloadExecutable()
{
    if (module_ == nullptr) return;
    dlclose(module_);
    module_ = nullptr;
}

} // namespace platform

} // namespace lumenfield
