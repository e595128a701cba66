// The calibration file: names, keys, the calibrator resolution, records saved and loaded, the
// erase, and every damaged store treated as absent on load and set aside on save.
#include "cali_file.h"
#include "calibration.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "scan_setting.h"
#include "store_files.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

using namespace lftest;
namespace fs = std::filesystem;

void set_calibrator_list(GLScanner& g, std::initializer_list<uint16_t> list)
{
    std::fill_n(g.resolutions[0].begin() + 72, 16, 0);
    size_t i = 0;
    for (uint16_t r : list) put_u16le(g.resolutions[0].data() + 72 + 2 * i++, r);
}

class CaliFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        put_u16le(g_.inquiry.data() + 88, 0x6204);
        put_u16le(g_.inquiry.data() + 90, 1);
        std::memcpy(g_.eeprom.data() + 36, "AB12", 4);
        put_u32le(g_.attributes[0].data() + 20, 1); // the flatbed is present
        set_calibrator_list(g_, {1200, 600, 300, 150});
        set_folder(dir_.path());
    }
    void set_folder(const std::string& folder)
    {
        ASSERT_LT(folder.size(), sizeof g_.module_path);
        std::memset(g_.module_path, 0, sizeof g_.module_path);
        std::memcpy(g_.module_path, folder.data(), folder.size());
    }
    std::string file() const { return dir_.file("CaliData6204_0001_AB12.dat"); }
    // A colour record at the given resolution whose lines and parameters encode `seed`.
    CALI_PARAM record(int resolution, uint8_t seed = 1, uint32_t pixels = 2)
    {
        CALI_PARAM c{};
        get_scanner_cali_data_file_path(&g_, c.path);
        c.source = 1;
        c.quality = 1;
        c.resolution = resolution;
        c.colour = 1;
        c.exposure_ratio = 100;
        c.pixels = pixels;
        c.line_bytes = pixels * 6;
        for (uint32_t k = 0; k < pixels * 3; ++k) {
            c.dark_line.push_back(static_cast<uint16_t>(seed * 1000 + k));
            c.white_line.push_back(static_cast<uint16_t>(seed * 2000 + k));
        }
        for (size_t i = 0; i < CALI_PARAMS_SIZE; ++i) c.params.push_back(static_cast<uint8_t>(seed + i));
        return c;
    }
    // Loads into a record that holds only the key and path of `like`.
    int load(const CALI_PARAM& like, CALI_PARAM* out = nullptr)
    {
        CALI_PARAM c{};
        copy_calibration_scalars(&c, &like);
        c.line_bytes = c.pixels = 0;
        const int r = load_calibration_from_file(&c).code();
        if (out != nullptr) *out = c;
        return r;
    }

    TempFolder dir_;
    GLScanner g_{};
};

TEST_F(CaliFileTest, FileNames)
{
    char out[CALI_PATH_SIZE];
    ASSERT_TRUE(get_cali_data_file_path("/d/", 0x6204, 1, "AB12", out));
    EXPECT_STREQ(out, "/d/CaliData6204_0001_AB12.dat");
    ASSERT_TRUE(get_cali_data_file_path("/d/", 0x6204, 0xAB, "", out));
    EXPECT_STREQ(out, "/d/CaliData6204_00ab.dat");
    ASSERT_TRUE(get_cali_data_file_path("", 0x6204, 1, "AB12", out));
    EXPECT_STREQ(out, "CaliData6204_0001.dat");
    // Only letters, digits, '_' and '-' of the serial reach the name.
    ASSERT_TRUE(get_cali_data_file_path("/d/", 0x6204, 1, "../x", out));
    EXPECT_STREQ(out, "/d/CaliData6204_0001____x.dat");
    ASSERT_TRUE(get_cali_data_file_path("/d/", 1, 2, "a-b_c d/\\\x01\xff", out));
    EXPECT_STREQ(out, "/d/CaliData0001_0002_a-b_c_d____.dat");
    // A name that does not fit is no name at all.
    const std::string folder(240, 'f');
    EXPECT_FALSE(get_cali_data_file_path(folder.c_str(), 0x6204, 1, "AB12", out));
    EXPECT_STREQ(out, "");

    EXPECT_TRUE(get_scanner_cali_data_file_path(&g_, out));
    EXPECT_EQ(out, file());
}

TEST_F(CaliFileTest, KeysDifferInEachOfTheirSevenParts)
{
    const auto key = [](uint16_t src, uint16_t qt, int32_t res, uint8_t cc, uint16_t exp, uint8_t bqm, uint8_t ecc) {
        char out[CALI_KEY_SIZE];
        get_cali_data_key(src, qt, res, cc, exp, bqm, ecc, out, sizeof out);
        return std::string(out);
    };
    EXPECT_EQ(key(1, 1, 600, 1, 100, 0, 0), "RES:600_SRC:1_QT:1_CC:1_EXP:100_BQM:0_ECC:0");
    const std::set<std::string> keys = {key(1, 1, 600, 1, 100, 0, 0), key(1, 1, 300, 1, 100, 0, 0),
                                        key(4, 1, 600, 1, 100, 0, 0), key(1, 2, 600, 1, 100, 0, 0),
                                        key(1, 1, 600, 0, 100, 0, 0), key(1, 1, 600, 1, 120, 0, 0),
                                        key(1, 1, 600, 1, 100, 1, 0), key(1, 1, 600, 1, 100, 0, 1)};
    EXPECT_EQ(keys.size(), 8u);
}

TEST_F(CaliFileTest, TheCalibratorResolutionWalksTheList)
{
    const std::pair<int, uint16_t> cases[] = {{2400, 1200}, {1200, 1200}, {600, 600}, {500, 600}, {100, 150}, {0, 0}};
    for (auto [request, want] : cases) EXPECT_EQ(get_calibrator_resolution(&g_, 0, request), want) << request;
    set_calibrator_list(g_, {});
    EXPECT_EQ(get_calibrator_resolution(&g_, 0, 300), 0);
}

TEST_F(CaliFileTest, ARecordRoundTripsExactly)
{
    const CALI_PARAM saved = [&] {
        CALI_PARAM c = record(600, 3, 5);
        EXPECT_EQ(save_calibration_to_file(&c).code(), 1);
        return c;
    }();
    CALI_PARAM loaded;
    ASSERT_EQ(load(saved, &loaded), 1);
    EXPECT_EQ(loaded.dark_line, saved.dark_line);
    EXPECT_EQ(loaded.white_line, saved.white_line);
    EXPECT_EQ(loaded.params, saved.params);
    EXPECT_EQ(loaded.line_bytes, 30u);
    EXPECT_EQ(loaded.pixels, 5u);

    CShdFile f;
    ASSERT_EQ(f.Open(file().c_str(), 1), SHD_OK);
    char key[CALI_KEY_SIZE];
    get_cali_data_key(1, 1, 600, 1, 100, 0, 0, key, sizeof key);
    const Shd_entry_hdr* h = f.GetEntry(key, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Bytes(h->params(), h->params() + 128), saved.params);
    EXPECT_EQ(Bytes(h->params() + 128, h->params() + 256), Bytes(128, 0));
}

TEST_F(CaliFileTest, RecordsThatAreNotTwoEqualLinesAreAbsent)
{
    const CALI_PARAM like = record(600);
    char key[CALI_KEY_SIZE];
    get_cali_data_key(1, 1, 600, 1, 100, 0, 0, key, sizeof key);
    const std::pair<uint32_t, uint32_t> sizes[] = {{12, 6}, {6, 12}, {0, 0}, {10, 10}, {65536 * 6, 65536 * 6}};
    for (auto [s1, s2] : sizes) {
        fs::remove(file());
        const Bytes b1(s1, 0x11), b2(s2, 0x22);
        CShdFile f;
        ASSERT_EQ(f.Open(file().c_str(), 2), SHD_OK);
        Shd_entry_hdr h{};
        h.set_key(key);
        h.set_blob1(0, s1);
        h.set_blob2(0, s2);
        ASSERT_EQ(f.AddEntry(&h, b1.data(), b2.data()), SHD_OK);
        ASSERT_EQ(f.Close(), SHD_OK);
        CALI_PARAM c = like;
        EXPECT_EQ(load_calibration_from_file(&c).code(), -2003) << s1 << " " << s2;
        EXPECT_EQ(c.dark_line, like.dark_line) << "an unusable record changes nothing";
    }
}

TEST_F(CaliFileTest, TheErase)
{
    CALI_PARAM c300 = record(300, 1), c3000 = record(3000, 2), c600 = record(600, 3);
    for (CALI_PARAM* c : {&c300, &c3000, &c600}) ASSERT_EQ(save_calibration_to_file(c).code(), 1);
    set_calibrator_list(g_, {4800, 3000, 1200, 600, 300, 150});
    SCAN_SETTING s{};
    s.active_calibration = record(300);

    stEraseCaliData request{0, 300};
    erase_cali_data(&g_, &s, &request);
    EXPECT_EQ(request.status, 1u);
    EXPECT_EQ(s.active_calibration.resolution, 0);
    EXPECT_TRUE(s.active_calibration.dark_line.empty());
    EXPECT_EQ(load(c300), -2003);
    EXPECT_EQ(load(c3000), 1) << "erasing 300 keeps 3000";
    EXPECT_EQ(load(c600), 1);
    EXPECT_EQ(live_entries(file()), 2);

    request = {0, 0};
    erase_cali_data(&g_, &s, &request);
    EXPECT_EQ(request.status, 1u);
    EXPECT_FALSE(exists(file()));
    // A missing file counts as erased, and is not created.
    for (uint16_t resolution : {0, 600}) {
        request = {0, resolution};
        erase_cali_data(&g_, &s, &request);
        EXPECT_EQ(request.status, 1u);
        EXPECT_FALSE(exists(file()));
    }
}

TEST_F(CaliFileTest, AFailedEraseLeavesTheStatus)
{
    CALI_PARAM c = record(600);
    ASSERT_EQ(save_calibration_to_file(&c).code(), 1);
    const Bytes before = read_bytes(file());
    SCAN_SETTING s{};
    ShdFileOps ops = shd_file_default_ops();
    ops.unlink = [](const char*) {
        errno = EIO;
        return -1;
    };
    ops.rename = [](const char*, const char*) { return -1; };
    {
        ScopedFileOps scoped(ops);
        for (uint16_t resolution : {0, 600}) {
            stEraseCaliData request{7, resolution};
            erase_cali_data(&g_, &s, &request);
            EXPECT_EQ(request.status, 7u) << resolution;
        }
    }
    EXPECT_EQ(read_bytes(file()), before);
    stEraseCaliData request{7, 0};
    erase_cali_data(nullptr, &s, &request);
    EXPECT_EQ(request.status, 7u);
    set_folder("");
    erase_cali_data(&g_, &s, &request);
    EXPECT_EQ(request.status, 7u);
    EXPECT_TRUE(exists(file()));
}

TEST_F(CaliFileTest, FoldersWithoutAUsableNameWriteNothing)
{
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_.path());
    for (size_t length : {size_t{0}, size_t{226}, size_t{235}}) {
        // No folder; a path of 252 bytes, which the store refuses; one of 261, which does not fit.
        std::string folder = dir_.path();
        if (length > 0) folder += std::string(length - folder.size() - 1, 'd') + "/";
        if (length > 0) fs::create_directory(folder);
        set_folder(length > 0 ? folder : "");
        SCAN_SETTING s{};
        s.source = 1;
        s.quality = 1;
        s.x_resolution = 600;
        s.color_switch = 1;
        s.exposure_ratio = 100;
        get_calibration_setting(&g_, &s);
        CALI_PARAM c = record(600);
        std::memcpy(c.path, s.working_calibration.path, sizeof c.path);
        EXPECT_EQ(save_calibration_to_file(&c).code(), -2003) << length;
        EXPECT_EQ(load_calibration_from_file(&c).code(), -2003) << length;
        if (length > 0) {
            EXPECT_TRUE(fs::is_empty(folder)) << length;
        }
    }
    EXPECT_EQ(dir_.names().count("CaliData6204_0001.dat"), 0u);
    fs::current_path(cwd);
}

// A stream of 1000 bytes that fails every read.
off64_t failing_position = 0;

FILE* failing_stream(const char*)
{
    cookie_io_functions_t io{};
    io.read = [](void*, char*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    io.seek = [](void*, off64_t* offset, int whence) {
        failing_position = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? failing_position : 1000) + *offset;
        *offset = failing_position;
        return 0;
    };
    return fopencookie(nullptr, "rb", io);
}

TEST_F(CaliFileTest, DamagedStoresAreAbsentOnLoadAndSetAsideOnSave)
{
    CALI_PARAM records[] = {record(300, 1), record(600, 2), record(1200, 3)};
    for (CALI_PARAM& c : records) ASSERT_EQ(save_calibration_to_file(&c).code(), 1);
    Bytes good = read_bytes(file());
    const uint32_t t = get_u32le(&good[56]);
    const Bytes with_checksum = good;
    put_u16le(&good[32], 0); // structure alone decides below
    const char* keyword = "RES:";

    std::vector<std::pair<std::string, Bytes>> damaged;
    for (size_t cut = 1; cut < good.size(); ++cut)
        damaged.push_back(
            {"cut at " + std::to_string(cut), Bytes(good.begin(), good.begin() + static_cast<long>(cut))});
    const auto field = [&](const std::string& what, size_t at, uint32_t value, bool wide = true) {
        Bytes b = good;
        if (wide)
            put_u32le(&b[at], value);
        else
            b[at] = static_cast<uint8_t>(value);
        damaged.push_back({what, b});
    };
    for (uint32_t v : {0u, 63u, t + 1, static_cast<uint32_t>(good.size()) + 1, 0xFFFFFFFFu}) field("table", 56, v);
    for (uint32_t v : {4u, 0x80000000u, 0xFFFFFFFFu}) field("count", 60, v);
    for (size_t e = 0; e < 3; ++e) {
        const size_t h = t + e * SHD_ENTRY_SIZE;
        for (uint32_t v : {0u, 63u, t, 0xFFFFFFF0u, 0xFFFFFFFFu}) field("offset 1", h + 64, v);
        for (uint32_t v : {t, 0x80000000u, 0xFFFFFFFFu}) field("size 1", h + 68, v);
        for (uint32_t v : {0u, t - 4, 0xFFFFFFFFu}) field("offset 2", h + 72, v);
        for (uint32_t v : {t, 0xFFFFFFFFu}) field("size 2", h + 76, v);
        Bytes b = good;
        std::fill_n(&b[h], SHD_KEY_SIZE, 'K');
        damaged.push_back({"unterminated key", b});
    }
    field("magic", 3, 'x', false);
    field("byte 16", 16, 1, false);
    Bytes wrong = with_checksum;
    wrong[70] ^= 1;
    damaged.push_back({"wrong checksum", wrong});

    ShdFileOps quick = shd_file_default_ops();
    quick.sync = [](int) { return 0; };
    ScopedFileOps scoped(quick);
    CALI_PARAM fresh = record(300, 9);
    const Shd_entry_hdr extra = [] {
        Shd_entry_hdr h{};
        h.set_key("X");
        return h;
    }();
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        Bytes buffer = bytes;
        CShdFile f;
        ASSERT_EQ(f.Open(reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0), SHD_OK);
        for (const CALI_PARAM& c : records) {
            char key[CALI_KEY_SIZE];
            get_cali_data_key(1, 1, c.resolution, 1, 100, 0, 0, key, sizeof key);
            ASSERT_EQ(f.GetEntry(key, nullptr, nullptr), nullptr);
        }
        write_bytes(file(), bytes);
        ASSERT_EQ(f.Open(file().c_str(), 2), SHD_OK);
        ASSERT_EQ(f.GetEntry("X", nullptr, nullptr), nullptr);
        ASSERT_EQ(f.AddEntry(&extra, nullptr, nullptr), SHD_DAMAGED);
        ASSERT_EQ(f.DelEntryByKeywordSearch(keyword), SHD_DAMAGED);
        ASSERT_EQ(f.Close(), SHD_OK);
        ASSERT_EQ(read_bytes(file()), bytes) << "a damaged store is never written back";
        ASSERT_EQ(load(records[0]), -2003);

        fs::remove(file() + CALI_CORRUPT_SUFFIX);
        ASSERT_EQ(save_calibration_to_file(&fresh).code(), 1);
        ASSERT_EQ(read_bytes(file() + CALI_CORRUPT_SUFFIX), bytes);
        ASSERT_EQ(live_entries(file()), 1);
        CALI_PARAM back;
        ASSERT_EQ(load(fresh, &back), 1);
        ASSERT_EQ(back.white_line, fresh.white_line);
    }

    // An empty file is a new store, not damage.
    fs::remove(file() + CALI_CORRUPT_SUFFIX);
    write_bytes(file(), {});
    EXPECT_EQ(load(records[0]), -2003);
    EXPECT_EQ(save_calibration_to_file(&fresh).code(), 1);
    EXPECT_FALSE(exists(file() + CALI_CORRUPT_SUFFIX));

    // A store that cannot be read is not damaged: the save fails and the file is kept.
    const Bytes before = read_bytes(file());
    ShdFileOps failing = quick;
    failing.open_read = failing_stream;
    shd_file_set_ops(&failing);
    EXPECT_EQ(save_calibration_to_file(&fresh).code(), -2003);
    EXPECT_EQ(load(fresh), -2003);
    shd_file_set_ops(&quick);
    EXPECT_EQ(read_bytes(file()), before);
    EXPECT_FALSE(exists(file() + CALI_CORRUPT_SUFFIX));
}

// A second damaged store set aside used to replace the first one set aside.
TEST_F(CaliFileTest, EveryDamagedStoreSetAsideIsKept)
{
    CALI_PARAM fresh = record(300, 9);
    std::vector<Bytes> damaged;
    for (uint8_t i = 0; i < 4; ++i) {
        damaged.push_back(Bytes(100 + i, static_cast<uint8_t>('a' + i)));
        write_bytes(file(), damaged.back());
        ASSERT_EQ(save_calibration_to_file(&fresh).code(), 1) << int{i};
    }
    // Something else under the next name is not replaced either.
    write_bytes(file() + ".corrupt.5", {42});
    write_bytes(file(), {1, 2, 3});
    ASSERT_EQ(save_calibration_to_file(&fresh).code(), 1);
    EXPECT_EQ(read_bytes(file() + ".corrupt"), damaged[0]);
    EXPECT_EQ(read_bytes(file() + ".corrupt.2"), damaged[1]);
    EXPECT_EQ(read_bytes(file() + ".corrupt.3"), damaged[2]);
    EXPECT_EQ(read_bytes(file() + ".corrupt.4"), damaged[3]);
    EXPECT_EQ(read_bytes(file() + ".corrupt.5"), Bytes{42});
    EXPECT_EQ(read_bytes(file() + ".corrupt.6"), (Bytes{1, 2, 3}));
    CALI_PARAM back;
    ASSERT_EQ(load(fresh, &back), 1);
    EXPECT_EQ(back.white_line, fresh.white_line);

    // With every name taken the damaged store stays where it is and the save fails.
    for (int n = 7; n <= 99; ++n) write_bytes(file() + ".corrupt." + std::to_string(n), {});
    write_bytes(file(), {7});
    EXPECT_EQ(save_calibration_to_file(&fresh).code(), -2003);
    EXPECT_EQ(read_bytes(file()), Bytes{7});
    EXPECT_EQ(read_bytes(file() + ".corrupt"), damaged[0]);
}

} // namespace
