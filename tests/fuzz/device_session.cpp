#include "device_session.h"

#include "cali_file.h"
#include "calibration.h"
#include "driver_sleep.h"
#include "fuzz_check.h"
#include "gl_device.h"
#include "gl_scan.h"
#include "gl_scanner.h"
#include "job_cmd.h"
#include "kzd_interface.h"
#include "kzd_records.h"
#include "kzd_scanner.h"
#include "magnification_module.h"
#include "module_folder.h"
#include "param_convert.h"
#include "scan_setting.h"
#include "scratch_folder.h"
#include "scanner_storage.h"
#include "vek_cmd.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace fuzz {

namespace {

uint64_t fake_now = 0;

void no_sleep(uint32_t ms)
{
    fake_now += uint64_t{ms} * 1000000;
}

uint64_t advancing_clock()
{
    fake_now += 10000000; // every reading of the clock moves it on by 10 ms
    return fake_now;
}

bool terminated_within(const char* text, size_t size)
{
    return strnlen(text, size) < size;
}

// Every value the driver derives from the records, for each media index (and some outside).
void derive_values(GLScanner* g)
{
    char serial[48];
    get_scanner_serial_number(g, serial, sizeof serial);
    FUZZ_CHECK(terminated_within(serial, sizeof serial));
    char tiny[1] = {'x'};
    get_scanner_serial_number(g, tiny, sizeof tiny);
    FUZZ_CHECK(tiny[0] == '\0');
    char name[40];
    get_scanner_model_name(g, name, sizeof name);
    FUZZ_CHECK(strlen(name) <= 32);

    for (int media = -1; media <= 10; ++media) {
        (void)is_scanner_image_mirror(g, media);
        (void)is_scanner_support_ecc(g, media);
        (void)is_scanner_support_bqm(g, media);
        FUZZ_CHECK(get_scanner_max_x_resolution(g, media) != 0);
        FUZZ_CHECK(get_scanner_max_y_resolution(g, media) != 0);
        FUZZ_CHECK(get_scanner_max_scan_width_by_inch(g, media) >= 0);
        FUZZ_CHECK(get_scanner_max_scan_height_by_inch(g, media) >= 0);
    }
    const bool features[] = {
        is_scanner_support_cropping_scaling(g),
        is_scanner_support_full_version_of_firmware(g),
        is_scanner_support_full_version_of_fpga(g),
        is_scanner_support_full_version_of_mcu(g),
        is_scanner_support_ir_sensor_paper_detection(g),
        is_scanner_support_ultrasound_doublefeed_detection(g),
        is_scanner_support_hall_sensor_paper_detection(g),
        is_scanner_support_model_name(g),
        is_scanner_support_user_exposure(g),
        is_scanner_support_multi_light(g),
        is_scanner_support_x_axis_magnification_compensation(g),
        is_scanner_support_power_saving_mode(g),
        is_scanner_support_power_off_mode(g),
        is_scanner_support_rgb_alignment(g),
    };
    (void)features;
    const double ratio = get_scanner_cropping_scaling_ratio(g);
    FUZZ_CHECK(ratio > 0.0 && ratio <= 1.0);
    (void)get_scanner_max_multi_sampling_line(g);
    (void)get_scanner_max_user_exposure(g);
    (void)get_scanner_min_user_exposure(g);
    (void)get_scanner_max_power_saving(g);
    (void)get_scanner_max_power_off(g);

    // The calibration file's name comes from the serial number: it must stay one name in the folder.
    std::strcpy(g->module_path, "/tmp/varnoth-fuzz/");
    char path[256];
    if (get_scanner_cali_data_file_path(g, path)) {
        const std::string_view file = std::string_view(path).substr(std::strlen(g->module_path));
        FUZZ_CHECK(std::string_view(path).starts_with(g->module_path));
        FUZZ_CHECK(file.find('/') == std::string_view::npos);
        FUZZ_CHECK(file.find("..") == std::string_view::npos);
    }
    for (uint16_t source : {0, 2, 4, 8})
        for (int resolution : {0, 75, 300, 1200, 4800, 65535}) {
            (void)get_calibrator_resolution(g, source, resolution);
            for (int type = 1; type <= 3; ++type) (void)get_calibrator_factor(g, source, resolution, type);
            (void)get_scanner_resolution(g, source, static_cast<uint32_t>(resolution), 0);
            (void)get_scanner_y_resolution(g, source, static_cast<uint32_t>(resolution), 0);
        }
}

// What the driver object answers the host from the records: the device summary, the capabilities
// and the default attributes of every source, the texts and the device's other reports.
void driver_object_answers(CKzdScanner& kzd)
{
    stScannerInit init{};
    kzd.vInitializeScanner(&init);
    FUZZ_CHECK(init.header.status().ok());
    for (uint16_t source : {0, 1, 2, 4, 8, 0x10, 0x20, 0xFFFF}) {
        std::vector<int32_t> values[3];
        stScannerCapab capability{};
        for (int i = 0; i < 3; ++i) {
            values[i].assign(256, 0);
            capability.pValueList[i] = values[i].data();
        }
        std::vector<uint16_t> resolutions(150), halftones(16 * 64);
        capability.pResolutionList = resolutions.data();
        capability.pHalftoneList = halftones.data();
        capability.ScanSource = source;
        kzd.vScannerCapability(&capability);
        FUZZ_CHECK(capability.header.status().ok());

        stScannerAttri attributes{};
        attributes.ScanSource = source;
        kzd.vDefaultAttribute(&attributes);
        FUZZ_CHECK(attributes.header.status().ok());
        FUZZ_CHECK(attributes.GammaTable == nullptr && attributes.UserPattern == nullptr);
        stScannerExtParams extended{};
        extended.ScanSource = source;
        kzd.vGetExtParams(&extended);
    }
    DEVICESN serial{};
    kzd.vDeviceSeriesNumber(&serial);
    FUZZ_CHECK(terminated_within(serial.szSerialNumber, sizeof serial.szSerialNumber));
    DEVICENAME name{};
    kzd.vDeviceModelName(&name);
    FUZZ_CHECK(terminated_within(name.szModelName, sizeof name.szModelName));
    stFirmwareFullVersionNumber versions{};
    kzd.vScannerGetAllFirmwareFullVersion(&versions);
    FUZZ_CHECK(terminated_within(versions.szFWFullVersionNumber, sizeof versions.szFWFullVersionNumber));
    FUZZ_CHECK(terminated_within(versions.szFPGAFullVersionNumber, sizeof versions.szFPGAFullVersionNumber));
    FUZZ_CHECK(terminated_within(versions.szMCUFullVersionNumber, sizeof versions.szMCUFullVersionNumber));
    GET_SUPPORTED_BUTTONS buttons{};
    kzd.vScannerGetSupportedButtons(&buttons);
    stCounterInfo counters{};
    kzd.vGetCounterInfo(&counters);
    stPowerSetting power{};
    kzd.vScannerGetPowerSetting(&power);
    stPaperSensorStatus paper{};
    kzd.vGetPaperSensorStatus(&paper);
    (void)kzd.vPaperReady();
}

// The persistent data: counters, flash configuration and user setting, power and sense data.
void read_stored_data(GLScanner* g)
{
    ScannerCounter counter{};
    (void)scanner_read_scan_counter(g, &counter);
    (void)scanner_read_flash_config(g);
    (void)scanner_get_flash_partition_flag(g);
    const char* computer = scanner_get_flash_computer_name(g);
    FUZZ_CHECK(computer != nullptr && strnlen(computer, 32) < 32);
    uint8_t user[512];
    uint32_t length = 300;
    (void)scanner_get_flash_user_setting(g, user, &length);
    FUZZ_CHECK(length <= 300);
    uint16_t saving = 0;
    uint16_t off = 0;
    (void)scanner_get_power_setting(g, &saving, &off);
    (void)scanner_read_system_status(g);
    (void)vek_cmd_read_firmware_error(g);
    (void)vek_cmd_read_calibration_data(g, 1600, 0);
    (void)get_scanner_error_code(g, STATUS_REFUSED_REQUEST);
}

// A small colour scan of the flatbed at 300 dpi, as the driver object sets it up.
std::unique_ptr<SCAN_SETTING> small_scan()
{
    auto s = std::make_unique<SCAN_SETTING>();
    s->source = 0;
    s->color_planes = 14;
    s->color_switch = 1;
    s->depth = 8;
    s->quality = 1;
    s->x_resolution = 300;
    s->y_resolution = 300;
    s->exposure_ratio = 100;
    s->frame = stExtFrame{0, 0, 99, 49};
    s->front_side.scan_start = 0;
    s->front_side.scan_end = 30;
    return s;
}

void magnification(GLScanner* g, SCAN_SETTING* s)
{
    stScannerAttri attributes{};
    attributes.ScanSource = s->source;
    (void)init_magnification_correction_module(g, &attributes, s);
    free_magnification_correction_module(s);
    FUZZ_CHECK(s->magnification == nullptr);
}

void scan(GLScanner* g, SCAN_SETTING* s)
{
    ScanJob* job = g->scan_job;
    convert_to_scan_job(g, s, job);
    // The frame is small; a device whose records blow it up gets no more than a few lines read.
    const uint64_t line = uint64_t{job->width()} * job->bits_per_pixel() / 8;
    if (scanner_start_scan(g, job) != STATUS_GOOD) {
        (void)scanner_stop_scan(g, job);
        return;
    }
    if (line > 0 && line <= (1u << 20)) {
        std::vector<uint8_t> buffer(static_cast<size_t>(line));
        for (uint32_t i = 0; i < job->height() && i < 64; ++i) {
            uint32_t length = static_cast<uint32_t>(line);
            uint8_t end = 0;
            const eStatus status = scanner_read(g, job, 0, buffer.data(), &length, &end);
            FUZZ_CHECK(length == line);
            if (status != STATUS_GOOD || end != 0) break;
        }
    }
    (void)scanner_get_page_number(g, 0);
    (void)scanner_get_page_number(g, 1);
    (void)scanner_stop_scan(g, job);
}

} // namespace

void make_driver_time_instant()
{
    driver_set_sleep_function(no_sleep);
    driver_set_clock_function(advancing_clock);
}

void use_scratch_module_folder()
{
    driver_set_module_folder(scratch_folder());
}

void run_device_session()
{
    // Opened as the root object opens a device: the interface over the USB handle, then the driver
    // object, whose construction runs the open sequence.
    CInterface device(0);
    CKzdScanner kzd(&device);
    GLScanner* g = kzd.scanner();
    if (g == nullptr) {
        FUZZ_CHECK(!kzd.open_status().ok());
        return;
    }
    driver_object_answers(kzd);
    derive_values(g);
    (void)scanner_device_features(g);
    if (g->job_id != 0) (void)cmd_job_end(g);
    read_stored_data(g);
    auto setting = small_scan();
    magnification(g, setting.get());
    scan(g, setting.get());
}

} // namespace fuzz
