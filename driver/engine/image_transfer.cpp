// Image transfer, abort, the freeing of a scan's buffers and the sample-line setting.
#include "calibration.h"
#include "dbg_log.h"
#include "driver_utils.h"
#include "gl_scan.h"
#include "gl_scanner.h"
#include "halftone.h"
#include "image_pipeline.h"
#include "kzd_scanner.h"
#include "magnification_module.h"
#include "param_convert.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kHarrowinProMaxSampleLines = 32;

} // namespace

void CKzdScanner::vScannerGetImage(stGetImage* r)
{
    DBG_LOG(kLogParameters, "vScannerGetImage() ScanLineNo = %u\n", r->ScanLineNo);
    r->dwLinesDone = 0;
    r->dwEndOfImage = 0;
    IMAGE_SETTING& front = setting_.front_side;
    DrvResult status = DRV_SUCCESS;
    if (scanner_ == nullptr) {
        status = DRV_TRANSFER_FAILURE;
    } else if (!setting_.pipeline_built || !front.built) {
        if (r->pBuffer != nullptr) std::memset(r->pBuffer, 0, size_t{r->ScanLineNo} * front.output_row_bytes);
        status = DRV_STAGE_FAILURE;
    } else if (r->pBuffer == nullptr) {
        status = r->ScanLineNo == 0 ? DRV_SUCCESS : DRV_STAGE_FAILURE;
    } else {
        std::memset(r->pBuffer, 0, size_t{r->ScanLineNo} * front.output_row_bytes);
        const uint32_t lines = std::min(r->ScanLineNo, front.lines_to_deliver);
        int left = static_cast<int>(front.lines_to_deliver);
        int end = front.lines_to_deliver == 0 ? 1 : 0;
        uint32_t done = lines;
        if (lines > 0) {
            try {
                status = ip_read(&setting_, scanner_, 0, r->pBuffer, static_cast<int>(lines), &left, &end);
            } catch (...) {
                status = DRV_NO_MEMORY;
            }
        }
        // The device ended its page early: the image ends with the last line made of its lines, and
        // the host is told so, rather than given the zeros after it as image lines.
        const uint32_t before = front.output_lines - front.lines_to_deliver - std::min(lines, front.output_lines);
        if (status.ok() && front.lines_made != UINT32_MAX && before + lines > front.lines_made) {
            done = front.lines_made > before ? front.lines_made - before : 0;
            std::memset(r->pBuffer + size_t{done} * front.output_row_bytes, 0,
                        size_t{lines - done} * front.output_row_bytes);
            front.lines_to_deliver = 0;
            left = 0;
            end = 1;
        }
        if (status.ok()) {
            r->dwLinesDone = done;
            r->dwLinesLeft = static_cast<uint32_t>(std::max(left, 0));
            r->wZero = 0;
            r->dwEndOfImage = end ? 1 : 0;
        }
    }
    r->header.set_status(status);
    DBG_LOG(kLogParameters, "vScannerGetImage() FUNC_STATUS = %d\n", status.code());
}

void CKzdScanner::vScannerAbortScan(stAbort* r)
{
    // The stop's result is not looked at: the buffers are freed whatever the device answers.
    stop_running_scan();
    free_disposable_buffers();
    r->header.set_status(DRV_SUCCESS);
    DBG_LOG(kLogParameters, "vScannerAbortScan() FUNC_STATUS = %d\n", r->header.FUNC_STATUS);
}

void CKzdScanner::free_disposable_buffers()
{
    for (IMAGE_SETTING* side : {&setting_.front_side, &setting_.back_side}) {
        vMyGlobalFree(nullptr, &side->gamma_block);
        side->gamma = GAMMA_INFO{};
    }
    free_magnification_correction_module(&setting_);
    SingleBitEpilogue(setting_.halftone_context, &setting_.halftone);
    ip_release(&setting_);
    setting_.pipeline_built = false;
}

void CKzdScanner::free_repeated_buffers()
{
    release_calibration_buffers(&setting_.working_calibration);
}

void CKzdScanner::FreeAllBuffer()
{
    free_disposable_buffers();
    free_repeated_buffers();
}

void CKzdScanner::vSetSampleLines(IMAGE_SAMPLE_LINES* r)
{
    DBG_LOG(kLogParameters, "vSetSampleLines() SampleLines = %u\n", r->SampleLines);
    setting_.sample_line_setting = *r;
    r->header.set_status(DRV_SUCCESS);
    DBG_LOG(kLogParameters, "vSetSampleLines() FUNC_STATUS = %d\n", r->header.FUNC_STATUS);
}

void CKzdScanner::vGetSampleLines(IMAGE_SAMPLE_LINES* r)
{
    DrvResult status = DRV_SUCCESS;
    const bool harrowin = module_folder_.find("Harrowin Pro") != std::string::npos;
    if (harrowin || scanner_ != nullptr) {
        const uint16_t max = harrowin ? kHarrowinProMaxSampleLines : get_scanner_max_multi_sampling_line(scanner_);
        setting_.sample_line_setting.MaxSampleLines = max;
        r->SampleLines = setting_.sample_line_setting.SampleLines;
        r->MaxSampleLines = max;
    } else {
        status = DRV_TRANSFER_FAILURE;
    }
    r->header.set_status(status);
    DBG_LOG(kLogParameters, "vGetSampleLines() SampleLines = %u, MaxSampleLines = %u, FUNC_STATUS = %d\n",
            r->SampleLines, r->MaxSampleLines, status.code());
}
