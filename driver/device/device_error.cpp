#include "device_error.h"

#include "dbg_log.h"
#include "gl_scanner.h"
#include "vek_cmd.h"

namespace {

struct StatusCode {
    eStatus status;
    DrvResult result;
};

constexpr StatusCode kStatusCodes[] = {
    {STATUS_GOOD, DRV_SUCCESS},
    {STATUS_REPORTED_FAILURE, DRV_DEVICE_STATUS_FAILURE},
    {STATUS_NO_MEMORY, DRV_NO_MEMORY},
    {STATUS_TRANSFER_FAILED, DRV_TRANSFER_FAILURE},
    {STATUS_UNASSIGNED_6, DRV_UNASSIGNED_STATUS_6},
    {STATUS_BUSY, DRV_DEVICE_BUSY},
    {STATUS_UNASSIGNED_9, DRV_UNASSIGNED_STATUS_9},
    {STATUS_DEVICE_ERROR, DRV_DEVICE_ERROR},
    {STATUS_PAPER_JAM, DRV_PAPER_JAM},
    {STATUS_DOUBLE_FEED, DRV_DOUBLE_FEED},
    {STATUS_NO_PAPER, DRV_NO_PAPER},
    {STATUS_UNASSIGNED_19, DRV_UNASSIGNED_STATUS_19},
    {STATUS_DEVICE_GONE, DRV_DEVICE_GONE},
};

// The table alone: a refused request maps to a stage failure here.
DrvResult table_result(eStatus status)
{
    for (const StatusCode& row : kStatusCodes)
        if (row.status == status) return row.result;
    return DRV_STAGE_FAILURE;
}

} // namespace

DrvResult get_scanner_error_code(GLScanner* g, eStatus status)
{
    if (status != STATUS_REFUSED_REQUEST) return table_result(status);
    const eStatus sense = vek_cmd_read_firmware_error(g);
    if (!sense.ok()) {
        DBG_LOG(kLogDetails, "get_scanner_error_code: the sense read failed with %u\n", sense.code());
        return table_result(sense);
    }
    return DrvResult::refusal(g->sense_key, g->sense_code);
}
