// The scan data flow against the simulated scanner through the real libusb: each test fills a
// ScanJob by hand, starts, reads and stops, and checks the bytes and the decoded transcript. The
// scanner's chart engine runs the ideal sensor on the built-in pattern unless a test says
// otherwise, so every data byte is known.
#include "scan_side_cache.h"
#include "chart_scan_engine.h"
#include "driver_sleep.h"
#include "gl_scan.h"
#include "job_cmd.h"
#include "scanner_test.h"
#include "vek_cmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;
using Briefs = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

struct Page {
    uint32_t width = 100;
    uint32_t height = 10;
    uint8_t bits = 8;
    uint8_t sides = 1;
    uint8_t mono = 0;
    uint8_t kind = 0;
    uint32_t dot_x = 0;
    uint32_t dot_y = 0;
    uint32_t source = 0;
};

uint16_t chart(int64_t x, int64_t y, int c)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(7 * x + 13 * y + 85 * c) * 257);
}

// What the ideal sensor delivers for the page: the pattern at each pixel's position, inverted on
// the back, in the page's format.
Bytes expected(const Page& p, int side, uint64_t first_line = 0, uint64_t lines = UINT64_MAX)
{
    Bytes out;
    const auto put16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    for (uint64_t y = first_line; y < std::min<uint64_t>(p.height, first_line + lines); ++y) {
        if (p.bits != 8 && p.bits != 16 && p.bits != 24 && p.bits != 48) {
            for (uint64_t k = 0; k < uint64_t{p.width} * p.bits / 8; ++k)
                out.push_back(static_cast<uint8_t>(7 * k + 13 * y));
            continue;
        }
        for (uint32_t i = 0; i < p.width; ++i) {
            uint32_t rgb[3];
            for (int c = 0; c < 3; ++c) {
                rgb[c] = chart(p.dot_x + i, p.dot_y + y, c);
                if (side == 1) rgb[c] = 65535 - rgb[c];
            }
            const uint32_t mono = p.mono == 2 ? rgb[1]
                : p.mono == 3                 ? rgb[2]
                                              : (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000;
            switch (p.bits) {
            case 24:
                for (uint32_t v : rgb) out.push_back(static_cast<uint8_t>(v >> 8));
                break;
            case 48:
                for (uint32_t v : rgb) put16(v);
                break;
            case 8: out.push_back(static_cast<uint8_t>(mono >> 8)); break;
            default: put16(mono); break;
            }
        }
    }
    return out;
}

class ScanFlow : public ScannerTest {
protected:
    void SetUp() override
    {
        ScannerTest::SetUp();
        if (HasFatalFailure()) return;
        engine([](sim::ChartScanEngine& e) { e.set_sensor(sim::Sensor::Ideal); });
    }
    void TearDown() override
    {
        driver_set_clock_function(nullptr);
        ScannerTest::TearDown();
    }

    ScanJob* job() { return g()->scan_job; }
    void engine(const std::function<void(sim::ChartScanEngine&)>& f) { model().with_chart_engine(f); }
    void fill(const Page& p)
    {
        ScanJob& j = *job();
        j = ScanJob{};
        j.set_source(p.source);
        j.set_flags(2);
        j.set_sides(p.sides);
        j.set_mode_flag(p.kind != 0 ? 1 : 0);
        j.set_bits_per_pixel(p.bits);
        j.set_mono_code(p.mono);
        j.set_x_resolution(300);
        j.set_y_resolution(300);
        j.set_dot_x(p.dot_x);
        j.set_dot_y(p.dot_y);
        j.set_width(p.width);
        j.set_height(p.height);
        j.set_window_kind(p.kind);
        j.set_exposure_ratio(100);
        j.set_fixed_one(1);
        j.set_light_channels(3);
        j.set_exposure(1000);
    }
    // Starts a scan of the page; the transcript then starts empty.
    void start(const Page& p)
    {
        fill(p);
        ASSERT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
        model().clear_transcript();
    }
    struct Read {
        eStatus status;
        uint8_t end;
        Bytes bytes;
    };
    // A read into a buffer prefilled with 0xAA.
    Read read(int side, uint32_t n)
    {
        Read r{STATUS_GOOD, 9, Bytes(n, 0xAA)};
        uint32_t length = n;
        r.status = scanner_read(g(), job(), side, r.bytes.data(), &length, &r.end);
        EXPECT_EQ(length, n) << "the length is never changed";
        return r;
    }
    std::vector<uint32_t> image_reads()
    {
        std::vector<uint32_t> out;
        for (const sim::Transaction& tx : model().transactions())
            if (tx.tag == "IMG") out.push_back(tx.length);
        return out;
    }
    size_t count(const std::string& brief) const { return static_cast<size_t>(std::ranges::count(briefs(), brief)); }
    // The fake clock: one second, plus every sleep so far.
    static uint64_t fake_clock()
    {
        const auto& s = sleeps();
        return 1000000000ull + std::accumulate(s.begin(), s.end(), uint64_t{0}) * 1000000ull;
    }
};

const Briefs kStopWithData = {"INFO", "CANC 1", "INFO", "STOP", "JOB E"};

// ---- Start ----

TEST_F(ScanFlow, AStartSendsWhatTheJobAsksForThenPolls)
{
    struct Case {
        uint8_t sides;
        bool gamma;
        uint8_t control;
        Briefs sent;
    };
    const Case cases[] = {
        {1, false, 0, {"JOB C", "SWIN send", "ISPM send", "PAR", "SCAN", "INFO"}},
        {3, false, 0, {"JOB C", "SWIN send", "ISPM send", "ISPS send", "PAR", "SCAN", "INFO"}},
        {2, true, 1, {"JOB C", "GAMA send", "SWIN send", "ISPM send", "PAR", "SCAN", "INFO"}},
        {1, true, 4, {"JOB C", "GAMA send", "SWIN send", "ISPM send", "PAR", "SCAN", "INFO"}},
    };
    for (const Case& c : cases) {
        fill({.sides = c.sides});
        job()->set_send_gamma(c.gamma ? 1 : 0);
        g()->gamma_control[0] = c.control;
        EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
        EXPECT_EQ(briefs(), c.sent) << int{c.sides};
        EXPECT_EQ(g()->read_function, &read_cache);
        EXPECT_EQ(g()->scan_started, 1);
        for (const sim::Transaction& tx : model().transactions()) {
            if (tx.tag == "GAMA") {
                EXPECT_EQ(tx.data.size(), 16u + (c.control == 4 ? 3072 : 1024));
            }
        }
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
        model().clear_transcript();
    }
    EXPECT_EQ(sleeps(), std::vector<uint32_t>(8, 100)) << "the pauses after SCAN and STOP only";

    // A start while started only clears the bookkeeping and polls.
    start({});
    job()->bytes_read[0] = 5;
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs(), Briefs{"INFO"});
    EXPECT_EQ(job()->bytes_read[0], 0u);
}

TEST_F(ScanFlow, ARefusedScanStopsAndEndsTheJob)
{
    fill({.width = 70000}); // the device takes no page wider than 65535
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_REFUSED_REQUEST);
    const Briefs sent = briefs();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(Briefs(sent.end() - 3, sent.end()), (Briefs{"SCAN", "STOP", "JOB E"}));
    EXPECT_EQ(g()->scan_started, 0);
    EXPECT_EQ(g()->job_id, 0u);
}

TEST_F(ScanFlow, ReadinessWaitsForBothSidesOfADuplexScanButNotForCalibrationData)
{
    engine([](sim::ChartScanEngine& e) {
        e.set_production(
            {.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 2, .idle_polls = 0, .back_delay = 2});
    });
    start({.sides = 3});
    EXPECT_EQ(sleeps(), (std::vector<uint32_t>{100, 100, 100})) << "the back side's data come at the third poll";
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);

    // A calibration window is ready once the device reports the page's lines.
    engine(
        [](sim::ChartScanEngine& e) { e.set_production({.mode = sim::Production::Mode::PerPoll, .idle_polls = 5}); });
    model().clear_transcript();
    fill({.kind = 2});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(count("INFO"), 1u);
}

class FeederScan : public ScanFlow {
protected:
    std::string profile() const override { return "feeder"; }
};

TEST_F(FeederScan, TheFeederIsAskedForPaperFirst)
{
    constexpr uint32_t kAdf = SCAN_SOURCE_ADF;
    model().edit([](sim::ScannerRecords& r) { r.system_status[0] = 0; });
    fill({.source = kAdf});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_NO_PAPER);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "SYS", "STOP", "JOB E"}));
    EXPECT_EQ(g()->scan_started, 0);

    model().edit([](sim::ScannerRecords& r) { r.system_status[0] = 1; });
    model().clear_transcript();
    start({.source = kAdf});
    EXPECT_EQ(read(0, 1000).bytes, expected({}, 0)) << "feeder pages are generated like flatbed pages";
    EXPECT_EQ(scanner_is_paper_ready(g(), job()), STATUS_GOOD) << "'D' while the feeder has paper";
}

// ---- Cached reads ----

TEST_F(ScanFlow, APartialRequestTakesWholeLinesAndKeepsTheRestCached)
{
    const Page p{.width = 1000, .height = 100};
    start(p);
    EXPECT_EQ(g()->caches[0], nullptr) << "caches are made on first use";
    const Bytes page = expected(p, 0);
    Read r = read(0, 1500);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(r.bytes, Bytes(page.begin(), page.begin() + 1500));
    EXPECT_EQ(briefs(), (Briefs{"INFO", "IMG 0 100000"}));
    EXPECT_EQ(cache_remain_data(g()->caches[0]), 98500u);
    EXPECT_EQ(g()->caches[1], nullptr);

    model().clear_transcript();
    r = read(0, 1500);
    EXPECT_EQ(r.bytes, Bytes(page.begin() + 1500, page.begin() + 3000));
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScanFlow, AReadEndingAtThePageEndReportsTheEndThenGivesZeros)
{
    const Page p{.width = 100, .height = 10, .bits = 24};
    start(p);
    EXPECT_EQ(read(0, 1000).end, 0);
    const Read last = read(0, 2000);
    EXPECT_EQ(last.status, STATUS_GOOD);
    EXPECT_EQ(last.end, 1);
    const Bytes page = expected(p, 0);
    EXPECT_EQ(last.bytes, Bytes(page.begin() + 1000, page.end()));
    const Read after = read(0, 500);
    EXPECT_EQ(after.status, STATUS_GOOD);
    EXPECT_EQ(after.end, 0);
    EXPECT_EQ(after.bytes, Bytes(500, 0));
    EXPECT_EQ(briefs(), (Briefs{"INFO", "IMG 0 3000"}));
    model().clear_transcript();
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"INFO", "STOP", "JOB E"}));
}

TEST_F(ScanFlow, LargeRequestsAreReadInWholeLinesOfAtMostOneMiB)
{
    const Page p{.width = 1000, .height = 700, .bits = 24};
    start(p);
    const Read r = read(0, 2100000);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 1);
    EXPECT_TRUE(r.bytes == expected(p, 0));
    EXPECT_EQ(image_reads(), (std::vector<uint32_t>{1047000, 1047000, 6000}));
}

TEST_F(ScanFlow, OneStatusPollServesBothSides)
{
    const Page p{.width = 100, .height = 4, .bits = 24, .sides = 3};
    start(p);
    EXPECT_EQ(read(0, 600).bytes, expected(p, 0, 0, 2));
    EXPECT_EQ(read(1, 600).bytes, expected(p, 1, 0, 2));
    EXPECT_EQ(briefs(), (Briefs{"INFO", "IMG 0 1200", "IMG 1 1200"}));
}

TEST_F(ScanFlow, EveryCachedFormatEqualsTheChart)
{
    for (const auto& [bits, mono] : {std::pair{24, 0}, {48, 0}, {8, 0}, {16, 0}, {8, 2}, {16, 3}}) {
        const Page p{.width = 64,
                     .height = 6,
                     .bits = static_cast<uint8_t>(bits),
                     .sides = 3,
                     .mono = static_cast<uint8_t>(mono),
                     .dot_x = 5,
                     .dot_y = 3};
        start(p);
        const uint32_t size = 64u * 6 * bits / 8;
        for (int side : {0, 1}) {
            const Read r = read(side, size);
            EXPECT_EQ(r.end, 1);
            EXPECT_EQ(r.bytes, expected(p, side)) << bits << " bits, mono " << mono << ", side " << side;
        }
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    }
}

TEST_F(ScanFlow, PagesProducedPollByPollAreReadWhole)
{
    engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 3, .idle_polls = 2});
    });
    const Page p{.width = 100, .height = 10};
    start(p);
    EXPECT_EQ(sleeps().size(), 3u) << "SCAN's pause and two idle polls";
    const Read r = read(0, 1000);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 1);
    EXPECT_EQ(r.bytes, expected(p, 0));
    EXPECT_EQ(sleeps().size(), 3u) << "no pause while the device keeps adding lines";
    EXPECT_EQ(briefs(), (Briefs{"INFO", "INFO", "INFO", "IMG 0 1000"}));
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);

    // Read in small requests, each device read takes every line ready so far, part of which waits
    // in the cache. Having taken all that is ready is not the end of a page still being made.
    engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 3});
    });
    start(p);
    Bytes whole;
    for (int i = 0; i < 5; ++i) {
        const Read part = read(0, 200);
        EXPECT_EQ(part.status, STATUS_GOOD);
        EXPECT_EQ(part.end, i == 4 ? 1 : 0) << "request " << i;
        whole.insert(whole.end(), part.bytes.begin(), part.bytes.end());
    }
    EXPECT_EQ(whole, expected(p, 0));
    EXPECT_EQ(image_reads(), (std::vector<uint32_t>{600, 300, 100}));
}

// Fewer bytes than asked: the device is asked again at once while their count grows (here a line
// a poll), and after a pause only once it stops growing (ADeviceBufferBelowTheRequestTimesOut).
TEST_F(ScanFlow, NoPauseWhileTheReadyCountGrows)
{
    engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 1});
    });
    const Page p{.width = 100, .height = 10};
    start(p);
    const size_t before = sleeps().size();
    const Read r = read(0, 1000);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.bytes, expected(p, 0));
    EXPECT_EQ(sleeps().size(), before);
    EXPECT_GE(count("INFO"), 9u) << "a poll for every line the device added";
}

TEST_F(ScanFlow, OtherDepthsAreReadStraightInPiecesOfAtMostOneMiB)
{
    const Page p{.width = 1024, .height = 300, .bits = 32};
    start(p);
    EXPECT_EQ(g()->read_function, &read_direct);
    const Read r = read(0, 1228800);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 1);
    EXPECT_TRUE(r.bytes == expected(p, 0));
    EXPECT_EQ(briefs(), (Briefs{"INFO", "IMG 0 1048576", "IMG 0 180224"}));
}

TEST_F(ScanFlow, ScannedDarkAndWhiteLinesMakeARealisticScanFlat)
{
    // Dark and white lines are scans of flat charts before any shading exists (48 bits, both sides
    // at once): F = 0 reads the front's dark level, F = 1 its white level. The back sees 1 - F.
    engine([](sim::ChartScanEngine& e) { e.set_sensor(sim::Sensor::Realistic); });
    const Page p{.width = 2000, .height = 1, .bits = 48, .sides = 3};
    const uint32_t size = 2000 * 6;
    const auto scan_flat = [&](double f) {
        engine([f](sim::ChartScanEngine& e) { e.set_chart(sim::flat_chart(f)); });
        start(p);
        std::array<Bytes, 2> sides = {read(0, size).bytes, read(1, size).bytes};
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
        return sides;
    };
    const auto black = scan_flat(0.0), full = scan_flat(1.0);
    Bytes dark = black[0], white = full[0];
    dark.insert(dark.end(), full[1].begin(), full[1].end());
    white.insert(white.end(), black[1].begin(), black[1].end());
    // Front and back go up as one kind-3 pair at the scan's resolution, 3 channels deep.
    ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
    ASSERT_EQ(vek_cmd_send_shading_data(g(), 3, 300, true, 1, dark.data(), dark.size(), 0), STATUS_GOOD);
    ASSERT_EQ(vek_cmd_send_shading_data(g(), 3, 300, true, 0, white.data(), white.size(), 0), STATUS_GOOD);
    ASSERT_EQ(cmd_job_end(g()), STATUS_GOOD);

    engine([](sim::ChartScanEngine& e) { e.set_chart(sim::flat_chart(0.5)); });
    start(p);
    for (int side : {0, 1}) {
        const Bytes line = read(side, size).bytes;
        for (uint32_t k = 0; k < size / 2; ++k)
            ASSERT_NEAR(line[2 * k] | line[2 * k + 1] << 8, side == 0 ? 32768 : 32767, 0.01 * 65535)
                << side << " " << k;
    }
}

// ---- Mended faults ----

TEST_F(ScanFlow, APageEndingShortDeliversWhatItHasThenTheEnd)
{
    // The device ends the page after 4 of 10 lines: the 4 lines, zeros after them, and the end.
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.end_after = 4}); });
    const Page p{.width = 100, .height = 10};
    start(p);
    Read r = read(0, 1000);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 1);
    Bytes want = expected(p, 0, 0, 4);
    want.resize(1000, 0);
    EXPECT_EQ(r.bytes, want);
    model().clear_transcript();
    r = read(0, 100);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.bytes, Bytes(100, 0));
    EXPECT_TRUE(briefs().empty()) << "nothing more is asked of the device";
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);

    // The same through the direct read.
    const Page odd{.width = 100, .height = 10, .bits = 32};
    start(odd);
    r = read(0, 4000);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.end, 1);
    want = expected(odd, 0, 0, 4);
    want.resize(4000, 0);
    EXPECT_EQ(r.bytes, want);
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
}

TEST_F(ScanFlow, AnImageSideReportingAnotherGeometryFailsTheRead)
{
    // The window is 100 × 10; a report of 5 lines or 99 pixels is not that image.
    for (const sim::GeometryFault& fault : {sim::GeometryFault{.height = 5}, sim::GeometryFault{.width = 99}}) {
        engine([&fault](sim::ChartScanEngine& e) { e.set_geometry_fault(fault); });
        start({.width = 100, .height = 10});
        const Read r = read(0, 1000);
        EXPECT_EQ(r.status, STATUS_UNEXPECTED_JOB_REPLY);
        EXPECT_TRUE(image_reads().empty());
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    }
    // A calibration window reports the sensor's geometry, not its own.
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.width = 99}); });
    start({.width = 100, .height = 10, .kind = 2});
    EXPECT_EQ(read(0, 990).status, STATUS_GOOD);
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    // Lines wider than the window are read whole, as long as their width does not change: a
    // status reply that then reports another width (the window's, or wider still) fails the read.
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.wider_by = 8}); });
    const Page wide{.width = 100, .height = 10};
    start(wide);
    EXPECT_EQ(job()->image_width(0), 108);
    Read r = read(0, 216);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(r.bytes, expected({.width = 108, .height = 10}, 0, 0, 2));
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 2});
    });
    for (const uint8_t changed : {100, 116}) {
        start(wide);
        ASSERT_EQ(read(0, 216).status, STATUS_GOOD);
        model().inject(sim::Injection::info_bytes(sim::Target::next("INFO"), {{16, changed}}));
        r = read(0, 864);
        EXPECT_EQ(r.status, STATUS_UNEXPECTED_JOB_REPLY) << "a width of " << int{changed};
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    }
}

TEST_F(ScanFlow, ADeviceBufferBelowTheRequestTimesOut)
{
    engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 2, .buffer_bytes = 500});
    });
    start({.width = 100, .height = 20});
    const size_t before = sleeps().size();
    EXPECT_EQ(read(0, 1000).status, STATUS_TRANSFER_FAILED);
    // No pause while the device filled up, then the limit.
    EXPECT_EQ(sleeps().size() - before, SCAN_POLL_LIMIT);
    EXPECT_TRUE(image_reads().empty());
}

TEST_F(ScanFlow, APageEndWithoutDataFailsAtOnce)
{
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.end_without_data = true}); });
    // An image window: the start polls once and gives up.
    fill({});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_UNEXPECTED_JOB_REPLY);
    EXPECT_EQ(count("INFO"), 1u);
    EXPECT_EQ(sleeps().size(), 2u) << "SCAN's pause and STOP's; no polls";
    EXPECT_EQ(g()->scan_started, 0);
    EXPECT_EQ(g()->job_id, 0u);
    // A calibration window is ready on its reported lines; its read gives up at once.
    start({.kind = 1});
    const size_t before = sleeps().size();
    EXPECT_EQ(read(0, 100).status, STATUS_UNEXPECTED_JOB_REPLY);
    EXPECT_EQ(sleeps().size(), before);
}

TEST_F(ScanFlow, ALineOfNoBytesFailsAtOnce)
{
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.width = 0}); });
    start({});
    const size_t before = sleeps().size();
    EXPECT_EQ(read(0, 100).status, STATUS_TRANSFER_FAILED);
    EXPECT_EQ(sleeps().size(), before);
    EXPECT_EQ(briefs(), Briefs{"INFO"});
}

TEST_F(ScanFlow, ADeviceThatIsNeverReadyEndsTheStart)
{
    engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.never_ready = true}); });
    fill({});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(sleeps().size(), 1 + SCAN_POLL_LIMIT + 1) << "SCAN's pause, the polls, STOP's pause";
    const Briefs sent = briefs();
    EXPECT_EQ(Briefs(sent.end() - 3, sent.end()), (Briefs{"INFO", "STOP", "JOB E"}));
    EXPECT_EQ(g()->scan_started, 0);
    EXPECT_EQ(g()->job_id, 0u);
}

TEST_F(ScanFlow, AFailedStopStillEndsTheJob)
{
    start({});
    model().inject(Injection::refuse(Target::next("STOP"), 2, 4));
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(briefs(), kStopWithData);
    EXPECT_EQ(g()->scan_started, 0);
    EXPECT_EQ(g()->job_id, 0u);
    model().clear_transcript();
    fill({});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs().front(), "JOB C");

    // A step the device does not answer at all ends the stop at once (each further request would
    // wait out its own time-out); the job it may still hold is left for the next create, which
    // ends a job it is unsure of.
    for (const char* step : {"INFO", "STOP"}) {
        SCOPED_TRACE(step);
        model().clear_transcript();
        model().inject(Injection::stall(Target::next(step), Phase::Reply));
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_TRANSFER_FAILED);
        EXPECT_EQ(briefs().back(), step) << "nothing after the step that got no answer";
        EXPECT_EQ(count("JOB E"), 0u);
        EXPECT_EQ(g()->scan_started, 0);
        EXPECT_TRUE(model().job_open());
        EXPECT_FALSE(job_surely_open(g()));
        model().clear_transcript();
        fill({});
        EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
        const Briefs b = briefs();
        ASSERT_GE(b.size(), 3u);
        EXPECT_EQ(Briefs(b.begin(), b.begin() + 3), (Briefs{"JOB C", "JOB E", "JOB C"}));
        // The create the device refuses, as it must while it holds a job, is the only breach.
        for (const std::string& v : model().violations())
            EXPECT_NE(v.find("JOB: job frame out of sequence"), std::string::npos) << v;
    }
    allow_violations();
}

// The device ends the job but its reply is cut short, and a later end is refused as out of
// sequence: the next start creates a job rather than sending its frames into none.
TEST_F(ScanFlow, AStartAfterALostEndReplyCreatesAJob)
{
    start({});
    model().inject(Injection::short_reply(Target::next("JOB"), 3));
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_FALSE(model().job_open());
    EXPECT_EQ(cmd_job_end(g()), STATUS_REFUSED_REQUEST);
    model().clear_transcript();
    fill({});
    ASSERT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs().front(), "JOB C");
    EXPECT_TRUE(model().job_open());
    EXPECT_EQ(read(0, 300).status, STATUS_GOOD);
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_FALSE(model().job_open());
}

TEST_F(ScanFlow, APageBeyondFourGiBKeepsItsTotal)
{
    const Page p{.width = 40800, .height = 56160, .bits = 24};
    start(p);
    const Read r = read(0, 32 * 122400);
    EXPECT_EQ(r.status, STATUS_GOOD);
    EXPECT_EQ(job()->page_total[0], 6873984000u);
    EXPECT_TRUE(r.bytes == expected(p, 0, 0, 32));
    EXPECT_EQ(image_reads(), std::vector<uint32_t>(4, 979200)) << "8 whole lines per read";
    model().clear_transcript();
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs(), kStopWithData);
}

// ---- Device errors, jams and double feeds ----

TEST_F(ScanFlow, ADeviceErrorGives10AndLeavesTheScanStarted)
{
    engine([](sim::ChartScanEngine& e) { e.add_status_fault({.kind = sim::StatusFault::Kind::Error, .poll = 1}); });
    fill({});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_DEVICE_ERROR);
    EXPECT_EQ(g()->scan_started, 1);
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);

    engine([](sim::ChartScanEngine& e) { e.add_status_fault({.kind = sim::StatusFault::Kind::Error, .poll = 2}); });
    start({});
    EXPECT_EQ(read(0, 100).status, STATUS_DEVICE_ERROR);
}

TEST_F(ScanFlow, AJamStopsOnlyTheSidesItHits)
{
    using Kind = sim::StatusFault::Kind;
    struct Case {
        uint8_t sides;
        sim::StatusFault jam;
        eStatus result;
    };
    const Case cases[] = {
        {1, {.kind = Kind::Jam, .front_state = 0}, STATUS_GOOD},
        {1, {.kind = Kind::Jam, .front_state = 1}, STATUS_PAPER_JAM},
        {3, {.kind = Kind::Jam, .back_state = 0, .front_state = 1}, STATUS_GOOD},
        {3, {.kind = Kind::Jam, .back_state = 1, .front_state = 1}, STATUS_PAPER_JAM},
        {3, {.kind = Kind::DoubleFeed, .back_state = 1, .front_state = 1}, STATUS_DOUBLE_FEED},
    };
    for (const Case& c : cases) {
        engine([&c](sim::ChartScanEngine& e) { e.add_status_fault(c.jam); });
        fill({.sides = c.sides});
        EXPECT_EQ(scanner_start_scan(g(), job()), c.result) << int{c.sides} << " " << int{c.jam.front_state};
        if (c.result == STATUS_GOOD) {
            // The flags stay; reading goes on.
            EXPECT_EQ(read(0, 1000).bytes, expected({}, 0));
        }
        EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    }
    EXPECT_EQ(count("CANC 0"), 1u) << "only the double feed cancels a page that has data";
}

TEST_F(ScanFlow, APageIsCancelledOnlyTheFirstTimeInAScan)
{
    // The device asks for the page to be dropped at poll 1 and again at poll 2.
    engine([](sim::ChartScanEngine& e) {
        e.add_status_fault({.kind = sim::StatusFault::Kind::Jam, .poll = 1, .cancel_page = 1});
        e.add_status_fault({.kind = sim::StatusFault::Kind::Jam, .poll = 2, .cancel_page = 1});
    });
    fill({});
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(read(0, 500).status, STATUS_GOOD);
    EXPECT_EQ(count("CANC 0"), 1u);
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);

    // A jam with nothing on either side cancels too; a double feed always does, after a pause.
    ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
    model().clear_transcript();
    std::array<uint8_t, 48> info{};
    info[29] = 'J';
    info[28] = 'U';
    info[27] = 1;
    model().set_info(info);
    ASSERT_EQ(cmd_information(g(), job()), STATUS_GOOD);
    job()->set_sides(1);
    g()->jam_handled = g()->double_feed_handled = 0;
    const size_t before = sleeps().size();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(handle_paper_jam(g(), job()), STATUS_PAPER_JAM);
        EXPECT_EQ(handle_double_feed(g(), job()), STATUS_DOUBLE_FEED);
    }
    EXPECT_EQ(briefs(), (Briefs{"INFO", "CANC 0", "CANC 0"}));
    EXPECT_EQ(sleeps().size() - before, 1u);
}

TEST_F(ScanFlow, ADuplexDoubleFeedOnAClearFrontGoesOn)
{
    engine([](sim::ChartScanEngine& e) {
        e.add_status_fault({.kind = sim::StatusFault::Kind::DoubleFeed, .back_state = 1, .front_state = 0});
    });
    const Page p{.sides = 3};
    fill(p);
    EXPECT_EQ(scanner_start_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(sleeps(), (std::vector<uint32_t>{100, 100})) << "SCAN's pause and the double-feed pause";
    EXPECT_EQ(count("CANC 0"), 1u);
    EXPECT_EQ(read(0, 1000).bytes, expected(p, 0));
    EXPECT_EQ(read(1, 1000).bytes, expected(p, 1));
}

// ---- Stop ----

TEST_F(ScanFlow, AStopPollsAndCancelsOnlyWhatIsThere)
{
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_TRUE(briefs().empty()) << "never started, no job";
    ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
    model().clear_transcript();
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs(), Briefs{"JOB E"});

    start({.width = 1000, .height = 1100}); // more than one device read
    ASSERT_EQ(read(0, 10).status, STATUS_GOOD);
    model().clear_transcript();
    EXPECT_EQ(scanner_stop_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(briefs(), kStopWithData);
    EXPECT_EQ(cache_remain_data(g()->caches[0]), 0u) << "the cache is dropped, not freed";
}

// ---- Transport failures ----

TEST_F(ScanFlow, TransferFailuresInsideAReadGive4)
{
    start({});
    model().inject(Injection::stall(Target::next("IMG"), Phase::Reply));
    EXPECT_EQ(read(0, 100).status, STATUS_TRANSFER_FAILED);
    model().inject(Injection::stall(Target::next("INFO"), Phase::Reply));
    EXPECT_EQ(read(0, 100).status, STATUS_TRANSFER_FAILED);
    EXPECT_EQ(read(0, 100).status, STATUS_GOOD) << "the next read polls again";
}

// ---- Paper and motor ----

TEST_F(ScanFlow, TheMotorWaitEndsAfter5000Ticks)
{
    driver_set_clock_function(fake_clock);
    EXPECT_EQ(GetTickCount(), 60u);
    ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
    std::array<uint8_t, 48> info{};
    info[33] = 1;
    model().set_info(info);
    EXPECT_EQ(wait_motor_stop(g(), job()), STATUS_MOTOR_NOT_STOPPED);
    EXPECT_EQ(sleeps().size(), 834u) << "5000 sixtieths of a second in 100 ms polls";
    info[33] = 0;
    info[29] = 'J';
    model().set_info(info);
    EXPECT_EQ(scanner_is_paper_ready(g(), job()), STATUS_PAPER_JAM);
}

} // namespace
