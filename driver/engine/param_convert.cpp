#include "param_convert.h"

#include "dbg_log.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "scan_setting.h"
#include "vek_cmd.h"

#include <algorithm>

namespace {

constexpr int kLogDetails = 20;

bool media_present(const GLScanner* g, int media)
{
    return get_u32le(g->attributes[static_cast<size_t>(media)].data() + 20) != 0;
}

uint32_t saturate(uint64_t v)
{
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

// length × resolution / 1000 in 64 bits.
uint64_t pixels_of(uint64_t thousandths, uint32_t resolution)
{
    return thousandths * resolution / 1000;
}

struct StatusCode {
    eStatus status;
    int32_t code;
};

constexpr StatusCode kStatusCodes[] = {
    {static_cast<eStatus>(0), DRV_SUCCESS},
    {static_cast<eStatus>(1), -8000},
    {STATUS_NO_MEMORY, DRV_NO_MEMORY},
    {STATUS_TRANSFER_FAILED, DRV_TRANSFER_FAILURE},
    {static_cast<eStatus>(6), -2},
    {static_cast<eStatus>(7), -1002},
    {static_cast<eStatus>(9), -600},
    {STATUS_DEVICE_ERROR, -502},
    {STATUS_PAPER_JAM, -206},
    {STATUS_DOUBLE_FEED, -8001},
    {STATUS_NO_PAPER, -309},
    {static_cast<eStatus>(19), -602},
};

// The table alone: a refused request maps to a stage failure here.
int32_t table_code(eStatus status)
{
    for (const StatusCode& row : kStatusCodes)
        if (row.status == status) return row.code;
    return DRV_STAGE_FAILURE;
}

} // namespace

int get_scanner_media(const GLScanner* g, uint16_t source)
{
    int media = (source & 0x08) != 0 ? 3 : (source & 0x02) != 0 ? 2 : (source & 0x04) != 0 ? 1 : 0;
    if (g == nullptr) return media;
    if (media == 0 && !media_present(g, 0)) media = 3;
    if (media == 3 && !media_present(g, 3)) media = 2;
    if (media == 2 && !media_present(g, 2)) media = 3;
    return media;
}

uint32_t convert_to_par_source(const GLScanner*, const _SCAN_SETTING* s)
{
    return (s->source & 0x0A) != 0 ? PAR_SOURCE_FEEDER : PAR_SOURCE_FLATBED;
}

uint8_t convert_to_par_duplex(const GLScanner*, const _SCAN_SETTING* s)
{
    return (s->source & 0x08) != 0 ? 3 : 1;
}

uint32_t convert_to_par_format(const GLScanner*, const _SCAN_SETTING*)
{
    return PAR_FORMAT_RAW;
}

uint8_t convert_to_par_mono(const GLScanner*, const _SCAN_SETTING* s)
{
    const uint16_t planes = s->color_planes;
    if ((planes & 0x0E) != 0) return 0;
    if ((planes & 0x101) != 0) return 1;
    if ((planes & 0x200) != 0) return 2;
    if ((planes & 0x400) != 0) return 3;
    return 0;
}

uint32_t convert_to_par_dot_x(const _SCAN_SETTING* s, uint32_t x_resolution, bool correction_on)
{
    if (correction_on) return s->corrected_start_x;
    return saturate(pixels_of(s->frame.left, x_resolution));
}

uint32_t convert_to_par_dot_y(const GLScanner*, const _SCAN_SETTING* s, uint32_t y_resolution)
{
    return saturate(pixels_of(s->frame.top, y_resolution));
}

uint32_t convert_to_par_width(const GLScanner* g, const _SCAN_SETTING* s, uint32_t x_resolution, bool correction_on)
{
    if (correction_on) return s->corrected_end_x - s->corrected_start_x;
    if (s->frame.right < s->frame.left) return 0;
    const uint64_t width = pixels_of(uint64_t{s->frame.right} - s->frame.left + 1, x_resolution);
    const uint32_t widest = get_scanner_max_scan_width(g, get_scanner_media(g, s->source));
    return saturate(std::min<uint64_t>(width, widest));
}

uint8_t convert_to_par_quality(const GLScanner*, const _SCAN_SETTING* s)
{
    return s->quality == 2 ? 2 : s->quality != 0 ? 1 : 0;
}

uint8_t convert_to_par_media(const GLScanner* g, const _SCAN_SETTING* s)
{
    return static_cast<uint8_t>(get_scanner_media(g, s->source));
}

int32_t combine_sense_key_code(uint8_t key, uint8_t code)
{
    return -1000000 - int32_t{key} * 1000 - int32_t{code};
}

int32_t get_scanner_error_code(GLScanner* g, eStatus status)
{
    if (status != STATUS_REFUSED_REQUEST) return table_code(status);
    const eStatus sense = vek_cmd_read_firmware_error(g);
    if (sense != STATUS_GOOD) {
        DBG_LOG(kLogDetails, "get_scanner_error_code: the sense read failed with %u\n", static_cast<unsigned>(sense));
        return table_code(sense);
    }
    return combine_sense_key_code(g->sense_key, g->sense_code);
}
