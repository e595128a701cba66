// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection, no final XOR.
// Used for the scanner's stored configuration blocks and the calibration store file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC of each single byte under 0x1021, most significant bit first.
extern const std::array<uint16_t, 256> crctable;

void CRC16_InitChecksum(uint16_t& crc);
void CRC16_Update(uint16_t& crc, uint8_t byte);
void CRC16_UpdateChecksum(uint16_t& crc, const void* data, size_t length);
void CRC16_FinishChecksum(uint16_t& crc);
uint16_t CRC16_BlockChecksum(const void* data, size_t length);
