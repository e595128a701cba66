#include "device_error.h"

#include "dbg_log.h"
#include "driver_result.h"
#include "gl_scanner.h"
#include "vek_cmd.h"

namespace {

struct StatusCode {
    eStatus status;
    int32_t code;
};

constexpr StatusCode kStatusCodes[] = {
    {static_cast<eStatus>(0), DRV_SUCCESS},
    {static_cast<eStatus>(1), DRV_DEVICE_STATUS_1},
    {STATUS_NO_MEMORY, DRV_NO_MEMORY},
    {STATUS_TRANSFER_FAILED, DRV_TRANSFER_FAILURE},
    {static_cast<eStatus>(6), DRV_DEVICE_STATUS_6},
    {static_cast<eStatus>(7), DRV_DEVICE_BUSY},
    {static_cast<eStatus>(9), DRV_DEVICE_STATUS_9},
    {STATUS_DEVICE_ERROR, DRV_DEVICE_ERROR},
    {STATUS_PAPER_JAM, DRV_PAPER_JAM},
    {STATUS_DOUBLE_FEED, DRV_DOUBLE_FEED},
    {STATUS_NO_PAPER, DRV_NO_PAPER},
    {static_cast<eStatus>(19), DRV_DEVICE_STATUS_19},
    {STATUS_DEVICE_GONE, DRV_DEVICE_GONE},
};

// The table alone: a refused request maps to a stage failure here.
int32_t table_code(eStatus status)
{
    for (const StatusCode& row : kStatusCodes)
        if (row.status == status) return row.code;
    return DRV_STAGE_FAILURE;
}

} // namespace

int32_t combine_sense_key_code(uint8_t key, uint8_t code)
{
    return DRV_SENSE_BASE - int32_t{key} * 1000 - int32_t{code};
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
