#include "vek_cmd.h"

#include "dbg_log.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "vek_request.h"

#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace {

// The scanner's fixed records: each lives in a field of the GLScanner, is read with a block of its
// subject and code (the inquiry and the media list with blocks of their own) and, where the device
// takes it back, sent with the send block of the same subject and code.
struct FixedRecord {
    const char* name; // for the log
    const char* subject;
    uint8_t code;
    bool own_block;
    size_t size;
    uint8_t* (*field)(GLScanner&);
};

template <auto Field>
constexpr FixedRecord fixed_record(const char* name, const char* subject, uint8_t code, bool own_block = false)
{
    using Array = std::remove_reference_t<decltype(std::declval<GLScanner&>().*Field)>;
    return {name, subject, code, own_block, std::tuple_size_v<Array>, [](GLScanner& g) { return (g.*Field).data(); }};
}

enum class Record {
    inquiry,
    media,
    system_status,
    eeprom,
    flash_config,
    xsmc,
    crrg,
    calibration_action,
    calibration,
    side_edge
};

constexpr FixedRecord records[] = {
    fixed_record<&GLScanner::inquiry>("inquiry", "INQU", 0x12, true),
    fixed_record<&GLScanner::media>("media", "MEDI", 0x13, true),
    fixed_record<&GLScanner::system_status>("system status", "SYS", 0x81),
    fixed_record<&GLScanner::eeprom>("EEPROM", "EROM", 0xF1),
    fixed_record<&GLScanner::flash_config>("flash configuration", "FLHC", 0xF6),
    fixed_record<&GLScanner::x_axis_magnification>("x-axis magnification", "XSMC", 0xF9),
    fixed_record<&GLScanner::rgb_alignment>("RGB alignment", "CRRG", 0xFA),
    fixed_record<&GLScanner::calibration_action>("calibration action", "CAAT", 0x93),
    fixed_record<&GLScanner::calibration>("calibration", "CALI", 0x9F),
    fixed_record<&GLScanner::side_edge>("side edge", "CALI", 0x9F),
};

constexpr const FixedRecord& record(Record r)
{
    return records[static_cast<size_t>(r)];
}

static_assert(std::size(records) == static_cast<size_t>(Record::side_edge) + 1);
static_assert(record(Record::inquiry).size == VEK_INQUIRY_SIZE && record(Record::media).size == VEK_MEDIA_SIZE);
static_assert(record(Record::system_status).size == VEK_SYSTEM_STATUS_SIZE);
static_assert(record(Record::eeprom).size == VEK_EEPROM_SIZE);
static_assert(record(Record::flash_config).size == VEK_FLASH_CONFIG_SIZE);
static_assert(record(Record::xsmc).size == VEK_XSMC_SIZE && record(Record::crrg).size == VEK_CRRG_SIZE);
static_assert(record(Record::calibration_action).size == VEK_CALIBRATION_ACTION_SIZE);
static_assert(record(Record::calibration).size == VEK_CALIBRATION_SIZE);
static_assert(record(Record::side_edge).size == VEK_CALIBRATION_SIZE);

VekBlock unchanged(VekBlock block)
{
    return block;
}

// Reads a fixed record into its field of the scanner; `adjust` fills the block's operands.
template <typename Adjust = VekBlock (*)(VekBlock)>
eStatus read_record(GLScanner* g, Record which, Adjust adjust = unchanged)
{
    const FixedRecord& r = record(which);
    DBG_LOG(kLogCommands, "vek_cmd: read %s, %zu bytes\n", r.name, r.size);
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    const VekBlock block = r.own_block ? vek_own_block(r.subject, r.code) : vek_read_block(r.subject, r.code);
    return vek_read_request(g, adjust(block), r.field(*g), r.size);
}

template <typename Adjust = VekBlock (*)(VekBlock)>
eStatus send_record(GLScanner* g, Record which, Adjust adjust = unchanged)
{
    const FixedRecord& r = record(which);
    DBG_LOG(kLogCommands, "vek_cmd: send %s, %zu bytes\n", r.name, r.size);
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    return vek_write_request(g, adjust(vek_send_block(r.subject, r.code)), r.field(*g), r.size);
}

VekBlock calibration_block(VekBlock block, uint16_t value, uint8_t index)
{
    put_u16le(block.data() + 5, value);
    block[15] = index;
    return block;
}

VekBlock shading_block(VekBlock block, uint8_t kind, uint16_t value, bool deep, uint8_t level)
{
    put_u16le(block.data() + 5, value);
    block[13] = deep ? 4 : 3;
    block[14] = level;
    block[15] = kind;
    return block;
}

// Reads one record per present media (indices 0-4 with a non-zero media byte), in index order.
template <size_t N, typename Block, typename Each>
eStatus read_per_media(GLScanner* g, std::array<std::array<uint8_t, N>, SCANNER_MEDIA_SLOTS> GLScanner::*table,
                       Block block_for, Each after_read)
{
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    for (size_t media = 0; media < SCANNER_MEDIA_SLOTS; ++media) {
        if (media >= SCANNER_MEDIA_READ || g->media[media] == 0) continue;
        auto& entry = (g->*table)[media];
        if (const eStatus s = vek_read_request(g, block_for(static_cast<uint8_t>(media)), entry.data(), N); !s.ok())
            return s;
        after_read(entry);
    }
    return STATUS_GOOD;
}

// The ISP payload: the block's 992 bytes, then the first 16 bytes of the field after it.
eStatus send_isp(GLScanner* g, const VekBlock& block, const std::array<uint8_t, 992>& isp, const uint8_t* next16)
{
    constexpr size_t kPayload = VEK_ISP_ZEROS + VEK_ISP_SIZE;
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[kPayload]());
    if (!payload) return STATUS_NO_MEMORY;
    uint8_t* data = payload.get() + VEK_ISP_ZEROS;
    std::memcpy(data, isp.data(), isp.size());
    std::memcpy(data + isp.size(), next16, VEK_ISP_SIZE - isp.size());
    return vek_write_request(g, block, payload.get(), kPayload);
}

struct ErrorMapping {
    uint8_t status;
    int32_t code;
};

constexpr ErrorMapping errorMappings[] = {
    {0x81, -601}, {0x82, -601}, {0x83, -601}, {0x84, -601}, {0x85, -601}, {0x86, -601}, {0x91, -601},
    {0x92, -601}, {0xD0, -205}, {0xD1, -6},   {0xD2, -203}, {0xD3, -204}, {0xD4, -208}, {0xE0, -600},
    {0xE1, -600}, {0xE2, -600}, {0xE3, -310}, {0xF0, -600}, {0xF1, -600},
};
static_assert(std::size(errorMappings) == 19);

} // namespace

eStatus vek_cmd_inquiry(GLScanner* g)
{
    return read_record(g, Record::inquiry);
}

eStatus vek_cmd_get_scanner_media(GLScanner* g)
{
    return read_record(g, Record::media);
}

eStatus vek_cmd_get_resolution_information(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_get_resolution_information: %zu bytes per media\n", VEK_RESOLUTION_SIZE);
    auto block_for = [](uint8_t media) {
        VekBlock block = vek_own_block("RES", 0x14);
        block[5] = media;
        return block;
    };
    return read_per_media(g, &GLScanner::resolutions, block_for, [](const auto&) {});
}

eStatus vek_cmd_get_attributes(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_get_attributes: %zu bytes per media\n", VEK_ATTRIBUTES_SIZE);
    auto block_for = [](uint8_t media) {
        VekBlock block = vek_read_block("ATTR", 0x82);
        block[13] = media;
        return block;
    };
    return read_per_media(g, &GLScanner::attributes, block_for, [g](const std::array<uint8_t, 64>& a) {
        g->supported_buttons |= static_cast<uint16_t>(get_u16le(a.data() + 28) & 0x1FF);
        if (a[37] != 0) g->detection |= 1;
        if (a[35] != 0) g->detection |= 2;
        if (a[38] != 0) g->detection |= 4;
        if (a[36] != 0) g->further_feature = 1;
    });
}

eStatus vek_cmd_read_system_status(GLScanner* g)
{
    return read_record(g, Record::system_status);
}

eStatus vek_cmd_send_system_status(GLScanner* g)
{
    return send_record(g, Record::system_status);
}

eStatus vek_cmd_set_window(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogCommands, "vek_cmd_set_window: %zu bytes\n", VEK_WINDOW_SIZE);
    if (job == nullptr) return STATUS_TRANSFER_FAILED;
    return vek_write_request(g, vek_own_block("SWIN", 0x24), job->window().data(), VEK_WINDOW_SIZE);
}

eStatus vek_cmd_image_information(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_image_information: %zu bytes\n", VEK_IMAGE_INFORMATION_SIZE);
    if (g == nullptr || g->scan_job == nullptr) return STATUS_TRANSFER_FAILED;
    return vek_read_request(g, vek_read_block("INFO", 0x80), g->scan_job->image_information.data(),
                            VEK_IMAGE_INFORMATION_SIZE);
}

eStatus vek_cmd_read_calibration_data(GLScanner* g, uint16_t value, uint8_t index)
{
    return read_record(g, Record::calibration, [&](VekBlock block) { return calibration_block(block, value, index); });
}

eStatus vek_cmd_send_calibration_data(GLScanner* g, uint16_t value, uint8_t index)
{
    return send_record(g, Record::calibration, [&](VekBlock block) { return calibration_block(block, value, index); });
}

eStatus vek_cmd_read_side_edge(GLScanner* g, uint16_t value, uint8_t index)
{
    return read_record(g, Record::side_edge, [&](VekBlock block) { return calibration_block(block, value, index); });
}

eStatus vek_cmd_send_host_fixture_data(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_send_host_fixture_data: %zu bytes\n", VEK_HOST_FIXTURE_SIZE);
    const std::array<uint8_t, VEK_HOST_FIXTURE_SIZE> zeros{};
    return vek_write_request(g, vek_send_block("HOFT", 0xF0), zeros.data(), zeros.size());
}

eStatus vek_cmd_read_eeprom_data(GLScanner* g)
{
    return read_record(g, Record::eeprom);
}

eStatus vek_cmd_send_eeprom_data(GLScanner* g)
{
    return send_record(g, Record::eeprom);
}

eStatus vek_cmd_read_shading_data(GLScanner* g, uint8_t kind, uint16_t value, bool deep, uint8_t level, uint8_t* buffer,
                                  size_t size, uint32_t)
{
    DBG_LOG(kLogCommands, "vek_cmd_read_shading_data: kind %u level %u, %zu bytes\n", kind, level, size);
    if (buffer == nullptr && size > 0) return STATUS_TRANSFER_FAILED;
    if (size > 0) std::memset(buffer, 0, size);
    return vek_read_request(g, shading_block(vek_read_block("SHAD", 0x01), kind, value, deep, level), buffer, size);
}

eStatus vek_cmd_send_shading_data(GLScanner* g, uint8_t kind, uint16_t value, bool deep, uint8_t level,
                                  const uint8_t* buffer, size_t size, uint32_t)
{
    DBG_LOG(kLogCommands, "vek_cmd_send_shading_data: kind %u level %u, %zu bytes\n", kind, level, size);
    return vek_write_request(g, shading_block(vek_send_block("SHAD", 0x01), kind, value, deep, level), buffer, size);
}

eStatus vek_cmd_read_gamma(GLScanner*)
{
    DBG_LOG(kLogCommands, "vek_cmd_read_gamma\n");
    return STATUS_GOOD;
}

eStatus vek_cmd_send_gamma(GLScanner* g)
{
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    const size_t size = g->gamma_control[0] == 4 ? VEK_GAMMA_SIZE_PER_CHANNEL : VEK_GAMMA_SIZE;
    DBG_LOG(kLogCommands, "vek_cmd_send_gamma: %zu bytes\n", size);
    VekBlock block = vek_send_block("GAMA", 0x03);
    block[13] = g->gamma_control[0];
    block[14] = g->gamma_control[1];
    return vek_write_request(g, block, g->gamma_tables.data(), size);
}

eStatus vek_cmd_send_isp_parameter_a(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_send_isp_parameter_a: %zu bytes\n", VEK_ISP_SIZE);
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    return send_isp(g, vek_send_block("ISPM", 0xF2), g->isp_a, g->isp_b.data());
}

eStatus vek_cmd_send_isp_parameter_b(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_send_isp_parameter_b: %zu bytes\n", VEK_ISP_SIZE);
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    return send_isp(g, vek_send_block("ISPS", 0xF3), g->isp_b, g->working_areas[0].data());
}

eStatus vek_cmd_motor_load_paper(GLScanner* g, uint32_t n)
{
    DBG_LOG(kLogCommands, "vek_cmd_motor_load_paper: operand %u\n", n);
    VekBlock block = vek_own_block("MOTO", 0xE1);
    block[6] = 0xA1;
    return vek_control_request(g, block, n);
}

eStatus vek_cmd_motor_eject_paper(GLScanner* g, uint32_t)
{
    DBG_LOG(kLogCommands, "vek_cmd_motor_eject_paper: operand %u\n", VEK_EJECT_OPERAND);
    VekBlock block = vek_own_block("MOTO", 0xE1);
    block[6] = 0xA2;
    return vek_control_request(g, block, VEK_EJECT_OPERAND);
}

eStatus vek_cmd_read_flash_config(GLScanner* g)
{
    return read_record(g, Record::flash_config);
}

eStatus vek_cmd_send_flash_config(GLScanner* g)
{
    return send_record(g, Record::flash_config);
}

eStatus vek_cmd_read_flash_user_setting(GLScanner* g, uint8_t* buffer, size_t size)
{
    DBG_LOG(kLogCommands, "vek_cmd_read_flash_user_setting: %zu bytes\n", size);
    return vek_read_request(g, vek_read_block("FLHU", 0xF7), buffer, size);
}

eStatus vek_cmd_send_flash_user_setting(GLScanner* g, const uint8_t* buffer, size_t size)
{
    DBG_LOG(kLogCommands, "vek_cmd_send_flash_user_setting: %zu bytes\n", size);
    return vek_write_request(g, vek_send_block("FLHU", 0xF7), buffer, size);
}

eStatus vek_cmd_x_axis_magnification_compensation_setting(GLScanner* g)
{
    return read_record(g, Record::xsmc);
}

eStatus vek_cmd_rgb_alignment_setting(GLScanner* g)
{
    return read_record(g, Record::crrg);
}

eStatus vek_cmd_read_calibration_action_data(GLScanner* g)
{
    return read_record(g, Record::calibration_action);
}

eStatus vek_cmd_send_calibration_action_data(GLScanner* g)
{
    return send_record(g, Record::calibration_action);
}

eStatus vek_cmd_read_firmware_error(GLScanner* g)
{
    DBG_LOG(kLogCommands, "vek_cmd_read_firmware_error: %zu bytes\n", VEK_SENSE_SIZE);
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    std::array<uint8_t, VEK_SENSE_SIZE> sense{};
    if (const eStatus s = vek_read_request(g, vek_own_block("SENS", 0x03), sense.data(), sense.size()); !s.ok())
        return s;
    g->sense_byte = sense[0];
    g->sense_key = sense[1];
    g->sense_code = sense[2];
    return STATUS_GOOD;
}

int32_t getDriverErrorCode(uint8_t status)
{
    for (const ErrorMapping& row : errorMappings)
        if (row.status == status) return row.code;
    return -6;
}
