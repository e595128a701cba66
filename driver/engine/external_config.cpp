#include "external_config.h"

#include "dbg_log.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr unsigned kValueSize = 50;
constexpr int kReadSize = 256; // at most 255 characters per read

external_config_t config{};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

} // namespace

void ExternalConfig_Init(const char* module_folder)
{
    config = {};
    if (module_folder == nullptr || module_folder[0] == '\0') return;
    std::string path;
    try {
        path = std::string(module_folder) + EXTERNAL_CONFIG_FILE;
    } catch (...) {
        return; // no memory for the path: the flags stay 0
    }
    config.scan_raw_from_home =
        static_cast<uint8_t>(get_config_int(path.c_str(), "ENV_VEK_DRIVER_SCAN_RAW_FROM_HOME", 0));
    config.scan_from_home = static_cast<uint8_t>(get_config_int(path.c_str(), "ENV_VEK_DRIVER_SCAN_FROM_HOME", 0));
    config.disable_horizontal_magnification_of_rgb =
        static_cast<uint8_t>(get_config_int(path.c_str(), "ENV_VEK_DRIVER_DISABLE_HORIZONTAL_MAGNIFICATION_OF_RGB", 0));
    DBG_LOG(kLogParameters, "ExternalConfig_Init: raw from home %u, from home %u, no RGB magnification %u\n",
            config.scan_raw_from_home, config.scan_from_home, config.disable_horizontal_magnification_of_rgb);
}

void ExternalConfig_Read(external_config_t* out)
{
    if (out != nullptr) *out = config;
}

int get_config_int(const char* file, const char* key, int default_value)
{
    char value[kValueSize];
    if (!read_value_from_ini(file, key, value, sizeof value)) return default_value;
    const long v = std::strtol(value, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool read_value_from_ini(const char* file, const char* key, char* out, unsigned out_size)
{
    if (file == nullptr || key == nullptr || key[0] == '\0' || out == nullptr || out_size == 0) return false;
    std::unique_ptr<FILE, FileCloser> f(std::fopen(file, "r"));
    if (!f) return false;
    const size_t key_length = std::strlen(key);
    char line[kReadSize];
    bool at_line_start = true;
    for (;;) {
        std::memset(line, 0, sizeof line);
        if (std::fgets(line, sizeof line, f.get()) == nullptr) return false;
        const bool starts_line = at_line_start;
        // A read that ends without a newline leaves the rest of its line for the next reads.
        at_line_start = std::memchr(line, '\n', sizeof line) != nullptr;
        if (!starts_line || key_length >= sizeof line - 1) continue;
        if (std::strncmp(line, key, key_length) != 0 || line[key_length] != '=') continue;
        const char* value = line + key_length + 1;
        const size_t n = std::min<size_t>(strcspn(value, "\n"), out_size - 1);
        std::memcpy(out, value, n);
        out[n] = '\0';
        return true;
    }
}
