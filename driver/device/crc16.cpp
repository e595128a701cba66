#include "crc16.h"

namespace {

constexpr std::array<uint16_t, 256> make_table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[byte] = crc;
    }
    return table;
}

} // namespace

const std::array<uint16_t, 256> crctable = make_table();

void CRC16_InitChecksum(uint16_t& crc)
{
    crc = 0xFFFF;
}

void CRC16_Update(uint16_t& crc, uint8_t byte)
{
    crc = static_cast<uint16_t>(crctable[byte ^ (crc >> 8)] ^ (crc << 8));
}

void CRC16_UpdateChecksum(uint16_t& crc, const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint16_t value = crc;
    for (size_t i = 0; i < length; ++i) value = static_cast<uint16_t>(crctable[bytes[i] ^ (value >> 8)] ^ (value << 8));
    crc = value;
}

void CRC16_FinishChecksum(uint16_t& crc)
{
    crc ^= 0;
}

uint16_t CRC16_BlockChecksum(const void* data, size_t length)
{
    uint16_t crc;
    CRC16_InitChecksum(crc);
    CRC16_UpdateChecksum(crc, data, length);
    CRC16_FinishChecksum(crc);
    return crc;
}
