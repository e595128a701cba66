// The device commands: each moves one fixed record between the scanner and the GLScanner (or a
// caller's buffer) with one request transaction (vek_request.h), and answers its eStatus. They
// open no device job; callers wrap them in one where the device needs it. On any failure the
// destination is left as it was, except that the shading read clears the caller's buffer first
// and the per-media loops keep the entries already read.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>

struct GLScanner;
struct ScanJob;

constexpr size_t VEK_INQUIRY_SIZE = 208;
constexpr size_t VEK_MEDIA_SIZE = 32;
constexpr size_t VEK_RESOLUTION_SIZE = 152;
constexpr size_t VEK_ATTRIBUTES_SIZE = 64;
constexpr size_t VEK_SYSTEM_STATUS_SIZE = 32;
constexpr size_t VEK_WINDOW_SIZE = 32;
constexpr size_t VEK_IMAGE_INFORMATION_SIZE = 40;
constexpr size_t VEK_CALIBRATION_SIZE = 128;
constexpr size_t VEK_HOST_FIXTURE_SIZE = 32;
constexpr size_t VEK_EEPROM_SIZE = 256;
constexpr size_t VEK_GAMMA_SIZE = 1024;
constexpr size_t VEK_GAMMA_SIZE_PER_CHANNEL = 3072; // when gamma control byte 0 is 4
constexpr size_t VEK_ISP_SIZE = 1008;
constexpr size_t VEK_ISP_ZEROS = 1024 - 16; // zero bytes between the block and the ISP payload
constexpr size_t VEK_FLASH_CONFIG_SIZE = 128;
constexpr size_t VEK_XSMC_SIZE = 200;
constexpr size_t VEK_CRRG_SIZE = 64;
constexpr size_t VEK_CALIBRATION_ACTION_SIZE = 32;
constexpr size_t VEK_SENSE_SIZE = 248;
constexpr uint32_t VEK_EJECT_OPERAND = 0xFFF;

eStatus vek_cmd_inquiry(GLScanner* g);
eStatus vek_cmd_get_scanner_media(GLScanner* g);
// For media indices 0-4 whose media byte is set, in order; the first failure ends the loop.
eStatus vek_cmd_get_resolution_information(GLScanner* g);
// As above; every attribute record read also sets bits of the feature words (never clears them).
eStatus vek_cmd_get_attributes(GLScanner* g);
eStatus vek_cmd_read_system_status(GLScanner* g);
eStatus vek_cmd_send_system_status(GLScanner* g);
eStatus vek_cmd_set_window(GLScanner* g, ScanJob* job);
// Into the image-information area of the scanner's scan job.
eStatus vek_cmd_image_information(GLScanner* g);
eStatus vek_cmd_read_calibration_data(GLScanner* g, uint16_t value, uint8_t index);
eStatus vek_cmd_send_calibration_data(GLScanner* g, uint16_t value, uint8_t index);
eStatus vek_cmd_read_side_edge(GLScanner* g, uint16_t value, uint8_t index);
// A 32-byte zero payload.
eStatus vek_cmd_send_host_fixture_data(GLScanner* g);
eStatus vek_cmd_read_eeprom_data(GLScanner* g);
eStatus vek_cmd_send_eeprom_data(GLScanner* g);
// Kinds: 1 front, 2 back, 3 both. `deep` selects block byte 13 = 4 (else 3). The light mask is
// carried for the caller's bookkeeping and not sent. The read clears `size` bytes of the buffer
// before anything is sent.
eStatus vek_cmd_read_shading_data(GLScanner* g, uint8_t kind, uint16_t value, bool deep, uint8_t level, uint8_t* buffer,
                                  size_t size, uint32_t lights);
eStatus vek_cmd_send_shading_data(GLScanner* g, uint8_t kind, uint16_t value, bool deep, uint8_t level,
                                  const uint8_t* buffer, size_t size, uint32_t lights);
// Sends nothing and answers STATUS_GOOD.
eStatus vek_cmd_read_gamma(GLScanner* g);
// 1024 table bytes, or 3072 when gamma control byte 0 is 4.
eStatus vek_cmd_send_gamma(GLScanner* g);
eStatus vek_cmd_send_isp_parameter_a(GLScanner* g);
eStatus vek_cmd_send_isp_parameter_b(GLScanner* g);
// Control requests whose operand is the header's length field: n for the load, always 0xFFF for
// the eject (n is not used).
eStatus vek_cmd_motor_load_paper(GLScanner* g, uint32_t n);
eStatus vek_cmd_motor_eject_paper(GLScanner* g, uint32_t n);
eStatus vek_cmd_read_flash_config(GLScanner* g);
eStatus vek_cmd_send_flash_config(GLScanner* g);
eStatus vek_cmd_read_flash_user_setting(GLScanner* g, uint8_t* buffer, size_t size);
eStatus vek_cmd_send_flash_user_setting(GLScanner* g, const uint8_t* buffer, size_t size);
eStatus vek_cmd_x_axis_magnification_compensation_setting(GLScanner* g);
eStatus vek_cmd_rgb_alignment_setting(GLScanner* g);
eStatus vek_cmd_read_calibration_action_data(GLScanner* g);
eStatus vek_cmd_send_calibration_action_data(GLScanner* g);
// The sense request: on a good reply, payload bytes 0-2 become the scanner's sense byte, key and
// code. A refused request leaves them as they were.
eStatus vek_cmd_read_firmware_error(GLScanner* g);

// The driver error code for a device status byte; -6 for a byte the table does not hold.
int32_t getDriverErrorCode(uint8_t status);
