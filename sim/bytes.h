// Little-endian fields of the simulated device's records and frames. The simulator keeps its own
// helpers rather than the driver's, so the two sides of the protocol are written independently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace sim {

inline uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t le24(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}

inline uint32_t le32(const uint8_t* p)
{
    return le24(p) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void set_le16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void set_le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR), as the
// device checks its flash configuration.
inline uint16_t crc16_ccitt_false(const uint8_t* p, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// A 4-byte tag without its zero padding.
inline std::string tag_text(const uint8_t* p)
{
    const auto* c = reinterpret_cast<const char*>(p);
    return std::string(c, strnlen(c, 4));
}

} // namespace sim
