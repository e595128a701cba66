// Loadable bundles: a directory named "<name>.bundle" holding Contents/Info.plist (its information
// dictionary) and Contents/Linux/<CFBundleExecutable>.so (its code).
#pragma once

#include "info_dictionary.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumenfield {

namespace platform {

// The bundles directly inside `folder`: directories whose name ends in ".bundle", in bytewise
// order of their names. Empty when the folder cannot be read.
std::vector<std::filesystem::path> findBundles(const std::filesystem::path& folder);

class PluginBundle {
public:
    // A bundle for an existing directory; null otherwise. Its dictionary is read now.
    static std::unique_ptr<PluginBundle> create(const std::filesystem::path& bundleDirectory);
    ~PluginBundle(); // unloads the code
    PluginBundle(const PluginBundle&) = delete;
    PluginBundle& operator=(const PluginBundle&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Null when the bundle has no dictionary.
    const InfoDictionary* infoDictionary() const { return info_ ? &*info_ : nullptr; }
    // A string of the dictionary; none when there is no dictionary or no such string.
    std::optional<std::string> infoString(std::string_view key) const;
    // Contents/Linux/<CFBundleExecutable>.so; none when the key is missing, empty, ".", ".." or
    // holds a '/'.
    std::optional<std::filesystem::path> executablePath() const;

    // Maps the code (RTLD_NOW | RTLD_LOCAL); true when it is loaded. A failure prints the loader's
    // message and keeps it for loadError().
    bool loadExecutable();
    const std::string& loadError() const { return loadError_; }
    bool isExecutableLoaded() const { return module_ != nullptr; }
    // The address of an exported function of the loaded code; null when absent or not loaded.
    void* functionPointer(const char* name) const;
    void unloadExecutable();

private:
    explicit PluginBundle(std::filesystem::path path);

    std::filesystem::path path_;
    std::optional<InfoDictionary> info_;
    void* module_ = nullptr;
    std::string loadError_;
};

} // namespace platform

} // namespace lumenfield
