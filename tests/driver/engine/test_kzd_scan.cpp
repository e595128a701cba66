// Whole scans through the driver object on the simulated scanner: calibration, the delivered
// image against the chart, reads, aborts and every failure on the way.
#include "cali_file.h"
#include "calibration.h"
#include "calibration_page.h"
#include "chart_scan_engine.h"
#include "dbg_log.h"
#include "driver_object_test.h"
#include "driver_sleep.h"
#include "host_callbacks.h"
#include "le_bytes.h"
#include "param_convert.h"
#include "scan_start.h"
#include "scanner_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace lftest;
using Briefs = std::vector<std::string>;

constexpr stExtFrame kFrame{0, 0, 3199, 1599}; // 960 x 480 pixels at 300 dpi
constexpr char kCaliFile[] = "CaliData6204_0000_SN6204000012345A.dat";

// The pattern chart's reflectance and its 8- and 16-bit grey readings.
uint16_t reflectance(uint32_t x, uint32_t y, int c)
{
    return static_cast<uint16_t>(((7 * x + 13 * y + 85 * static_cast<uint32_t>(c)) % 256) * 257);
}
uint16_t grey16(uint32_t x, uint32_t y)
{
    return static_cast<uint16_t>(
        (299u * reflectance(x, y, 0) + 587u * reflectance(x, y, 1) + 114u * reflectance(x, y, 2)) / 1000u);
}

class KzdScan : public DriverObjectTest {
protected:
    void ideal()
    {
        model().with_chart_engine([](sim::ChartScanEngine& e) { e.set_sensor(sim::Sensor::Ideal); });
    }
    void engine(const std::function<void(sim::ChartScanEngine&)>& f) { model().with_chart_engine(f); }

    stScannerAttri attributes(uint16_t planes, uint16_t bits, uint16_t resolution, stExtFrame frame = kFrame)
    {
        auto a = request<stScannerAttri>(KZD_DEFAULT_ATTRIBUTE);
        drv().vDefaultAttribute(&a);
        EXPECT_EQ(a.header.FUNC_STATUS, 1);
        a.ColorPlanes = planes;
        a.BitsPerPixel = bits;
        a.Resolution = resolution;
        a.ExtFrame = frame;
        return a;
    }
    int start(stScannerAttri& a, uint8_t mode = 2)
    {
        auto m = request<stSetScannerScanMode>();
        m.ScanMode = mode;
        drv().vSetScannerScanMode(&m);
        EXPECT_EQ(m.header.FUNC_STATUS, 1);
        a.header.wFunctionCode = KZD_START_SCAN;
        drv().vScannerStartScan(&a);
        return a.header.FUNC_STATUS;
    }
    stGetImage read(uint8_t* buffer, uint32_t lines)
    {
        auto r = request<stGetImage>(KZD_GET_IMAGE);
        r.pBuffer = buffer;
        r.ScanLineNo = lines;
        drv().vScannerGetImage(&r);
        return r;
    }
    // Reads the whole image in blocks of `block` lines, checking each read against the geometry.
    Bytes read_all(const stScannerAttri& a, uint32_t block = 256)
    {
        scan_output_geometry_t geo{};
        EXPECT_EQ(get_scan_output_geometry(rec(), &a, &geo).code(), 1);
        EXPECT_EQ(a.cExtMember, 1);
        EXPECT_EQ(geo.width, a.dwLineWidth);
        EXPECT_EQ(geo.lines, a.dwLineHeight);
        EXPECT_EQ(geo.row_bytes, drv().scan_setting().front_side.output_row_bytes);
        Bytes image;
        Bytes buffer(size_t{block} * geo.row_bytes);
        uint32_t got = 0;
        for (;;) {
            const stGetImage r = read(buffer.data(), block);
            EXPECT_EQ(r.header.FUNC_STATUS, 1);
            if (r.header.FUNC_STATUS != 1) break;
            EXPECT_EQ(r.dwLinesDone, std::min(block, geo.lines - got));
            got += r.dwLinesDone;
            EXPECT_EQ(r.dwLinesLeft, geo.lines - got);
            image.insert(image.end(), buffer.begin(), buffer.begin() + size_t{r.dwLinesDone} * geo.row_bytes);
            if (r.dwEndOfImage) break;
            if (r.dwLinesDone == 0) {
                ADD_FAILURE() << "no lines and no end";
                break;
            }
        }
        EXPECT_EQ(got, geo.lines);
        return image;
    }
    void abort()
    {
        auto r = request<stAbort>(KZD_ABORT_SCAN);
        drv().vScannerAbortScan(&r);
        EXPECT_EQ(r.header.FUNC_STATUS, 1);
    }
    Bytes scan(stScannerAttri& a, uint8_t mode = 2)
    {
        EXPECT_EQ(start(a, mode), 1);
        if (a.header.FUNC_STATUS != 1) return {};
        Bytes image = read_all(a);
        abort();
        return image;
    }
    size_t count(const std::string& brief) const
    {
        const Briefs b = briefs();
        return static_cast<size_t>(std::count(b.begin(), b.end(), brief));
    }
    std::vector<sim::Transaction> sent(const std::string& brief)
    {
        std::vector<sim::Transaction> out;
        for (const sim::Transaction& tx : model().transactions())
            if (tx.brief() == brief) out.push_back(tx);
        return out;
    }
    CALI_PARAM stored()
    {
        CALI_PARAM c{};
        copy_calibration_scalars(&c, &drv().scan_setting().working_calibration);
        EXPECT_EQ(load_calibration_from_file(&c).code(), 1);
        return c;
    }
    static Bytes bytes_of(const std::vector<uint16_t>& v)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(v.data());
        return Bytes(p, p + 2 * v.size());
    }
    // The 8-bit colour chart at the frame's pixels.
    static Bytes colour_chart(uint32_t w, uint32_t h)
    {
        Bytes out;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) out.push_back(static_cast<uint8_t>(reflectance(x, y, c) >> 8));
        return out;
    }
};

TEST_F(KzdScan, AFreshCalibrationThenTheChartExactly)
{
    ideal();
    auto a = attributes(14, 8, 300);
    const Bytes image = scan(a);
    EXPECT_EQ(a.dwLineWidth, 960u);
    EXPECT_EQ(a.dwLineHeight, 480u);
    EXPECT_EQ(a.LineWidth, 960);
    EXPECT_EQ(drv().scan_setting().front_side.output_row_bytes, 2880u);
    EXPECT_EQ(image, colour_chart(960, 480));
    EXPECT_TRUE(exists(folder_.file(kCaliFile)));
    EXPECT_EQ(count("SCAN"), 3u) << "dark, white and the image";

    // What was sent is what was stored and what the device's sensor asks for.
    const CALI_PARAM file = stored();
    const auto shading = sim::expected_shading(model().records(), 0, 300, 100, 3, sim::Sensor::Ideal);
    EXPECT_EQ(file.dark_line, shading.dark);
    EXPECT_EQ(file.white_line, shading.white);
    const auto dark = sent("SHAD send 1 1");
    const auto white = sent("SHAD send 1 0");
    ASSERT_EQ(dark.size(), 1u);
    ASSERT_EQ(white.size(), 1u);
    EXPECT_EQ(Bytes(dark[0].data.begin() + 16, dark[0].data.end()), bytes_of(file.dark_line));
    EXPECT_EQ(Bytes(white[0].data.begin() + 16, white[0].data.end()), bytes_of(file.white_line));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(KzdScan, TheRealisticSensorCalibratesToWithinOnePercentThenReuses)
{
    auto a = attributes(14, 8, 300);
    const Bytes image = scan(a);
    const Bytes chart = colour_chart(960, 480);
    ASSERT_EQ(image.size(), chart.size());
    int worst = 0;
    for (size_t k = 0; k < image.size(); ++k) worst = std::max(worst, std::abs(int{image[k]} - int{chart[k]}));
    EXPECT_LE(worst, 2) << "within 1 % of full scale";
    const CALI_PARAM first = stored();
    const auto shading = sim::expected_shading(model().records(), 0, 300, 100, 3);
    EXPECT_EQ(first.dark_line, shading.dark);
    EXPECT_EQ(first.white_line, shading.white);

    // The same key with reuse allowed: no dark or white scan, the same image.
    model().clear_transcript();
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    EXPECT_EQ(scan(a), image);
    EXPECT_EQ(count("SCAN"), 1u);
    EXPECT_EQ(count("CALI send 300 1"), 1u);

    // A device that never counts its calibration as valid is calibrated afresh and stored again.
    model().set_calibration_policy(sim::CalibrationPolicy::Never);
    const auto before = std::filesystem::last_write_time(folder_.file(kCaliFile));
    model().clear_transcript();
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    EXPECT_EQ(scan(a), image);
    EXPECT_EQ(count("SCAN"), 3u);
    EXPECT_GE(std::filesystem::last_write_time(folder_.file(kCaliFile)), before);
    EXPECT_EQ(stored().white_line, shading.white);
}

TEST_F(KzdScan, GreyAndSixteenBitAndLineArt)
{
    ideal();
    auto g8 = attributes(1, 8, 300);
    const Bytes grey = scan(g8);
    ASSERT_EQ(grey.size(), 960u * 480u);
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 960; ++x) ASSERT_EQ(grey[size_t{y} * 960 + x], grey16(x, y) >> 8) << x << "," << y;

    auto g16 = attributes(1, 16, 300);
    g16.byForceCalibration = 2;
    const Bytes deep = scan(g16);
    ASSERT_EQ(deep.size(), 2u * 960u * 480u);
    EXPECT_EQ(drv().scan_setting().front_side.output_row_bytes, 1920u);
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 960; ++x)
            ASSERT_EQ(get_u16le(&deep[2 * (size_t{y} * 960 + x)]), grey16(x, y)) << x << "," << y;

    auto art = attributes(1, 1, 300);
    art.byForceCalibration = 2;
    art.HalftoneType = 1;
    const Bytes bits = scan(art);
    ASSERT_EQ(bits.size(), 120u * 480u);
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 960; ++x) {
            const int bit = (bits[size_t{y} * 120 + x / 8] >> (7 - x % 8)) & 1;
            ASSERT_EQ(bit, (grey16(x, y) >> 8) < 128 ? 1 : 0) << x << "," << y;
        }
    EXPECT_EQ(drv().scan_setting().halftone, nullptr) << "the abort frees the single-bit record";
}

TEST_F(KzdScan, AnInvertingGammaTable)
{
    ideal();
    std::vector<uint8_t> table(3 * 256);
    for (size_t c = 0; c < 3; ++c)
        for (size_t i = 0; i < 256; ++i) table[c * 256 + i] = static_cast<uint8_t>(255 - i);
    auto a = attributes(14, 8, 300);
    a.GammaTable = table.data();
    const Bytes image = scan(a);
    Bytes want = colour_chart(960, 480);
    for (auto& v : want) v = static_cast<uint8_t>(255 - v);
    EXPECT_EQ(image, want);
}

TEST_F(KzdScan, AMirroredFlatbedGivesTheSameImage)
{
    model().edit([](sim::ScannerRecords& r) { r.attributes[0][1] = 1; });
    make_driver();
    ideal();
    auto a = attributes(14, 8, 300);
    EXPECT_EQ(scan(a), colour_chart(960, 480));
    EXPECT_EQ(drv().scan_setting().frame.left, 8500u - 3199u - 1u);
}

// The whole glass: the window is the glass at the scan's resolution, not rounded past it, and the
// image is the chart as it lies, unresized.
TEST_F(KzdScan, AFullAreaPreviewIsTheWholeGlassAndNoMore)
{
    ideal();
    struct Case {
        uint16_t dpi;
        uint32_t width, height; // the glass at that resolution
    };
    for (const Case c : {Case{150, 1275, 1755}, Case{75, 637, 877}}) {
        SCOPED_TRACE(c.dpi);
        model().clear_transcript();
        auto a = attributes(14, 8, c.dpi, {0, 0, 0, 0});
        const Bytes image = scan(a, 1);
        EXPECT_EQ(a.dwLineWidth, c.width);
        EXPECT_EQ(a.dwLineHeight, c.height);
        EXPECT_EQ(drv().scan_setting().interpolation_switch, 0);
        const auto pars = sent("PAR");
        ASSERT_FALSE(pars.empty());
        EXPECT_EQ(get_u32le(&pars.back().data[24]), 0u);
        EXPECT_EQ(get_u32le(&pars.back().data[32]), c.width) << "a multiple of 8 would pass the glass";
        EXPECT_EQ(get_u32le(&pars.back().data[36]), c.height);
        EXPECT_TRUE(image == colour_chart(c.width, c.height));
    }
}

// 1002 × 507 pixels at 300 dpi: the device scans 1008 × 512, the host gets the frame's own pixels,
// and the start reports the image it delivers.
TEST_F(KzdScan, AFrameOfOddSizeIsDeliveredAsItLies)
{
    ideal();
    auto a = attributes(14, 8, 300, {0, 0, 3339, 1689});
    const Bytes image = scan(a);
    EXPECT_EQ(a.dwLineWidth, 1002u);
    EXPECT_EQ(a.dwLineHeight, 507u);
    EXPECT_EQ(a.LineHeight, 507);
    const auto pars = sent("PAR");
    ASSERT_FALSE(pars.empty());
    EXPECT_EQ(get_u32le(&pars.back().data[32]), 1008u);
    EXPECT_EQ(get_u32le(&pars.back().data[36]), 512u);
    EXPECT_TRUE(image == colour_chart(1002, 507));
}

TEST_F(KzdScan, ReadsAreClampedAndEndCleanly)
{
    ideal();
    auto a = attributes(14, 8, 300, {0, 0, 3199, 106}); // 32 lines
    ASSERT_EQ(start(a), 1);
    Bytes buffer(64 * 2880, 0xEE);
    stGetImage none = read(buffer.data(), 0);
    EXPECT_EQ(none.header.FUNC_STATUS, 1);
    EXPECT_EQ(none.dwLinesDone, 0u);
    EXPECT_EQ(none.dwEndOfImage, 0u);
    EXPECT_EQ(buffer[0], 0xEE) << "nothing copied";

    model().clear_transcript();
    const stGetImage all = read(buffer.data(), 64);
    EXPECT_EQ(all.header.FUNC_STATUS, 1);
    EXPECT_EQ(all.dwLinesDone, 32u);
    EXPECT_EQ(all.dwLinesLeft, 0u);
    EXPECT_EQ(all.dwEndOfImage, 1u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32 * 2880), colour_chart(960, 32));
    EXPECT_TRUE(std::all_of(buffer.begin() + 32 * 2880, buffer.end(), [](uint8_t v) { return v == 0; }));

    model().clear_transcript();
    const stGetImage after = read(buffer.data(), 8);
    EXPECT_EQ(after.header.FUNC_STATUS, 1);
    EXPECT_EQ(after.dwLinesDone, 0u);
    EXPECT_EQ(after.dwEndOfImage, 1u);
    EXPECT_TRUE(briefs().empty());

    // A scan still open answers counter reads without touching its job.
    auto counters = request<stCounterInfo>();
    drv().vGetCounterInfo(&counters);
    EXPECT_EQ(counters.header.FUNC_STATUS, 1);
    for (const std::string& b : briefs()) EXPECT_FALSE(b.starts_with("JOB")) << b;

    model().clear_transcript();
    auto back = attributes(14, 8, 300);
    drv().vScannerReturnCISInfo(&back);
    EXPECT_EQ(back.header.FUNC_STATUS, -1010) << "a flatbed scan has no back side";

    abort();
    abort();
    const stGetImage aborted = read(buffer.data(), 8);
    EXPECT_EQ(aborted.header.FUNC_STATUS, -1008);
    EXPECT_EQ(aborted.dwLinesDone, 0u);
    EXPECT_EQ(aborted.dwEndOfImage, 0u);
    EXPECT_EQ(read(nullptr, 8).header.FUNC_STATUS, -1008);
}

TEST_F(KzdScan, ReadsBeforeAnyStartOrAfterAFailedOneAreRefused)
{
    Bytes buffer(2880, 0xEE);
    EXPECT_EQ(read(buffer.data(), 1).header.FUNC_STATUS, -1008);
    model().inject(sim::Injection::refuse(sim::Target::next("SCAN", 3), 3, 2));
    auto a = attributes(14, 8, 300);
    EXPECT_EQ(start(a), -1003002);
    const stGetImage r = read(buffer.data(), 1);
    EXPECT_EQ(r.header.FUNC_STATUS, -1008);
    EXPECT_EQ(r.dwEndOfImage, 0u);
    abort();
}

TEST_F(KzdScan, ARefusalAtTheDarkWindowStopsTheStartAndTheNextStartRunsInFull)
{
    ideal();
    model().inject(sim::Injection::refuse(sim::Target::next("SWIN"), 3, 2));
    auto a = attributes(14, 8, 300);
    EXPECT_EQ(start(a), -1003002);
    EXPECT_EQ(count("SCAN"), 0u);
    EXPECT_EQ(count("PAR"), 0u);
    EXPECT_FALSE(exists(folder_.file(kCaliFile)));
    abort();
    model().clear_transcript();
    a = attributes(14, 8, 300);
    EXPECT_EQ(scan(a), colour_chart(960, 480));
    EXPECT_EQ(count("SCAN"), 3u);
}

TEST_F(KzdScan, DeviceFailuresAtTheStartAreMapped)
{
    auto calibrated = [&] {
        auto a = attributes(14, 8, 300);
        a.byForceCalibration = 2;
        return a;
    };
    auto first = calibrated();
    scan(first);

    struct Case {
        const char* name;
        std::function<void()> inject;
        int32_t want;
    };
    const Case cases[] = {
        {"device error",
         [&] { engine([](sim::ChartScanEngine& e) { e.add_status_fault({sim::StatusFault::Kind::Error}); }); }, -502},
        {"jam",
         [&] {
             engine([](sim::ChartScanEngine& e) {
                 e.add_status_fault({.kind = sim::StatusFault::Kind::Jam, .front_state = 1});
             });
         },
         -206},
        {"double feed",
         [&] {
             engine([](sim::ChartScanEngine& e) {
                 e.add_status_fault({.kind = sim::StatusFault::Kind::DoubleFeed, .front_state = 1});
             });
         },
         -8001},
        {"refused scan", [&] { model().inject(sim::Injection::refuse(sim::Target::next("SCAN"), 3, 2)); }, -1003002},
        {"never ready", [&] { engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.never_ready = true}); }); },
         -1000},
        {"a page that ends without data",
         [&] { engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.end_without_data = true}); }); }, -1008},
        {"another width", [&] { engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.width = 952}); }); },
         -1008},
        {"another height", [&] { engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.height = 488}); }); },
         -1008},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
        c.inject();
        model().clear_transcript();
        auto a = calibrated();
        EXPECT_EQ(start(a), c.want);
        if (c.want == -1008) {
            EXPECT_LE(count("INFO"), 3u) << "no waiting for what cannot come: one poll and the stop's";
        }
        abort();
        EXPECT_FALSE(model().job_open()) << "the abort ends what the start left open";
        EXPECT_EQ(rec()->scan_started, 0);
    }
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
    ideal();
    auto again = calibrated();
    again.byForceCalibration = 0;
    EXPECT_EQ(scan(again), colour_chart(960, 480)) << "a clean scan after them all";
}

TEST_F(KzdScan, AReportedWidthOfZeroStopsTheDeviceScan)
{
    auto a = attributes(14, 8, 300);
    scan(a);
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.width = uint16_t{0}}); });
    model().clear_transcript();
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    EXPECT_EQ(start(a), -1008);
    const Briefs b = briefs();
    const auto scan_at = std::find(b.begin(), b.end(), "SCAN");
    ASSERT_NE(scan_at, b.end());
    EXPECT_NE(std::find(scan_at, b.end(), "STOP"), b.end());
    EXPECT_EQ(b.back(), "JOB E");
    abort();
}

TEST_F(KzdScan, TransferFailuresWhileReading)
{
    ideal();
    auto a = attributes(14, 8, 300);
    scan(a);
    Bytes buffer(32 * 2880, 0xEE);

    struct Case {
        const char* name;
        std::function<void()> inject;
        bool before_start;
        int32_t want;
    };
    const Case cases[] = {
        {"short IMG", [&] { model().inject(sim::Injection::short_reply(sim::Target::next("IMG"), 1000)); }, false,
         -1000},
        {"stalled IMG", [&] { model().inject(sim::Injection::stall(sim::Target::next("IMG"), sim::Phase::Reply)); },
         false, -1000},
        {"a device error while reading",
         [&] {
             engine([](sim::ChartScanEngine& e) {
                 e.add_status_fault({.kind = sim::StatusFault::Kind::Error, .poll = 2});
             });
         },
         true, -502},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
        if (c.before_start) c.inject();
        a = attributes(14, 8, 300);
        a.byForceCalibration = 2;
        ASSERT_EQ(start(a), 1);
        if (!c.before_start) c.inject();
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        const stGetImage r = read(buffer.data(), 32);
        EXPECT_EQ(r.header.FUNC_STATUS, c.want);
        EXPECT_EQ(r.dwEndOfImage, 0u);
        if (c.want == -1000) {
            EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t v) { return v == 0; }))
                << "no stale bytes";
        }
        abort();
    }
    allow_violations();
}

TEST_F(KzdScan, AnErrorOnTheLastBlockIsNoEnd)
{
    ideal();
    auto a = attributes(14, 8, 300);
    scan(a);
    // 480 lines of 2880 bytes come in two device reads; the second one fails.
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    ASSERT_EQ(start(a), 1);
    model().inject(sim::Injection::short_reply(sim::Target::next("IMG", 2), 10));
    Bytes buffer(32 * 2880);
    const Bytes chart = colour_chart(960, 480);
    stGetImage r{};
    uint32_t delivered = 0;
    for (;;) {
        r = read(buffer.data(), 32);
        if (r.header.FUNC_STATUS != 1) break;
        ASSERT_TRUE(
            std::equal(buffer.begin(), buffer.begin() + r.dwLinesDone * 2880, chart.begin() + delivered * 2880));
        delivered += r.dwLinesDone;
        ASSERT_LT(delivered, 480u) << "the failing read comes before the end";
    }
    EXPECT_EQ(r.header.FUNC_STATUS, -1000);
    EXPECT_EQ(r.dwEndOfImage, 0u);
    abort();
}

TEST_F(KzdScan, ADisconnectWhileReadingEndsCleanly)
{
    auto a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    model().inject(sim::Injection::disconnect(sim::Target::next("IMG"), sim::Phase::Reply));
    Bytes buffer(32 * 2880);
    const stGetImage r = read(buffer.data(), 32);
    EXPECT_EQ(r.header.FUNC_STATUS, -1005) << "a device that is gone, not a failed transfer";
    EXPECT_EQ(r.dwEndOfImage, 0u);
    abort();
    drv_.reset();
    allow_violations();
}

// The device ends its page after 10 of 480 lines: the image ends with them, and the host is told,
// instead of getting 470 lines of zeros as image.
TEST_F(KzdScan, APageThatEndsEarlyDeliversItsLinesThenTheEnd)
{
    ideal();
    auto a = attributes(14, 8, 300);
    scan(a);
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.end_after = 10u}); });
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    ASSERT_EQ(start(a), 1);
    Bytes buffer(size_t{32} * 2880, 0xAA);
    stGetImage r = read(buffer.data(), 32);
    EXPECT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.dwLinesDone, 10u);
    EXPECT_EQ(r.dwLinesLeft, 0u);
    EXPECT_EQ(r.dwEndOfImage, 1u);
    const Bytes chart = colour_chart(960, 10);
    EXPECT_TRUE(std::equal(chart.begin(), chart.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + chart.size(), buffer.end(), [](uint8_t v) { return v == 0; }));
    r = read(buffer.data(), 32);
    EXPECT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.dwLinesDone, 0u);
    EXPECT_EQ(r.dwEndOfImage, 1u);
    abort();
}

// The host's yield service says whether to give up (index 9): Stop.
std::atomic<bool> stop_pressed{false};
extern "C" int16_t host_yield(int16_t, void*)
{
    return stop_pressed ? 0 : 1;
}

// A device that stops answering, or never has data, in each state of a scan: once the host's
// service says stop, the operation in progress returns within a second, and so does the abort
// after it. The device, back again, then scans cleanly.
TEST_F(KzdScan, StopEndsAScanWithinASecondInEveryState)
{
    using Clock = std::chrono::steady_clock;
    ideal();
    auto first = attributes(14, 8, 300);
    scan(first); // a stored calibration for the states after it
    // Real 100 ms polls: a wait on the device is a wait in time.
    const driver_sleep_fn counting = driver_set_sleep_function(nullptr);
    ASSERT_EQ(SetCallBackfunc(reinterpret_cast<void*>(&host_yield), SE_SERVICE_YIELD), 1);
    struct Case {
        const char* name;
        std::function<void()> fault;
        bool fresh_calibration; // else the stored one is reused
        bool started;           // the fault strikes while reading, after a successful start
    };
    const Case cases[] = {
        {"a read the device never answers", [&] { model().inject(sim::Injection::silence(sim::Target::next("IMG"))); },
         false, true},
        {"a start whose status reply never comes",
         [&] { model().inject(sim::Injection::silence(sim::Target::next("INFO"))); }, false, false},
        {"a start waiting for data that never come",
         [&] { engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.never_ready = true}); }); }, false, false},
        {"a calibration the device never answers",
         [&] { model().inject(sim::Injection::silence(sim::Target::next("IMG"))); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stop_pressed = false;
        auto a = attributes(14, 8, 300);
        a.byForceCalibration = c.fresh_calibration ? 0 : 2;
        if (c.started) {
            ASSERT_EQ(start(a), 1);
        }
        c.fault();
        Bytes buffer(32 * 2880);
        int32_t status = 0;
        std::thread worker([&] { status = c.started ? read(buffer.data(), 32).header.FUNC_STATUS : start(a); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Clock::time_point pressed = Clock::now();
        stop_pressed = true;
        worker.join();
        const Clock::time_point returned = Clock::now();
        abort();
        const Clock::time_point aborted = Clock::now();
        EXPECT_LT(status, 0);
        EXPECT_LT(returned - pressed, std::chrono::seconds(1));
        EXPECT_LT(aborted - returned, std::chrono::seconds(1));
        EXPECT_EQ(rec()->scan_started, 0);

        stop_pressed = false;
        model().wake();
        engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
        auto after = attributes(14, 8, 300);
        after.byForceCalibration = 2;
        EXPECT_EQ(scan(after), colour_chart(960, 480)) << "a clean scan afterwards";
    }
    SetCallBackfunc(nullptr, SE_SERVICE_YIELD);
    driver_set_sleep_function(counting);
    allow_violations();
}

TEST_F(KzdScan, ARefusedStopStillFreesAndTheNextStartOpensANewJob)
{
    ideal();
    auto a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    model().inject(sim::Injection::refuse(sim::Target::next("STOP"), 3, 2));
    abort();
    EXPECT_EQ(rec()->scan_started, 0);
    EXPECT_EQ(rec()->job_id, 0u);
    model().clear_transcript();
    a = attributes(14, 8, 300);
    a.byForceCalibration = 2;
    ASSERT_EQ(start(a), 1);
    const Briefs b = briefs();
    EXPECT_EQ(b.front(), "JOB C");
    EXPECT_EQ(read_all(a), colour_chart(960, 480));
    abort();
}

TEST_F(KzdScan, AStartWithoutAnAbortStopsTheRunningScanFirst)
{
    auto a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    Bytes buffer(32 * 2880);
    ASSERT_EQ(read(buffer.data(), 32).header.FUNC_STATUS, 1);
    model().clear_transcript();
    a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    const Briefs b = briefs();
    const auto stop = std::find(b.begin(), b.end(), "STOP");
    const auto create = std::find(b.begin(), b.end(), "JOB C");
    ASSERT_NE(stop, b.end());
    EXPECT_LT(stop, create);
    EXPECT_NE(std::find(stop, create, "JOB E"), create);
    const auto shading = sim::expected_shading(model().records(), 0, 300, 100, 3);
    const CALI_PARAM file = stored();
    EXPECT_EQ(file.dark_line, shading.dark) << "dark samples, not image data";
    EXPECT_EQ(file.white_line, shading.white);
    abort();
}

TEST_F(KzdScan, DestructionDuringAScanStopsIt)
{
    auto a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    model().clear_transcript();
    drv_.reset();
    const Briefs b = briefs();
    EXPECT_NE(std::find(b.begin(), b.end(), "STOP"), b.end());
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.back(), "JOB E");
    EXPECT_FALSE(model().job_open());

    make_driver();
    model().clear_transcript();
    drv_.reset();
    EXPECT_TRUE(briefs().empty()) << "an idle device sees nothing";
}

TEST_F(KzdScan, ThreeScansOneFailingInCalibrationOneLineArt)
{
    ideal();
    auto a = attributes(14, 8, 300);
    scan(a);
    model().inject(sim::Injection::refuse(sim::Target::next("SHAD"), 5, 0x24));
    auto failing = attributes(1, 8, 300);
    EXPECT_LT(start(failing), 0);
    abort();
    auto art = attributes(1, 1, 300);
    art.HalftoneType = 2; // a built-in pattern
    art.HalftonePattern = 3;
    const Bytes bits = scan(art);
    EXPECT_EQ(bits.size(), 120u * 480u);
}

TEST_F(KzdScan, ASixteenBitTableIsDumpedAsOneColumn)
{
    ASSERT_TRUE(DBG_SET_SETTING("FILE_LEVEL", 10));
    make_driver();
    ideal();
    std::vector<uint16_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint16_t>(i);
    auto a = attributes(1, 16, 300);
    a.NumofGammaEntry = 128;
    a.GammaTable = reinterpret_cast<const uint8_t*>(table.data());
    const Bytes deep = scan(a);
    DBG_RESET_SETTINGS();
    DBG_INIT(nullptr, DBG_MODE_STDOUT);
    ASSERT_EQ(deep.size(), 2u * 960u * 480u);
    EXPECT_EQ(get_u16le(&deep[2 * (5 * 960 + 7)]), grey16(7, 5));
    std::ifstream csv(folder_.file("LookupTable.csv"));
    std::string line;
    size_t rows = 0;
    while (std::getline(csv, line)) {
        if (rows == 65535) {
            EXPECT_EQ(line, "65535,");
        }
        ++rows;
    }
    EXPECT_EQ(rows, 65536u);
}

// A module folder whose path does not fit the device record.
class KzdLongFolder : public KzdScan {
protected:
    void SetUp() override
    {
        KzdScan::SetUp();
        if (HasFatalFailure()) return;
        long_ = folder_.path() + std::string(120, 'a') + "/" + std::string(120, 'b') + "/Contents/";
        std::filesystem::create_directories(long_);
        driver_set_module_folder(long_);
        make_driver();
    }
    std::string long_;
};

// Without a calibration file the scan still calibrates and runs: the file is only a cache.
TEST_F(KzdLongFolder, AScanCalibratesAfreshAndWritesNothing)
{
    ASSERT_GT(long_.size(), 255u);
    EXPECT_EQ(drv().writable_folder(), long_);
    EXPECT_EQ(rec()->module_path[0], '\0');
    auto a = attributes(14, 8, 300);
    ASSERT_EQ(start(a), 1);
    EXPECT_EQ(read_all(a).size(), 960u * 3 * 480);
    abort();
    EXPECT_TRUE(std::filesystem::is_empty(long_));
    EXPECT_FALSE(exists(kCaliFile));
    EXPECT_FALSE(exists(std::string("CaliData6204_0000.dat")));
}

} // namespace

namespace {

class KzdDuplex : public KzdScan {
protected:
    std::string profile() const override { return "feeder"; }
};

TEST_F(KzdDuplex, TheBackSideIsPreparedOnlyForATwoSidedScan)
{
    ideal();
    auto a = attributes(14, 8, 300);
    a.ScanSource = 0x08;
    ASSERT_EQ(start(a), 1);
    auto back = a;
    back.cExtMember = 0;
    back.dwLineWidth = back.dwLineHeight = 0;
    drv().vScannerReturnCISInfo(&back);
    ASSERT_EQ(back.header.FUNC_STATUS, 1);
    EXPECT_EQ(back.cExtMember, 1);
    EXPECT_EQ(back.dwLineWidth, 960u);
    EXPECT_EQ(back.dwLineHeight, 480u);
    EXPECT_EQ(drv().scan_setting().back_side.built, 1);
    EXPECT_EQ(read_all(a).size(), 960u * 3 * 480);
    abort();
    EXPECT_EQ(drv().scan_setting().back_side.built, 0);
    drv().vScannerReturnCISInfo(&back);
    EXPECT_EQ(back.header.FUNC_STATUS, -1010) << "no scan is running";
}

} // namespace
