// The pipeline on the simulated scanner through the real libusb: a scan setting built by hand as
// the scan set-up builds it, the job filled from it, the device started, the pipeline built on the
// geometry the device reported and read to the end, the scan stopped. The ideal sensor reads the
// chart without any calibration, so every delivered byte is known in advance.
#include "chart_scan_engine.h"
#include "gl_scan.h"
#include "image_pipeline.h"
#include "kzd_records.h"
#include "magnification_module.h"
#include "param_convert.h"
#include "pipeline_setup.h"
#include "scan_setting.h"
#include "scan_start.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using lftest::Gamma;

constexpr int kStageFailure = -1008;

// A flatbed colour scan of `frame` (thousandths of an inch) at `dpi`.
struct Request {
    uint32_t dpi = 300;
    stExtFrame frame{};
    uint32_t depth = 8;
    Gamma gamma = Gamma::Identity;
};

// The chart as the ideal sensor reads it, colour, lines of `width` pixels from sensor position
// x0 and chart row y0: 8-bit samples (7x + 13y + 85c) mod 256, or with the 16-bit chart
// ((7x + 13y + 85c) × 263) mod 65536 as little-endian pairs.
Bytes chart(uint32_t x0, uint32_t y0, uint32_t width, uint32_t lines, uint32_t depth)
{
    Bytes out;
    out.reserve(size_t{width} * lines * 3 * (depth / 8));
    for (uint32_t y = y0; y < y0 + lines; ++y) {
        for (uint32_t x = x0; x < x0 + width; ++x) {
            for (uint32_t c = 0; c < 3; ++c) {
                const uint32_t v = 7 * x + 13 * y + 85 * c;
                if (depth == 8) {
                    out.push_back(static_cast<uint8_t>(v));
                } else {
                    const uint32_t p = v * 263 % 65536;
                    out.push_back(static_cast<uint8_t>(p));
                    out.push_back(static_cast<uint8_t>(p >> 8));
                }
            }
        }
    }
    return out;
}

class PipelineScan : public lftest::ScannerTest {
protected:
    void SetUp() override
    {
        ScannerTest::SetUp();
        if (HasFatalFailure()) return;
        model().with_chart_engine([](sim::ChartScanEngine& e) { e.set_sensor(sim::Sensor::Ideal); });
    }
    void TearDown() override
    {
        end_scan();
        discard();
        ScannerTest::TearDown();
    }

    // The setting the scan set-up builds for the request: device resolutions from the media's
    // lists, the frame flipped on a mirrored flatbed, the output geometry at the requested
    // resolution, the gamma tables, and the magnification model when the device has one.
    void build(const Request& r)
    {
        end_scan();
        discard();
        setting_ = std::make_unique<SCAN_SETTING>();
        SCAN_SETTING& s = *setting_;
        IMAGE_SETTING& f = s.front_side;
        s.color_planes = 14;
        s.color_switch = 1;
        s.quality = 1;
        s.sample_lines = 1;
        s.exposure_ratio = 100;
        s.depth = r.depth;
        s.x_resolution = get_scanner_resolution(g(), 0, r.dpi, 0);
        s.y_resolution = get_scanner_y_resolution(g(), 0, r.dpi, 0);
        const bool mirror = is_scanner_image_mirror(g(), 0);
        s.frame = r.frame;
        if (mirror) {
            const auto m = static_cast<uint32_t>(get_scanner_max_scan_width_by_inch(g(), 0));
            s.frame.left = m - r.frame.right - 1;
            s.frame.right = m - r.frame.left - 1;
        }
        f.image_type = IMAGE_TYPE_COLOUR;
        f.reserved = 1;
        f.depth = r.depth;
        f.mirror = mirror ? 1 : 0;
        f.output_width = get_scan_width(r.dpi, r.frame);
        f.output_row_bytes = get_scan_bytes(1, static_cast<int>(r.depth), f.output_width);
        f.output_lines = get_scan_height(r.dpi, r.frame);
        f.lines_to_deliver = f.output_lines;
        f.scan_start = get_scan_start(s.x_resolution, s.frame);
        f.scan_end = get_scan_end(s.x_resolution, s.frame);

        lftest::PipelineConfig shape;
        shape.depth = r.depth;
        shape.gamma = r.gamma;
        tables_ = lftest::gamma_tables(shape);
        if (!tables_.empty()) {
            s.gamma_switch = 1;
            const uint16_t bytes = r.depth == 16 ? 2 : 1;
            const size_t table_bytes = tables_.size() / 3;
            f.gamma = {static_cast<uint32_t>(table_bytes / bytes),
                       bytes,
                       7,
                       {&tables_[0], &tables_[table_bytes], &tables_[2 * table_bytes]}};
        }
        if (is_scanner_support_x_axis_magnification_compensation(g())) {
            stScannerAttri attributes{};
            ASSERT_EQ(init_magnification_correction_module(g(), &attributes, &s).code(), 1);
        }
    }

    // Fills the job from the setting and starts the device; on success the sides take the
    // geometry of the window the device reported, as the scan start does (its result in
    // geometry_).
    eStatus start()
    {
        ScanJob* job = g()->scan_job;
        convert_to_scan_job(g(), setting_.get(), job);
        const eStatus status = scanner_start_scan(g(), job);
        started_ = true;
        geometry_ = status.ok() ? take_scan_geometry(setting_.get(), job).code() : 0;
        return status;
    }

    struct Outcome {
        int result = 0; // of ip_initial, or of the last ip_read
        int end = 0;
        uint32_t served = 0; // lines handed over
        Bytes image;         // 0xAA where nothing was handed over
    };
    // Builds the pipeline and reads until the end or the first failure.
    Outcome read_image(int host_lines = 256)
    {
        IMAGE_SETTING& f = setting_->front_side;
        Outcome o;
        o.image.assign(size_t{f.output_row_bytes} * f.output_lines, 0xAA);
        o.result = ip_initial(setting_.get(), g(), 0).code();
        while (o.result == 1 && o.end == 0) {
            const uint32_t before = f.lines_to_deliver;
            int left = -1;
            o.result = ip_read(setting_.get(), g(), 0, o.image.data() + size_t{o.served} * f.output_row_bytes,
                               host_lines, &left, &o.end)
                           .code();
            o.served += before - f.lines_to_deliver;
            EXPECT_EQ(left, static_cast<int>(f.lines_to_deliver));
        }
        return o;
    }

    // Builds, starts and reads the whole image, then stops the scan.
    Outcome scan(const Request& r, int host_lines = 256)
    {
        build(r);
        if (HasFatalFailure()) return {};
        const eStatus status = start();
        EXPECT_EQ(status, STATUS_GOOD);
        EXPECT_EQ(geometry_, 1);
        if (status != STATUS_GOOD || geometry_ != 1) return {};
        Outcome o = read_image(host_lines);
        EXPECT_EQ(end_scan(), STATUS_GOOD);
        return o;
    }

    // Releases the pipeline and stops a started scan.
    eStatus end_scan()
    {
        if (!setting_) return STATUS_GOOD;
        ip_release(setting_.get());
        eStatus status = STATUS_GOOD;
        if (started_ && g() != nullptr) status = scanner_stop_scan(g(), g()->scan_job);
        started_ = false;
        return status;
    }

    // Frees the setting's magnification model.
    void discard()
    {
        if (setting_) free_magnification_correction_module(setting_.get());
    }

    void geometry(const sim::GeometryFault& fault)
    {
        model().with_chart_engine([&fault](sim::ChartScanEngine& e) { e.set_geometry_fault(fault); });
    }
    size_t sense_requests() const
    {
        const auto all = briefs();
        return static_cast<size_t>(
            std::ranges::count_if(all, [](const std::string& b) { return b.rfind("SENS", 0) == 0; }));
    }

    SCAN_SETTING& setting() { return *setting_; }
    IMAGE_SETTING& front() { return setting_->front_side; }

    std::unique_ptr<SCAN_SETTING> setting_;
    Bytes tables_;
    bool started_ = false;
    int geometry_ = 0;
};

// 960 × 480 pixels at 300 dpi, 300 pixels from the left edge and 150 lines down.
const stExtFrame kFrame300{1000, 500, 4199, 2099};

TEST_F(PipelineScan, TheChartComesThroughExactly)
{
    const Outcome o = scan({.dpi = 300, .frame = kFrame300});
    const ScanJob& job = *g()->scan_job;
    EXPECT_EQ(job.width(), 960u);
    EXPECT_EQ(job.height(), 480u);
    EXPECT_EQ(job.dot_x(), 300u);
    EXPECT_EQ(job.dot_y(), 150u);
    EXPECT_EQ(setting().interpolation_switch, 0) << "the device delivers the requested geometry";
    EXPECT_EQ(front().gamma_identity, 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.end, 1);
    EXPECT_EQ(o.served, 480u);
    EXPECT_TRUE(o.image == chart(300, 150, 960, 480, 8));
}

TEST_F(PipelineScan, AMirroredFlatbedGivesTheSameImage)
{
    model().edit([](sim::ScannerRecords& r) { r.attributes[0][1] = 1; });
    reopen_scanner();
    const Outcome o = scan({.dpi = 300, .frame = kFrame300}, 7);
    // The device scans the flipped frame: 8500 - 4199 - 1 thousandths from the left.
    EXPECT_EQ(g()->scan_job->dot_x(), 1290u);
    EXPECT_EQ(front().mirror, 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.served, 480u);
    EXPECT_TRUE(o.image == chart(300, 150, 960, 480, 8));
}

TEST_F(PipelineScan, ResizedFrom600To500DpiAsTheReferenceChain)
{
    // 1.6 × 0.96 inch: the device scans 960 × 576 at 600 dpi, the host gets 800 × 480.
    const Request r{.dpi = 500, .frame = {0, 0, 1599, 959}, .gamma = Gamma::PerChannel};
    const Outcome o = scan(r);
    EXPECT_EQ(setting().x_resolution, 600u);
    EXPECT_EQ(front().scan_width, 960u);
    EXPECT_EQ(front().scan_lines, 576u);
    EXPECT_EQ(setting().interpolation_switch, 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.served, 480u);
    EXPECT_TRUE(o.image == lftest::reference_chain(&setting(), front(), -1, chart(0, 0, 960, 576, 8)));
}

TEST_F(PipelineScan, SixteenBitColourKeepsItsByteOrder)
{
    model().with_chart_engine([](sim::ChartScanEngine& e) { e.set_chart(sim::pattern16_chart()); });
    // 320 × 96 pixels at 300 dpi; identity tables, then a different curve per channel over the
    // whole 65536-entry range.
    const stExtFrame frame{1000, 500, 2066, 819};
    for (const Gamma gamma : {Gamma::Identity, Gamma::PerChannel}) {
        const Outcome o = scan({.dpi = 300, .frame = frame, .depth = 16, .gamma = gamma});
        EXPECT_EQ(g()->scan_job->bits_per_pixel(), 48);
        ASSERT_EQ(o.result, 1);
        ASSERT_EQ(o.served, 96u);
        Bytes want = chart(300, 150, 320, 96, 16);
        for (size_t i = 0; i < want.size(); i += 2) {
            const size_t c = i / 2 % 3;
            const size_t at = (c * 65536 + (want[i] | want[i + 1] << 8)) * 2;
            want[i] = tables_[at];
            want[i + 1] = tables_[at + 1];
        }
        EXPECT_TRUE(o.image == want) << static_cast<int>(gamma);
    }
}

TEST_F(PipelineScan, AReportedGeometryOtherThanTheWindowIsRefusedUnlessWider)
{
    // The window is 960 × 480; a narrower line or another height would scramble or cut the image.
    const sim::GeometryFault faults[] = {
        {.width = uint16_t{8}},    {.width = uint16_t{952}},  {.width = uint16_t{0}},
        {.height = uint16_t{479}}, {.height = uint16_t{488}},
    };
    for (const sim::GeometryFault& fault : faults) {
        geometry(fault);
        build({.dpi = 300, .frame = kFrame300});
        ASSERT_EQ(start(), STATUS_GOOD);
        EXPECT_EQ(geometry_, kStageFailure) << fault.width.value_or(960) << " x " << fault.height.value_or(480);
        EXPECT_EQ(end_scan(), STATUS_GOOD);
    }
    geometry({});
    const Outcome o = scan({.dpi = 300, .frame = kFrame300});
    EXPECT_TRUE(o.image == chart(300, 150, 960, 480, 8)) << "the same window reported as asked";
    // A device that rounds its lines up to a wider width: lines of that width are read, and the
    // window's columns delivered.
    for (const uint16_t wider : {8, 13}) {
        geometry({.wider_by = wider});
        const Outcome w = scan({.dpi = 300, .frame = kFrame300});
        EXPECT_EQ(g()->scan_job->image_width(0), 960 + wider);
        EXPECT_TRUE(w.image == chart(300, 150, 960, 480, 8)) << "lines " << wider << " pixels wider";
    }
}

// Frames whose sizes are not multiples of 8: the device scans a window raised to multiples of 8,
// and the frame's pixels come through unresized, the padding dropped.
TEST_F(PipelineScan, PaddingIsDroppedNotResizedAway)
{
    const stExtFrame frames[] = {
        {1000, 500, 1000 + 1006, 500 + 1009}, // 302 × 303 pixels at 300 dpi
        {1000, 500, 1000 + 3332, 500 + 1016}, // 1000 × 305
        {3, 7, 3 + 3, 7 + 3},                 // 1 × 1
    };
    for (const stExtFrame& frame : frames) {
        const Outcome o = scan({.dpi = 300, .frame = frame});
        const uint32_t w = get_scan_width(300, frame), h = get_scan_height(300, frame);
        SCOPED_TRACE(testing::Message() << w << " × " << h);
        EXPECT_EQ(g()->scan_job->width() % 8, 0u);
        EXPECT_EQ(g()->scan_job->height() % 8, 0u);
        EXPECT_EQ(setting().interpolation_switch, 0) << "nothing to resize at the device's own resolution";
        EXPECT_EQ(o.result, 1);
        ASSERT_EQ(o.served, h);
        EXPECT_TRUE(o.image == chart(frame.left * 300 / 1000, frame.top * 300 / 1000, w, h, 8));
    }
    // At a resolution the device does not have, only the frame's part of the window is resized:
    // 0.5 × 0.5 inch at 500 dpi is 300 × 300 pixels at 600 dpi, in a window of 304 × 304.
    const Outcome o = scan({.dpi = 500, .frame = {0, 0, 499, 499}});
    EXPECT_EQ(g()->scan_job->width(), 304u);
    EXPECT_EQ(front().frame_width, 300u);
    EXPECT_EQ(front().frame_lines, 300u);
    EXPECT_EQ(o.served, 250u);
    IMAGE_SETTING unpadded = front();
    unpadded.scan_width = unpadded.frame_width;
    unpadded.scan_lines = unpadded.frame_lines;
    EXPECT_TRUE(o.image == lftest::reference_chain(&setting(), unpadded, -1, chart(0, 0, 300, 300, 8)));
}

TEST_F(PipelineScan, AShortPageDeliversWhatWasScannedAndZeros)
{
    geometry({.end_after = 100});
    const Outcome o = scan({.dpi = 300, .frame = kFrame300}, 50);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.end, 1);
    ASSERT_EQ(o.served, 480u);
    const size_t good = size_t{100} * 960 * 3;
    EXPECT_TRUE(Bytes(o.image.begin(), o.image.begin() + good) == chart(300, 150, 960, 100, 8));
    EXPECT_TRUE(Bytes(o.image.begin() + good, o.image.end()) == Bytes(o.image.size() - good, 0));
}

TEST_F(PipelineScan, ErrorRepliesAtTheStart)
{
    // A refused window: the device's sense data make the code, read once.
    build({.dpi = 300, .frame = kFrame300});
    model().inject(sim::Injection::refuse(sim::Target::next("SWIN"), 3, 0x31));
    model().clear_transcript();
    eStatus status = start();
    ASSERT_EQ(status, STATUS_REFUSED_REQUEST);
    EXPECT_EQ(get_scanner_error_code(g(), status).code(), -1003049);
    EXPECT_EQ(sense_requests(), 1u);

    // The sense request refused as well: -1008, and no second sense request.
    build({.dpi = 300, .frame = kFrame300});
    model().inject(sim::Injection::refuse(sim::Target::next("SWIN"), 3, 0x31));
    model().inject(sim::Injection::refuse(sim::Target::next("SENS"), 5, 0x20));
    model().clear_transcript();
    status = start();
    ASSERT_EQ(status, STATUS_REFUSED_REQUEST);
    EXPECT_EQ(get_scanner_error_code(g(), status).code(), kStageFailure);
    EXPECT_EQ(sense_requests(), 1u);
}

class CorrectedPipelineScan : public PipelineScan {
protected:
    std::string profile() const override { return "submodel2"; }
};

TEST_F(CorrectedPipelineScan, TheChartComesThroughExactlyToItsLastColumn)
{
    // Pixels 120 to 1319 at 600 dpi (table positions 960 to 10559), clear of both alignment
    // zones; 96 lines.
    const Outcome o = scan({.dpi = 600, .frame = {200, 0, 2199, 159}});
    ASSERT_NE(setting().magnification, nullptr);
    EXPECT_EQ(front().scan_width % 8, 0u);
    EXPECT_GE(front().scan_width, setting().corrected_end_x - setting().corrected_start_x + 2);
    EXPECT_EQ(o.result, 1);
    ASSERT_EQ(o.served, 96u);
    const Bytes want = chart(120, 0, 1200, 96, 8);
    EXPECT_TRUE(o.image == want);
    for (uint32_t y = 0; y < 96; y += 19) {
        const size_t last = (size_t{y} * 1200 + 1199) * 3;
        EXPECT_EQ(Bytes(o.image.begin() + last, o.image.begin() + last + 3),
                  Bytes(want.begin() + last, want.begin() + last + 3))
            << "line " << y;
    }
}

} // namespace
