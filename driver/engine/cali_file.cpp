#include "cali_file.h"

#include "calibration.h"
#include "dbg_log.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "param_convert.h"
#include "scan_setting.h"
#include "shd_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

constexpr size_t kCalibratorListAt = 72;
constexpr size_t kCalibratorListSize = 8;
constexpr uint64_t kLargestLine = 65535ull * 6;
constexpr int kReadOnly = 1;
constexpr int kWritable = 2;
constexpr int kMostSetAside = 99;

bool name_byte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// A terminated, non-empty file name.
bool has_path(const CALI_PARAM* c)
{
    const size_t length = strnlen(c->path, sizeof c->path);
    return length > 0 && length < sizeof c->path;
}

void make_key(const CALI_PARAM* c, char* key)
{
    get_cali_data_key(c->source, c->quality, c->resolution, c->colour != 0 ? 1 : 0, c->exposure_ratio, c->bqm, c->ecc,
                      key, CALI_KEY_SIZE);
}

// Two equal, non-empty lines of whole pixels, no longer than the widest line a device reports.
bool usable_record(const Shd_entry_hdr* e, unsigned channels)
{
    const uint32_t size = e->size1();
    return size > 0 && e->size2() == size && size % (2 * channels) == 0 && size <= kLargestLine;
}

void copy_line(std::vector<uint16_t>& line, const uint8_t* bytes, uint32_t size)
{
    line.resize(size / 2);
    std::memcpy(line.data(), bytes, size);
}

// Moves a damaged store aside without replacing one set aside before: to "<name>.corrupt", or to
// "<name>.corrupt.2", ".corrupt.3" and on when that is taken. The name used goes to `aside`.
bool set_aside(const char* path, char* aside, size_t size)
{
    for (int n = 1; n <= kMostSetAside; ++n) {
        if (n == 1)
            std::snprintf(aside, size, "%s%s", path, CALI_CORRUPT_SUFFIX);
        else
            std::snprintf(aside, size, "%s%s.%d", path, CALI_CORRUPT_SUFFIX, n);
        if (shd_file_ops().rename_new(path, aside) == 0) return true;
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

} // namespace

bool get_cali_data_file_path(const char* folder, uint16_t model, uint16_t submodel, const char* serial, char* out)
{
    if (out == nullptr) return false;
    out[0] = '\0';
    // The serial comes from the device: in the name it keeps only letters, digits, '_' and '-'.
    char name[CALI_PATH_SIZE] = {};
    if (serial != nullptr) {
        const size_t length = strnlen(serial, sizeof name);
        if (length == sizeof name) return false;
        for (size_t i = 0; i < length; ++i) name[i] = name_byte(serial[i]) ? serial[i] : '_';
    }
    int n;
    if (folder == nullptr || folder[0] == '\0')
        n = std::snprintf(out, CALI_PATH_SIZE, "CaliData%04x_%04x.dat", model, submodel);
    else if (name[0] == '\0')
        n = std::snprintf(out, CALI_PATH_SIZE, "%sCaliData%04x_%04x.dat", folder, model, submodel);
    else
        n = std::snprintf(out, CALI_PATH_SIZE, "%sCaliData%04x_%04x_%s.dat", folder, model, submodel, name);
    if (n < 0 || static_cast<size_t>(n) >= CALI_PATH_SIZE) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool get_scanner_cali_data_file_path(const GLScanner* g, char* out)
{
    if (out == nullptr) return false;
    out[0] = '\0';
    if (g == nullptr) return false;
    const size_t folder = strnlen(g->module_path, sizeof g->module_path);
    if (folder == 0 || folder == sizeof g->module_path) return false;
    char serial[256];
    get_scanner_serial_number(g, serial, sizeof serial);
    return get_cali_data_file_path(g->module_path, get_scanner_model_code(g), get_scanner_submodel_code(g), serial,
                                   out);
}

void get_cali_data_key(uint16_t source, uint16_t quality, int32_t resolution, uint8_t colour, uint16_t exposure,
                       uint8_t bqm, uint8_t ecc, char* out, size_t size)
{
    if (out == nullptr || size == 0) return;
    std::snprintf(out, size, "RES:%d_SRC:%d_QT:%d_CC:%d_EXP:%d_BQM:%d_ECC:%d", resolution, source, quality, colour,
                  exposure, bqm, ecc);
}

uint16_t get_calibrator_resolution(const GLScanner* g, uint16_t source, int resolution)
{
    if (g == nullptr) return 0;
    const uint8_t* list = g->resolutions[static_cast<size_t>(get_scanner_media(g, source))].data() + kCalibratorListAt;
    uint16_t chosen = get_u16le(list);
    for (size_t i = 0; i < kCalibratorListSize; ++i) {
        const uint16_t entry = get_u16le(list + 2 * i);
        if (resolution > entry) break;
        chosen = entry;
    }
    return chosen;
}

DrvResult load_calibration_from_file(CALI_PARAM* c)
{
    DBG_LOG(kLogParameters, "load_calibration_from_file\n");
    if (c == nullptr) return DRV_CALIBRATION_FILE;
    char key[CALI_KEY_SIZE];
    make_key(c, key);
    CShdFile store;
    if (!has_path(c) || store.Open(c->path, kReadOnly) != SHD_OK) {
        DBG_LOG(kLogErrors, "load_calibration_from_file() : Open - kCaliDataError\n");
        return DRV_CALIBRATION_FILE;
    }
    uint8_t* dark = nullptr;
    uint8_t* white = nullptr;
    const Shd_entry_hdr* entry = store.GetEntry(key, &dark, &white);
    if (entry == nullptr) {
        DBG_LOG(kLogDetails, "load_calibration_from_file() : Get - no Calibration Data\n");
        store.Close();
        return DRV_CALIBRATION_FILE;
    }
    const unsigned channels = c->colour != 0 ? 3 : 1;
    if (!usable_record(entry, channels)) {
        DBG_LOG(kLogErrors, "load_calibration_from_file() : record %s has lines of %u and %u bytes\n", key,
                entry->size1(), entry->size2());
        store.Close();
        return DRV_CALIBRATION_FILE;
    }
    try {
        copy_line(c->dark_line, dark, entry->size1());
        copy_line(c->white_line, white, entry->size2());
        c->params.assign(entry->params(), entry->params() + CALI_PARAMS_SIZE);
    } catch (const std::bad_alloc&) {
        release_calibration_buffers(c);
        DBG_LOG(kLogErrors, "load_calibration_from_file() - kNotEnoughMemory\n");
        store.Close();
        return DRV_NO_MEMORY;
    }
    c->line_bytes = entry->size1();
    c->pixels = c->line_bytes / (2 * channels);
    if (store.Close() != SHD_OK) {
        DBG_LOG(kLogErrors, "load_calibration_from_file() : Close - kCaliDataError\n");
        return DRV_CALIBRATION_FILE;
    }
    return DRV_SUCCESS;
}

DrvResult save_calibration_to_file(CALI_PARAM* c)
{
    DBG_LOG(kLogParameters, "save_calibration_to_file\n");
    if (c == nullptr) return DRV_CALIBRATION_FILE;
    char key[CALI_KEY_SIZE];
    make_key(c, key);
    Shd_entry_hdr header{};
    header.set_key(key);
    header.set_blob1(0, c->line_bytes);
    header.set_blob2(0, c->line_bytes);
    std::memcpy(header.params(), c->params.data(), std::min(c->params.size(), CALI_PARAMS_SIZE));
    const uint64_t have = std::min(c->dark_line.size(), c->white_line.size()) * uint64_t{2};
    if (c->line_bytes == 0 || have < c->line_bytes) {
        DBG_LOG(kLogErrors, "save_calibration_to_file() : Add - kCaliDataError\n");
        return DRV_CALIBRATION_FILE;
    }
    const auto* dark = reinterpret_cast<const uint8_t*>(c->dark_line.data());
    const auto* white = reinterpret_cast<const uint8_t*>(c->white_line.data());

    CShdFile store;
    if (!has_path(c) || store.Open(c->path, kWritable) != SHD_OK) {
        DBG_LOG(kLogErrors, "save_calibration_to_file() : Open - kCaliDataError\n");
        return DRV_CALIBRATION_FILE;
    }
    int added = store.AddEntry(&header, dark, white);
    if (added == SHD_DAMAGED) {
        // A store that cannot be read would block every save: it is kept aside and a new one begun.
        store.Drop();
        char aside[CALI_PATH_SIZE + sizeof CALI_CORRUPT_SUFFIX + 4];
        if (!set_aside(c->path, aside, sizeof aside)) {
            DBG_LOG(kLogErrors, "save_calibration_to_file() : cannot set the damaged store aside: %s\n",
                    std::strerror(errno));
            DBG_LOG(kLogErrors, "save_calibration_to_file() : Open - kCaliDataError\n");
            return DRV_CALIBRATION_FILE;
        }
        DBG_LOG(kLogErrors, "save_calibration_to_file() : damaged store moved to %s\n", aside);
        if (store.Open(c->path, kWritable) != SHD_OK) {
            DBG_LOG(kLogErrors, "save_calibration_to_file() : Open - kCaliDataError\n");
            return DRV_CALIBRATION_FILE;
        }
        added = store.AddEntry(&header, dark, white);
    }
    if (added != SHD_OK) {
        DBG_LOG(kLogErrors, "save_calibration_to_file() : Add - kCaliDataError\n");
        store.Drop(); // never write back a half-edited image
        return DRV_CALIBRATION_FILE;
    }
    if (store.Close() != SHD_OK) {
        DBG_LOG(kLogErrors, "save_calibration_to_file() : Close - kCaliDataError\n");
        return DRV_CALIBRATION_FILE;
    }
    return DRV_SUCCESS;
}

void erase_cali_data(GLScanner* g, SCAN_SETTING* s, stEraseCaliData* request)
{
    DBG_LOG(kLogParameters, "erase_cali_data\n");
    if (g == nullptr || request == nullptr) return;
    if (s != nullptr) s->active_calibration = CALI_PARAM{};
    char path[CALI_PATH_SIZE];
    if (!get_scanner_cali_data_file_path(g, path)) {
        DBG_LOG(kLogErrors, "erase_cali_data: no calibration file name\n");
        return;
    }
    if (request->resolution == 0) {
        if (shd_file_ops().unlink(path) != 0 && errno != ENOENT) return;
        request->set_result(DRV_SUCCESS);
        return;
    }
    struct stat st {};
    if (::stat(path, &st) != 0 && errno == ENOENT) {
        request->set_result(DRV_SUCCESS);
        return;
    }
    // The trailing '_' keeps 300 from matching 3000.
    char keyword[16];
    std::snprintf(keyword, sizeof keyword, "RES:%d_", get_calibrator_resolution(g, 1, request->resolution));
    CShdFile store;
    if (store.Open(path, kWritable) != SHD_OK) return;
    if (store.DelEntryByKeywordSearch(keyword) != SHD_OK) {
        store.Drop();
        return;
    }
    if (store.Close() != SHD_OK) return;
    request->set_result(DRV_SUCCESS);
}
