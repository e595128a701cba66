// A small keyed store in one file: a 64-byte header, a data area of blobs, and a table of 336-byte
// entry headers at the end, each naming two blobs and carrying a 256-byte parameter area. The
// whole file is loaded on first use, edited in memory and written back at Close: into a temporary
// file in the same folder that then replaces the original, so a failed write-back leaves the old
// store as it was. Every load is validated first, its size against its table before the file is
// read whole; a store that fails is damaged (-5). Temporaries a killed writer left are removed at
// the next write-back.
//
// Header: "FILE HEADER v1.5" and a NUL at 0-16, u16 checksum at 32 (CRC-16 of bytes 64 to the end,
// or 0), u32 table offset at 56, u32 live count at 60. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr size_t SHD_HEADER_SIZE = 64;
constexpr size_t SHD_ENTRY_SIZE = 336;
constexpr size_t SHD_KEY_SIZE = 64;
constexpr size_t SHD_PARAMS_SIZE = 256;
constexpr size_t SHD_PATH_MAX = 250;
constexpr char SHD_MAGIC[] = "FILE HEADER v1.5";
constexpr char SHD_DELETED_KEY[] = "NULL";

// Result codes.
enum {
    SHD_OK = 1,
    SHD_FAILED = 0, // open failed, file not read whole, or nothing found
    SHD_NO_MEMORY = -2,
    SHD_NOT_ALLOWED = -3, // memory mode, read-only, checksum of a writable store, empty file
    SHD_NO_FILE = -4,
    SHD_DAMAGED = -5,
};

// One entry header, as the bytes it is in the store image.
struct Shd_entry_hdr {
    uint8_t raw[SHD_ENTRY_SIZE];

    const char* key() const { return reinterpret_cast<const char*>(raw); }
    // Writes the key zero-padded; false (nothing written) when it does not fit with its NUL.
    bool set_key(const char* key);
    uint32_t offset1() const;
    uint32_t size1() const;
    uint32_t offset2() const;
    uint32_t size2() const;
    void set_blob1(uint32_t offset, uint32_t size);
    void set_blob2(uint32_t offset, uint32_t size);
    uint8_t* params() { return raw + SHD_KEY_SIZE + 16; }
    const uint8_t* params() const { return raw + SHD_KEY_SIZE + 16; }
};
static_assert(sizeof(Shd_entry_hdr) == SHD_ENTRY_SIZE);

// The store's file operations: C stdio and POSIX. Tests replace single members to make one step
// fail.
struct ShdFileOps {
    FILE* (*open_read)(const char* path);  // an existing file, for reading
    int (*create_new)(const char* path);   // 0, or -1 with errno (EEXIST when it exists)
    FILE* (*open_temp)(std::string& path); // path holds a mkstemp template; null on failure
    size_t (*write)(const void* data, size_t size, FILE* f);
    int (*flush)(FILE* f);
    int (*sync)(int fd); // the temporary file, then its folder
    int (*close)(FILE* f);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    // Renames onto a free name only: -1 with EEXIST when `to` exists, which is left as it was.
    int (*rename_new)(const char* from, const char* to);
};
const ShdFileOps& shd_file_default_ops();
const ShdFileOps& shd_file_ops();
// Replaces the operations (null restores the defaults).
void shd_file_set_ops(const ShdFileOps* ops);

class CShdFile {
public:
    CShdFile() = default;
    CShdFile(const CShdFile&) = delete;
    CShdFile& operator=(const CShdFile&) = delete;
    // Closes the store (writing a writable image back).
    virtual ~CShdFile();

    // Closes an open store first. Mode 1 is read-only, anything else writable. Opens the file for
    // reading, without waiting, and only a regular file; a missing file is created empty (never
    // truncated). A path over 250 bytes, or any other open failure, gives 0.
    int Open(const char* path, int mode);
    // Memory mode over a caller's store image: only GetEntry works, and Close neither writes nor
    // frees the buffer. 0 for a null buffer or a negative size.
    int Open(char* buffer, int size, int mode);
    // Writes a writable image back, releases it and closes the file; 0 when the write-back failed.
    int Close();
    // Releases the image and closes the file without writing anything.
    void Drop();
    // For a writable store with an open file and an image: sets the checksum and replaces the file
    // with the image. 1 when everything was written (or nothing was to do), else 0 with the file
    // as it was.
    int Flush();
    // Loads the image; with `room_for`, an empty file gives a new store with room for that entry.
    int GetFileBuffer(const Shd_entry_hdr* room_for);
    // The first live entry with this key, or null. Its pointers are valid until the next edit.
    Shd_entry_hdr* GetEntry(const char* key, uint8_t** blob1, uint8_t** blob2);
    // Adds or replaces the entry with this key. The header's blob offsets are ignored; its sizes,
    // key and parameter area are taken.
    int AddEntry(const Shd_entry_hdr* header, const uint8_t* blob1, const uint8_t* blob2);
    int DelEntry(const char* key);
    // Deletes every live entry whose key contains the keyword, then compacts.
    int DelEntryByKeywordSearch(const char* keyword);
    int ResizeFileBuffer();
    int GetNumEntry(int* count);
    int GetChecksum(uint16_t* value);
    int UpdateChecksum();
    // The file's size, or a negative code.
    int64_t GetFileSize();
    int LoadFileToMemory(int64_t n);
    int CheckFileFormat();

private:
    int guard_edit() const;
    int ensure_image(const Shd_entry_hdr* room_for);
    int check_described_size(uint64_t n);
    int validate() const;
    uint8_t* image() { return memory_mode_ != 0 ? memory_ : image_.data(); }
    const uint8_t* image() const { return memory_mode_ != 0 ? memory_ : image_.data(); }
    uint32_t table_offset() const;
    uint32_t live_count() const;
    void set_table_offset(uint32_t v);
    void set_live_count(uint32_t v);
    uint32_t headers() const; // physical headers in the table
    Shd_entry_hdr* header_at(uint32_t index);
    Shd_entry_hdr* find(const char* key);
    int append(const Shd_entry_hdr* header, const uint8_t* blob1, const uint8_t* blob2);

    FILE* file_ = nullptr;
    std::vector<uint8_t> image_;
    bool have_image_ = false;
    uint32_t size_ = 0;
    uint8_t read_only_ = 1;
    std::string path_;
    uint32_t memory_mode_ = 0;
    uint8_t* memory_ = nullptr; // the caller's image in memory mode
    bool memory_valid_ = false;
};
