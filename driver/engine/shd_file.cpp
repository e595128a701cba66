#include "shd_file.h"

#include "crc16.h"
#include "dbg_log.h"
#include "le_bytes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChecksumAt = 32;
constexpr size_t kTableOffsetAt = 56;
constexpr size_t kLiveCountAt = 60;
constexpr size_t kMagicSize = sizeof SHD_MAGIC - 1; // 16, then a NUL at 16
// Bytes of the data area that no header names and that a store may still carry. Stores written
// here carry none; the allowance only keeps a sound store of another writer's making readable.
constexpr uint64_t kUndescribedAllowance = uint64_t{1} << 20;
constexpr size_t kHeadersPerRead = 64;
// A write-back's temporary file lives for well under a second; one this old was left by a
// process that died while writing.
constexpr time_t kStaleTemporarySeconds = 10 * 60;
constexpr size_t kTemporarySuffix = 6; // mkstemp's XXXXXX

// A FIFO or a device in the store's place would hold an open, or a read, for ever: the file is
// opened without waiting and must be a regular file.
FILE* default_open_read(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        DBG_LOG(kLogErrors, "CShdFile: %s is not a regular file\n", path);
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) ::close(fd);
    return f;
}

int default_create_new(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    ::close(fd);
    return 0;
}

FILE* default_open_temp(std::string& path)
{
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        ::close(fd);
        ::unlink(path.c_str());
    }
    return f;
}

size_t default_write(const void* data, size_t size, FILE* f)
{
    return std::fwrite(data, 1, size, f);
}

int default_rename_new(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the exclusive rename: a new link fails on a taken name just as well.
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

constexpr ShdFileOps kDefaultOps = {
    default_open_read, default_create_new, default_open_temp, default_write, std::fflush,
    ::fsync,           std::fclose,        std::rename,       ::unlink,      default_rename_new,
};

ShdFileOps current_ops = kDefaultOps;

bool deleted(const Shd_entry_hdr* h)
{
    return std::memcmp(h->raw, SHD_DELETED_KEY, sizeof SHD_DELETED_KEY) == 0;
}

void mark_deleted(Shd_entry_hdr* h)
{
    h->set_key(SHD_DELETED_KEY);
}

bool blob_inside(uint32_t offset, uint32_t size, uint32_t table)
{
    return offset >= SHD_HEADER_SIZE && uint64_t{offset} + size <= table;
}

// The folder holding `path` is synced so that the rename itself survives a crash; best effort.
void sync_folder(std::string path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        path = ".";
    else
        path.resize(slash == 0 ? 1 : slash);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    current_ops.sync(fd);
    ::close(fd);
}

bool temporary_suffix(const char* s)
{
    size_t n = 0;
    for (; s[n] != '\0'; ++n)
        if (n == kTemporarySuffix ||
            !((s[n] >= 'A' && s[n] <= 'Z') || (s[n] >= 'a' && s[n] <= 'z') || (s[n] >= '0' && s[n] <= '9')))
            return false;
    return n == kTemporarySuffix;
}

// Removes the temporaries of the store at `path` ("<name>.XXXXXX", as Flush makes them) that a
// killed writer left behind: regular files unchanged for kStaleTemporarySeconds. Best effort.
void remove_stale_temporaries(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const time_t now = std::time(nullptr);
    while (const dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0 || !temporary_suffix(e->d_name + prefix.size()))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            now - st.st_mtime < kStaleTemporarySeconds)
            continue;
        const std::string stale = folder + e->d_name;
        if (current_ops.unlink(stale.c_str()) == 0)
            DBG_LOG(kLogDetails, "CShdFile: removed %s, left by an interrupted write\n", stale.c_str());
    }
    ::closedir(dir);
}

} // namespace

bool Shd_entry_hdr::set_key(const char* key)
{
    if (key == nullptr || strnlen(key, SHD_KEY_SIZE) == SHD_KEY_SIZE) return false;
    std::memset(raw, 0, SHD_KEY_SIZE);
    std::memcpy(raw, key, std::strlen(key));
    return true;
}

uint32_t Shd_entry_hdr::offset1() const
{
    return get_u32le(raw + 64);
}
uint32_t Shd_entry_hdr::size1() const
{
    return get_u32le(raw + 68);
}
uint32_t Shd_entry_hdr::offset2() const
{
    return get_u32le(raw + 72);
}
uint32_t Shd_entry_hdr::size2() const
{
    return get_u32le(raw + 76);
}

void Shd_entry_hdr::set_blob1(uint32_t offset, uint32_t size)
{
    put_u32le(raw + 64, offset);
    put_u32le(raw + 68, size);
}

void Shd_entry_hdr::set_blob2(uint32_t offset, uint32_t size)
{
    put_u32le(raw + 72, offset);
    put_u32le(raw + 76, size);
}

const ShdFileOps& shd_file_default_ops()
{
    return kDefaultOps;
}

const ShdFileOps& shd_file_ops()
{
    return current_ops;
}

void shd_file_set_ops(const ShdFileOps* ops)
{
    current_ops = ops != nullptr ? *ops : kDefaultOps;
}

CShdFile::~CShdFile()
{
    Close();
}

int CShdFile::Open(const char* path, int mode)
{
    Close();
    read_only_ = mode == 1 ? 1 : 0;
    if (path == nullptr || strnlen(path, SHD_PATH_MAX + 1) > SHD_PATH_MAX) return SHD_FAILED;
    try {
        path_ = path;
    } catch (const std::bad_alloc&) {
        return SHD_FAILED;
    }
    file_ = current_ops.open_read(path);
    if (file_ != nullptr) return SHD_OK;
    // Only a missing file is created, and never over one that appeared meanwhile (nor through a
    // symbolic link that points nowhere).
    if (errno == ENOENT && (current_ops.create_new(path) == 0 || errno == EEXIST)) file_ = current_ops.open_read(path);
    if (file_ != nullptr) return SHD_OK;
    DBG_LOG(kLogErrors, "CShdFile: cannot open %s: %s\n", path, std::strerror(errno));
    return SHD_FAILED;
}

int CShdFile::Open(char* buffer, int size, int)
{
    Close();
    if (buffer == nullptr || size < 0) return SHD_FAILED;
    memory_mode_ = 1;
    memory_ = reinterpret_cast<uint8_t*>(buffer);
    size_ = static_cast<uint32_t>(size);
    memory_valid_ = validate() == SHD_OK;
    return SHD_OK;
}

int CShdFile::Close()
{
    int result = SHD_OK;
    if (memory_mode_ == 0 && have_image_ && Flush() != SHD_OK) result = SHD_FAILED;
    Drop();
    return result;
}

void CShdFile::Drop()
{
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::vector<uint8_t>().swap(image_);
    have_image_ = false;
    size_ = 0;
    memory_mode_ = 0;
    memory_ = nullptr;
    memory_valid_ = false;
}

int CShdFile::Flush()
{
    if (memory_mode_ != 0 || read_only_ != 0 || file_ == nullptr || !have_image_) return SHD_OK;
    const ShdFileOps& ops = current_ops;
    put_u16le(image() + kChecksumAt, CRC16_BlockChecksum(image() + SHD_HEADER_SIZE, size_ - SHD_HEADER_SIZE));
    std::string temp;
    try {
        // Leftovers of killed writers go first: they may be what fills the disk.
        remove_stale_temporaries(path_);
        temp = path_ + ".XXXXXX";
    } catch (const std::bad_alloc&) {
        return SHD_FAILED;
    }
    FILE* t = ops.open_temp(temp);
    if (t == nullptr) {
        DBG_LOG(kLogErrors, "CShdFile::Flush: no temporary file for %s: %s\n", path_.c_str(), std::strerror(errno));
        return SHD_FAILED;
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat st {};
    if (::fstat(::fileno(file_), &st) == 0) ::fchmod(::fileno(t), st.st_mode & 07777);
    bool ok = ops.write(image(), size_, t) == size_;
    ok = ok && ops.flush(t) == 0;
    ok = ok && ops.sync(::fileno(t)) == 0;
    ok = ops.close(t) == 0 && ok;
    ok = ok && ops.rename(temp.c_str(), path_.c_str()) == 0;
    if (!ok) {
        DBG_LOG(kLogErrors, "CShdFile::Flush: writing %s failed (%s); the store is unchanged\n", path_.c_str(),
                std::strerror(errno));
        ops.unlink(temp.c_str());
        return SHD_FAILED;
    }
    try {
        sync_folder(path_);
    } catch (const std::bad_alloc&) {}
    std::fclose(file_);
    file_ = ops.open_read(path_.c_str());
    return SHD_OK;
}

int CShdFile::GetFileBuffer(const Shd_entry_hdr* room_for)
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    const int64_t n = GetFileSize();
    if (n < 0) return SHD_FAILED;
    const uint64_t room = room_for != nullptr ? uint64_t{room_for->size1()} + room_for->size2() + SHD_ENTRY_SIZE : 0;
    try {
        if (n == 0) {
            if (room_for == nullptr) return SHD_NOT_ALLOWED;
            image_.assign(SHD_HEADER_SIZE, 0);
            image_.reserve(SHD_HEADER_SIZE + room);
            std::memcpy(image_.data(), SHD_MAGIC, kMagicSize);
            put_u32le(image_.data() + kTableOffsetAt, SHD_HEADER_SIZE);
            have_image_ = true;
            size_ = SHD_HEADER_SIZE;
            return SHD_OK;
        }
        if (static_cast<uint64_t>(n) > UINT32_MAX) return SHD_DAMAGED; // no offset could reach its end
        if (const int r = check_described_size(static_cast<uint64_t>(n)); r != SHD_OK) {
            if (r == SHD_DAMAGED) DBG_LOG(kLogErrors, "CShdFile: %s is damaged\n", path_.c_str());
            return r;
        }
        image_.reserve(static_cast<size_t>(n) + 1 + room);
    } catch (const std::bad_alloc&) {
        return SHD_NO_MEMORY;
    }
    const int loaded = LoadFileToMemory(n);
    if (loaded != SHD_OK) {
        std::vector<uint8_t>().swap(image_);
        return loaded;
    }
    have_image_ = true;
    size_ = static_cast<uint32_t>(n);
    const int valid = validate();
    if (valid != SHD_OK) {
        DBG_LOG(kLogErrors, "CShdFile: %s is damaged\n", path_.c_str());
        std::vector<uint8_t>().swap(image_);
        have_image_ = false;
        size_ = 0;
    }
    return valid;
}

// Before a store is read whole, its header and its table alone must account for its size: the
// data area holds the blobs the headers name (deleted ones too, until a compaction), and the
// table holds whole headers, as many of them live as the header counts. A file far larger than
// that - a sparse or padded file, an offset pointing anywhere - is damage, found by reading the
// table in small pieces rather than the whole file into memory.
int CShdFile::check_described_size(uint64_t n)
{
    if (n < SHD_HEADER_SIZE) return SHD_DAMAGED;
    uint8_t head[SHD_HEADER_SIZE];
    std::rewind(file_);
    if (std::fread(head, 1, sizeof head, file_) != sizeof head) {
        std::clearerr(file_);
        return SHD_FAILED;
    }
    if (std::memcmp(head, SHD_MAGIC, kMagicSize) != 0 || head[kMagicSize] != 0) return SHD_DAMAGED;
    const uint32_t t = get_u32le(head + kTableOffsetAt), count = get_u32le(head + kLiveCountAt);
    if (t < SHD_HEADER_SIZE || t > n || (n - t) % SHD_ENTRY_SIZE != 0) return SHD_DAMAGED;
    std::vector<uint8_t> chunk(kHeadersPerRead * SHD_ENTRY_SIZE);
    if (::fseeko(file_, static_cast<off_t>(t), SEEK_SET) != 0) return SHD_FAILED;
    uint64_t described = 0, live = 0;
    for (uint64_t left = (n - t) / SHD_ENTRY_SIZE; left > 0;) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(left, kHeadersPerRead));
        if (std::fread(chunk.data(), SHD_ENTRY_SIZE, k, file_) != k) {
            std::clearerr(file_);
            return SHD_FAILED;
        }
        for (size_t i = 0; i < k; ++i) {
            const auto* h = reinterpret_cast<const Shd_entry_hdr*>(chunk.data() + i * SHD_ENTRY_SIZE);
            described += uint64_t{h->size1()} + h->size2();
            if (!deleted(h) && ++live > count) return SHD_DAMAGED;
        }
        left -= k;
    }
    if (live != count || t - SHD_HEADER_SIZE > described + kUndescribedAllowance) return SHD_DAMAGED;
    return SHD_OK;
}

int CShdFile::validate() const
{
    const uint8_t* p = image();
    if (size_ < SHD_HEADER_SIZE || std::memcmp(p, SHD_MAGIC, kMagicSize) != 0 || p[kMagicSize] != 0) return SHD_DAMAGED;
    const uint32_t t = table_offset();
    if (t < SHD_HEADER_SIZE || t > size_ || (size_ - t) % SHD_ENTRY_SIZE != 0) return SHD_DAMAGED;
    uint32_t live = 0;
    std::vector<std::pair<uint32_t, uint32_t>> blobs; // offset and size of every live blob
    for (uint32_t i = 0; i < headers(); ++i) {
        const auto* h = reinterpret_cast<const Shd_entry_hdr*>(p + t + uint64_t{i} * SHD_ENTRY_SIZE);
        if (std::memchr(h->raw, 0, SHD_KEY_SIZE) == nullptr) return SHD_DAMAGED;
        if (deleted(h)) continue;
        ++live;
        if (!blob_inside(h->offset1(), h->size1(), t) || !blob_inside(h->offset2(), h->size2(), t)) return SHD_DAMAGED;
        if (h->size1() > 0) blobs.emplace_back(h->offset1(), h->size1());
        if (h->size2() > 0) blobs.emplace_back(h->offset2(), h->size2());
    }
    // Every edit keeps the count equal to the live headers; a store where they differ would hide
    // entries from lookups while edits still reach them, and lose records on the next save.
    if (live_count() != live) return SHD_DAMAGED;
    // Every blob is written to a place of its own. Where two overlap, rewriting one entry in place
    // would change another, or one line of the same entry, behind the store's back.
    std::sort(blobs.begin(), blobs.end());
    for (size_t i = 1; i < blobs.size(); ++i)
        if (uint64_t{blobs[i - 1].first} + blobs[i - 1].second > blobs[i].first) return SHD_DAMAGED;
    const uint16_t checksum = get_u16le(p + kChecksumAt);
    if (checksum != 0 && checksum != CRC16_BlockChecksum(p + SHD_HEADER_SIZE, size_ - SHD_HEADER_SIZE))
        return SHD_DAMAGED;
    return SHD_OK;
}

int CShdFile::ensure_image(const Shd_entry_hdr* room_for)
{
    return have_image_ ? SHD_OK : GetFileBuffer(room_for);
}

int CShdFile::guard_edit() const
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    if (read_only_ != 0) return SHD_NOT_ALLOWED;
    return SHD_OK;
}

uint32_t CShdFile::table_offset() const
{
    return get_u32le(image() + kTableOffsetAt);
}
uint32_t CShdFile::live_count() const
{
    return get_u32le(image() + kLiveCountAt);
}
void CShdFile::set_table_offset(uint32_t v)
{
    put_u32le(image() + kTableOffsetAt, v);
}
void CShdFile::set_live_count(uint32_t v)
{
    put_u32le(image() + kLiveCountAt, v);
}

uint32_t CShdFile::headers() const
{
    return (size_ - table_offset()) / SHD_ENTRY_SIZE;
}

Shd_entry_hdr* CShdFile::header_at(uint32_t index)
{
    return reinterpret_cast<Shd_entry_hdr*>(image() + table_offset() + uint64_t{index} * SHD_ENTRY_SIZE);
}

Shd_entry_hdr* CShdFile::find(const char* key)
{
    const uint32_t count = live_count();
    uint32_t seen = 0;
    for (uint32_t i = 0; i < headers() && seen < count; ++i) {
        Shd_entry_hdr* h = header_at(i);
        if (deleted(h)) continue;
        ++seen;
        if (std::strcmp(h->key(), key) == 0) return h;
    }
    return nullptr;
}

Shd_entry_hdr* CShdFile::GetEntry(const char* key, uint8_t** blob1, uint8_t** blob2)
{
    if (blob1 != nullptr) *blob1 = nullptr;
    if (blob2 != nullptr) *blob2 = nullptr;
    if (key == nullptr) return nullptr;
    if (memory_mode_ != 0) {
        if (!memory_valid_) return nullptr;
    } else if (file_ == nullptr || ensure_image(nullptr) != SHD_OK) {
        return nullptr;
    }
    Shd_entry_hdr* h = find(key);
    if (h == nullptr) return nullptr;
    if (blob1 != nullptr) *blob1 = image() + h->offset1();
    if (blob2 != nullptr) *blob2 = image() + h->offset2();
    return h;
}

int CShdFile::AddEntry(const Shd_entry_hdr* header, const uint8_t* blob1, const uint8_t* blob2)
{
    if (const int r = guard_edit(); r != SHD_OK) return r;
    if (header == nullptr || std::memchr(header->raw, 0, SHD_KEY_SIZE) == nullptr || deleted(header) ||
        (header->size1() > 0 && blob1 == nullptr) || (header->size2() > 0 && blob2 == nullptr))
        return SHD_NOT_ALLOWED;
    if (const int r = ensure_image(header); r != SHD_OK) return r;
    // A live entry under the key is rewritten in place when its sizes match, else deleted.
    while (Shd_entry_hdr* old = find(header->key())) {
        if (old->size1() == header->size1() && old->size2() == header->size2()) {
            std::memcpy(old->params(), header->params(), SHD_PARAMS_SIZE);
            if (old->size1() > 0) std::memcpy(image() + old->offset1(), blob1, old->size1());
            if (old->size2() > 0) std::memcpy(image() + old->offset2(), blob2, old->size2());
            return SHD_OK;
        }
        mark_deleted(old);
        set_live_count(live_count() > 0 ? live_count() - 1 : 0);
    }
    return append(header, blob1, blob2);
}

// The blobs go where the table began and the new header first into the table, which moves up.
int CShdFile::append(const Shd_entry_hdr* header, const uint8_t* blob1, const uint8_t* blob2)
{
    const uint32_t s1 = header->size1(), s2 = header->size2();
    const uint32_t old_size = size_, t = table_offset();
    const uint64_t grow = uint64_t{s1} + s2 + SHD_ENTRY_SIZE;
    if (old_size + grow > UINT32_MAX) return SHD_NO_MEMORY;
    try {
        image_.resize(static_cast<size_t>(old_size + grow));
    } catch (const std::bad_alloc&) {
        image_.resize(old_size);
        return SHD_NO_MEMORY;
    }
    uint8_t* p = image_.data();
    if (old_size > t) std::memmove(p + t + grow, p + t, old_size - t);
    auto* h = reinterpret_cast<Shd_entry_hdr*>(p + t + s1 + s2);
    std::memcpy(h->raw, header->raw, SHD_ENTRY_SIZE);
    h->set_blob1(t, s1);
    h->set_blob2(t + s1, s2);
    if (s1 > 0) std::memcpy(p + t, blob1, s1);
    if (s2 > 0) std::memcpy(p + t + s1, blob2, s2);
    size_ = static_cast<uint32_t>(old_size + grow);
    set_live_count(live_count() + 1);
    set_table_offset(t + s1 + s2);
    return SHD_OK;
}

int CShdFile::DelEntry(const char* key)
{
    if (const int r = guard_edit(); r != SHD_OK) return r;
    if (!have_image_ && GetFileSize() == 0) return SHD_OK; // an empty store holds nothing
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    if (key == nullptr) return SHD_OK;
    if (Shd_entry_hdr* h = find(key)) {
        mark_deleted(h);
        set_live_count(live_count() > 0 ? live_count() - 1 : 0);
    }
    return SHD_OK;
}

int CShdFile::DelEntryByKeywordSearch(const char* keyword)
{
    if (const int r = guard_edit(); r != SHD_OK) return r;
    if (!have_image_ && GetFileSize() == 0) return SHD_OK;
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    if (keyword == nullptr) return SHD_OK;
    for (uint32_t i = 0; i < headers(); ++i) {
        Shd_entry_hdr* h = header_at(i);
        if (deleted(h) || std::strstr(h->key(), keyword) == nullptr) continue;
        mark_deleted(h);
        set_live_count(live_count() > 0 ? live_count() - 1 : 0);
    }
    return ResizeFileBuffer();
}

int CShdFile::ResizeFileBuffer()
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    if (!have_image_ && GetFileSize() == 0) return SHD_OK;
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    const uint32_t t = table_offset();
    if (size_ <= t) return SHD_OK;
    uint64_t blobs = 0, live = 0;
    for (uint32_t i = 0; i < headers(); ++i) {
        const Shd_entry_hdr* h = header_at(i);
        if (deleted(h)) continue;
        blobs += uint64_t{h->size1()} + h->size2();
        ++live;
    }
    std::vector<uint8_t> packed;
    try {
        packed.assign(static_cast<size_t>(SHD_HEADER_SIZE + blobs + live * SHD_ENTRY_SIZE), 0);
    } catch (const std::bad_alloc&) {
        return SHD_NO_MEMORY;
    }
    std::memcpy(packed.data(), image(), SHD_HEADER_SIZE);
    // Each blob is copied from its own offset; the new ones lie blob 1 then blob 2 per entry.
    uint64_t data = SHD_HEADER_SIZE, slot = SHD_HEADER_SIZE + blobs;
    for (uint32_t i = 0; i < headers(); ++i) {
        const Shd_entry_hdr* h = header_at(i);
        if (deleted(h)) continue;
        const uint32_t s1 = h->size1(), s2 = h->size2();
        if (s1 > 0) std::memcpy(packed.data() + data, image() + h->offset1(), s1);
        if (s2 > 0) std::memcpy(packed.data() + data + s1, image() + h->offset2(), s2);
        auto* moved = reinterpret_cast<Shd_entry_hdr*>(packed.data() + slot);
        std::memcpy(moved->raw, h->raw, SHD_ENTRY_SIZE);
        moved->set_blob1(static_cast<uint32_t>(data), s1);
        moved->set_blob2(static_cast<uint32_t>(data + s1), s2);
        data += uint64_t{s1} + s2;
        slot += SHD_ENTRY_SIZE;
    }
    image_.swap(packed);
    size_ = static_cast<uint32_t>(image_.size());
    set_table_offset(static_cast<uint32_t>(SHD_HEADER_SIZE + blobs));
    return SHD_OK;
}

int CShdFile::GetNumEntry(int* count)
{
    if (count != nullptr) *count = 0;
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    if (!have_image_ && GetFileSize() == 0) return SHD_OK;
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    if (count != nullptr) *count = static_cast<int>(std::min<uint32_t>(live_count(), INT_MAX));
    return SHD_OK;
}

int CShdFile::GetChecksum(uint16_t* value)
{
    if (file_ == nullptr) return SHD_NO_FILE;
    if (read_only_ == 0) return SHD_NOT_ALLOWED;
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    if (value != nullptr) *value = get_u16le(image() + kChecksumAt);
    return SHD_OK;
}

int CShdFile::UpdateChecksum()
{
    if (file_ == nullptr) return SHD_NO_FILE;
    if (read_only_ != 0) return SHD_NOT_ALLOWED;
    if (const int r = ensure_image(nullptr); r != SHD_OK) return r;
    put_u16le(image() + kChecksumAt, CRC16_BlockChecksum(image() + SHD_HEADER_SIZE, size_ - SHD_HEADER_SIZE));
    return SHD_OK;
}

int64_t CShdFile::GetFileSize()
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    const off_t here = ::ftello(file_);
    if (here < 0 || ::fseeko(file_, 0, SEEK_END) != 0) return -1;
    const off_t end = ::ftello(file_);
    if (::fseeko(file_, here, SEEK_SET) != 0 || end < 0) return -1;
    return end;
}

int CShdFile::LoadFileToMemory(int64_t n)
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (file_ == nullptr) return SHD_NO_FILE;
    if (n < 0) return SHD_FAILED;
    try {
        image_.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return SHD_NO_MEMORY;
    }
    std::rewind(file_);
    const size_t got = std::fread(image_.data(), 1, image_.size(), file_);
    if (got != image_.size()) {
        std::clearerr(file_);
        return SHD_FAILED;
    }
    return SHD_OK;
}

int CShdFile::CheckFileFormat()
{
    if (memory_mode_ != 0) return SHD_NOT_ALLOWED;
    if (image_.size() <= kMagicSize || std::memcmp(image_.data(), SHD_MAGIC, kMagicSize) != 0 ||
        image_[kMagicSize] != 0)
        return SHD_DAMAGED;
    return SHD_OK;
}
