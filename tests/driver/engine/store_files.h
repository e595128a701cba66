// Helpers for the calibration store and file suites: a temporary folder, whole-file reads and
// writes, and the store's file operations replaced for one scope.
#pragma once

#include "shd_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace lftest {

using Bytes = std::vector<uint8_t>;

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = std::filesystem::temp_directory_path() / "lfcal.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
        path_ = pattern + "/";
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Ends in '/'.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }
    std::set<std::string> names() const
    {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) out.insert(e.path().filename());
        return out;
    }

private:
    std::string path_;
};

inline Bytes read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// Live entries of the store at `path`; -1 when it cannot be read.
inline int live_entries(const std::string& path)
{
    CShdFile f;
    int n = -1;
    if (f.Open(path.c_str(), 1) != SHD_OK || f.GetNumEntry(&n) != SHD_OK) return -1;
    return n;
}

// The store's file operations with some members replaced, until the end of the scope.
class ScopedFileOps {
public:
    explicit ScopedFileOps(const ShdFileOps& ops) { shd_file_set_ops(&ops); }
    ~ScopedFileOps() { shd_file_set_ops(nullptr); }
    ScopedFileOps(const ScopedFileOps&) = delete;
    ScopedFileOps& operator=(const ScopedFileOps&) = delete;
};

} // namespace lftest
