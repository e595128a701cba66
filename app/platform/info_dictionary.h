// A bundle's information dictionary: the string values of the top-level dict of its XML property
// list. A key whose value is not a <string> counts as missing.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace lumenfield {

namespace platform {

using InfoDictionary = std::map<std::string, std::string>; // UTF-8 keys and values

// The dictionary of the property list in `file`; none when the file is missing or unreadable,
// larger than a property list has any reason to be, not well-formed XML, or without a top-level
// dict.
std::optional<InfoDictionary> readInfoDictionary(const std::filesystem::path& file);

} // namespace platform

} // namespace lumenfield
