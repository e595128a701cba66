// A private folder for the targets that read files: made once per process under $TMPDIR and
// removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fuzz {

// The folder, with a trailing '/'.
const std::string& scratch_folder();
// Points HOME and the XDG folders into the scratch folder, so that nothing the settings objects
// create or read reaches the real user's folders. Call before the first QCoreApplication.
void use_private_home();
// Writes the bytes as the whole file at `path`; false when that fails.
bool write_file(const std::filesystem::path& path, const uint8_t* data, size_t size);
std::string read_file(const std::filesystem::path& path);

} // namespace fuzz
