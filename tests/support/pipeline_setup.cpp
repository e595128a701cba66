#include "pipeline_setup.h"

#include "halftone.h"
#include "image_mirror.h"
#include "image_pipeline.h"
#include "interpolate.h"
#include "lookup_table.h"
#include "param_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace lftest {

namespace {

LineSource* active_source = nullptr;

uint32_t channels_of(uint32_t image_type)
{
    return image_type == IMAGE_TYPE_COLOUR ? 3 : 1;
}

} // namespace

std::vector<uint8_t> gamma_tables(const PipelineConfig& c)
{
    if (c.gamma == Gamma::None) return {};
    const bool two_bytes = c.depth == 16;
    const uint32_t entries = two_bytes || c.gamma == Gamma::Wide ? 65536 : 256;
    const uint32_t channels = channels_of(c.image_type);
    std::vector<uint8_t> t(size_t{entries} * (two_bytes ? 2 : 1) * channels);
    for (uint32_t ch = 0; ch < channels; ++ch) {
        for (uint32_t i = 0; i < entries; ++i) {
            // Identity, or a curve per channel that moves every value.
            uint32_t v = i;
            if (c.gamma != Gamma::Identity) {
                const uint32_t top = entries - 1;
                v = (i * (ch + 2) + 37 * (ch + 1)) % (top + 1);
                if (entries == 65536 && !two_bytes) v >>= 8;
            } else if (entries == 65536 && !two_bytes) {
                v >>= 8;
            }
            if (two_bytes) {
                const uint16_t w = static_cast<uint16_t>(v);
                std::memcpy(&t[(size_t{ch} * entries + i) * 2], &w, 2);
            } else {
                t[size_t{ch} * entries + i] = static_cast<uint8_t>(v);
            }
        }
    }
    return t;
}

void add_correction(SCAN_SETTING* s, uint8_t depth, uint8_t channels, uint32_t width, uint32_t resolution)
{
    CoordinateCorrectionParameter& p = s->correction_parameters;
    p = {};
    constexpr uint32_t kStep = 4;
    const uint32_t length = kStep * (width + 16);
    const uint32_t segment = length / kMagnificationSegments;
    p.coords_data.table_length = length;
    p.coords_data.coords_resolution = kStep * resolution;
    p.coords_data.coords_count = kMagnificationMarks;
    for (uint32_t i = 0; i < kMagnificationMarks; ++i) {
        p.coords_data.ideal[i] = segment * i;
        p.coords_data.measured[i] = segment * i + segment / 60 * std::min(i > 10 ? i - 10 : 0, 10u);
    }
    p.settings = {resolution, depth, channels, 0, width - 1};
    p.pixel_position_left = 8;
    p.pixel_position_right = length - 8;
    p.red_offset_left = 0.5;
    p.green_offset_right = 0.3;
    p.blue_offset_right = 0.1;
    CoordinateCorrectionInformation range{};
    if (MagnificationCorrectionInit(&s->magnification, &p, &range) != kMagnificationOk) {
        MagnificationCorrectionExit(s->magnification);
        s->magnification = nullptr;
    }
    s->corrected_start_x = range.corrected_start_x;
    s->corrected_end_x = range.corrected_end_x;
    // The frame whose width at the resolution is `width` pixels.
    s->frame = {0, 0, (width * 1000 + resolution - 1) / resolution - 1, 0};
}

PipelineSetting::PipelineSetting(const PipelineConfig& c) : config_(c), setting_(std::make_unique<SCAN_SETTING>())
{
    SCAN_SETTING& s = *setting_;
    IMAGE_SETTING& f = s.front_side;
    const bool colour = c.image_type == IMAGE_TYPE_COLOUR;
    const uint32_t channels = channels_of(c.image_type);
    s.color_switch = colour ? 1 : 0;
    s.depth = c.depth;
    f.image_type = c.image_type;
    f.reserved = 1;
    f.depth = c.depth;
    f.mirror = c.mirror ? 1 : 0;
    f.scan_width = c.scan_width;
    f.scan_lines = c.scan_lines;
    if (c.correction) {
        add_correction(&s, static_cast<uint8_t>(c.depth), static_cast<uint8_t>(channels), c.output_width, 1000);
        f.scan_width = convert_to_par_width(nullptr, &s, 1000, true);
        f.scan_width = (f.scan_width + 7) / 8 * 8;
    }
    f.scan_row_bytes = get_scan_bytes(colour, static_cast<int>(c.depth), f.scan_width);
    f.output_width = c.output_width;
    f.output_lines = c.output_lines;
    const int output_depth = c.image_type == IMAGE_TYPE_LINE_ART ? 1 : static_cast<int>(c.depth);
    f.output_row_bytes = get_scan_bytes(colour, output_depth, c.output_width);
    f.lines_to_deliver = c.output_lines;

    tables_ = gamma_tables(c);
    if (!tables_.empty()) {
        s.gamma_switch = 1;
        f.gamma.bytes_per_entry = c.depth == 16 ? 2 : 1;
        f.gamma.entries = static_cast<uint32_t>(tables_.size() / channels / f.gamma.bytes_per_entry);
        f.gamma.channel_mask = colour ? 7 : 2;
        const size_t table_bytes = tables_.size() / channels;
        for (uint32_t ch = 0; ch < 3; ++ch) f.gamma.table[ch] = &tables_[colour ? ch * table_bytes : 0];
    }
    if (c.image_type == IMAGE_TYPE_LINE_ART) {
        for (int i = 0; i < 256; ++i) s.threshold_map[i] = static_cast<uint8_t>(i);
        uint8_t pattern[1 + 16 * 16];
        s.halftone = SingleBitProcessPrologue(1, s.threshold_map.data(), c.halftone, pattern, 0, nullptr);
    }
}

PipelineSetting::~PipelineSetting()
{
    ip_release(setting_.get());
    SingleBitEpilogue(nullptr, &setting_->halftone);
    MagnificationCorrectionExit(setting_->magnification);
}

uint64_t PipelineSetting::scan_bytes() const
{
    return uint64_t{setting_->front_side.scan_row_bytes} * setting_->front_side.scan_lines;
}

std::vector<uint8_t> test_image(uint64_t count, uint32_t seed)
{
    std::vector<uint8_t> v(count);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 11);
    }
    return v;
}

LineSource::LineSource(std::vector<uint8_t> image) : image_(std::move(image))
{
    active_source = this;
    ip_set_scan_read_function(&LineSource::read);
}

LineSource::~LineSource()
{
    ip_set_scan_read_function(nullptr);
    active_source = nullptr;
}

eStatus LineSource::read(GLScanner*, ScanJob*, int, uint8_t* buffer, uint32_t* length, uint8_t* end)
{
    LineSource& src = *active_source;
    ++src.reads;
    if (src.record) src.lengths.push_back(*length);
    *end = 0;
    if (src.served + *length > src.fail_after) return src.failure;
    uint64_t take = *length;
    const bool short_page = src.served + take > src.end_after;
    if (short_page) take = src.end_after - src.served;
    const size_t size = src.image_.size();
    for (uint64_t done = 0; done < take;) {
        const size_t at = static_cast<size_t>((src.served + done) % size);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(take - done, size - at));
        std::memcpy(buffer + done, src.image_.data() + at, n);
        done += n;
    }
    src.served += take;
    if (short_page) {
        std::memset(buffer + take, 0, *length - take);
        return STATUS_UNEXPECTED_JOB_REPLY;
    }
    return STATUS_GOOD;
}

std::vector<uint8_t> reference_chain(SCAN_SETTING* s, const IMAGE_SETTING& f, int halftone,
                                     const std::vector<uint8_t>& scan)
{
    using Bytes = std::vector<uint8_t>;
    const uint32_t ch = channels_of(f.image_type);
    const uint32_t bps = f.depth / 8;
    Bytes image = scan;
    uint32_t width = f.scan_width;
    if (s->magnification != nullptr) {
        const uint32_t w = get_scan_width(s->correction_parameters.settings.resolution, s->frame);
        Bytes out(size_t{w} * ch * bps * f.scan_lines);
        const magnification_line_block_t src{f.scan_lines, 0, width, f.scan_row_bytes, image.data()};
        const magnification_line_block_t dst{f.scan_lines, 0, w, w * ch * bps, out.data()};
        MagnificationCorrectionProcess(s->magnification, &src, &dst);
        image.swap(out);
        width = w;
    }
    if (width != f.output_width || f.scan_lines != f.output_lines) {
        const interpolate_param_t p{f.depth, ch, width, f.scan_lines, f.output_width, f.output_lines};
        interpolate_handle* h = nullptr;
        EXPECT_EQ(interpolate_init(&h, &p), 0);
        Bytes out(size_t{f.output_width} * ch * bps * f.output_lines);
        interpolate_input_t in{image.data(), f.scan_lines};
        interpolate_output_t o{out.data(), f.output_lines, 0};
        uint32_t made = 0;
        EXPECT_EQ(interpolate_block(&h, &in, &o, &made), 0);
        EXPECT_EQ(made, f.output_lines);
        interpolate_exit(&h);
        image.swap(out);
    }
    const uint32_t pixels = f.output_width * f.output_lines;
    if (s->gamma_switch != 0) {
        const GAMMA_INFO& g = f.gamma;
        const lookup_table_info_t info{g.entries, g.bytes_per_entry, {g.table[0], g.table[1], g.table[2]}};
        lookup_table_image_param_t img{image.data(), f.depth, pixels, ch};
        apply_lookup_table(&info, &img);
    }
    const auto w = static_cast<int>(f.output_width), lines = static_cast<int>(f.output_lines);
    if ((f.mirror & 0xFF) != 0) {
        if (f.depth == 16)
            image_mirror_16u(reinterpret_cast<uint16_t*>(image.data()), w, lines, static_cast<int>(ch));
        else
            image_mirror_8u(image.data(), w, lines, static_cast<int>(ch));
    }
    if (f.image_type == IMAGE_TYPE_LINE_ART) {
        uint8_t map[256];
        for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
        uint8_t pattern[1 + 256];
        HALFTONE_PARAM* p = SingleBitProcessPrologue(1, map, halftone, pattern, 0, nullptr);
        const uint32_t row = (f.output_width + 7) / 8;
        Bytes out(size_t{row} * f.output_lines);
        for (uint32_t l = 0; l < f.output_lines; ++l)
            SingleBitProcess(p, &out[l * row], &image[size_t{l} * f.output_width], w);
        SingleBitEpilogue(nullptr, &p);
        image.swap(out);
    }
    return image;
}

} // namespace lftest
