#include "dbg_log.h"

#include <array>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

struct DebugSetting {
    const char* section;
    const char* key;
    uint32_t value;
    uint32_t bit;
};

constexpr std::array<DebugSetting, 15> kShippedSettings = {{
    {"DEBUGLOG", "LEVEL", 0, 0},
    {"DEBUGFILE", "FILE_LEVEL", 0, 0},
    {"DEBUGIMAGE", "DRAKSHADING", 0, 1},
    {"DEBUGIMAGE", "DARKIMAGE", 0, 2},
    {"DEBUGIMAGE", "WHITESHADING", 0, 4},
    {"DEBUGIMAGE", "WHITEIMAGE", 0, 8},
    {"DEBUGIMAGE", "USBRAWIMAGE", 0, 16},
    {"DEBUGIMAGE", "SCAN_IMAGE", 0, 32},
    {"DEBUGIMAGE", "BQM_IMAGE", 0, 64},
    {"DEBUGIMAGE", "HORIZONTAL_CORRECTION_IMAGE", 0, 128},
    {"DEBUGIMAGE", "INTERPOLATION_IMAGE", 0, 256},
    {"DEBUGIMAGE", "GAMMA_IMAGE", 0, 512},
    {"DEBUGIMAGE", "MIRROR_IMAGE", 0, 1024},
    {"DEBUGIMAGE", "PACKIMAGE", 0, 4096},
    {"DEBUGIMAGE", "FINALIMAGE", 0, 8192},
}};

std::array<DebugSetting, 15> datas = kShippedSettings;

int LEVEL = 0;
int FILE_LEVEL = 0;
uint32_t image_mask = 0;
bool to_file = false;
std::string log_path;    // module folder + "DEBUG-LOG-6204.txt"
std::string dump_folder; // empty: dumps are skipped

constexpr size_t kMessageSize = 512;
constexpr unsigned kHexMaxBytes = 64;
constexpr unsigned kHexBytesPerLine = 16;

uint32_t setting_value(const char* key)
{
    for (const auto& row : datas)
        if (std::strcmp(row.key, key) == 0) return row.value;
    return 0;
}

// The text goes out literally: it carries device texts and paths, never a format.
void output(const char* text)
{
    if (!to_file) {
        std::fputs(text, stdout);
        std::fflush(stdout);
        return;
    }
    FILE* f = std::fopen(log_path.c_str(), "a+");
    if (f == nullptr) return;
    std::fputs(text, f);
    std::fclose(f);
}

// Numbers in the dumps use '.' whatever locale the host process set.
class CNumericLocale {
public:
    CNumericLocale()
    {
        static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
        if (c_locale != nullptr) previous_ = uselocale(c_locale);
    }
    ~CNumericLocale()
    {
        if (previous_ != nullptr) uselocale(previous_);
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t previous_ = nullptr;
};

// Writes rows of a table: `three(f, row)` for 3 columns, `one(f, value)` for column 0 otherwise.
template <typename T, typename PrintThree, typename PrintOne>
void dump_table(int level, const char* name, unsigned rows, unsigned columns, const T* table, PrintThree three,
                PrintOne one)
{
    if (level > FILE_LEVEL || dump_folder.empty() || name == nullptr) return;
    const std::string path = dump_folder + name + ".csv";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return;
    if (table != nullptr && columns != 0) {
        CNumericLocale c_numbers;
        for (size_t r = 0; r < rows; ++r) {
            const T* row = table + r * columns;
            if (columns == 3)
                three(f, row);
            else
                one(f, row[0]);
        }
    }
    std::fclose(f);
}

} // namespace

void DBG_INIT(const char* module_folder, int mode)
{
    LEVEL = static_cast<int>(setting_value("LEVEL"));
    FILE_LEVEL = static_cast<int>(setting_value("FILE_LEVEL"));
    image_mask = 0;
    for (const auto& row : datas)
        if (std::strcmp(row.section, "DEBUGIMAGE") == 0 && row.value != 0) image_mask |= row.bit;

    if (module_folder != nullptr) {
        log_path = std::string(module_folder) + "DEBUG-LOG-6204.txt";
        dump_folder = module_folder;
    } else {
        log_path.clear();
        dump_folder.clear();
    }
    to_file = mode != DBG_MODE_STDOUT && module_folder != nullptr;
}

void DBG_LOG(int level, const char* format, ...)
{
    if (level > LEVEL || format == nullptr) return;
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    output(text);
}

void DBG_HEX(int level, const void* data, unsigned length)
{
    if (level > LEVEL || data == nullptr || length == 0) return;
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const uint8_t*>(data);
    const unsigned total = length < kHexMaxBytes ? length : kHexMaxBytes;
    for (unsigned start = 0; start < total; start += kHexBytesPerLine) {
        // A tab, 16 fields of "xx " (unused ones blank) and a newline: 50 characters.
        char line[1 + 3 * kHexBytesPerLine + 2];
        std::memset(line, ' ', sizeof line);
        line[0] = '\t';
        for (unsigned i = 0; i < kHexBytesPerLine && start + i < total; ++i) {
            line[1 + 3 * i] = kDigits[bytes[start + i] >> 4];
            line[2 + 3 * i] = kDigits[bytes[start + i] & 0xF];
        }
        line[sizeof line - 2] = '\n';
        line[sizeof line - 1] = '\0';
        output(line);
    }
}

void DBG_CORRECTION_TABLE_CSV_FIE(int level, const char* name, unsigned rows, unsigned columns, const double* table)
{
    dump_table(
        level, name, rows, columns, table,
        [](FILE* f, const double* v) { std::fprintf(f, "%f, %f, %f,\n", v[0], v[1], v[2]); },
        [](FILE* f, double v) { std::fprintf(f, "%f,\n", v); });
}

void DBG_SCAN_CORRECTION_TABLE_CSV_FIE(int level, const char* name, unsigned rows, unsigned columns,
                                       const uint32_t* table)
{
    dump_table(
        level, name, rows, columns, table,
        [](FILE* f, const uint32_t* v) {
            std::fprintf(f, "%f, %f, %f,\n", v[0] / 65536.0, v[1] / 65536.0, v[2] / 65536.0);
        },
        [](FILE* f, uint32_t v) { std::fprintf(f, "%f,\n", v / 65536.0); });
}

void DBG_LOOKUP_TABLE_CSV_FILE(int level, const char* name, unsigned rows, unsigned columns, const uint16_t* table)
{
    dump_table(
        level, name, rows, columns, table,
        [](FILE* f, const uint16_t* v) { std::fprintf(f, "%d, %d, %d,\n", v[0], v[1], v[2]); },
        [](FILE* f, uint16_t v) { std::fprintf(f, "%d,\n", v); });
}

bool DBG_SET_SETTING(const char* key, uint32_t value)
{
    if (key == nullptr) return false;
    for (auto& row : datas) {
        if (std::strcmp(row.key, key) == 0) {
            row.value = value;
            return true;
        }
    }
    return false;
}

void DBG_RESET_SETTINGS()
{
    datas = kShippedSettings;
}

int DBG_LEVEL()
{
    return LEVEL;
}

int DBG_FILE_LEVEL()
{
    return FILE_LEVEL;
}

uint32_t DBG_IMAGE_MASK()
{
    return image_mask;
}
