#include "ebase.h"

#include "cali_file.h"
#include "driver_result.h"
#include "driver_utils.h"
#include "ebase_internal.h"
#include "frame_convert.h"
#include "scan_start.h"

#include <algorithm>
#include <cstring>

using namespace ebase_internal;

// ---------------------------------------------------------------------------------------------
// Scan handlers

int32_t EBase::PrepareStartScan(stScannerAttri* a)
{
    if (imageType_ == 64) {
        for (int i = 0; i < 3; ++i) {
            a->nChannelValuesA[i] = static_cast<int32_t>(contrast_[i]);
            a->nChannelValuesB[i] = static_cast<int32_t>(offset_[i]);
            a->Exposure[i] = static_cast<int32_t>(exposure_[i]);
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            a->nChannelValuesA[i] = static_cast<int32_t>(contrastMaster_);
            a->nChannelValuesB[i] = static_cast<int32_t>(offsetMaster_);
            a->Exposure[i] = static_cast<int32_t>(exposureMaster_);
        }
    }
    switch (imageType_) {
    case 8: a->ColorPlanes = 8; break;
    case 16: a->ColorPlanes = 4; break;
    case 32: a->ColorPlanes = 2; break;
    case 64: a->ColorPlanes = 14; break;
    default: a->ColorPlanes = 1; break;
    }
    switch (currentSource_) {
    case 2:
    case 8: a->ScanSource = 2; break;
    case 4:
    case 260: a->ScanSource = 4; break;
    case 16: a->ScanSource = 8; break;
    default: a->ScanSource = 1; break;
    }
    a->TransparentType = 0;
    switch (depth_) {
    case 1: a->BitsPerPixel = 1; break;
    case 8: a->BitsPerPixel = 4; break;
    case 128: a->BitsPerPixel = 8; break;
    case 512: a->BitsPerPixel = 10; break;
    case 2048: a->BitsPerPixel = 12; break;
    case 8192:
    case 32768: a->BitsPerPixel = 16; break;
    default: break;
    }
    a->HalftoneType = 1;
    a->HalftonePattern = 5;
    a->UserPatternSize = 0;
    a->UserPattern = nullptr;
    a->Resolution = clamp16(resolution_);
    a->wResolutionCopy[0] = a->wResolutionCopy[1] = clamp16(resolution_);
    const uint32_t optical = getOpticalResolutionCap(currentSource_);
    const uint32_t l = PixeltoInchIn1000(frame_.left, optical), t = PixeltoInchIn1000(frame_.top, optical);
    const uint32_t r = PixeltoInchIn1000(frame_.right, optical), b = PixeltoInchIn1000(frame_.bottom, optical);
    a->Frame = stFrame16{clamp16(l), clamp16(t), clamp16(r), clamp16(b)};
    a->ExtFrame = stExtFrame{l, t, r, b};
    a->wUnusedA = 0;
    a->pUnusedA = nullptr;
    a->wUnusedB[0] = 8;
    a->wUnusedB[1] = 1;
    a->wUnusedB[2] = 2;
    if (scanQuality_ & 1)
        a->ImageEnhanced |= 0x80;
    else if (scanQuality_ & 8)
        a->ImageEnhanced &= static_cast<uint16_t>(~0x80);
    if (calibrationReuse_)
        a->byForceCalibration |= 2;
    else
        a->byForceCalibration &= static_cast<uint8_t>(~2);
    a->NumofGammaEntry = gammaEntryCode_;
    a->GammaTable = gammaBuffer_.empty() ? nullptr : gammaBuffer_.data();
    a->ShrinkableExposureRatio = clamp16(exposureRatio_);
    return 1;
}

int32_t EBase::checkScanSettings() const
{
    if (getOpticalResolutionCap(currentSource_) == 0) return SE_ERR_RANGE;
    if (resolution_ < kLowestResolution || resolution_ > kHighestResolution) return SE_ERR_RANGE;
    if (!deliverable(imageType_, depth_)) return -106;
    return 1;
}

int32_t EBase::buildAttributes(stScannerAttri& a)
{
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return a.header.FUNC_STATUS;
    return PrepareStartScan(&a);
}

int32_t EBase::DoGetScanImageInfo(ECDB* block)
{
    mark_effective_code(block);
    if (block->verb == 0) return SE_OK;
    if (block->verb != 1) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const int32_t check = checkScanSettings();
    if (check != 1) return check;
    // A scratch record completed exactly as the start completes its own, so that this answer and
    // the start's always agree.
    stScannerAttri scratch = frontAttri_;
    int32_t r = buildAttributes(scratch);
    if (r != 1) return r;
    scan_output_geometry_t g{};
    r = get_scan_output_geometry(scanner_->scanner(), &scratch, &g);
    if (r != 1) return r;
    put(block, SEImageInfo{g.width, g.lines, g.row_bytes});
    return SE_OK;
}

void EBase::releaseGammaBuffer(stScannerAttri& a)
{
    // The driver object has taken its copy of the tables.
    gammaBuffer_.clear();
    gammaBuffer_.shrink_to_fit();
    gammaSet_ = 0;
    a.GammaTable = nullptr;
}

int32_t EBase::checkGammaBuffer(const stScannerAttri& a) const
{
    // The tables were set for another image type or depth than the scan's: the start would read
    // past what the host gave.
    if (get_gamma_table_reach(&a) <= gammaBuffer_.size()) return DRV_SUCCESS;
    return DRV_NOT_SUPPORTED;
}

int32_t EBase::StartScan(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    int32_t status = checkScanSettings();
    if (status != DRV_SUCCESS) return lastStatus_ = status;

    stScannerAttri& a = frontAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = a.header.FUNC_STATUS;

    stSetScannerScanMode mode{};
    mode.header.wFunctionCode = 35;
    mode.ScanMode = static_cast<uint8_t>((preview_ ? 1 : 2) | (autoCrop_ ? 4 : 0) | (hwJpeg_ ? 64 : 0));
    if (hwCropSwitch_) {
        // The crop block names the controller and enables the front side, and the back side for a
        // two-sided source. Nothing in this driver reads it; it lives as long as the handler does.
        hwCrop_ = HWCropDeskewBlock{};
        std::memcpy(hwCrop_.bytes, "GL3466", 6);
        hwCrop_.bytes[16] = 1;
        if (currentSource_ & 0x10) hwCrop_.bytes[17] = 1;
    }
    mode.cEnableUltraSound = ultraSound_ != 0 ? 1 : 0;
    mode.dwScanPaperType = 1;
    mode.cLightCount = 3;
    scanner_->vSetScannerScanMode(&mode);
    if (mode.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = mode.header.FUNC_STATUS;

    status = PrepareStartScan(&a);
    if (status != DRV_SUCCESS) return status;
    status = checkGammaBuffer(a);
    if (status != DRV_SUCCESS) return lastStatus_ = status;
    scan_output_geometry_t g{};
    const int32_t geometry = get_scan_output_geometry(scanner_->scanner(), &a, &g);

    imageEnded_ = false;
    a.header.wFunctionCode = KZD_START_SCAN;
    scanner_->vScannerStartScan(&a);
    status = a.header.FUNC_STATUS;
    releaseGammaBuffer(a);

    if (status == DRV_SUCCESS && geometry != DRV_SUCCESS) status = geometry;
    if (status >= 0 && status != DRV_SUCCESS) status = SE_ERR_STAGE;
    put(block, status == DRV_SUCCESS ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return lastStatus_ = status;
}

int32_t EBase::StartScanBack(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    stScannerAttri& a = backAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != DRV_SUCCESS) return lastStatus_ = a.header.FUNC_STATUS;
    int32_t status = PrepareStartScan(&a);
    if (status != DRV_SUCCESS) return status;
    status = checkGammaBuffer(a);
    if (status != DRV_SUCCESS) return lastStatus_ = status;
    a.header.wFunctionCode = 34;
    scanner_->vScannerReturnCISInfo(&a);
    status = a.header.FUNC_STATUS;
    releaseGammaBuffer(a);
    scan_output_geometry_t g{};
    if (status == DRV_SUCCESS) status = get_scan_output_geometry(scanner_->scanner(), &a, &g);
    if (status >= 0 && status != DRV_SUCCESS) status = SE_ERR_STAGE;
    put(block, status == DRV_SUCCESS ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return lastStatus_ = status;
}

int32_t EBase::readLines(ECDB* block, uint16_t function, bool jpeg, bool back)
{
    SELineTransfer t{};
    if (!get(block, t)) return SE_NOT_SUPPORTED;
    auto deliver = [&](uint32_t n) {
        t.delivered = n;
        put(block, t);
    };
    if (static_cast<int32_t>(t.wanted) <= 0) return SE_OK;
    if (t.buffer == 0) {
        deliver(0);
        return SE_ERR_RANGE;
    }
    if (!jpeg && !back && imageEnded_) {
        deliver(0);
        return SE_END_OF_IMAGE;
    }
    int32_t status;
    uint32_t delivered = 0;
    uint32_t left = 0;
    bool end = false;
    if (jpeg) {
        stGetJpegImage r{};
        r.header.wFunctionCode = function;
        r.pBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.buffer));
        r.nMaxLength = t.wanted;
        if (back)
            scanner_->vScannerGetJpegImageB(&r);
        else
            scanner_->vScannerGetJpegImageA(&r);
        status = r.header.FUNC_STATUS;
    } else {
        stGetImage r{};
        r.header.wFunctionCode = function;
        r.pBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.buffer));
        r.ScanLineNo = t.wanted;
        if (back)
            scanner_->vScannerGetCISImage(&r);
        else
            scanner_->vScannerGetImage(&r);
        status = r.header.FUNC_STATUS;
        delivered = r.dwLinesDone;
        left = r.dwLinesLeft;
        end = r.dwEndOfImage == 1;
    }
    deliver(delivered);
    if (status == DRV_NO_MORE_LINES && left == 0) return SE_OK;
    if (status == DRV_SUCCESS && end) {
        if (!back) imageEnded_ = true;
        return SE_END_OF_IMAGE;
    }
    return lastStatus_ = status;
}

int32_t EBase::ScanImage(ECDB* block)
{
    return readLines(block, KZD_GET_IMAGE, false, false);
}

int32_t EBase::ScanImageBack(ECDB* block)
{
    return readLines(block, 19, false, true);
}

int32_t EBase::ScanJpegImage(ECDB* block)
{
    return readLines(block, 128, true, false);
}

int32_t EBase::ScanJpegImageBack(ECDB* block)
{
    return readLines(block, 129, true, true);
}

int32_t EBase::StopScan(ECDB*)
{
    stAbort r{};
    r.header.wFunctionCode = KZD_ABORT_SCAN;
    scanner_->vScannerAbortScan(&r);
    imageEnded_ = false;
    return lastStatus_ = r.header.FUNC_STATUS;
}
