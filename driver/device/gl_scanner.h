// The record of one opened scanner: its GLDevice, copies of every record read from the device
// (each the byte image of its payload), the job state, the three scan jobs, the shading state and
// the scan flags. It is internal to the driver and has no binary layout of its own.
#pragma once

#include "device_status.h"
#include "gl_device.h"
#include "scan_job.h"

#include <array>
#include <cstddef>
#include <cstdint>

struct cache_t; // a side's byte cache of the scan data flow
struct GLScanner;

constexpr size_t SCANNER_MEDIA_SLOTS = 10; // resolution and attribute tables, by media index
constexpr size_t SCANNER_MEDIA_READ = 5;   // media indices the device can report present (0-4)

// How scanner_read fetches a side's image bytes: through the side's cache or straight through.
using scanner_read_fn = eStatus (*)(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length,
                                    uint8_t* end);

// What the shading transfers send. The data pointers point into the calibration's buffers.
struct ShadingState {
    uint16_t value = 0;        // block bytes 5-6 of every shading transfer
    uint32_t second_value = 0; // kept with the state; not sent
    uint32_t bytes_per_side = 0;
    uint32_t format = 0; // 6 makes the transfers deep
    const uint8_t* level0_front = nullptr;
    const uint8_t* level0_back = nullptr;
    const uint8_t* level1_front = nullptr;
    const uint8_t* level1_back = nullptr;
    uint32_t per_light_size = 0;
    // Multiple-light shading: front then back for lights 1, 2 and 4.
    std::array<const uint8_t*, 6> light_level0{};
    std::array<const uint8_t*, 6> light_level1{};
};

struct GLScanner {
    GLDevice* device = nullptr; // not owned

    std::array<uint8_t, 208> inquiry{};
    std::array<uint8_t, 32> media{};
    std::array<std::array<uint8_t, 152>, SCANNER_MEDIA_SLOTS> resolutions{};
    std::array<std::array<uint8_t, 64>, SCANNER_MEDIA_SLOTS> attributes{};
    std::array<uint8_t, 200> x_axis_magnification{};
    std::array<uint8_t, 128> side_edge{};
    uint8_t sense_byte = 0;
    uint8_t sense_key = 0;
    uint8_t sense_code = 0;
    std::array<uint8_t, 64> rgb_alignment{};
    std::array<uint8_t, 32> system_status{};
    std::array<uint8_t, 128> calibration{};
    std::array<uint8_t, 256> eeprom{};
    std::array<uint8_t, 32> calibration_action{};

    uint32_t job_id = 0;         // 0: no device job open, else 1
    bool job_unsure = false;     // a create or an end was cut off: the device may hold a job
    ScanJob* scan_job = nullptr; // owned, as are the two calibration jobs
    ScanJob* dark_job = nullptr;
    ScanJob* white_job = nullptr;

    ShadingState shading;

    std::array<uint8_t, 2> gamma_control{};
    std::array<uint8_t, 3072> gamma_tables{};
    // Each ISP send carries 1008 bytes: its block's 992, then the first 16 of the field after it
    // (block B after A; the first working area after B).
    std::array<uint8_t, 992> isp_a{};
    std::array<uint8_t, 992> isp_b{};
    std::array<std::array<uint8_t, 320>, 2> working_areas{};

    // Feature words from the attribute reads: only ever set, never cleared.
    uint16_t supported_buttons = 0;
    uint16_t detection = 0; // bit 0 infrared paper sensor, bit 1 ultrasound double feed, bit 2 hall sensor
    uint32_t further_feature = 0;

    std::array<uint8_t, 128> flash_config{};

    cache_t* caches[2] = {nullptr, nullptr}; // owned; front and back, created on first use
    uint16_t word16 = 0;                     // cleared on creation
    uint8_t scan_started = 0;
    uint8_t double_feed_handled = 0;
    uint8_t jam_handled = 0;
    uint8_t handled_spare = 0; // cleared with the two handled flags
    char module_path[256] = {};
    // Paper-sensor switches the host set last (1 enabled).
    uint8_t ir_sensor_enable = 0;
    uint8_t hall_sensor_enable = 0;
    scanner_read_fn read_function = nullptr;
    std::array<uint8_t, 8> light_ids{};
    char serial_number[48] = {};
    // The terminated copy of the flash configuration's computer name that
    // scanner_get_flash_computer_name hands out; the configuration itself is never altered for it.
    char flash_computer_name[32] = {};
};

// The open sequence: allocates the record and its three scan jobs, then reads inside one device
// job the inquiry, media, resolutions, attributes, system status, EEPROM, flash configuration,
// calibration action, the magnification and alignment records when the scanner has them, and the
// side edge. 0 and the record, or the first failing status and null with nothing allocated.
eStatus scanner_new(GLDevice* device, GLScanner** out);
// Frees both caches, the three scan jobs and the record; null is accepted. The device is not freed.
eStatus scanner_free(GLScanner* g);
// Reads the inquiry again inside a job of its own; a failed inquiry is returned with the job open.
eStatus scanner_device_features(GLScanner* g);

// The serial number from the EEPROM pieces: at most size - 1 characters, always terminated; a
// size of 0 writes nothing.
void get_scanner_serial_number(const GLScanner* g, char* text, size_t size);

// Accessors: no device traffic. `media` selects the attribute record; one outside 0-9 reads as an
// all-zero record. The media-0 features are read from the first attribute record.
bool is_scanner_image_mirror(const GLScanner* g, int media);
bool is_scanner_support_ecc(const GLScanner* g, int media);
bool is_scanner_support_bqm(const GLScanner* g, int media);
// 3200 when the device reports 0.
uint32_t get_scanner_max_x_resolution(const GLScanner* g, int media);
uint32_t get_scanner_max_y_resolution(const GLScanner* g, int media);
// The widest scan in pixels at the maximum x resolution.
uint32_t get_scanner_max_scan_width(const GLScanner* g, int media);
// The longest scan in pixels at the maximum y resolution.
uint32_t get_scanner_max_scan_height(const GLScanner* g, int media);
// The largest scan width and height in thousandths of an inch, at most INT32_MAX.
int32_t get_scanner_max_scan_width_by_inch(const GLScanner* g, int media);
int32_t get_scanner_max_scan_height_by_inch(const GLScanner* g, int media);
uint16_t get_scanner_model_code(const GLScanner* g);
uint16_t get_scanner_submodel_code(const GLScanner* g);
// Clears size bytes of out, then copies at most min(32, size - 1) characters of the model name.
void get_scanner_model_name(const GLScanner* g, char* out, size_t size);
bool is_scanner_support_cropping_scaling(const GLScanner* g);
double get_scanner_cropping_scaling_ratio(const GLScanner* g);
bool is_scanner_support_full_version_of_firmware(const GLScanner* g);
bool is_scanner_support_full_version_of_fpga(const GLScanner* g);
bool is_scanner_support_full_version_of_mcu(const GLScanner* g);
bool is_scanner_support_ir_sensor_paper_detection(const GLScanner* g);
bool is_scanner_support_ultrasound_doublefeed_detection(const GLScanner* g);
bool is_scanner_support_hall_sensor_paper_detection(const GLScanner* g);
bool is_scanner_support_model_name(const GLScanner* g);
uint8_t get_scanner_max_multi_sampling_line(const GLScanner* g);
bool is_scanner_support_user_exposure(const GLScanner* g);
bool is_scanner_support_multi_light(const GLScanner* g);
bool is_scanner_support_x_axis_magnification_compensation(const GLScanner* g);
bool is_scanner_support_power_saving_mode(const GLScanner* g);
uint16_t get_scanner_max_user_exposure(const GLScanner* g);
uint16_t get_scanner_min_user_exposure(const GLScanner* g);
uint16_t get_scanner_max_power_saving(const GLScanner* g);
bool is_scanner_support_power_off_mode(const GLScanner* g);
uint16_t get_scanner_max_power_off(const GLScanner* g);
bool is_scanner_support_rgb_alignment(const GLScanner* g);
