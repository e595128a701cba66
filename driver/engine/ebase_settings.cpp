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
// Setting handlers

int32_t EBase::DoScannerInfo(ECDB* block)
{
    if (block->verb != 0) return SE_NOT_SUPPORTED;
    return put(block, getScannerInformationCap()) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoDepth(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, getDepthCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, depth_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{128}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        // Kept as it comes: whether the driver can deliver it with the image type is decided at
        // the scan start (-106).
        depth_ = static_cast<uint16_t>(block->value);
        return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAttached(ECDB* block)
{
    mark_effective_code(block);
    switch (block->verb) {
    case 0:
    case 2: return put(block, availableSources_) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: {
        const uint16_t both[2] = {availableSources_, availableSources_};
        return put(block, both) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 3: {
        const uint16_t v = static_cast<uint16_t>(block->value);
        currentSource_ = (v & 2) ? 8 : v;
        if (currentSource_ & availableSources_) return SE_OK;
        currentSource_ = 0;
        return SE_ERR_RANGE;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoResolution(ECDB* block)
{
    switch (block->verb) {
    case 0:
        return put(block, SERange{kLowestResolution, kHighestResolution, kHighestResolution - kLowestResolution + 1})
            ? SE_OK
            : SE_NOT_SUPPORTED;
    case 1: return put(block, resolution_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint32_t{75}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        // Kept as it comes; the scan start refuses one outside the reported range (-108).
        resolution_ = low32(block->value);
        return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPageLength(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, getPageLengthCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, pageLength_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, getPageLengthCap(currentSource_).maximumLength) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: pageLength_ = low32(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoScanFrame(ECDB* block)
{
    const SEFrameCap cap = getMaxScanFrameCap(currentSource_);
    switch (block->verb) {
    case 0: return put(block, cap) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, frame_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, SEFrame{cap.left, cap.top, cap.right, cap.bottom}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        SEFrame f{};
        if (!get(block, f)) return SE_NOT_SUPPORTED;
        if (f.top > cap.bottom) f.top = 0;
        if (f.left > cap.right) f.left = 0;
        f.bottom = std::min(f.bottom, cap.bottom);
        f.right = std::min(f.right, cap.right);
        frame_ = f;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::toneChannelValue(uint32_t plane, const uint32_t* values, uint32_t master, uint32_t* out) const
{
    int index = 0;
    if (PlaneToIndex(static_cast<int>(plane), &index) != SE_OK) return SE_ERR_RANGE;
    *out = index == 3 ? master : values[index];
    return SE_OK;
}

int32_t EBase::convertIndex(ECDB* block, const ERangeEntry* table) const
{
    const auto v = static_cast<int32_t>(low32(block->value));
    int32_t out = 0;
    const int r = block->verb == 4 ? Index2Value(v, &out, table) : Value2Index(v, &out, table);
    if (r != SE_OK) return r;
    put(block, out);
    return SE_OK;
}

int32_t EBase::DoContrast(ECDB* block)
{
    const uint16_t verb = block->verb;
    if (verb == 0 || verb == 2 || verb > 5) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const uint32_t v = low32(block->value);
    if (verb == 1) {
        uint32_t out = 0;
        const int32_t r = toneChannelValue(v, contrast_, contrastMaster_, &out);
        if (r != SE_OK) return r;
        put(block, out);
        return SE_OK;
    }
    if (verb == 3) {
        int index = 0;
        if (PlaneToIndex(static_cast<int>(v), &index) != SE_OK) return SE_ERR_RANGE;
        int32_t wanted = 0;
        get(block, wanted);
        int32_t conformed = 0;
        const int r = DoConverSetting(wanted, &conformed, contrastRange_);
        if (r != SE_OK) return r;
        put(block, conformed);
        contrastMaster_ = static_cast<uint32_t>(conformed);
        if (index < 3) contrast_[index] = static_cast<uint32_t>(conformed);
        return SE_OK;
    }
    return convertIndex(block, contrastRange_);
}

int32_t EBase::DoThreshold(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoExposure(ECDB* block)
{
    const uint16_t verb = block->verb;
    if (verb > 5) return SE_NOT_SUPPORTED;
    if (block->record == 0) return SE_NOT_SUPPORTED;
    const uint32_t v = low32(block->value);
    if (verb == 0) {
        ERangeCap cap{};
        if (GetCapab(cap, exposureRange_) == 0) cap = ERangeCap{};
        put(block, SERange{cap.minimum, cap.maximum, cap.count});
        return SE_OK;
    }
    if (verb == 1 || verb == 2) {
        const uint32_t* channels = verb == 1 ? exposure_ : exposureRecord_.channel;
        const uint32_t master = verb == 1 ? exposureMaster_ : exposureRecord_.master;
        if (v == 56) {
            const uint32_t three[3] = {channels[0], channels[1], channels[2]};
            put(block, three);
            return SE_OK;
        }
        uint32_t out = 0;
        const int32_t r = toneChannelValue(v, channels, master, &out);
        if (r != SE_OK) return r;
        put(block, out);
        return SE_OK;
    }
    if (verb == 3) {
        if (v == 56) {
            int32_t wanted[3] = {};
            get(block, wanted);
            int32_t conformed[3] = {};
            for (int i = 0; i < 3; ++i) {
                const int r = DoConverSetting(wanted[i], &conformed[i], exposureRange_);
                if (r != SE_OK) return r;
            }
            for (int i = 0; i < 3; ++i) exposure_[i] = static_cast<uint32_t>(conformed[i]);
            return SE_OK;
        }
        int index = 0;
        if (PlaneToIndex(static_cast<int>(v), &index) != SE_OK) return SE_ERR_RANGE;
        int32_t wanted = 0;
        get(block, wanted);
        int32_t conformed = 0;
        const int r = DoConverSetting(wanted, &conformed, exposureRange_);
        if (r != SE_OK) return r;
        if (index == 3)
            exposureMaster_ = static_cast<uint32_t>(conformed);
        else
            exposure_[index] = static_cast<uint32_t>(conformed);
        return SE_OK;
    }
    return convertIndex(block, exposureRange_);
}

int32_t EBase::SetLinearLUT(uint32_t entries, uint16_t bytesPerEntry, void* table, uint32_t maxValue)
{
    if (table == nullptr) return 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t value = static_cast<uint64_t>(i) * maxValue / entries;
        if (bytesPerEntry == 2)
            static_cast<uint16_t*>(table)[i] = static_cast<uint16_t>(value);
        else
            static_cast<uint8_t*>(table)[i] = static_cast<uint8_t>(value);
    }
    return 1;
}

int32_t EBase::DoGamma(ECDB* block)
{
    const uint32_t mask = static_cast<uint32_t>(block->value >> 16) & 7;
    const uint32_t deviceEntries = depth_ == 32768 ? 65536 : 256;
    switch (block->verb) {
    case 0: return put(block, getGammaCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: {
        SEGammaDescriptor d{};
        if (!get(block, d)) return SE_NOT_SUPPORTED;
        if (d.table[0] == 0 && d.table[1] == 0 && d.table[2] == 0) {
            d.entries = deviceEntries;
            d.bytesPerEntry = depth_ <= 128 ? 1 : 2;
            put(block, d);
            return SE_OK;
        }
        if ((d.bytesPerEntry != 1 && d.bytesPerEntry != 2) || d.entries == 0 || d.entries > 65536) return SE_ERR_RANGE;
        for (int c = 0; c < 3; ++c) {
            if (!(mask & (1u << c))) continue;
            if (d.table[c] == 0) return SE_ERR_NO_TABLE;
            SetLinearLUT(d.entries, d.bytesPerEntry, reinterpret_cast<void*>(static_cast<uintptr_t>(d.table[c])),
                         deviceEntries);
        }
        return SE_OK;
    }
    case 3: {
        SEGammaDescriptor d{};
        if (!get(block, d)) return SE_NOT_SUPPORTED;
        if ((d.bytesPerEntry != 1 && d.bytesPerEntry != 2) || d.entries == 0 || d.entries > 65536) return SE_ERR_RANGE;
        const int channels = imageType_ == 64 ? 3 : 1;
        for (int c = 0; c < channels; ++c)
            if (d.table[c] == 0) return SE_ERR_NO_TABLE;
        gammaEntryCode_ = d.entries == 65536 ? 128 : 1;
        gammaBuffer_.clear();
        gammaBuffer_.shrink_to_fit();
        const uint64_t perTable = static_cast<uint64_t>(d.entries) * d.bytesPerEntry;
        try {
            gammaBuffer_.resize(perTable * static_cast<uint64_t>(channels));
        } catch (const std::bad_alloc&) {
            return SE_ERR_NO_MEMORY;
        }
        for (int c = 0; c < channels; ++c)
            std::memcpy(gammaBuffer_.data() + perTable * c,
                        reinterpret_cast<const void*>(static_cast<uintptr_t>(d.table[c])), perTable);
        gammaSet_ = 1;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoSmhInput(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoSmhOutput(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoErrString(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoDither(ECDB* block)
{
    const uint32_t v = low32(block->value);
    switch (block->verb) {
    case 0: return put(block, static_cast<uint16_t>(ditherCount_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, ditherIndex_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, static_cast<uint16_t>(ditherDefault_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        if (v < 1 || v >= static_cast<uint32_t>(std::max<short>(ditherCount_, 0))) return SE_ERR_RANGE;
        ditherIndex_ = static_cast<uint16_t>(v);
        return SE_OK;
    case 4: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        if (dithers_ == nullptr || v >= static_cast<uint32_t>(std::max<short>(ditherCount_, 0)))
            return SE_ERR_DITHER_INDEX;
        get(block, dithers_[v]);
        return SE_OK;
    }
    case 5: {
        const auto* wanted = reinterpret_cast<const EDITHER*>(static_cast<uintptr_t>(block->value));
        if (wanted == nullptr || block->record == 0) return SE_NOT_SUPPORTED;
        for (short i = 0; dithers_ != nullptr && i < ditherCount_; ++i) {
            if (StrCmp(dithers_[i].bytes + 2, wanted->bytes + 2, 32) == 1) {
                put(block, static_cast<uint16_t>(i));
                return SE_OK;
            }
        }
        return SE_ERR_DITHER_NAME;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoImage(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, SEImageType{kImageTypesOffered, 0, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, SEImageType{imageType_, imageTypeSecond_, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, SEImageType{64, 0, {}}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        SEImageType t{};
        if (!get(block, t)) return SE_NOT_SUPPORTED;
        // Any type of the offered ones (71) is kept; a pair of type and depth the driver cannot
        // deliver is refused at the scan start (-106).
        if ((t.type & 0xFFFF & kImageTypesOffered) == 0) return SE_ERR_IMAGE_TYPE;
        imageType_ = t.type;
        imageTypeSecond_ = t.second;
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoCallback(ECDB* block)
{
    return block->verb == 3 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoInternalLUT(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, internalLut_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{0}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: internalLut_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoOpticalRes(ECDB* block)
{
    if (block->verb != 0) return SE_NOT_SUPPORTED;
    return put(block, getOpticalResolutionCap(currentSource_)) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoTestReady(ECDB* block)
{
    mark_effective_code(block);
    return block->verb == 0 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::ScanQualitySetting(ECDB* block)
{
    switch (block->verb) {
    case 0: return put(block, uint16_t{9}) ? SE_OK : SE_NOT_SUPPORTED;
    case 1: return put(block, scanQuality_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint16_t{1}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: scanQuality_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoExpMode(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, exposureMode_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, static_cast<uint16_t>(exposureModeDefault_)) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const uint32_t v = low32(block->value);
        if (v > 1) return SE_ERR_RANGE;
        exposureMode_ = static_cast<uint16_t>(v);
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAPD(ECDB* block)
{
    if (block->verb == 0) return SE_OK;
    if (block->verb != 1 || block->record == 0) return SE_NOT_SUPPORTED;
    stScannerInit fresh{};
    fresh.header.wFunctionCode = KZD_INITIALIZE_SCANNER;
    scanner_->vInitializeScanner(&fresh);
    if (!fresh.header.status().ok()) return fresh.header.status().code();
    init_ = fresh;
    const uint16_t loaded = (fresh.ScannerModel & 0x80) ? 1 : 0;
    std::memcpy(record_of<uint8_t>(block) + 4, &loaded, sizeof loaded);
    return SE_OK;
}

int32_t EBase::DoAutoLamp(ECDB*)
{
    return SE_NOT_SUPPORTED;
}

int32_t EBase::DoNewLampControl(ECDB*)
{
    return SE_NOT_SUPPORTED;
}

int32_t EBase::DoButtonStatus(ECDB* block)
{
    switch (block->verb) {
    case 0: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        GET_SUPPORTED_BUTTONS r{};
        r.header.wFunctionCode = KZD_GET_SUPPORTED_BUTTONS;
        scanner_->vScannerGetSupportedButtons(&r);
        if (!r.header.status().ok()) return SE_NOT_SUPPORTED;
        put(block, map_bits(r.dwButtonMask, kSupportedButtons));
        return SE_OK;
    }
    case 1: {
        if (block->record == 0) return SE_NOT_SUPPORTED;
        const int32_t state = scanner_->vPaperReady();
        if (state == -1) {
            // A failed status read is not "every button pressed".
            put(block, uint16_t{0});
            return SE_ERR_TRANSFER;
        }
        put(block, map_bits(static_cast<uint32_t>(state), kButtonState));
        return SE_OK;
    }
    case 3: return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoTMABacktracking(ECDB*)
{
    return SE_OK;
}

int32_t EBase::DoScannerInfo2(ECDB* block)
{
    return block->verb == 0 ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::Prepare2Ah(uint8_t* buffer, uint32_t length)
{
    if (buffer == nullptr) return 0;
    std::memset(buffer, 0, 10);
    buffer[0] = 0x2A;
    buffer[6] = static_cast<uint8_t>(length >> 16);
    buffer[7] = static_cast<uint8_t>(length >> 8);
    buffer[8] = static_cast<uint8_t>(length);
    return 1;
}

int32_t EBase::DoSmartCalibration(ECDB* block)
{
    switch (block->verb) {
    case 0: return isScannerSupportSmartCalibration(currentSource_);
    case 1: return put(block, uint32_t{calibrationReuse_ ? 0u : 1u}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const uint64_t what = block->value;
        if (what == 1) {
            calibrationReuse_ = low32(block->record) == 0 ? 1 : 0;
            return SE_OK;
        }
        if (what == 0) {
            stEraseCaliData r{};
            r.resolution = static_cast<uint16_t>(block->record);
            scanner_->vEraseCaliData(&r);
            return r.result().ok() ? SE_OK : SE_ERR_CALIBRATION_FILE;
        }
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoUltraSound(ECDB* block)
{
    auto* word = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(block->value));
    switch (block->verb) {
    case 0:
        if (word == nullptr) return SE_NOT_SUPPORTED;
        *word = 0;
        return extParams_.bIsSupportUltrasonic ? SE_OK : SE_NOT_SUPPORTED;
    case 3:
        if (word == nullptr) return SE_NOT_SUPPORTED;
        ultraSound_ = *word != 0 ? 1 : 0;
        return SE_NOT_SUPPORTED;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPaperType(ECDB* block)
{
    switch (block->verb) {
    case 0: return extParams_.bIsSupportUltrasonic ? SE_OK : SE_NOT_SUPPORTED;
    case 3: return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoAutoCrop(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: {
        const uint16_t reply[3] = {autoCrop_, 0, 0};
        return put(block, reply) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 3: autoCrop_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoPreviewScanMode(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, preview_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const auto* from = reinterpret_cast<const uint16_t*>(static_cast<uintptr_t>(block->value));
        if (from == nullptr) return SE_NOT_SUPPORTED;
        std::memcpy(&preview_, from, sizeof preview_);
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoInterPolation(ECDB* block)
{
    if (block->verb != 1) return SE_NOT_SUPPORTED;
    const uint16_t r = clamp16(resolution_);
    return put(block, SEInterpolation{0, r, r}) ? SE_OK : SE_NOT_SUPPORTED;
}

int32_t EBase::DoHWJpeg(ECDB* block)
{
    switch (block->verb) {
    case 0: return getHWJpegCap();
    case 1: return put(block, hwJpeg_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: hwJpeg_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoHWCropDeskew(ECDB* block)
{
    switch (block->verb) {
    case 0: return getHWCropDeskewCap();
    case 1: return put(block, hwCropSwitch_) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: hwCropSwitch_ = static_cast<uint16_t>(block->value); return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoScannerLastError(ECDB* block)
{
    switch (block->verb) {
    case 0: return SE_OK;
    case 1: return put(block, static_cast<uint32_t>(lastStatus_)) ? SE_OK : SE_NOT_SUPPORTED;
    default: return SE_NOT_SUPPORTED;
    }
}

int32_t EBase::DoShrinkableExposureRatio(ECDB* block)
{
    const bool transparency = initialised_ && (init_.ScannerModel & kFlagTransparency);
    const stScannerCapab& cap = transparency ? transparencyCap_ : reflectiveCap_;
    switch (block->verb) {
    case 0: {
        if (!cap.cIsSupportShrinkableExposureRatio) return SE_NOT_SUPPORTED;
        const int32_t lo = cap.stShrinkableExposureRange.nMin, hi = cap.stShrinkableExposureRange.nMax;
        const uint32_t step = hi > lo ? static_cast<uint32_t>((hi - lo) / 50) : 0;
        return put(block, SERange{lo, hi, step}) ? SE_OK : SE_NOT_SUPPORTED;
    }
    case 1: return put(block, exposureRatio_) ? SE_OK : SE_NOT_SUPPORTED;
    case 2: return put(block, uint32_t{100}) ? SE_OK : SE_NOT_SUPPORTED;
    case 3: {
        const int64_t v = static_cast<int32_t>(low32(block->value));
        exposureRatio_ = static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 65535));
        return SE_OK;
    }
    default: return SE_NOT_SUPPORTED;
    }
}
