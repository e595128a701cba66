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

DrvResult EBase::PrepareStartScan(stScannerAttri* a)
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
    return DRV_SUCCESS;
}

int16_t EBase::checkScanSettings() const
{
    if (getOpticalResolutionCap(currentSource_) == 0) return SE_ERR_RANGE;
    if (resolution_ < kLowestResolution || resolution_ > kHighestResolution) return SE_ERR_RANGE;
    if (!deliverable(imageType_, depth_)) return SE_ERR_IMAGE_TYPE;
    return SE_OK;
}

DrvResult EBase::buildAttributes(stScannerAttri& a)
{
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (!a.header.status().ok()) return a.header.status();
    return PrepareStartScan(&a);
}

int32_t EBase::DoGetScanImageInfo(ECDB* block)
{
    mark_effective_code(block);
    if (block->verb == 0) return SE_OK;
    if (block->verb != 1) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    if (const int16_t check = checkScanSettings(); check != SE_OK) return check;
    // A scratch record completed exactly as the start completes its own, so that this answer and
    // the start's always agree.
    stScannerAttri scratch = frontAttri_;
    if (const DrvResult r = buildAttributes(scratch); !r.ok()) return r.code();
    scan_output_geometry_t g{};
    if (const DrvResult r = get_scan_output_geometry(scanner_->scanner(), &scratch, &g); !r.ok()) return r.code();
    put(block, SEImageInfo{g.width, g.lines, g.row_bytes});
    return SE_OK;
}

int32_t EBase::keepStatus(DrvResult status)
{
    lastStatus_ = status.code();
    return lastStatus_;
}

void EBase::releaseGammaBuffer(stScannerAttri& a)
{
    // The driver object has taken its copy of the tables.
    gammaBuffer_.clear();
    gammaBuffer_.shrink_to_fit();
    gammaSet_ = 0;
    a.GammaTable = nullptr;
}

DrvResult EBase::checkGammaBuffer(const stScannerAttri& a) const
{
    // The tables were set for another image type or depth than the scan's: the start would read
    // past what the host gave.
    if (get_gamma_table_reach(&a) <= gammaBuffer_.size()) return DRV_SUCCESS;
    return DRV_NOT_SUPPORTED;
}

int32_t EBase::StartScan(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    if (const int16_t check = checkScanSettings(); check != SE_OK) return lastStatus_ = check;

    stScannerAttri& a = frontAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (!a.header.status().ok()) return keepStatus(a.header.status());

    stSetScannerScanMode mode{};
    mode.header.wFunctionCode = KZD_SET_SCAN_MODE;
    mode.ScanMode = static_cast<uint8_t>((preview_ ? 1 : 2) | (autoCrop_ ? 4 : 0) | (hwJpeg_ ? 64 : 0));
    if (hwCropSwitch_) {
        // The crop block names the controller and enables the front side, and the back side for a
        // two-sided source. Nothing in this driver reads it; it lives as long as the handler does.
        hwCrop_ = HWCropDeskewBlock{};
        std::memcpy(hwCrop_.bytes, "GL3466", 6);
        hwCrop_.bytes[16] = 1;
        if (currentSource_ & kSourceOtherBack) hwCrop_.bytes[17] = 1;
    }
    mode.cEnableUltraSound = ultraSound_ != 0 ? 1 : 0;
    mode.dwScanPaperType = 1;
    mode.cLightCount = 3;
    scanner_->vSetScannerScanMode(&mode);
    if (!mode.header.status().ok()) return keepStatus(mode.header.status());

    if (const DrvResult prepared = PrepareStartScan(&a); !prepared.ok()) return prepared.code();
    if (const DrvResult gamma = checkGammaBuffer(a); !gamma.ok()) return keepStatus(gamma);
    scan_output_geometry_t g{};
    const DrvResult geometry = get_scan_output_geometry(scanner_->scanner(), &a, &g);

    imageEnded_ = false;
    a.header.wFunctionCode = KZD_START_SCAN;
    scanner_->vScannerStartScan(&a);
    DrvResult status = a.header.status();
    releaseGammaBuffer(a);

    if (status.ok() && !geometry.ok()) status = geometry;
    // A failure must reach the host as one: a code that is not negative becomes a stage failure.
    if (!status.ok() && status.code() >= 0) status = DRV_STAGE_FAILURE;
    put(block, status.ok() ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return keepStatus(status);
}

int32_t EBase::StartScanBack(ECDB* block)
{
    if (block->record == 0) return SE_NOT_SUPPORTED;
    stScannerAttri& a = backAttri_;
    a.header.wFunctionCode = KZD_DEFAULT_ATTRIBUTE;
    scanner_->vDefaultAttribute(&a);
    if (!a.header.status().ok()) return keepStatus(a.header.status());
    if (const DrvResult prepared = PrepareStartScan(&a); !prepared.ok()) return prepared.code();
    if (const DrvResult gamma = checkGammaBuffer(a); !gamma.ok()) return keepStatus(gamma);
    a.header.wFunctionCode = KZD_RETURN_CIS_INFO;
    scanner_->vScannerReturnCISInfo(&a);
    DrvResult status = a.header.status();
    releaseGammaBuffer(a);
    scan_output_geometry_t g{};
    if (status.ok()) status = get_scan_output_geometry(scanner_->scanner(), &a, &g);
    if (!status.ok() && status.code() >= 0) status = DRV_STAGE_FAILURE;
    put(block, status.ok() ? SEImageInfo{g.width, g.lines, g.row_bytes} : SEImageInfo{});
    return keepStatus(status);
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
    DrvResult status = DRV_SUCCESS;
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
        status = r.header.status();
    } else {
        stGetImage r{};
        r.header.wFunctionCode = function;
        r.pBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.buffer));
        r.ScanLineNo = t.wanted;
        if (back)
            scanner_->vScannerGetCISImage(&r);
        else
            scanner_->vScannerGetImage(&r);
        status = r.header.status();
        delivered = r.dwLinesDone;
        left = r.dwLinesLeft;
        end = r.dwEndOfImage == 1;
    }
    deliver(delivered);
    if (status == DRV_NO_MORE_LINES && left == 0) return SE_OK;
    if (status.ok() && end) {
        if (!back) imageEnded_ = true;
        return SE_END_OF_IMAGE;
    }
    return keepStatus(status);
}

int32_t EBase::ScanImage(ECDB* block)
{
    return readLines(block, KZD_GET_IMAGE, false, false);
}

int32_t EBase::ScanImageBack(ECDB* block)
{
    return readLines(block, KZD_GET_CIS_IMAGE, false, true);
}

int32_t EBase::ScanJpegImage(ECDB* block)
{
    return readLines(block, KZD_GET_JPEG_IMAGE_A, true, false);
}

int32_t EBase::ScanJpegImageBack(ECDB* block)
{
    return readLines(block, KZD_GET_JPEG_IMAGE_B, true, true);
}

int32_t EBase::StopScan(ECDB*)
{
    stAbort r{};
    r.header.wFunctionCode = KZD_ABORT_SCAN;
    scanner_->vScannerAbortScan(&r);
    imageEnded_ = false;
    return keepStatus(r.header.status());
}
