// The fuzzer's bytes as a scanner's calibration file: read through the keyed store and through the
// calibration's own load, edited (add, delete by keyword) and saved. A damaged file is reported as
// damaged and never changed by an edit; a saved store always opens again whole.
#include "cali_file.h"
#include "calibration.h"
#include "fuzz_check.h"
#include "scratch_folder.h"
#include "shd_file.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The record the seeds were saved from; the second seed entry differs in resolution only.
void set_key(CALI_PARAM& c, const std::string& path, int32_t resolution)
{
    std::strncpy(c.path, path.c_str(), sizeof c.path - 1);
    c.source = 0;
    c.quality = 1;
    c.resolution = resolution;
    c.colour = 1;
    c.exposure_ratio = 100;
}

std::string key_of(const CALI_PARAM& c)
{
    char key[CALI_KEY_SIZE];
    get_cali_data_key(c.source, c.quality, c.resolution, c.colour != 0 ? 1 : 0, c.exposure_ratio, c.bqm, c.ecc, key,
                      sizeof key);
    return key;
}

// Reads the store without changing it: through the file and over the bytes in memory.
int read_store(const std::string& path, const uint8_t* data, size_t size, const std::string& key)
{
    CShdFile store;
    FUZZ_CHECK(store.Open(path.c_str(), 1) == SHD_OK);
    int count = -1;
    const int state = store.GetNumEntry(&count);
    FUZZ_CHECK(state == SHD_OK || state == SHD_DAMAGED);
    FUZZ_CHECK(count >= 0);
    uint8_t* blob1 = nullptr;
    uint8_t* blob2 = nullptr;
    const Shd_entry_hdr* entry = store.GetEntry(key.c_str(), &blob1, &blob2);
    FUZZ_CHECK(entry == nullptr || state == SHD_OK);
    store.Close();

    std::vector<char> copy(data, data + size);
    CShdFile memory;
    if (size <= INT32_MAX && memory.Open(copy.data(), static_cast<int>(size), 1) == SHD_OK) {
        if (const Shd_entry_hdr* e = memory.GetEntry(key.c_str(), &blob1, &blob2)) {
            const auto* begin = reinterpret_cast<const uint8_t*>(copy.data());
            FUZZ_CHECK(blob1 >= begin && blob1 + e->size1() <= begin + size);
            FUZZ_CHECK(blob2 >= begin && blob2 + e->size2() <= begin + size);
        }
        memory.Close();
    }
    return state;
}

void check_load(CALI_PARAM& c)
{
    const DrvResult loaded = load_calibration_from_file(&c);
    if (loaded.ok()) {
        FUZZ_CHECK(c.line_bytes > 0 && c.dark_line.size() * 2 == c.line_bytes);
        FUZZ_CHECK(c.white_line.size() == c.dark_line.size());
        FUZZ_CHECK(c.params.size() == CALI_PARAMS_SIZE);
    } else {
        FUZZ_CHECK(loaded == DRV_CALIBRATION_FILE);
    }
    release_calibration_buffers(&c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char name[256];
    FUZZ_CHECK(get_cali_data_file_path(fuzz::scratch_folder().c_str(), 0x6204, 0, "FUZZ01", name));
    const std::string path = name;
    const std::string aside = path + CALI_CORRUPT_SUFFIX;
    std::filesystem::remove(aside);
    FUZZ_CHECK(fuzz::write_file(path, data, size));

    CALI_PARAM c{};
    set_key(c, path, 600);
    const std::string key = key_of(c);
    const int state = read_store(path, data, size, key);
    check_load(c);

    // An edit: add a record, delete the 1200 dpi ones by keyword, write back.
    const std::vector<uint8_t> dark(96, 0x21), white(96, 0xC4);
    Shd_entry_hdr header{};
    FUZZ_CHECK(header.set_key("RES:300_SRC:0_QT:1_CC:1_EXP:100_BQM:0_ECC:0"));
    header.set_blob1(0, static_cast<uint32_t>(dark.size()));
    header.set_blob2(0, static_cast<uint32_t>(white.size()));
    {
        CShdFile store;
        FUZZ_CHECK(store.Open(path.c_str(), 2) == SHD_OK);
        const int added = store.AddEntry(&header, dark.data(), white.data());
        // An empty file is a new store; anything else must be judged as the read judged it.
        FUZZ_CHECK(added == (size == 0 ? SHD_OK : state));
        const int deleted = store.DelEntryByKeywordSearch("RES:1200_");
        FUZZ_CHECK(deleted == (added == SHD_OK ? SHD_OK : state));
        FUZZ_CHECK(store.Close() == SHD_OK);
        if (added != SHD_OK) {
            const std::string unchanged = fuzz::read_file(path);
            FUZZ_CHECK(unchanged.size() == size && std::memcmp(unchanged.data(), data, size) == 0);
        }
    }
    if (state == SHD_OK || size == 0) {
        CShdFile store;
        FUZZ_CHECK(store.Open(path.c_str(), 1) == SHD_OK);
        int count = 0;
        FUZZ_CHECK(store.GetNumEntry(&count) == SHD_OK && count >= 1);
        uint8_t* blob1 = nullptr;
        uint8_t* blob2 = nullptr;
        const Shd_entry_hdr* e = store.GetEntry(header.key(), &blob1, &blob2);
        FUZZ_CHECK(e != nullptr && e->size1() == dark.size() && e->size2() == white.size());
        FUZZ_CHECK(std::memcmp(blob1, dark.data(), dark.size()) == 0);
        FUZZ_CHECK(std::memcmp(blob2, white.data(), white.size()) == 0);
        FUZZ_CHECK(store.GetEntry("RES:1200_SRC:0_QT:1_CC:1_EXP:100_BQM:0_ECC:0", nullptr, nullptr) == nullptr);
    }

    // The calibration's save over the original bytes: a damaged store is moved aside, and the
    // saved record always loads back.
    FUZZ_CHECK(fuzz::write_file(path, data, size));
    c.line_bytes = 60;
    c.dark_line.assign(30, 0x0102);
    c.white_line.assign(30, 0xF0E0);
    c.params.assign(CALI_PARAMS_SIZE, 0x5A);
    FUZZ_CHECK(save_calibration_to_file(&c).ok());
    FUZZ_CHECK(std::filesystem::exists(aside) == (state == SHD_DAMAGED && size != 0));
    release_calibration_buffers(&c);
    FUZZ_CHECK(load_calibration_from_file(&c).ok());
    FUZZ_CHECK(c.line_bytes == 60 && c.dark_line == std::vector<uint16_t>(30, 0x0102));
    FUZZ_CHECK(c.white_line == std::vector<uint16_t>(30, 0xF0E0));
    release_calibration_buffers(&c);
    return 0;
}
