// Scan start: the scan setting, its gamma and halftone data, the device job and the back side.
#include "scan_start.h"

#include "calibration.h"
#include "dbg_log.h"
#include "driver_utils.h"
#include "external_config.h"
#include "frame_convert.h"
#include "gl_scan.h"
#include "gl_scanner.h"
#include "halftone.h"
#include "image_pipeline.h"
#include "kzd_scanner.h"
#include "magnification_module.h"
#include "param_convert.h"
#include "scan_setting.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr uint64_t kChunkLines = 32; // the most lines one pipeline refill moves
constexpr uint32_t kPreviewBqmYResolution = 100;

bool is_known_plane_mask(uint16_t planes)
{
    return planes == 14 || planes == 1 || planes == 0x100 || planes == 0x200 || planes == 0x400;
}

bool is_colour(const stScannerAttri* a)
{
    return a->ColorPlanes == 14;
}

uint64_t round_up_8(uint64_t v)
{
    return (v + 7) / 8 * 8;
}

struct media_limits {
    int media;
    uint32_t max_x;
    uint32_t max_y;
    uint32_t width_px;
    uint32_t height_px;
};

media_limits limits_of(const GLScanner* g, uint16_t source)
{
    media_limits m{};
    m.media = get_scanner_media(g, source);
    m.max_x = get_scanner_max_x_resolution(g, m.media);
    m.max_y = get_scanner_max_y_resolution(g, m.media);
    m.width_px = get_scanner_max_scan_width(g, m.media);
    m.height_px = get_scanner_max_scan_height(g, m.media);
    return m;
}

// The position, in pixels of the device's grid from `first_in` on, of the image's first pixel:
// the image lies on the grid of the requested resolution over the glass (its first pixel is the
// frame edge's pixel at that resolution, as for a resolution the device scans), and the device's
// lines start at `first_in`, the edge's pixel at the device's resolution. Up to a pixel either way.
double image_origin(uint32_t edge, uint32_t requested, uint32_t device, uint32_t first_in)
{
    const uint64_t first_out = thousandths_to_pixels(edge, requested);
    return static_cast<double>(first_out) * device / requested - first_in;
}

IMAGE_SETTING& side_of(SCAN_SETTING* s, int side)
{
    return side == 0 ? s->front_side : s->back_side;
}

void log_attributes(const char* name, const stScannerAttri* a)
{
    DBG_LOG(kLogParameters,
            "%s() ScanSource = 0x%x, ColorPlanes = 0x%x, BitsPerPixel = %u, Resolution = %u, Frame = %u,%u,%u,%u, "
            "ExtFrame = %u,%u,%u,%u, ImageEnhanced = 0x%x, HalftoneType = %u, HalftonePattern = %u, "
            "NumofGammaEntry = %u, Threshold = %u, TransparentType = %u, byForceCalibration = %u, "
            "ShrinkableExposureRatio = %u\n",
            name, a->ScanSource, a->ColorPlanes, a->BitsPerPixel, a->Resolution, a->Frame.left, a->Frame.top,
            a->Frame.right, a->Frame.bottom, a->ExtFrame.left, a->ExtFrame.top, a->ExtFrame.right, a->ExtFrame.bottom,
            a->ImageEnhanced, a->HalftoneType, a->HalftonePattern, a->NumofGammaEntry, a->Threshold, a->TransparentType,
            a->byForceCalibration, a->ShrinkableExposureRatio);
}

} // namespace

uint32_t threshold_map_step(uint16_t entry_code)
{
    switch (entry_code) {
    case 4: return 4;
    case 16: return 16;
    case 128: return 256;
    default: return 1;
    }
}

uint64_t get_gamma_table_reach(const stScannerAttri* a)
{
    if (a->GammaTable == nullptr) return 0;
    const bool single_bit = a->BitsPerPixel == 1;
    const uint64_t entries = a->NumofGammaEntry == 128 ? 65536 : 256;
    const uint64_t bytes = single_bit || a->BitsPerPixel < 9 ? 1 : 2;
    uint64_t reach = entries * bytes * (is_colour(a) ? 3 : 1);
    if (single_bit && (a->ImageEnhanced & 0x08) != 0)
        reach = std::max<uint64_t>(reach, 255 * uint64_t{threshold_map_step(a->NumofGammaEntry)} + 1);
    return reach;
}

stExtFrame get_repaired_scan_frame(const GLScanner* g, const stScannerAttri* a)
{
    const media_limits m = limits_of(g, a->ScanSource);
    // The last thousandth of an inch inside the media in each direction: a frame's far edges are
    // inclusive, so a frame up to these edges never reaches past the glass's last pixel.
    const uint32_t full_length = PixeltoInchIn1000(m.height_px, m.max_y);
    const uint32_t full_width = PixeltoInchIn1000(m.width_px, m.max_x);
    const uint32_t H = full_length > 0 ? full_length - 1 : 0;
    const uint32_t W = full_width > 0 ? full_width - 1 : 0;
    stExtFrame f = a->ExtFrame;
    if (f.left == 0 && f.top == 0 && f.right == 0 && f.bottom == 0) {
        f.left = a->Frame.left;
        f.top = a->Frame.top;
        f.right = std::min<uint32_t>(a->Frame.right, W);
        f.bottom = std::min<uint32_t>(a->Frame.bottom, H);
    }
    // Clamp before repairing: an edge pushed back to the limit must not end up before its
    // opposite edge.
    f.bottom = std::min(f.bottom, H);
    f.right = std::min(f.right, W);
    if (f.top > f.bottom) f.top = 0;
    if (f.left > f.right) f.left = 0;
    return f;
}

DrvResult get_scan_output_geometry(const GLScanner* g, const stScannerAttri* a, scan_output_geometry_t* out)
{
    if (g == nullptr || a == nullptr || out == nullptr) return DRV_NOT_SUPPORTED;
    *out = scan_output_geometry_t{};
    const uint16_t bpp = a->BitsPerPixel;
    if (bpp != 1 && bpp != 8 && bpp != 16) return DRV_NOT_SUPPORTED;
    if (!is_known_plane_mask(a->ColorPlanes)) return DRV_NOT_SUPPORTED;
    if (bpp == 1 && is_colour(a)) return DRV_NOT_SUPPORTED;
    if (a->Resolution == 0) return DRV_NOT_SUPPORTED;
    const media_limits m = limits_of(g, a->ScanSource);
    if (m.width_px == 0 || m.height_px == 0) return DRV_NOT_SUPPORTED;
    const uint32_t x_res = get_scanner_resolution(g, a->ScanSource, a->Resolution, 0);
    const uint32_t y_res = get_scanner_y_resolution(g, a->ScanSource, a->Resolution, 0);
    if (x_res == 0 || y_res == 0) return DRV_NOT_SUPPORTED;

    const stExtFrame f = get_repaired_scan_frame(g, a);
    const uint32_t width = get_scan_width(a->Resolution, f);
    const uint32_t lines = get_scan_height(a->Resolution, f);
    if (width == 0 || lines == 0 || width > SCAN_MAX_OUTPUT_WIDTH || lines > SCAN_MAX_OUTPUT_LINES)
        return DRV_NOT_SUPPORTED;
    const uint64_t row_bytes = get_scan_bytes(is_colour(a), bpp, width);
    // The device's lines: the frame at the device resolution, raised to a multiple of 8, in
    // samples of 8 or 16 bits.
    const uint64_t device_width = round_up_8(get_scan_width(x_res, f));
    const uint64_t device_row_bytes = device_width * (is_colour(a) ? 3 : 1) * (bpp == 16 ? 2 : 1);
    if (row_bytes * kChunkLines > INT32_MAX || device_row_bytes * kChunkLines > INT32_MAX) return DRV_NOT_SUPPORTED;
    out->width = width;
    out->lines = lines;
    out->row_bytes = static_cast<uint32_t>(row_bytes);
    return DRV_SUCCESS;
}

uint16_t is_scan_smart_calibration(const GLScanner* g, uint8_t force_calibration, uint16_t image_enhanced)
{
    const uint16_t reuse = (force_calibration >> 1) & 1;
    if (IsTR518Scanner(get_scanner_model_code(g), get_scanner_submodel_code(g))) return reuse;
    return (image_enhanced & 0x100) ? 0 : reuse;
}

DrvResult get_basic_scan_setting(GLScanner* g, stScannerAttri* a, SCAN_SETTING* s)
{
    scan_output_geometry_t geometry{};
    if (const DrvResult r = get_scan_output_geometry(g, a, &geometry); !r.ok()) {
        DBG_LOG(kLogErrors, "get_basic_scan_setting() - the attributes give no image the driver can deliver\n");
        return r;
    }
    const media_limits m = limits_of(g, a->ScanSource);
    const bool mirror = is_scanner_image_mirror(g, m.media);
    const bool crop_scaling = is_scanner_support_cropping_scaling(g);
    const uint8_t bqm = s->scan_mode.cEnableBQMScan;
    const bool preview = (s->scan_mode.ScanMode & 1) != 0;

    const stExtFrame scan_frame = get_repaired_scan_frame(g, a);
    stExtFrame device_frame = scan_frame;
    if (mirror) {
        const uint32_t M = static_cast<uint32_t>(get_scanner_max_scan_width_by_inch(g, m.media));
        device_frame.left = M - scan_frame.right - 1;
        device_frame.right = M - scan_frame.left - 1;
    }
    if (crop_scaling) {
        const double r = get_scanner_cropping_scaling_ratio(g);
        const double w = static_cast<double>(device_frame.right - device_frame.left);
        if (!mirror) {
            device_frame.left = static_cast<uint32_t>(device_frame.left * r);
            device_frame.right = static_cast<uint32_t>(device_frame.left + w * r);
        } else {
            device_frame.right = static_cast<uint32_t>(device_frame.right * r);
            device_frame.left = static_cast<uint32_t>(device_frame.right - w * r);
        }
    }

    s->source = a->ScanSource;
    s->color_planes = a->ColorPlanes;
    s->quality = get_scan_quality(a->ImageEnhanced);
    s->unused_byte = 0;
    s->max_x_resolution = m.max_x;
    s->max_y_resolution = m.max_y;
    s->requested_resolution = a->Resolution;
    s->x_resolution = get_scanner_resolution(g, a->ScanSource, a->Resolution, bqm);
    s->y_resolution = get_scanner_y_resolution(g, a->ScanSource, a->Resolution, bqm);
    if (preview && bqm) s->y_resolution = kPreviewBqmYResolution;
    if (s->x_resolution == 0 || s->y_resolution == 0) return DRV_NOT_SUPPORTED;

    s->depth = a->BitsPerPixel;
    s->exposure_stretch = 0;
    // The shortest exposure, signed: the sum with the ratio is clamped to 16 bits.
    int64_t min_exposure = a->Exposure[0];
    if (a->ColorPlanes == 14)
        min_exposure = std::min({int64_t{a->Exposure[0]}, int64_t{a->Exposure[1]}, int64_t{a->Exposure[2]}});
    s->min_exposure = static_cast<uint32_t>(min_exposure);
    s->sample_lines = s->sample_line_setting.SampleLines;
    s->color_switch = is_colour(a) ? 1 : 0;
    const int64_t ratio = (a->ShrinkableExposureRatio != 0 ? a->ShrinkableExposureRatio : 100) + min_exposure;
    s->exposure_ratio = static_cast<uint16_t>(std::clamp<int64_t>(ratio, 0, 65535));

    const bool single_bit = a->BitsPerPixel == 1;
    s->halftone_switch = single_bit ? 1 : 0;
    s->lineart_flag = single_bit && a->HalftoneType == 1 ? 1 : 0;
    s->single_bit_switch = single_bit ? 1 : 0;
    s->interpolation_switch = 0;
    s->gamma_switch = a->GammaTable != nullptr ? 1 : 0;
    s->smart_calibration = is_scan_smart_calibration(g, a->byForceCalibration, a->ImageEnhanced);
    s->frame = device_frame;
    if (single_bit) s->depth = 8;

    // The resize carries the device's pixels to the image's exactly: by the ratio of the two
    // resolutions from the image's first pixel, not by the ratio of the two sizes from the
    // device's (each truncated to whole pixels). A device that scales its crop keeps the sizes'.
    interpolate_place_t place{};
    if (!crop_scaling) {
        const uint32_t res = a->Resolution;
        place.x_origin =
            image_origin(device_frame.left, res, s->x_resolution, get_scan_start(s->x_resolution, device_frame));
        place.x_step = static_cast<double>(s->x_resolution) / res;
        const auto first_line = saturate_u32(thousandths_to_pixels(device_frame.top, s->y_resolution));
        place.y_origin = image_origin(device_frame.top, res, s->y_resolution, first_line);
        place.y_step = static_cast<double>(s->y_resolution) / res;
    }
    for (IMAGE_SETTING* side : {&s->front_side, &s->back_side}) {
        side->resize_place = place;
        side->depth = s->depth;
        side->image_type = s->color_switch ? IMAGE_TYPE_COLOUR
            : s->halftone_switch           ? IMAGE_TYPE_LINE_ART
                                           : IMAGE_TYPE_GREY;
        side->reserved = 1;
        side->mirror = mirror ? 1 : 0;
        side->output_width = geometry.width;
        side->output_row_bytes = geometry.row_bytes;
        side->output_lines = geometry.lines;
        side->lines_to_deliver = geometry.lines;
        side->scan_start = get_scan_start(s->x_resolution, device_frame);
        side->scan_start_high = 0;
        side->scan_end = get_scan_end(s->x_resolution, device_frame);
        side->scan_end_high = 0;
    }
    s->correction_parameters = CoordinateCorrectionParameter{};
    s->corrected_start_x = 0;
    s->corrected_end_x = 0;

    external_config_t config{};
    ExternalConfig_Read(&config);
    if (is_scanner_support_x_axis_magnification_compensation(g) && config.scan_raw_from_home == 0) {
        const DrvResult r = init_magnification_correction_module(g, a, s);
        if (!r.ok()) return r;
    }
    return DRV_SUCCESS;
}

DrvResult get_adv_scan_setting(GLScanner*, stScannerAttri* a, SCAN_SETTING* s, int side)
{
    IMAGE_SETTING& is = side_of(s, side);
    vMyGlobalFree(nullptr, &is.gamma_block);
    is.gamma = GAMMA_INFO{};
    if (a->GammaTable == nullptr) return DRV_SUCCESS;

    const bool colour = s->color_switch != 0;
    const uint32_t entries = a->NumofGammaEntry == 128 ? 65536 : 256;
    const uint16_t bytes = s->depth < 9 ? 1 : 2;
    // Two-byte entries only come as full 16-bit tables.
    if (bytes == 2 && entries != 65536) {
        DBG_LOG(kLogErrors, "get_adv_scan_setting() - a two-byte table needs 65536 entries\n");
        return DRV_NOT_SUPPORTED;
    }
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t size = entries * bytes * channels;
    auto* block = static_cast<uint8_t*>(lpMyGlobalAlloc(nullptr, size));
    if (block == nullptr) {
        DBG_LOG(kLogErrors, "get_adv_scan_setting() - kNotEnoughMemory\n");
        return DRV_NO_MEMORY;
    }
    std::memcpy(block, a->GammaTable, size);
    is.gamma_block = block;
    is.gamma.entries = entries;
    is.gamma.bytes_per_entry = bytes;
    is.gamma.channel_mask = colour ? 7 : 2;
    const size_t table_bytes = size_t{entries} * bytes;
    for (uint32_t c = 0; c < 3; ++c) is.gamma.table[c] = colour ? block + c * table_bytes : block;
    if (bytes == 2)
        DBG_LOOKUP_TABLE_CSV_FILE(kLogTables, "LookupTable", entries, channels,
                                  reinterpret_cast<const uint16_t*>(block));
    return DRV_SUCCESS;
}

DrvResult get_halftone_setting(GLScanner*, stScannerAttri* a, SCAN_SETTING* s, int)
{
    SingleBitEpilogue(s->halftone_context, &s->halftone);
    if (!s->halftone_switch) return DRV_SUCCESS;
    if ((a->HalftoneType & 4) && a->UserPatternSize > kHalftoneMaxUserSide) {
        DBG_LOG(kLogErrors, "get_halftone_setting() - a pattern side of %u exceeds %u\n", a->UserPatternSize,
                kHalftoneMaxUserSide);
        return DRV_NOT_SUPPORTED;
    }
    auto& map = s->threshold_map;
    if ((a->ImageEnhanced & 0x08) && a->GammaTable != nullptr) {
        // Every step-th byte of the table: the entry codes 4, 16 and 128 stand for tables of 1024,
        // 4096 and 65536 entries.
        const uint32_t step = threshold_map_step(a->NumofGammaEntry);
        for (uint32_t i = 0; i < 256; ++i) map[i] = a->GammaTable[i * step];
    } else {
        for (uint32_t i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
    }
    uint8_t scratch[1 + kHalftoneMaxUserSide * kHalftoneMaxUserSide] = {};
    if ((a->HalftoneType & 6) == 0)
        s->halftone = SingleBitProcessPrologue(1, map.data(), -1, nullptr, 0, s->halftone_context);
    else if (a->HalftoneType & 4)
        s->halftone =
            SingleBitProcessPrologue(1, map.data(), -1, a->UserPattern, a->UserPatternSize, s->halftone_context);
    else
        s->halftone = SingleBitProcessPrologue(1, map.data(), a->HalftonePattern, scratch, 0, s->halftone_context);
    if (s->halftone == nullptr) {
        DBG_LOG(kLogErrors, "get_halftone_setting() - no single-bit record\n");
        return DRV_NO_MEMORY;
    }
    return DRV_SUCCESS;
}

DrvResult get_bqm_setting(GLScanner*, SCAN_SETTING* s, int)
{
    s->bqm_switch = 0;
    return DRV_SUCCESS;
}

DrvResult do_scan(GLScanner* g, SCAN_SETTING* s)
{
    ScanJob* job = g->scan_job;
    convert_to_scan_job(g, s, job);
    if (job->send_gamma() == 1) {
        const DrvResult r = convert_to_scanner_gamma_table(g, s);
        if (!r.ok()) return r;
    }
    const eStatus st = scanner_start_scan(g, job);
    if (!st.ok()) return get_scanner_error_code(g, st);
    DBG_LOG(kLogDetails,
            "do_scan() para.img.width = %u, para.img.height = %u, ImageWidth[0] = %u, ImageHeight[0] = %u\n",
            job->width(), job->height(), job->image_width(0), job->image_height(0));
    const DrvResult r = take_scan_geometry(s, job);
    if (!r.ok()) scanner_stop_scan(g, job);
    return r;
}

DrvResult take_scan_geometry(SCAN_SETTING* s, const ScanJob* job)
{
    const int sides = job->sides() == 3 ? 2 : 1;
    uint32_t line_width[2] = {};
    for (int side = 0; side < sides; ++side) {
        // The device scans the window it was asked for, its lines perhaps rounded up to a wider
        // width (whose extra columns are dropped with the padding). A narrower line would scramble
        // every line, another height cut or pad the image. A height not known yet is checked
        // while reading.
        const uint32_t width = job->image_width(side);
        const uint32_t height = job->image_height(side);
        if (width < job->width() || (height != 0 && height != job->height())) {
            DBG_LOG(kLogErrors, "do_scan() - side %d reports %u x %u for a window of %u x %u\n", side, width, height,
                    job->width(), job->height());
            return DRV_STAGE_FAILURE;
        }
        line_width[side] = width;
    }
    if (sides == 1) line_width[1] = line_width[0];
    const uint64_t widest = std::max(line_width[0], line_width[1]);
    if (job->width() == 0 || job->height() == 0 ||
        get_scan_bytes(s->color_switch, static_cast<int>(s->depth), static_cast<uint32_t>(widest)) * kChunkLines >
            INT32_MAX) {
        DBG_LOG(kLogErrors, "do_scan() - a window of %u x %u cannot be read\n", job->width(), job->height());
        return DRV_STAGE_FAILURE;
    }
    // The frame's part of the window; the rest is padding to multiples of 8. The correction takes
    // its own columns from the whole window.
    const uint32_t frame_width = s->magnification != nullptr ? job->width() : get_scan_width(s->x_resolution, s->frame);
    const uint32_t frame_lines = get_scan_height(s->y_resolution, s->frame);
    for (int side = 0; side < 2; ++side) {
        IMAGE_SETTING& is = side_of(s, side);
        is.scan_lines = job->height();
        is.scan_width = line_width[side];
        is.scan_row_bytes = get_scan_bytes(s->color_switch, static_cast<int>(s->depth), line_width[side]);
        is.frame_width = std::min(frame_width, job->width());
        is.frame_lines = std::min(frame_lines, job->height());
        is.lines_scanned = 0;
    }
    return DRV_SUCCESS;
}

// The operations of the driver object that start a scan.

void CKzdScanner::vSetScannerScanMode(stSetScannerScanMode* r)
{
    DBG_LOG(
        kLogParameters,
        "vSetScannerScanMode() ScanMode = 0x%x, cStopStealScan = %u, cEnableUltraSound = %u, dwScanPaperType = 0x%x, "
        "cDisableAutoPaperEject = %u, cEnableBQMScan = %u, cEnableColorConsistency = %u\n",
        r->ScanMode, r->cStopStealScan, r->cEnableUltraSound, r->dwScanPaperType, r->cDisableAutoPaperEject,
        r->cEnableBQMScan, r->cEnableColorConsistency);
    if ((r->ScanMode & 0x40) && r->pJpegParams == nullptr) DBG_LOG(kLogTables, "[WARNING!!] No Jpeg Parameter.\n");
    setting_.scan_mode = *r;
    if (scanner_ != nullptr) {
        scanner_->isp_a.fill(0);
        scanner_->isp_b.fill(0);
        for (auto& area : scanner_->working_areas) area.fill(0);
    }
    r->header.set_status(DRV_SUCCESS);
    DBG_LOG(kLogParameters, "vSetScannerScanMode() FUNC_STATUS = %d\n", r->header.FUNC_STATUS);
}

DrvResult CKzdScanner::start_scan(stScannerAttri* r)
{
    GLScanner* g = scanner_;
    // A scan still running is ended first: its data must not be read as calibration samples.
    stop_running_scan();
    free_disposable_buffers();
    log_attributes("vScannerStartScan", r);
    if (const DrvResult st = get_basic_scan_setting(g, r, &setting_); !st.ok()) return st;
    if (const DrvResult st = get_adv_scan_setting(g, r, &setting_, 0); !st.ok()) return st;
    if (const DrvResult st = get_halftone_setting(g, r, &setting_, 0); !st.ok()) return st;
    if (const DrvResult st = get_bqm_setting(g, &setting_, 0); !st.ok()) return st;
    if (const DrvResult st = do_calibrate(g, &setting_); !st.ok()) return st;
    if (const DrvResult st = do_scan(g, &setting_); !st.ok()) return st;
    if (const DrvResult st = ip_initial(&setting_, g, 0); !st.ok()) return st;
    setting_.pipeline_built = true;
    const IMAGE_SETTING& front = setting_.front_side;
    r->cExtMember = 1;
    // The image the host receives; the device's window may hold padding lines beyond it.
    r->dwLineWidth = front.output_width;
    r->dwLineHeight = front.output_lines;
    r->LineWidth = static_cast<uint16_t>(r->dwLineWidth);
    r->LineHeight = static_cast<uint16_t>(r->dwLineHeight);
    return DRV_SUCCESS;
}

void CKzdScanner::vScannerStartScan(stScannerAttri* r)
{
    DrvResult status = DRV_TRANSFER_FAILURE;
    if (scanner_ != nullptr) {
        try {
            status = start_scan(r);
        } catch (const std::bad_alloc&) {
            status = DRV_NO_MEMORY;
        } catch (...) {
            status = DRV_STAGE_FAILURE;
        }
    }
    r->header.set_status(status);
    DBG_LOG(kLogParameters, "vScannerStartScan() FUNC_STATUS = %d\n", status.code());
}

void CKzdScanner::vScannerReturnCISInfo(stScannerAttri* r)
{
    log_attributes("vScannerReturnCISInfo", r);
    DrvResult status = DRV_SUCCESS;
    if (scanner_ == nullptr) {
        status = DRV_TRANSFER_FAILURE;
    } else if (!setting_.pipeline_built || (setting_.source & 0x08) == 0) {
        // Only a two-sided scan that started has a back side.
        status = DRV_NOT_SUPPORTED;
    } else {
        try {
            status = get_adv_scan_setting(scanner_, r, &setting_, 1);
            if (status.ok()) status = ip_initial(&setting_, scanner_, 1);
        } catch (...) {
            status = DRV_NO_MEMORY;
        }
        if (status.ok()) {
            const IMAGE_SETTING& back = setting_.back_side;
            r->cExtMember = 1;
            r->dwLineWidth = back.output_width;
            r->dwLineHeight = back.output_lines;
        }
    }
    r->header.set_status(status);
    DBG_LOG(kLogParameters, "vScannerReturnCISInfo() FUNC_STATUS = %d\n", status.code());
}
