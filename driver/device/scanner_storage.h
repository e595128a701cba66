// The scanner's persistent data and its system status: the EEPROM with the usage counters and the
// date, the CRC-protected flash configuration with the computer name and the bookkeeping of the
// user-setting block, and the power-saving time.
//
// "Own job" below: when no device job is open on entry, one is created first (its failure is
// returned) and ended last (its result is returned); with a job open neither is sent. A failed
// transfer inside returns at once and leaves the job open; changes already made to the record stay.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>

struct GLScanner;

// Counters 0 to 4, then 0xFFFFFFFF, then the date split into year, month and day.
struct ScannerCounter {
    uint32_t counter0;
    uint32_t counter1;
    uint32_t counter2;
    uint32_t counter3;
    uint32_t counter4;
    uint32_t reserved;
    uint32_t year;
    uint32_t month;
    uint32_t day;
};

struct ScannerDate {
    uint32_t year;
    uint32_t month;
    uint32_t day;
};

constexpr uint32_t FLASH_FLAG_USER_SETTING = 0x20000000; // a user setting has been stored
constexpr size_t FLASH_COMPUTER_NAME_SIZE = 32;

// The counter operations open a job only when no scan is started, and answer 4 for any failure.
eStatus scanner_read_scan_counter(GLScanner* g, ScannerCounter* counter);
// Reads the EEPROM, stores the date, `first` as counter 1 and `second` as counter 3, renews the
// checksum and sends the image back.
eStatus scanner_update_scan_counter(GLScanner* g, const ScannerDate* date, uint32_t first, uint32_t second);

// Own job: reads the flash configuration into the record.
eStatus scanner_read_flash_config(GLScanner* g);
// The flags word; an invalid configuration gets its flags cleared first, so it answers 0.
uint32_t scanner_get_flash_partition_flag(GLScanner* g);
// The stored computer name as a terminated text (at most 31 characters); an invalid configuration
// gets its name cleared first.
const char* scanner_get_flash_computer_name(GLScanner* g);
// Stores at most 31 characters of `name`, zero-filled. Nothing is sent when a valid configuration
// already holds that name. An invalid configuration is cleared whole first.
eStatus scanner_set_flash_computer_name(GLScanner* g, const char* name);
// Sends the block, then the configuration with flag bit 29, the length and the block's CRC.
// Nothing is sent when a valid configuration already records this block (flag, length and CRC).
eStatus scanner_set_flash_user_setting(GLScanner* g, const uint8_t* data, uint32_t length);
// On entry *length is the buffer's capacity. Reads the stored length of bytes; *length becomes
// that length, or 0 when the block's CRC differs from the stored one. A stored length above the
// capacity, or one no request can carry, reads nothing and answers 4 with *length 0.
eStatus scanner_get_flash_user_setting(GLScanner* g, uint8_t* buffer, uint32_t* length);

// No job: system status bytes 14-15. `off` is not stored; it is read back as 0.
eStatus scanner_set_power_setting(GLScanner* g, uint16_t saving, uint16_t off);
eStatus scanner_get_power_setting(GLScanner* g, uint16_t* saving, uint16_t* off);
eStatus scanner_read_system_status(GLScanner* g);
eStatus scanner_send_system_status(GLScanner* g);
eStatus scanner_button_detect(GLScanner* g);
eStatus scanner_paper_sensor_detect(GLScanner* g);
// A job created and ended with nothing in between.
eStatus scanner_load_paper(GLScanner* g, uint32_t n);
eStatus scanner_eject_paper(GLScanner* g, uint32_t n);
