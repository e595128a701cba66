// The calibration store: its exact layout, edits under one key, modes, and the mended faults
// (atomic write-back, no truncation, validation of every load, table moves, compaction).
#include "crc16.h"
#include "le_bytes.h"
#include "shd_file.h"
#include "store_files.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace lftest;
namespace fs = std::filesystem;

Shd_entry_hdr entry(const char* key, size_t s1, size_t s2, uint8_t param = 0)
{
    Shd_entry_hdr h{};
    EXPECT_TRUE(h.set_key(key));
    h.set_blob1(0, static_cast<uint32_t>(s1));
    h.set_blob2(0, static_cast<uint32_t>(s2));
    for (uint8_t i = 0; i < 8; ++i) h.params()[i] = static_cast<uint8_t>(param + i);
    return h;
}

// A store image from its parts, checksum 0.
Bytes store_image(const Bytes& data, const std::vector<Shd_entry_hdr>& table, uint32_t count)
{
    Bytes b(SHD_HEADER_SIZE, 0);
    std::memcpy(b.data(), SHD_MAGIC, 16);
    put_u32le(&b[56], static_cast<uint32_t>(SHD_HEADER_SIZE + data.size()));
    put_u32le(&b[60], count);
    b.insert(b.end(), data.begin(), data.end());
    for (const Shd_entry_hdr& h : table) b.insert(b.end(), h.raw, h.raw + SHD_ENTRY_SIZE);
    return b;
}

// The keys of the table in order, deleted ones as "NULL".
std::vector<std::string> table_keys(const Bytes& image)
{
    std::vector<std::string> keys;
    for (size_t at = get_u32le(&image[56]); at + SHD_ENTRY_SIZE <= image.size(); at += SHD_ENTRY_SIZE)
        keys.emplace_back(reinterpret_cast<const char*>(&image[at]));
    return keys;
}

class ShdFileTest : public ::testing::Test {
protected:
    std::string path() const { return dir_.file("store.dat"); }
    int add(const char* key, const Bytes& b1, const Bytes& b2, uint8_t param = 0)
    {
        CShdFile f;
        if (f.Open(path().c_str(), 2) != SHD_OK) return -100;
        const Shd_entry_hdr h = entry(key, b1.size(), b2.size(), param);
        const int r = f.AddEntry(&h, b1.data(), b2.data());
        return f.Close() == SHD_OK ? r : -101;
    }
    // The entry's blobs as a fresh read-only store finds them.
    std::optional<std::pair<Bytes, Bytes>> get(const char* key)
    {
        CShdFile f;
        if (f.Open(path().c_str(), 1) != SHD_OK) return std::nullopt;
        uint8_t *b1 = nullptr, *b2 = nullptr;
        const Shd_entry_hdr* h = f.GetEntry(key, &b1, &b2);
        if (h == nullptr) return std::nullopt;
        return std::make_pair(Bytes(b1, b1 + h->size1()), Bytes(b2, b2 + h->size2()));
    }
    using Blobs = std::pair<Bytes, Bytes>;

    TempFolder dir_;
};

TEST_F(ShdFileTest, AFirstAddWritesTheExactStore)
{
    ASSERT_EQ(add("RES:300_A", {1, 2, 3, 4}, {5, 6, 7, 8, 9, 10}, 0x40), SHD_OK);
    Bytes want(SHD_HEADER_SIZE + 10 + SHD_ENTRY_SIZE, 0);
    std::memcpy(want.data(), "FILE HEADER v1.5", 16);
    put_u32le(&want[56], 74);
    put_u32le(&want[60], 1);
    for (uint8_t i = 0; i < 10; ++i) want[64 + i] = static_cast<uint8_t>(i + 1);
    std::memcpy(&want[74], "RES:300_A", 9);
    put_u32le(&want[74 + 64], 64);
    put_u32le(&want[74 + 68], 4);
    put_u32le(&want[74 + 72], 68);
    put_u32le(&want[74 + 76], 6);
    for (uint8_t i = 0; i < 8; ++i) want[74 + 80 + i] = static_cast<uint8_t>(0x40 + i);
    put_u16le(&want[32], CRC16_BlockChecksum(want.data() + 64, want.size() - 64));
    EXPECT_EQ(read_bytes(path()), want);
}

TEST_F(ShdFileTest, EntriesUnderOneKey)
{
    ASSERT_EQ(add("A", {1, 1, 1, 1}, {2, 2, 2, 2}), SHD_OK);
    ASSERT_EQ(add("B", {3, 3}, {4, 4}), SHD_OK);
    Bytes image = read_bytes(path());
    EXPECT_EQ(table_keys(image), (std::vector<std::string>{"B", "A"})) << "the newest header comes first";

    // Equal sizes: rewritten in place.
    ASSERT_EQ(add("A", {5, 5, 5, 5}, {6, 6, 6, 6}), SHD_OK);
    Bytes rewritten = read_bytes(path());
    EXPECT_EQ(rewritten.size(), image.size());
    EXPECT_EQ(table_keys(rewritten), table_keys(image));
    EXPECT_EQ(get("A"), (Blobs{{5, 5, 5, 5}, {6, 6, 6, 6}}));

    // Other sizes: the old header stays as "NULL", the new entry comes first, the count is kept.
    ASSERT_EQ(add("A", {7, 7, 7}, {8, 8, 8}), SHD_OK);
    image = read_bytes(path());
    EXPECT_EQ(image.size(), rewritten.size() + SHD_ENTRY_SIZE + 6);
    EXPECT_EQ(table_keys(image), (std::vector<std::string>{"A", "B", "NULL"}));
    EXPECT_EQ(get_u32le(&image[60]), 2u);
    EXPECT_EQ(get("A"), (Blobs{{7, 7, 7}, {8, 8, 8}}));
    EXPECT_EQ(get("B"), (Blobs{{3, 3}, {4, 4}}));
}

TEST_F(ShdFileTest, KeywordDeleteCompactsEachBlobFromItsOwnOffset)
{
    ASSERT_EQ(add("RES:300_X", {1, 1}, {2, 2, 2}), SHD_OK);
    ASSERT_EQ(add("RES:3000_Y", {3}, {4}), SHD_OK);
    ASSERT_EQ(add("RES:600_Z", {5, 5, 5, 5}, {6}), SHD_OK);
    CShdFile f;
    ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
    ASSERT_EQ(f.DelEntryByKeywordSearch("RES:300_"), SHD_OK);
    ASSERT_EQ(f.Close(), SHD_OK);
    const Bytes image = read_bytes(path());
    ASSERT_EQ(image.size(), SHD_HEADER_SIZE + 7 + 2 * SHD_ENTRY_SIZE);
    EXPECT_EQ(get_u32le(&image[56]), 71u);
    EXPECT_EQ(get_u32le(&image[60]), 2u);
    EXPECT_EQ(Bytes(&image[64], &image[71]), (Bytes{5, 5, 5, 5, 6, 3, 4}));
    EXPECT_EQ(table_keys(image), (std::vector<std::string>{"RES:600_Z", "RES:3000_Y"}));
    EXPECT_EQ(get("RES:3000_Y"), (Blobs{{3}, {4}}));

    // Blob 2 lying before blob 1, with a deleted entry's blob between: each moves on its own.
    Shd_entry_hdr e = entry("E", 2, 4), gone = entry("NULL", 1, 1);
    e.set_blob1(69, 2);
    e.set_blob2(64, 4);
    write_bytes(path(), store_image({7, 7, 7, 7, 9, 8, 8}, {gone, e}, 1));
    ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
    ASSERT_EQ(f.ResizeFileBuffer(), SHD_OK);
    ASSERT_EQ(f.Close(), SHD_OK);
    EXPECT_EQ(read_bytes(path()).size(), SHD_HEADER_SIZE + 6 + SHD_ENTRY_SIZE);
    EXPECT_EQ(get("E"), (Blobs{{8, 8}, {7, 7, 7, 7}}));
}

TEST_F(ShdFileTest, AReadOnlyStoreIsNeverWritten)
{
    ASSERT_EQ(add("A", {1, 2}, {3, 4}), SHD_OK);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(path(), old);
    const Bytes before = read_bytes(path());

    CShdFile f;
    ASSERT_EQ(f.Open(path().c_str(), 1), SHD_OK);
    ASSERT_NE(f.GetEntry("A", nullptr, nullptr), nullptr);
    const Shd_entry_hdr h = entry("B", 1, 1);
    const uint8_t blob = 9;
    EXPECT_EQ(f.AddEntry(&h, &blob, &blob), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.DelEntry("A"), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.DelEntryByKeywordSearch("A"), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.UpdateChecksum(), SHD_NOT_ALLOWED);
    uint16_t checksum = 0;
    EXPECT_EQ(f.GetChecksum(&checksum), SHD_OK);
    EXPECT_EQ(checksum, get_u16le(&before[32]));
    EXPECT_EQ(f.Close(), SHD_OK);
    EXPECT_EQ(read_bytes(path()), before);
    EXPECT_EQ(fs::last_write_time(path()), old);

    // A read-only open of a missing file leaves an empty one and finds nothing.
    const std::string missing = dir_.file("missing.dat");
    ASSERT_EQ(f.Open(missing.c_str(), 1), SHD_OK);
    EXPECT_EQ(f.GetEntry("A", nullptr, nullptr), nullptr);
    f.Close();
    EXPECT_EQ(fs::file_size(missing), 0u);
}

TEST_F(ShdFileTest, MemoryModeReadsTheCallersImageOnly)
{
    ASSERT_EQ(add("A", {1, 2}, {3, 4}), SHD_OK);
    const Bytes image = read_bytes(path());
    Bytes buffer = image;
    CShdFile f;
    EXPECT_EQ(f.Open(nullptr, 10, 0), SHD_FAILED);
    ASSERT_EQ(f.Open(reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0), SHD_OK);
    uint8_t *b1 = nullptr, *b2 = nullptr;
    ASSERT_NE(f.GetEntry("A", &b1, &b2), nullptr);
    EXPECT_EQ(b1, buffer.data() + 64);
    EXPECT_EQ(b2, buffer.data() + 66);
    const Shd_entry_hdr h = entry("B", 0, 0);
    int count = 0;
    uint16_t checksum = 0;
    EXPECT_EQ(f.AddEntry(&h, nullptr, nullptr), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.DelEntry("A"), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.DelEntryByKeywordSearch("A"), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.ResizeFileBuffer(), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.GetNumEntry(&count), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.GetFileSize(), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.LoadFileToMemory(4), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.CheckFileFormat(), SHD_NOT_ALLOWED);
    EXPECT_EQ(f.GetChecksum(&checksum), SHD_NO_FILE);
    EXPECT_EQ(f.UpdateChecksum(), SHD_NO_FILE);
    EXPECT_EQ(f.Close(), SHD_OK);
    EXPECT_EQ(buffer, image) << "closing neither writes nor frees the caller's buffer";

    buffer[16] = 'X';
    ASSERT_EQ(f.Open(reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0), SHD_OK);
    EXPECT_EQ(f.GetEntry("A", &b1, &b2), nullptr);
    EXPECT_EQ(b1, nullptr);
}

TEST_F(ShdFileTest, RefusedHeadersAndPaths)
{
    ASSERT_EQ(add("A", {1, 2}, {3, 4}), SHD_OK);
    Bytes image = read_bytes(path());
    image[16] = 'X';
    write_bytes(path(), image);
    CShdFile f;
    ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
    EXPECT_EQ(f.GetFileBuffer(nullptr), SHD_DAMAGED);
    const Shd_entry_hdr h = entry("B", 1, 1);
    const uint8_t blob = 1;
    EXPECT_EQ(f.AddEntry(&h, &blob, &blob), SHD_DAMAGED);
    EXPECT_EQ(f.Close(), SHD_OK);
    EXPECT_EQ(read_bytes(path()), image);

    // Paths of 250 bytes are taken; 251 are refused before anything is created.
    std::string name250 = dir_.path();
    name250.append(250 - name250.size(), 'n');
    EXPECT_EQ(f.Open((name250 + "m").c_str(), 2), SHD_FAILED);
    EXPECT_FALSE(exists(name250 + "m"));
    EXPECT_EQ(f.Open(name250.c_str(), 2), SHD_OK);
    f.Close();
}

// A live count below the live headers once let a keyword delete reach entries that lookups could
// not, so that a record added and saved was lost; overlapping blobs once let a saved record come
// back with its dark line half overwritten by its white one.
TEST_F(ShdFileTest, ACountOrBlobsThatDisagreeWithTheTableAreDamage)
{
    Shd_entry_hdr a = entry("RES:1200_A", 1, 1), b = entry("RES:300_B_RES:1200_", 1, 1);
    a.set_blob1(64, 1);
    a.set_blob2(65, 1);
    b.set_blob1(66, 1);
    b.set_blob2(67, 1);
    // Laid out by hand: blobs 1 2 3 4, then both headers, count 2.
    Bytes consistent(SHD_HEADER_SIZE + 4 + 2 * SHD_ENTRY_SIZE, 0);
    std::memcpy(consistent.data(), SHD_MAGIC, 16);
    put_u32le(&consistent[56], SHD_HEADER_SIZE + 4);
    put_u32le(&consistent[60], 2);
    for (uint8_t i = 0; i < 4; ++i) consistent[SHD_HEADER_SIZE + i] = static_cast<uint8_t>(i + 1);
    std::memcpy(&consistent[SHD_HEADER_SIZE + 4], a.raw, SHD_ENTRY_SIZE);
    std::memcpy(&consistent[SHD_HEADER_SIZE + 4 + SHD_ENTRY_SIZE], b.raw, SHD_ENTRY_SIZE);
    for (uint32_t count : {0u, 1u, 3u}) {
        Bytes image = consistent;
        put_u32le(&image[60], count);
        write_bytes(path(), image);
        CShdFile f;
        ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
        int n = -1;
        EXPECT_EQ(f.GetNumEntry(&n), SHD_DAMAGED) << count;
        const Shd_entry_hdr h = entry("RES:300_C", 1, 1);
        const uint8_t blob = 9;
        EXPECT_EQ(f.AddEntry(&h, &blob, &blob), SHD_DAMAGED) << count;
        EXPECT_EQ(f.DelEntryByKeywordSearch("RES:1200_"), SHD_DAMAGED) << count;
        EXPECT_EQ(f.Close(), SHD_OK);
        EXPECT_EQ(read_bytes(path()), image) << count;
    }
    write_bytes(path(), consistent);
    EXPECT_EQ(get("RES:300_B_RES:1200_"), (Blobs{{3}, {4}}));

    // Blobs that overlap, within an entry or across two, are damage too: rewriting one in place
    // would change the other.
    const auto damaged_with = [&](const Shd_entry_hdr& first, const Shd_entry_hdr& second) {
        Bytes image = consistent;
        std::memcpy(&image[SHD_HEADER_SIZE + 4], first.raw, SHD_ENTRY_SIZE);
        std::memcpy(&image[SHD_HEADER_SIZE + 4 + SHD_ENTRY_SIZE], second.raw, SHD_ENTRY_SIZE);
        write_bytes(path(), image);
        CShdFile f;
        int n = -1;
        const bool damaged = f.Open(path().c_str(), 1) == SHD_OK && f.GetNumEntry(&n) == SHD_DAMAGED &&
            f.GetEntry("RES:1200_A", nullptr, nullptr) == nullptr;
        f.Close();
        return damaged;
    };
    Shd_entry_hdr same = a; // both lines of one entry in one place
    same.set_blob2(64, 1);
    EXPECT_TRUE(damaged_with(same, b));
    Shd_entry_hdr shared = b; // the first line of one entry in the second of the other
    shared.set_blob1(65, 1);
    EXPECT_TRUE(damaged_with(a, shared));
    EXPECT_FALSE(damaged_with(a, b));
}

TEST_F(ShdFileTest, AppendsMoveTheTableAndStayInBounds)
{
    // Zero-size entries leave the table offset at 64: the table still moves on the next append.
    ASSERT_EQ(add("A", {}, {}), SHD_OK);
    ASSERT_EQ(add("B", {}, {}), SHD_OK);
    ASSERT_EQ(add("C", {1, 2}, {3}), SHD_OK);
    EXPECT_EQ(table_keys(read_bytes(path())), (std::vector<std::string>{"C", "B", "A"}));
    EXPECT_EQ(get("A"), (Blobs{{}, {}}));
    EXPECT_EQ(get("B"), (Blobs{{}, {}}));
    EXPECT_EQ(get("C"), (Blobs{{1, 2}, {3}}));

    // An image loaded by GetEntry (without room) still grows for an append.
    const Bytes big(1000, 0x5A);
    CShdFile f;
    ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
    ASSERT_NE(f.GetEntry("C", nullptr, nullptr), nullptr);
    const Shd_entry_hdr h = entry("D", big.size(), big.size());
    ASSERT_EQ(f.AddEntry(&h, big.data(), big.data()), SHD_OK);
    // Opening another store first closes (and writes back) this one.
    ASSERT_EQ(f.Open(dir_.file("other.dat").c_str(), 2), SHD_OK);
    f.Close();
    EXPECT_EQ(get("D"), (Blobs{big, big}));
    EXPECT_EQ(get("C"), (Blobs{{1, 2}, {3}}));
}

TEST_F(ShdFileTest, AFailedWriteBackLeavesTheStoreAsItWas)
{
    ASSERT_EQ(add("A", {1, 2}, {3, 4}), SHD_OK);
    const Bytes before = read_bytes(path());
    const auto failing = [](auto change) {
        ShdFileOps o = shd_file_default_ops();
        change(o);
        return o;
    };
    const std::pair<const char*, ShdFileOps> failures[] = {
        {"temporary file", failing([](ShdFileOps& o) { o.open_temp = [](std::string&) -> FILE* { return nullptr; }; })},
        {"write", failing([](ShdFileOps& o) {
             o.write = [](const void* d, size_t n, FILE* f) { return std::fwrite(d, 1, n / 2, f); };
         })},
        {"flush", failing([](ShdFileOps& o) { o.flush = [](FILE*) { return EOF; }; })},
        {"fsync", failing([](ShdFileOps& o) { o.sync = [](int) { return -1; }; })},
        {"close", failing([](ShdFileOps& o) { o.close = [](FILE* f) { return std::fclose(f), EOF; }; })},
        {"rename", failing([](ShdFileOps& o) { o.rename = [](const char*, const char*) { return -1; }; })},
    };
    for (const auto& [what, ops] : failures) {
        ScopedFileOps scoped(ops);
        CShdFile f;
        ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
        const Shd_entry_hdr h = entry("B", 2, 2);
        const uint8_t blob[2] = {7, 8};
        ASSERT_EQ(f.AddEntry(&h, blob, blob), SHD_OK);
        EXPECT_EQ(f.Close(), SHD_FAILED) << what;
        EXPECT_EQ(read_bytes(path()), before) << what;
        EXPECT_EQ(dir_.names(), std::set<std::string>{"store.dat"}) << what << ": no temporary file is left";
    }

    // An open that fails for another reason than absence creates and truncates nothing.
    ScopedFileOps scoped(
        failing([](ShdFileOps& o) { o.open_read = [](const char*) -> FILE* { return errno = EACCES, nullptr; }; }));
    CShdFile f;
    EXPECT_EQ(f.Open(path().c_str(), 2), SHD_FAILED);
    EXPECT_EQ(f.Open(dir_.file("new.dat").c_str(), 2), SHD_FAILED);
    EXPECT_EQ(read_bytes(path()), before);
    EXPECT_EQ(dir_.names(), std::set<std::string>{"store.dat"});
}

// Temporaries of a write-back that a killed process left (2-8 MB each for real stores) were never
// removed. The next write-back removes those of this store that nobody has touched for a while.
TEST_F(ShdFileTest, TemporariesLeftByAKilledWriterAreRemovedAtTheNextWriteBack)
{
    const auto hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const std::set<std::string> stale = {"store.dat.Ab3xY9", "store.dat.000000"};
    const std::set<std::string> kept = {
        "store.dat.Qw12er.fresh", // not our naming
        "store.dat.Ab3xY",        // five characters
        "store.dat.Ab3xY9z",      // seven
        "store.dat.Ab-xY9",       // not mkstemp's alphabet
        "other.dat.Ab3xY9",       // another store's
        "store.dat.corrupt",
    };
    for (const std::string& name : stale) write_bytes(dir_.file(name), Bytes(100, 1));
    for (const std::string& name : kept) write_bytes(dir_.file(name), Bytes(100, 2));
    for (const auto& name : {stale, kept})
        for (const std::string& n : name) fs::last_write_time(dir_.file(n), hour_ago);
    write_bytes(dir_.file("store.dat.Recent"), Bytes(100, 3)); // a write in progress
    fs::create_directory(dir_.file("store.dat.Folder"));
    fs::last_write_time(dir_.file("store.dat.Folder"), hour_ago);

    ASSERT_EQ(add("A", {1}, {2}), SHD_OK);
    std::set<std::string> want = kept;
    want.insert({"store.dat", "store.dat.Recent", "store.dat.Folder"});
    EXPECT_EQ(dir_.names(), want);
    EXPECT_EQ(get("A"), (Blobs{{1}, {2}}));
}

// A FIFO in place of the store once held the scan in fopen for ever; a folder opened "successfully"
// and failed only later. Both are refused at the open, at once, and neither is replaced.
TEST_F(ShdFileTest, AnythingButARegularFileIsRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
    for (const int mode : {1, 2}) {
        auto opened = std::async(std::launch::async, [&] {
            CShdFile f;
            const int r = f.Open(path().c_str(), mode);
            f.Close();
            return r;
        });
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the open of a FIFO blocks";
            const int writer = ::open(path().c_str(), O_WRONLY | O_NONBLOCK); // lets it go
            opened.wait();
            if (writer >= 0) ::close(writer);
            continue;
        }
        EXPECT_EQ(opened.get(), SHD_FAILED) << mode;
    }
    EXPECT_TRUE(fs::is_fifo(path()));

    const std::string folder = dir_.file("folder.dat");
    fs::create_directory(folder);
    CShdFile f;
    EXPECT_EQ(f.Open(folder.c_str(), 2), SHD_FAILED);
    EXPECT_TRUE(fs::is_directory(folder));
}

// A stream over a file that counts the bytes read through it.
size_t bytes_read = 0;

FILE* counting_stream(const char* path)
{
    FILE* real = shd_file_default_ops().open_read(path);
    if (real == nullptr) return nullptr;
    cookie_io_functions_t io{};
    io.read = [](void* c, char* buffer, size_t size) -> ssize_t {
        const size_t n = std::fread(buffer, 1, size, static_cast<FILE*>(c));
        bytes_read += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* c, off64_t* offset, int whence) {
        if (::fseeko(static_cast<FILE*>(c), *offset, whence) != 0) return -1;
        *offset = ::ftello(static_cast<FILE*>(c));
        return 0;
    };
    io.close = [](void* c) { return std::fclose(static_cast<FILE*>(c)); };
    return fopencookie(real, "rb", io);
}

// A 1 GB sparse store was read whole into memory. Its header and table alone show that it cannot
// be a store: the data area must hold just the blobs the table names.
TEST_F(ShdFileTest, AStoreFarLargerThanItsTableDescribesIsRejectedUnread)
{
    Shd_entry_hdr a = entry("A", 1, 1);
    a.set_blob1(64, 1);
    a.set_blob2(65, 1);
    Bytes good(SHD_HEADER_SIZE, 0);
    std::memcpy(good.data(), SHD_MAGIC, 16);
    put_u32le(&good[60], 1);
    good.push_back(1);
    good.push_back(2);
    good.insert(good.end(), a.raw, a.raw + SHD_ENTRY_SIZE);
    const Bytes table(good.end() - SHD_ENTRY_SIZE, good.end());
    // The two blobs, then nothing but a hole up to the table.
    const auto with_data_area = [&](uint64_t data) {
        Bytes head(good.begin(), good.begin() + SHD_HEADER_SIZE + 2);
        put_u32le(&head[56], static_cast<uint32_t>(SHD_HEADER_SIZE + data));
        write_bytes(path(), head);
        std::FILE* f = std::fopen(path().c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ::fseeko(f, static_cast<off_t>(SHD_HEADER_SIZE + data), SEEK_SET);
        std::fwrite(table.data(), 1, table.size(), f);
        std::fclose(f);
    };
    ShdFileOps ops = shd_file_default_ops();
    ops.open_read = counting_stream;
    ScopedFileOps scoped(ops);
    struct Case {
        uint64_t data_area;
        bool readable;
    };
    for (const Case c : {Case{(uint64_t{1} << 30) - 400, false},
                         {2 + (uint64_t{1} << 20) + 1, false},
                         {2 + (uint64_t{1} << 20), true},
                         {2, true}}) {
        SCOPED_TRACE(c.data_area);
        with_data_area(c.data_area);
        bytes_read = 0;
        CShdFile f;
        ASSERT_EQ(f.Open(path().c_str(), 2), SHD_OK);
        EXPECT_EQ(f.GetFileBuffer(nullptr), c.readable ? SHD_OK : SHD_DAMAGED);
        EXPECT_EQ(f.GetEntry("A", nullptr, nullptr) != nullptr, c.readable);
        f.Drop();
        if (!c.readable) {
            EXPECT_LT(bytes_read, size_t{1} << 20);
        }
    }
}

} // namespace
