#include "preload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <unistd.h>

extern char** environ;

namespace sim {

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";
constexpr const char* kReexecMarker = "VARNOTH_SIM_REEXEC";
constexpr const char* kOriginalPreload = "VARNOTH_SIM_ORIGINAL_PRELOAD";

// The path of a loaded shared object whose name contains `fragment`, or "".
std::string loaded_object(const char* fragment)
{
    struct Search {
        const char* fragment;
        std::string path;
    } search{fragment, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, s->fragment) != nullptr) {
                s->path = info->dlpi_name;
                return 1;
            }
            return 0;
        },
        &search);
    return search.path;
}

} // namespace

bool preload_active()
{
    return !loaded_object("libumockdev-preload").empty();
}

std::string preload_value()
{
    std::string value;
    // The sanitizer runtime must come first in the initial library list.
    const std::string asan = loaded_object("libasan.so");
    if (!asan.empty()) value = asan + ":";
    value += kPreload;
    if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
        value += ":";
        value += old;
    }
    return value;
}

std::vector<std::string> client_environment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0) env.emplace_back(*e);
    env.push_back("LD_PRELOAD=" + preload_value());
    return env;
}

void reexec_with_preload(int, char** argv)
{
    if (preload_active()) {
        // Children of this process start without the preload unless they ask for it.
        if (std::getenv(kReexecMarker) != nullptr) {
            const char* original = std::getenv(kOriginalPreload);
            if (original != nullptr && *original != '\0')
                setenv("LD_PRELOAD", original, 1);
            else
                unsetenv("LD_PRELOAD");
            unsetenv(kOriginalPreload);
            unsetenv(kReexecMarker);
        }
        return;
    }
    if (std::getenv(kReexecMarker) != nullptr) {
        std::fprintf(stderr, "%s: %s did not load; is the umockdev package installed?\n", argv[0], kPreload);
        std::exit(2);
    }
    const std::string value = preload_value();
    const char* original = std::getenv("LD_PRELOAD");
    setenv(kOriginalPreload, original != nullptr ? original : "", 1);
    setenv("LD_PRELOAD", value.c_str(), 1);
    setenv(kReexecMarker, "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("re-executing with the virtual USB preload");
    std::exit(2);
}

} // namespace sim
