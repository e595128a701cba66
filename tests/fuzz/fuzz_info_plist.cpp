// The fuzzer's bytes as a driver bundle's Info.plist, through the host library: the bundle and its
// dictionary, the executable's path, the function-set id, and the discovery of a session opened on
// the bundle's folder.
#include "fuzz_check.h"
#include "plugin_bundle.h"
#include "scratch_folder.h"
#include "se_boundary.h"
#include "se_host_session.h"

#include <cstring>
#include <filesystem>

using namespace lumenfield;

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fs::path folder = fs::path(fuzz::scratch_folder()) / "Driver";
    static const fs::path bundlePath = folder / "Varnoth.bundle";
    static const bool made = fs::create_directories(bundlePath / "Contents");
    (void)made;
    FUZZ_CHECK(fuzz::write_file(bundlePath / "Contents" / "Info.plist", data, size));

    std::unique_ptr<platform::PluginBundle> bundle = platform::PluginBundle::create(bundlePath);
    FUZZ_CHECK(bundle != nullptr);
    if (const platform::InfoDictionary* info = bundle->infoDictionary()) {
        for (const auto& [key, value] : *info) FUZZ_CHECK(bundle->infoString(key) == value);
    }
    if (const std::optional<fs::path> executable = bundle->executablePath()) {
        // The code is looked up inside the bundle only.
        FUZZ_CHECK(executable->parent_path() == bundlePath / "Contents" / "Linux");
        const std::string name = executable->filename().string();
        FUZZ_CHECK(name != ".so" && name != "..so" && name != "...so");
        FUZZ_CHECK(name.find('/') == std::string::npos);
    }

    char id[SE_NAME_SIZE];
    std::memset(id, 0x7E, sizeof id);
    if (SE_FunctionSetIdOfBundle(bundlePath, id)) {
        FUZZ_CHECK(strnlen(id, sizeof id) < sizeof id);
        FUZZ_CHECK(bundle->infoString(SE_KEY_FUNCTION_SET_ID) == std::string(id));
    }

    std::unique_ptr<SEHostSession> session;
    const SEResult opened = SEHostSession::open(folder, session);
    if (opened.ok()) {
        // Only a bundle of our interface with a usable id joins the list.
        FUZZ_CHECK(bundle->infoString(SE_KEY_INTERFACE_ID) == std::string(SE_INTERFACE_ID));
        const std::optional<std::string> name = bundle->infoString(SE_KEY_FUNCTION_SET_ID);
        FUZZ_CHECK(name && !name->empty() && name->size() < SE_NAME_SIZE);
        fs::path found;
        FUZZ_CHECK(session->driverBundlePath(name->c_str(), &found) && found == bundlePath);
    } else {
        FUZZ_CHECK(session == nullptr);
    }
    return 0;
}
