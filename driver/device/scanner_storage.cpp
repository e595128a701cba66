#include "scanner_storage.h"

#include "crc16.h"
#include "dbg_log.h"
#include "gl_scanner.h"
#include "job_cmd.h"
#include "le_bytes.h"
#include "vek_cmd.h"
#include "vek_request.h"

#include <array>
#include <cstring>

namespace {

// EEPROM fields.
constexpr size_t kCounterAt[5] = {12, 16, 20, 24, 28};
constexpr size_t kDateAt = 32;
constexpr size_t kChecksumAt = 252;

// Flash configuration fields.
constexpr size_t kFlagsAt = 0;
constexpr size_t kNameAt = 4;
constexpr size_t kUserLengthAt = 36;
constexpr size_t kUserCrcAt = 40;
constexpr size_t kConfigCrcAt = 126;

// System status fields.
constexpr size_t kPowerSavingAt = 14;

using Name = std::array<char, FLASH_COMPUTER_NAME_SIZE>;

eStatus finish(eStatus s)
{
    DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", static_cast<int>(s.code()));
    return s;
}

// Runs `body` inside a job of its own unless one is already open.
template <typename Body> eStatus in_own_job(GLScanner* g, Body body)
{
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    const bool own = !job_surely_open(g);
    if (own) {
        if (const eStatus s = cmd_job_create(g); !s.ok()) return s;
    }
    if (const eStatus s = body(); !s.ok()) return s;
    return own ? cmd_job_end(g) : STATUS_GOOD;
}

// The counters' variant: the job follows the scan-started flag and every failure is 4.
template <typename Body> eStatus in_counter_job(GLScanner* g, Body body)
{
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    const bool own = g->scan_started == 0;
    if (own && !cmd_job_create(g).ok()) return STATUS_TRANSFER_FAILED;
    if (!body().ok()) return STATUS_TRANSFER_FAILED;
    if (own && !cmd_job_end(g).ok()) return STATUS_TRANSFER_FAILED;
    return STATUS_GOOD;
}

uint8_t* flash(GLScanner* g)
{
    return g->flash_config.data();
}

bool flash_valid(GLScanner* g)
{
    return get_u16le(flash(g) + kConfigCrcAt) == CRC16_BlockChecksum(flash(g), kConfigCrcAt);
}

void clear_invalid_flash(GLScanner* g)
{
    if (!flash_valid(g)) g->flash_config.fill(0);
}

void seal_flash(GLScanner* g)
{
    put_u16le(flash(g) + kConfigCrcAt, CRC16_BlockChecksum(flash(g), kConfigCrcAt));
}

// A name as the configuration holds it: up to its first NUL or 31 characters, zero-filled.
Name bounded_name(const char* name)
{
    Name n{};
    if (name != nullptr) std::memcpy(n.data(), name, strnlen(name, FLASH_COMPUTER_NAME_SIZE - 1));
    return n;
}

Name stored_name(GLScanner* g)
{
    Name field;
    std::memcpy(field.data(), flash(g) + kNameAt, field.size());
    return bounded_name(field.data());
}

void seal_eeprom(GLScanner* g)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksumAt; ++i) sum += g->eeprom[i];
    put_u32le(g->eeprom.data() + kChecksumAt, 0u - sum);
}

} // namespace

eStatus scanner_read_scan_counter(GLScanner* g, ScannerCounter* counter)
{
    DBG_LOG(kLogParameters, "scanner_read_scan_counter\n");
    if (counter == nullptr) return finish(STATUS_TRANSFER_FAILED);
    return finish(in_counter_job(g, [&] {
        if (const eStatus s = vek_cmd_read_eeprom_data(g); !s.ok()) return s;
        const uint8_t* e = g->eeprom.data();
        const uint32_t date = get_u32le(e + kDateAt);
        counter->counter0 = get_u32le(e + kCounterAt[0]);
        counter->counter1 = get_u32le(e + kCounterAt[1]);
        counter->counter2 = get_u32le(e + kCounterAt[2]);
        counter->counter3 = get_u32le(e + kCounterAt[3]);
        counter->counter4 = get_u32le(e + kCounterAt[4]);
        counter->reserved = 0xFFFFFFFF;
        counter->year = date / 10000;
        counter->month = (date - counter->year * 10000) / 100;
        counter->day = date - counter->year * 10000 - counter->month * 100;
        return STATUS_GOOD;
    }));
}

eStatus scanner_update_scan_counter(GLScanner* g, const ScannerDate* date, uint32_t first, uint32_t second)
{
    DBG_LOG(kLogParameters, "scanner_update_scan_counter: %u, %u\n", first, second);
    if (date == nullptr) return finish(STATUS_TRANSFER_FAILED);
    return finish(in_counter_job(g, [&] {
        if (const eStatus s = vek_cmd_read_eeprom_data(g); !s.ok()) return s;
        uint8_t* e = g->eeprom.data();
        put_u32le(e + kDateAt, date->year * 10000 + date->month * 100 + date->day);
        put_u32le(e + kCounterAt[1], first);
        put_u32le(e + kCounterAt[3], second);
        seal_eeprom(g);
        return vek_cmd_send_eeprom_data(g);
    }));
}

eStatus scanner_read_flash_config(GLScanner* g)
{
    DBG_LOG(kLogParameters, "scanner_read_flash_config\n");
    return finish(in_own_job(g, [&] { return vek_cmd_read_flash_config(g); }));
}

uint32_t scanner_get_flash_partition_flag(GLScanner* g)
{
    if (g == nullptr) return 0;
    if (!flash_valid(g)) put_u32le(flash(g) + kFlagsAt, 0);
    return get_u32le(flash(g) + kFlagsAt);
}

const char* scanner_get_flash_computer_name(GLScanner* g)
{
    if (g == nullptr) return "";
    if (!flash_valid(g)) std::memset(flash(g) + kNameAt, 0, FLASH_COMPUTER_NAME_SIZE);
    const Name name = stored_name(g);
    std::memcpy(g->flash_computer_name, name.data(), name.size());
    return g->flash_computer_name;
}

eStatus scanner_set_flash_computer_name(GLScanner* g, const char* name)
{
    if (g == nullptr) return finish(STATUS_TRANSFER_FAILED);
    const Name wanted = bounded_name(name);
    DBG_LOG(kLogParameters, "scanner_set_flash_computer_name: \"%s\"\n", wanted.data());
    // The stored name only counts when the configuration holding it is intact.
    if (flash_valid(g) && stored_name(g) == wanted) return finish(STATUS_GOOD);
    clear_invalid_flash(g);
    return finish(in_own_job(g, [&] {
        std::memcpy(flash(g) + kNameAt, wanted.data(), wanted.size());
        seal_flash(g);
        return vek_cmd_send_flash_config(g);
    }));
}

eStatus scanner_set_flash_user_setting(GLScanner* g, const uint8_t* data, uint32_t length)
{
    DBG_LOG(kLogParameters, "scanner_set_flash_user_setting: %u bytes\n", length);
    if (g == nullptr || (data == nullptr && length > 0)) return finish(STATUS_TRANSFER_FAILED);
    const uint16_t crc = CRC16_BlockChecksum(data, length);
    // Unchanged only when an intact configuration records a block of this length and CRC.
    if (flash_valid(g) && (get_u32le(flash(g) + kFlagsAt) & FLASH_FLAG_USER_SETTING) != 0 &&
        get_u32le(flash(g) + kUserLengthAt) == length && (get_u32le(flash(g) + kUserCrcAt) & 0xFFFF) == crc)
        return finish(STATUS_GOOD);
    clear_invalid_flash(g);
    return finish(in_own_job(g, [&] {
        if (const eStatus s = vek_cmd_send_flash_user_setting(g, data, length); !s.ok()) return s;
        put_u32le(flash(g) + kFlagsAt, get_u32le(flash(g) + kFlagsAt) | FLASH_FLAG_USER_SETTING);
        put_u32le(flash(g) + kUserLengthAt, length);
        put_u32le(flash(g) + kUserCrcAt, crc);
        seal_flash(g);
        return vek_cmd_send_flash_config(g);
    }));
}

eStatus scanner_get_flash_user_setting(GLScanner* g, uint8_t* buffer, uint32_t* length)
{
    if (g == nullptr || length == nullptr) return finish(STATUS_TRANSFER_FAILED);
    const uint32_t capacity = *length;
    clear_invalid_flash(g);
    const uint32_t stored = get_u32le(flash(g) + kUserLengthAt);
    DBG_LOG(kLogParameters, "scanner_get_flash_user_setting: %u stored, room for %u\n", stored, capacity);
    *length = 0;
    if (stored > capacity || stored > U24_MAX - VEK_REPLY_HEADER_SIZE || (buffer == nullptr && stored > 0))
        return finish(STATUS_TRANSFER_FAILED);
    return finish(in_own_job(g, [&] {
        if (const eStatus s = vek_cmd_read_flash_user_setting(g, buffer, stored); !s.ok()) return s;
        const uint16_t crc = static_cast<uint16_t>(get_u32le(flash(g) + kUserCrcAt));
        *length = CRC16_BlockChecksum(buffer, stored) == crc ? stored : 0;
        return STATUS_GOOD;
    }));
}

eStatus scanner_set_power_setting(GLScanner* g, uint16_t saving, uint16_t)
{
    DBG_LOG(kLogParameters, "scanner_set_power_setting: %u\n", saving);
    if (const eStatus s = vek_cmd_read_system_status(g); !s.ok()) return finish(s);
    put_u16le(g->system_status.data() + kPowerSavingAt, saving);
    return finish(vek_cmd_send_system_status(g));
}

eStatus scanner_get_power_setting(GLScanner* g, uint16_t* saving, uint16_t* off)
{
    if (const eStatus s = vek_cmd_read_system_status(g); !s.ok()) return finish(s);
    if (saving != nullptr) *saving = get_u16le(g->system_status.data() + kPowerSavingAt);
    if (off != nullptr) *off = 0;
    return finish(STATUS_GOOD);
}

eStatus scanner_read_system_status(GLScanner* g)
{
    return vek_cmd_read_system_status(g);
}

eStatus scanner_send_system_status(GLScanner* g)
{
    return vek_cmd_send_system_status(g);
}

eStatus scanner_button_detect(GLScanner* g)
{
    return vek_cmd_read_system_status(g);
}

eStatus scanner_paper_sensor_detect(GLScanner* g)
{
    return vek_cmd_read_system_status(g);
}

eStatus scanner_load_paper(GLScanner* g, uint32_t)
{
    if (const eStatus s = cmd_job_create(g); !s.ok()) return s;
    return cmd_job_end(g);
}

eStatus scanner_eject_paper(GLScanner* g, uint32_t)
{
    return scanner_load_paper(g, 0);
}
