// Helpers shared by the three files of EBase (ebase.cpp, ebase_scan.cpp, ebase_settings.cpp): the
// host record of a command block, the source flags of the initialisation record and the bit maps
// of the buttons.
#pragma once

#include <se_boundary.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace ebase_internal {

// Source flags of the initialisation record's model word.
inline constexpr uint16_t kFlagReflective = 0x01;
inline constexpr uint16_t kFlagOtherBoth = 0x10;
inline constexpr uint16_t kFlagTransparency = 0x20;
inline constexpr uint16_t kFlagOther = 0x40;

// Source codes beside the boundary's (SE_SOURCE_...): the second side of the other unit's
// two-sided source, and every code that the other unit's capability record answers for.
inline constexpr uint16_t kSourceOtherBack = 0x10;
inline constexpr uint16_t kSourcesOfOtherUnit = 0x02 | SE_SOURCE_OTHER | kSourceOtherBack;

// The unit a capability query asks about (the record's ScanSource on entry).
inline constexpr uint16_t kCapabilityFlatbed = 1;
inline constexpr uint16_t kCapabilityTransparency = 8;
// Bit of a capability record's MiscCaps: the unit can reuse a stored calibration.
inline constexpr uint16_t kMiscSmartCalibration = 0x02;

// The host record of a block, or null.
template <typename T> inline T* record_of(const ECDB* block)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(block->record));
}

// Writes `value` into the host record; false (nothing written) without one.
template <typename T> inline bool put(const ECDB* block, const T& value)
{
    void* to = record_of<void>(block);
    if (to == nullptr) return false;
    std::memcpy(to, &value, sizeof value);
    return true;
}

// Reads the host record; false without one.
template <typename T> inline bool get(const ECDB* block, T& value)
{
    const void* from = record_of<const void>(block);
    if (from == nullptr) return false;
    std::memcpy(&value, from, sizeof value);
    return true;
}

inline uint32_t low32(uint64_t v)
{
    return static_cast<uint32_t>(v);
}

inline void mark_effective_code(const ECDB* block)
{
    if (block->effectiveCode != 0) {
        const uint16_t all = 0xFFFF;
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(block->effectiveCode)), &all, sizeof all);
    }
}

// The image types code 85 offers (1, 2, 4 and 64) and the resolutions code 67 reports.
inline constexpr uint32_t kImageTypesOffered = 71;
inline constexpr uint32_t kLowestResolution = 15;
inline constexpr uint32_t kHighestResolution = 9600;

inline uint16_t clamp16(uint64_t v)
{
    return static_cast<uint16_t>(std::min<uint64_t>(v, 0xFFFF));
}

// The (image type, depth code) pairs the driver object can deliver.
inline bool deliverable(uint32_t type, uint16_t depth)
{
    switch (type) {
    case 64:
    case 4: return depth == 128 || depth == 32768;
    case 1:
    case 2: return depth == 1;
    default: return false;
    }
}

// Device bit → host bit of the supported buttons and of the button state.
inline constexpr std::pair<uint32_t, uint16_t> kSupportedButtons[] = {
    {0x2, 0x4},   {0x4, 0x10}, {0x8, 0x8},  {0x80, 0x40},  {0x400, 0x200},
    {0x40, 0x20}, {0x20, 0x1}, {0x10, 0x2}, {0x100, 0x80}, {0x800, 0x400},
};
inline constexpr std::pair<uint32_t, uint16_t> kButtonState[] = {
    {0x20000, 0x4},    {0x4000, 0x10},  {0x8000, 0x8},    {0x10000, 0x1},  {0x2000, 0x2},
    {0x400000, 0x200}, {0x80000, 0x20}, {0x100000, 0x80}, {0x40000, 0x40}, {0x800000, 0x400},
};

template <size_t N> inline uint16_t map_bits(uint32_t word, const std::pair<uint32_t, uint16_t> (&table)[N])
{
    uint16_t out = 0;
    for (const auto& [from, to] : table)
        if (word & from) out |= to;
    return out;
}

} // namespace ebase_internal
