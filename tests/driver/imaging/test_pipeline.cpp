// The image pipeline over a stand-in line source: its reads, its refusals and failures, and its
// output against a reference chain that applies the stage kernels one after the other to the
// whole image, in the pipeline's order.
#include "data_buffer.h"
#include "image_pipeline.h"
#include "pipeline_setup.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

namespace {

using lftest::Gamma;
using lftest::LineSource;
using lftest::PipelineConfig;
using lftest::PipelineSetting;
using Bytes = std::vector<uint8_t>;

Bytes reference(PipelineSetting& ps, const Bytes& scan)
{
    return lftest::reference_chain(ps.get(), ps.front(), ps.config().halftone, scan);
}

struct Read {
    int result;
    int left;
    int end;
};

Read read(PipelineSetting& ps, Bytes& out, int lines, size_t at = 0)
{
    Read r{0, -1, -1};
    r.result = ip_read(ps.get(), nullptr, 0, out.data() + at, lines, &r.left, &r.end).code();
    return r;
}

// Builds the pipeline and reads the whole image `host_lines` at a time.
Bytes run(PipelineSetting& ps, int host_lines)
{
    EXPECT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
    const IMAGE_SETTING& f = ps.front();
    Bytes out(size_t{f.output_row_bytes} * f.output_lines);
    for (uint32_t done = 0; done < f.output_lines;) {
        const Read r = read(ps, out, host_lines, size_t{done} * f.output_row_bytes);
        done += std::min<uint32_t>(host_lines, f.output_lines - done);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.left, static_cast<int>(f.output_lines - done));
        EXPECT_EQ(r.end, done == f.output_lines ? 1 : 0);
        if (r.result != 1) break;
    }
    return out;
}

// The pipeline's output for the configuration equals the reference chain's.
void expect_reference(const PipelineConfig& c, int host_lines, uint32_t seed)
{
    PipelineSetting ps(c);
    LineSource source(lftest::test_image(ps.scan_bytes(), seed));
    const Bytes got = run(ps, host_lines);
    ASSERT_EQ(got.size(), size_t{ps.front().output_row_bytes} * c.output_lines);
    EXPECT_TRUE(got == reference(ps, source.image()))
        << "type " << c.image_type << " depth " << c.depth << " " << ps.front().scan_width << "x" << c.scan_lines
        << " -> " << c.output_width << "x" << c.output_lines << " gamma " << static_cast<int>(c.gamma) << " mirror "
        << c.mirror << " correction " << c.correction;
}

PipelineConfig colour(uint32_t sw, uint32_t sl, uint32_t ow, uint32_t ol)
{
    PipelineConfig c;
    c.scan_width = sw;
    c.scan_lines = sl;
    c.output_width = ow;
    c.output_lines = ol;
    return c;
}

TEST(DataBuffer, PopsAndSizes)
{
    data_buffer_t* b = reinterpret_cast<data_buffer_t*>(1);
    const data_buffer_desc_t desc{6, 2, 3, 10, 8};
    EXPECT_EQ(data_buffer_new(0, &desc, &b), -1);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(data_buffer_new(12, &desc, &b), 1);
    EXPECT_EQ(Bytes(b->data, b->data + 12), Bytes(12, 0));
    EXPECT_EQ(b->row_bytes + b->width + b->channels + b->lines + b->depth, 29u);
    for (int i = 0; i < 12; ++i) b->data[i] = static_cast<uint8_t>(i);
    b->fill = 12;
    EXPECT_EQ(data_buffer_pop(b, -1), -2);
    EXPECT_EQ(data_buffer_pop(b, 13), -2);
    EXPECT_EQ(b->fill, 12u);
    EXPECT_EQ(data_buffer_pop(b, 6), 1);
    EXPECT_EQ(b->fill, 6u);
    EXPECT_EQ(*data_buffer_front(b), 6) << "the rest comes first";
    EXPECT_EQ(data_buffer_pop(b, 7), -2) << "more than held";
    EXPECT_EQ(data_buffer_pop(b, 6), 1) << "exactly what is held";
    EXPECT_EQ(b->fill, 0u);
    EXPECT_EQ(data_buffer_front(b), b->data) << "an empty FIFO starts at its block again";
    b->fill = 5;
    EXPECT_EQ(data_buffer_reset(b), 1);
    EXPECT_EQ(b->fill, 0u);
    EXPECT_EQ(data_buffer_free(b), 1);
    EXPECT_EQ(data_buffer_free(nullptr), 1);
}

TEST(Pipeline, ReadsPullChunksOf32ScanLines)
{
    PipelineSetting ps(colour(24, 100, 24, 100));
    LineSource source(lftest::test_image(ps.scan_bytes(), 1));
    source.record = true;
    ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
    EXPECT_EQ(ps.get()->interpolation_switch, 0);
    EXPECT_EQ(ps.front().resize_handle, nullptr);
    EXPECT_EQ(ps.front().resize_buffer, nullptr);
    Bytes out(size_t{72} * 100);
    // One line asks the device for a chunk; the next 31 come from the FIFO alone.
    EXPECT_EQ(read(ps, out, 1).result, 1);
    EXPECT_EQ(read(ps, out, 31, 72).result, 1);
    EXPECT_EQ(source.reads, 1u);
    const Read r = read(ps, out, 67, 72 * 32);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.end, 0);
    const Read last = read(ps, out, 256, 72 * 99);
    EXPECT_EQ(last.result, 1);
    EXPECT_EQ(last.left, 0);
    EXPECT_EQ(last.end, 1);
    EXPECT_EQ(source.lengths, (std::vector<uint32_t>{72 * 32, 72 * 32, 72 * 32, 72 * 4}));
    EXPECT_EQ(out, source.image());
    // After the end a read delivers nothing and touches nothing, at once; so does a request
    // below one line.
    Bytes spare(72, 0xAA);
    for (int lines : {5, 0, -3}) {
        const Read after = read(ps, spare, lines);
        EXPECT_EQ(after.result, 1);
        EXPECT_EQ(after.left, 0);
        EXPECT_EQ(after.end, 1);
    }
    EXPECT_EQ(spare, Bytes(72, 0xAA));
    EXPECT_EQ(source.reads, 4u);
}

TEST(Pipeline, TheSameBytesWhateverTheHostReads)
{
    PipelineConfig c = colour(40, 96, 33, 131);
    c.gamma = Gamma::PerChannel;
    PipelineSetting ps(c);
    LineSource source(lftest::test_image(ps.scan_bytes(), 2));
    const Bytes want = reference(ps, source.image());
    for (int host : {1, 7, 256}) {
        ps.front().lines_to_deliver = c.output_lines;
        source.served = 0;
        EXPECT_EQ(run(ps, host), want) << host;
    }
    // A request beyond the lines left is cut to them.
    ps.front().lines_to_deliver = c.output_lines;
    source.served = 0;
    ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
    Bytes out(want.size() + 99 * 99, 0);
    const Read r = read(ps, out, 1000);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.end, 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(want.size())), want);
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(want.size()), out.end()), Bytes(99 * 99, 0));
}

TEST(Pipeline, MatchesTheReferenceChain)
{
    // The benchmark's configurations, reduced.
    PipelineConfig a = colour(104, 96, 100, 89);
    a.gamma = Gamma::Identity;
    PipelineConfig b = a;
    b.output_width = 83;
    b.output_lines = 80;
    b.gamma = Gamma::PerChannel;
    PipelineConfig c = a;
    c.correction = true;
    c.mirror = true;
    PipelineConfig d = colour(0, 64, 200, 127);
    d.depth = 16;
    d.correction = true;
    d.gamma = Gamma::PerChannel;
    d.mirror = true;
    PipelineConfig e = colour(208, 70, 200, 69);
    e.image_type = IMAGE_TYPE_LINE_ART;
    e.halftone = 0;
    for (const PipelineConfig& config : {a, b, c, d, e}) expect_reference(config, 256, 3);
    expect_reference(a, 1, 4);

    // Random small ones.
    std::mt19937 rng(5);
    for (int n = 0; n < 120; ++n) {
        PipelineConfig r;
        r.image_type = 1 + rng() % 3;
        r.depth = r.image_type != IMAGE_TYPE_LINE_ART && rng() % 3 == 0 ? 16 : 8;
        r.scan_width = 1 + rng() % 50;
        r.scan_lines = 1 + rng() % 100;
        r.output_width = rng() % 2 == 0 ? r.scan_width : 1 + rng() % 80;
        r.output_lines = rng() % 2 == 0 ? r.scan_lines : 1 + rng() % 200;
        r.gamma = static_cast<Gamma>(rng() % 4);
        r.mirror = rng() % 2 == 0;
        r.correction = rng() % 4 == 0;
        r.halftone = static_cast<int>(rng() % 13) - 1;
        expect_reference(r, 1 + static_cast<int>(rng() % 300), static_cast<uint32_t>(n));
    }
}

TEST(Pipeline, ResizePassesMakingMoreThan32TimesTheFactorFit)
{
    expect_reference(colour(16, 128, 16, 255), 256, 6);
    expect_reference(colour(16, 64, 16, 255), 256, 7);
    // Every scan line count a multiple of 32 up to 1280, output counts up to ten times as many,
    // just below, at and above each integer multiple: no pass is refused.
    for (uint32_t scan = 32; scan <= 1280; scan += 32) {
        PipelineConfig c = colour(1, scan, 1, 0);
        c.image_type = IMAGE_TYPE_GREY;
        Bytes image = lftest::test_image(scan, scan);
        for (uint32_t k = 1; k <= 10; ++k) {
            for (uint32_t out : {k * scan - 1, k * scan, k * scan + 1, k * scan + scan / 2}) {
                c.output_lines = out;
                PipelineSetting ps(c);
                LineSource source(image);
                ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
                Bytes got(out);
                const Read r = read(ps, got, static_cast<int>(out));
                ASSERT_EQ(r.result, 1) << scan << " -> " << out;
                ASSERT_EQ(r.end, 1);
            }
        }
    }
}

TEST(Pipeline, LineArtDeliversPackedRows)
{
    // 13 pixels make rows of 2 bytes; resized to 21 first, rows of 3 bytes.
    for (const uint32_t width : {13u, 21u}) {
        PipelineConfig c = colour(13, 40, width, 40);
        c.image_type = IMAGE_TYPE_LINE_ART;
        c.halftone = 3;
        PipelineSetting ps(c);
        LineSource source(lftest::test_image(ps.scan_bytes(), width));
        ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
        const uint32_t row = (width + 7) / 8;
        ASSERT_NE(ps.front().single_bit_buffer, nullptr);
        EXPECT_EQ(ps.front().last_buffer, ps.front().single_bit_buffer);
        EXPECT_EQ(ps.front().single_bit_buffer->row_bytes, row);
        EXPECT_EQ(ps.front().single_bit_buffer->depth, 1u);
        // One line fills exactly one packed row.
        Bytes out(size_t{row} * 40 + 5, 0xAA);
        ASSERT_EQ(read(ps, out, 1).result, 1);
        EXPECT_EQ(Bytes(out.begin() + row, out.end()), Bytes(out.size() - row, 0xAA));
        const Read r = read(ps, out, 39, row);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.end, 1);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + row * 40), reference(ps, source.image())) << width;
        EXPECT_EQ(Bytes(out.begin() + row * 40, out.end()), Bytes(5, 0xAA));
    }
}

TEST(Pipeline, AnyReportedWidthRunsThroughTheCorrection)
{
    // The device may report any width, narrower or wider than the corrected range the correction
    // reads; the correction clamps to the scan FIFO's width and nothing runs out of its block.
    for (const uint32_t reported : {1u, 2u, 7u, 56u, 72u, 65535u}) {
        PipelineConfig c = colour(0, 40, 64, 40);
        c.correction = true;
        c.mirror = true;
        PipelineSetting ps(c);
        ps.front().scan_width = reported;
        ps.front().scan_row_bytes = 3 * reported;
        LineSource source(lftest::test_image(ps.scan_bytes(), reported));
        ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1) << reported;
        Bytes out(size_t{ps.front().output_row_bytes} * 40);
        const Read r = read(ps, out, 40);
        EXPECT_EQ(r.result, 1) << reported;
        EXPECT_EQ(r.end, 1) << reported;
        EXPECT_EQ(out, reference(ps, source.image())) << reported;
    }
}

TEST(Pipeline, RefusedSides)
{
    struct Case {
        const char* what;
        std::function<void(SCAN_SETTING&, IMAGE_SETTING&)> change;
        int result;
    };
    static uint8_t table[256];
    const Case cases[] = {
        {"scan width 0", [](auto&, auto& f) { f.scan_width = 0; }, -1008},
        {"scan lines 0", [](auto&, auto& f) { f.scan_lines = 0; }, -1008},
        {"scan row bytes that do not match", [](auto&, auto& f) { f.scan_row_bytes -= 1; }, -1008},
        {"output width 0", [](auto&, auto& f) { f.output_width = 0; }, -1010},
        {"output lines 0", [](auto&, auto& f) { f.output_lines = 0; }, -1010},
        {"depth 12", [](auto&, auto& f) { f.depth = 12; }, -1010},
        {"image type 4", [](auto&, auto& f) { f.image_type = 4; }, -1010},
        {"line art at 16 bits", [](auto& s, auto& f) { f.image_type = 2, f.depth = 16, s.color_switch = 0; }, -1010},
        {"a colour switch for grey", [](auto&, auto& f) { f.image_type = 3; }, -1010},
        {"the merge switch", [](auto& s, auto&) { s.bqm_switch = 1; }, -1010},
        {"output row bytes of another width", [](auto&, auto& f) { f.output_row_bytes += 3; }, -1010},
        {"a missing table",
         [](auto& s, auto& f) {
             s.gamma_switch = 1, f.gamma = {256, 1, 7, {table, table, nullptr}};
         },
         -1010},
        {"two-byte tables at 8 bits",
         [](auto& s, auto& f) {
             s.gamma_switch = 1, f.gamma = {256, 2, 7, {table, table, table}};
         },
         -1010},
        {"256 entries at 16 bits",
         [](auto& s, auto& f) {
             s.gamma_switch = 1, f.depth = 16, f.scan_row_bytes *= 2, f.output_row_bytes *= 2,
             f.gamma = {256, 2, 7, {table, table, table}};
         },
         -1010},
        {"line art without halftone parameters",
         [](auto& s, auto& f) { f.image_type = 2, s.color_switch = 0, f.scan_row_bytes = 8, f.output_row_bytes = 1; },
         -1007},
        {"a scan FIFO above INT32_MAX bytes",
         [](auto&, auto& f) { f.scan_width = 0x10000000, f.scan_row_bytes = 0x30000000; }, -1007},
        {"a resize FIFO above INT32_MAX bytes",
         [](auto&, auto& f) { f.output_width = 90000, f.output_row_bytes = 270000, f.output_lines = 8000; }, -1007},
        {"a resize beyond its limits", [](auto&, auto& f) { f.output_width = 100000, f.output_row_bytes = 300000; },
         -1007},
    };
    for (const Case& c : cases) {
        PipelineSetting ps(colour(8, 8, 8, 8));
        LineSource source(Bytes(24 * 8, 1));
        c.change(*ps.get(), ps.front());
        EXPECT_EQ(ip_initial(ps.get(), nullptr, 0).code(), c.result) << c.what;
        // A side that was not built cannot be read, and a read touches nothing.
        Bytes out(24, 0xAA);
        int left = 77, end = 77;
        EXPECT_EQ(ip_read(ps.get(), nullptr, 0, out.data(), 1, &left, &end).code(), -1008) << c.what;
        EXPECT_EQ(left + end, 154);
        EXPECT_EQ(out, Bytes(24, 0xAA));
        EXPECT_EQ(source.reads, 0u);
    }
}

TEST(Pipeline, ReadsBeforeTheBuildAndAfterTheRelease)
{
    PipelineSetting ps(colour(8, 8, 8, 8));
    LineSource source(Bytes(24 * 8, 1));
    Bytes out(24);
    EXPECT_EQ(read(ps, out, 1).result, -1008) << "before ip_initial";
    ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
    EXPECT_EQ(read(ps, out, 1).result, 1);
    EXPECT_EQ(read(ps, out, 1, 0).result, 1);
    ASSERT_EQ(ip_initial(ps.get(), nullptr, 1).code(), -1008) << "the back side has no geometry";
    EXPECT_EQ(ip_read(ps.get(), nullptr, 1, out.data(), 1, nullptr, nullptr).code(), -1008);
    ip_release(ps.get());
    EXPECT_EQ(ps.front().scan_buffer, nullptr);
    EXPECT_EQ(read(ps, out, 1).result, -1008) << "after ip_release";
    ps.front().scan_width = 0;
    EXPECT_EQ(ip_initial(ps.get(), nullptr, 0).code(), -1008);
    EXPECT_EQ(read(ps, out, 1).result, -1008) << "after a failed build";
    EXPECT_EQ(source.reads, 1u);
}

TEST(Pipeline, DeviceFailuresEndTheRead)
{
    // A page that ends short: the lines of the good chunk, nothing of the short one, end 0.
    PipelineSetting ps(colour(8, 100, 8, 100));
    LineSource source(lftest::test_image(ps.scan_bytes(), 8));
    source.end_after = 50 * 24;
    ASSERT_EQ(ip_initial(ps.get(), nullptr, 0).code(), 1);
    Bytes out(ps.scan_bytes(), 0);
    Read r = read(ps, out, 100);
    EXPECT_EQ(r.result, -1008);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(r.left, 68);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 32 * 24),
              Bytes(source.image().begin(), source.image().begin() + 32 * 24));
    EXPECT_EQ(Bytes(out.begin() + 32 * 24, out.end()), Bytes(68 * 24, 0));

    // A failure on the last block gives its mapped code and end 0.
    PipelineSetting last(colour(8, 40, 8, 40));
    LineSource failing(lftest::test_image(last.scan_bytes(), 9));
    failing.fail_after = 34 * 24;
    failing.failure = STATUS_DEVICE_ERROR;
    ASSERT_EQ(ip_initial(last.get(), nullptr, 0).code(), 1);
    r = read(last, out, 32);
    EXPECT_EQ(r.result, 1);
    r = read(last, out, 8);
    EXPECT_EQ(r.result, -502);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(r.left, 8);
}

TEST(Pipeline, TwoSidesThatDifferInResizing)
{
    PipelineConfig c = colour(16, 40, 16, 40);
    c.gamma = Gamma::PerChannel;
    PipelineSetting front(c);
    c.output_width = 11;
    c.output_lines = 57;
    PipelineSetting back(c);
    // The back side of the first setting gets the second's resized geometry and tables.
    SCAN_SETTING* s = front.get();
    s->back_side = back.front();
    s->back_side.resize_handle = nullptr;
    LineSource source(lftest::test_image(front.scan_bytes(), 10));
    ASSERT_EQ(ip_initial(s, nullptr, 1).code(), 1);
    EXPECT_EQ(s->interpolation_switch, 1);
    ASSERT_EQ(ip_initial(s, nullptr, 0).code(), 1);
    EXPECT_EQ(s->interpolation_switch, 0) << "the side built last sets the shared switch";
    Bytes f(16 * 3 * 40), b(11 * 3 * 57);
    int left = 0, end = 0;
    ASSERT_EQ(ip_read(s, nullptr, 0, f.data(), 40, &left, &end).code(), 1);
    ASSERT_EQ(ip_read(s, nullptr, 1, b.data(), 57, &left, &end).code(), 1);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(f, reference(front, source.image()));
    EXPECT_EQ(b, reference(back, source.image()));
    ip_release(s);
    EXPECT_EQ(s->back_side.resize_handle, nullptr);
    s->back_side = {};
}

TEST(Pipeline, StageTimersRunFromTheBuildToTheRelease)
{
    PipelineConfig c = colour(512, 256, 500, 250);
    c.gamma = Gamma::PerChannel;
    c.mirror = true;
    PipelineSetting ps(c);
    LineSource source(lftest::test_image(ps.scan_bytes(), 11));
    measure_gamma_process = 5;
    run(ps, 256);
    EXPECT_LT(measure_gamma_process, 5) << "zeroed by the build";
    EXPECT_EQ(measure_bqm_process + measure_horizontal_correction_process + measure_lineart_process, 0);
    // The release clears the totals only when the scan stage took time.
    measure_scan_process = 0;
    measure_gamma_process = 2;
    ip_release(ps.get());
    EXPECT_EQ(measure_gamma_process, 2);
    measure_scan_process = 1;
    ip_release(ps.get());
    EXPECT_EQ(measure_scan_process + measure_interpolation_process + measure_gamma_process + measure_mirror_process, 0);
}

} // namespace
