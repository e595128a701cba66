// The simulated scanner's profiles: complete sets of device records, chosen by name.
//   "default"   model 0x6204, submodel 0: flatbed and transparency unit
//   "submodel1" the default with submodel 1 (the model that crops and scales)
//   "submodel2" submodel 2 with x-axis magnification and RGB alignment records
//   "feeder"    the default plus media 2 and 3 (a two-sided feeder) with paper present
//   "hostile"   unterminated texts, a path-like serial number, overflowing sizes and lengths
#pragma once

#include "scanner_records.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The records of a profile, or nothing for an unknown name.
std::optional<ScannerRecords> scanner_profile(const std::string& name);
const std::vector<std::string>& scanner_profile_names();

// Helpers for tests that build or alter records: the EEPROM checksum (bytes 252-255 make the sum
// of all 256 bytes 0 modulo 2^32) and the flash configuration's CRC in bytes 126-127.
void seal_eeprom(std::array<uint8_t, kEepromSize>& eeprom);
bool eeprom_sealed(const std::array<uint8_t, kEepromSize>& eeprom);
void seal_flash_config(std::array<uint8_t, kFlashConfigSize>& config);
bool flash_config_sealed(const std::array<uint8_t, kFlashConfigSize>& config);

} // namespace sim
