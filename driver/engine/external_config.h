// The driver's optional configuration file "SETTING-6204.ini" in its module folder: lines of the
// form KEY=value that switch three service behaviours on. The driver object reads it once when it
// is created; the scan setup reads the flags at every scan start.
#pragma once

#include <cstdint>

struct external_config_t {
    uint8_t scan_raw_from_home;
    uint8_t scan_from_home;
    uint8_t disable_horizontal_magnification_of_rgb;
};

constexpr char EXTERNAL_CONFIG_FILE[] = "SETTING-6204.ini";

// Clears the flags, then reads the three keys from the file in `module_folder` (a path ending in
// '/'). A null or empty folder reads nothing: the file is never looked up in the working directory.
void ExternalConfig_Init(const char* module_folder);
void ExternalConfig_Read(external_config_t* out);

// The key's value as a decimal integer (clamped to the int range; text that is no number counts
// as 0), or `default_value` when the file or the key is missing.
int get_config_int(const char* file, const char* key, int default_value);
// Finds the first line that begins with `key` directly followed by '=', and copies the text after
// it (at most out_size - 1 characters, cut at the newline) into `out`. Only the beginnings of real
// lines are compared; the rest of an over-long line is skipped.
bool read_value_from_ini(const char* file, const char* key, char* out, unsigned out_size);
