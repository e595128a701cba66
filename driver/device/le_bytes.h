// Little-endian fields of device records and payloads. Records are byte arrays read and written
// at their offsets with these helpers; no structure is ever cast onto device bytes (fields sit at
// odd offsets).
#pragma once

#include <cstdint>

inline uint16_t get_u16le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void put_u16le(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The 24-bit lengths of request headers and image-read frames.
inline uint32_t get_u24le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}

// Only the low 24 bits of v are written; callers check the range first.
inline void put_u24le(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

inline uint32_t get_u32le(const uint8_t* p)
{
    return get_u24le(p) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void put_u32le(uint8_t* p, uint32_t v)
{
    put_u24le(p, v);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline int16_t get_i16le(const uint8_t* p)
{
    return static_cast<int16_t>(get_u16le(p));
}

inline void put_i16le(uint8_t* p, int16_t v)
{
    put_u16le(p, static_cast<uint16_t>(v));
}

inline int32_t get_i32le(const uint8_t* p)
{
    return static_cast<int32_t>(get_u32le(p));
}

inline void put_i32le(uint8_t* p, int32_t v)
{
    put_u32le(p, static_cast<uint32_t>(v));
}

// The largest value a 24-bit length field can carry.
constexpr uint64_t U24_MAX = 0xFFFFFF;
