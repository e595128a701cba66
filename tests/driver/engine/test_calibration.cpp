// Calibration against the simulated scanner through the real libusb.
#include "cali_file.h"
#include "calibration.h"
#include "calibration_page.h"
#include "chart_scan_engine.h"
#include "gl_scan.h"
#include "le_bytes.h"
#include "scan_setting.h"
#include "scanner_test.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using namespace lftest;
using Briefs = std::vector<std::string>;

class Calibration : public ScannerTest {
protected:
    void SetUp() override
    {
        ScannerTest::SetUp();
        if (HasFatalFailure()) return;
        set_folder(dir_.path());
        s_.color_planes = 14;
        s_.color_switch = 1;
        s_.quality = 1;
        s_.x_resolution = 300;
        s_.y_resolution = 300;
        s_.exposure_ratio = 100;
        s_.frame = {0, 0, 8499, 11699};
    }
    void set_folder(const std::string& folder)
    {
        std::memset(g()->module_path, 0, sizeof g()->module_path);
        std::memcpy(g()->module_path, folder.data(), std::min(folder.size(), sizeof g()->module_path - 1));
    }
    std::string file() const { return dir_.file("CaliData6204_0000_SN6204000012345A.dat"); }
    void engine(const std::function<void(sim::ChartScanEngine&)>& f) { model().with_chart_engine(f); }
    int calibrate() { return do_calibrate(g(), &s_).code(); }

    // The transcript without image reads, each run of polls as one "INFO".
    Briefs folded() const
    {
        Briefs out;
        for (const std::string& b : briefs())
            if (!b.starts_with("IMG ") && !(b == "INFO" && !out.empty() && out.back() == "INFO")) out.push_back(b);
        return out;
    }
    std::vector<sim::Transaction> sent(const std::string& brief)
    {
        std::vector<sim::Transaction> out;
        for (const sim::Transaction& tx : model().transactions())
            if (tx.brief() == brief) out.push_back(tx);
        return out;
    }
    // A write's payload (after its 16-byte block).
    static Bytes payload(const sim::Transaction& tx) { return Bytes(tx.data.begin() + 16, tx.data.end()); }
    static Bytes bytes_of(const std::vector<uint16_t>& v)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(v.data());
        return Bytes(p, p + 2 * v.size());
    }
    // The stored record of the working record's key.
    CALI_PARAM stored()
    {
        CALI_PARAM c{};
        copy_calibration_scalars(&c, &s_.working_calibration);
        EXPECT_EQ(load_calibration_from_file(&c).code(), 1);
        return c;
    }
    void use_calibrator_list(std::initializer_list<uint16_t> list)
    {
        model().edit([&](sim::ScannerRecords& r) {
            std::fill_n(r.resolutions[0].begin() + 72, 16, 0);
            size_t i = 0;
            for (uint16_t v : list) put_u16le(r.resolutions[0].data() + 72 + 2 * i++, v);
        });
        reopen_scanner();
        set_folder(dir_.path());
    }
    // A full-width 8-bit colour image scan of `lines` lines at the setting's resolution.
    Bytes scan_page(uint32_t lines)
    {
        const auto width = static_cast<uint32_t>(40800 * s_.x_resolution / 4800);
        ScanJob& j = *g()->scan_job;
        j = ScanJob{};
        j.set_source(0x424C46);
        j.set_flags(2);
        j.set_sides(1);
        j.set_bits_per_pixel(24);
        j.set_x_resolution(static_cast<uint16_t>(s_.x_resolution));
        j.set_y_resolution(static_cast<uint16_t>(s_.x_resolution));
        j.set_width(width);
        j.set_height(lines);
        j.set_exposure_ratio(s_.exposure_ratio);
        j.set_fixed_one(1);
        j.set_light_channels(3);
        j.set_exposure(1000);
        Bytes out(size_t{width} * 3 * lines);
        uint32_t n = static_cast<uint32_t>(out.size());
        uint8_t end = 0;
        EXPECT_EQ(scanner_start_scan(g(), &j), STATUS_GOOD);
        EXPECT_EQ(scanner_read(g(), &j, 0, out.data(), &n, &end), STATUS_GOOD);
        EXPECT_EQ(scanner_stop_scan(g(), &j), STATUS_GOOD);
        return out;
    }

    // Samples of an 8-bit page more than 2 % off the level a flat chart of 0.8 gives.
    static long off_level(const Bytes& page)
    {
        return std::count_if(page.begin(), page.end(), [](uint8_t v) { return std::abs(v - 204) > 0.02 * 204; });
    }

    SCAN_SETTING s_{};
    TempFolder dir_;
};

const Briefs kShading = {"JOB C", "SWIN send", "ISPM send", "PAR", "SCAN", "INFO", "STOP", "JOB E"};

TEST_F(Calibration, AFreshCalibrationTakesSendsAndStoresBothShadings)
{
    for (const bool colour : {true, false}) {
        SCOPED_TRACE(colour ? "colour" : "grey");
        s_.color_planes = colour ? 14 : 1;
        s_.color_switch = colour ? 1 : 0;
        model().clear_transcript();
        ASSERT_EQ(calibrate(), 1);
        Briefs want = kShading;
        want.insert(want.end(), kShading.begin(), kShading.end());
        want.insert(want.end(),
                    {"JOB C", colour ? "CALI 300 1" : "CALI 300 0", "JOB E", "JOB C", "SHAD send 1 1", "SHAD send 1 0",
                     "JOB E"});
        EXPECT_EQ(folded(), want);

        const auto pars = sent("PAR");
        const auto windows = sent("SWIN send");
        ASSERT_EQ(pars.size(), 2u);
        ASSERT_EQ(windows.size(), 2u);
        for (size_t k = 0; k < 2; ++k) {
            const Bytes& p = pars[k].data;
            EXPECT_EQ(p[18], colour ? 48 : 16);
            EXPECT_EQ(get_u32le(&p[36]), 256u);
            EXPECT_EQ(get_u16le(&p[20]), 300);
            EXPECT_EQ(get_u16le(&p[22]), 300);
            EXPECT_EQ(p[11], 1);
            const Bytes w = payload(windows[k]);
            EXPECT_EQ(w[0], k + 1) << "dark, then white";
            EXPECT_EQ(get_u16le(&w[18]), 1000);
            EXPECT_EQ(get_u16le(&w[14]), 3);
            EXPECT_EQ(w[7], 0);
        }
        const CALI_PARAM& c = s_.working_calibration;
        const auto shading = sim::expected_shading(model().records(), 0, 300, 100, colour ? 3 : 1);
        EXPECT_EQ(c.dark_line, shading.dark);
        EXPECT_EQ(c.white_line, shading.white);
        EXPECT_TRUE(c.dark_samples.empty() && c.white_samples.empty());
        for (const auto& [brief, line] : {std::pair{"SHAD send 1 1", &c.dark_line}, {"SHAD send 1 0", &c.white_line}}) {
            const auto tx = sent(brief);
            ASSERT_EQ(tx.size(), 1u);
            EXPECT_EQ(tx[0].deep, colour ? 4 : 3);
            EXPECT_EQ(tx[0].value, 300);
            EXPECT_EQ(payload(tx[0]), bytes_of(*line));
        }

        const CALI_PARAM file_record = stored();
        EXPECT_EQ(file_record.dark_line, shading.dark);
        EXPECT_EQ(file_record.white_line, shading.white);
        for (size_t i = 0; i < CALI_PARAMS_SIZE; ++i)
            ASSERT_EQ(file_record.params[i], static_cast<uint8_t>(300 + (colour ? 1 : 0) + i)) << i;
        const CALI_PARAM& active = s_.active_calibration;
        EXPECT_EQ(active.resolution, 300);
        EXPECT_EQ(active.line_bytes, c.line_bytes);
        EXPECT_TRUE(active.dark_line.empty() && active.params.empty()) << "the active calibration holds no buffers";
    }
}

// Both shading windows start at the frame's corner taken at the scan's x resolution, also in y,
// whatever the y resolution (1000 dpi scans at 1200 × 1000).
TEST_F(Calibration, TheWindowStartsAtTheFrameCornerAtTheXResolution)
{
    struct Case {
        uint32_t x, y;
        uint32_t dot_x, dot_y;
    };
    for (const Case c : {Case{1200, 1000, 300, 600}, Case{300, 300, 75, 150}, Case{600, 1200, 150, 300}}) {
        SCOPED_TRACE(testing::Message() << c.x << " × " << c.y);
        s_.x_resolution = c.x;
        s_.y_resolution = c.y;
        s_.frame = {250, 500, 1249, 1499};
        model().clear_transcript();
        ASSERT_EQ(calibrate(), 1);
        const auto pars = sent("PAR");
        ASSERT_EQ(pars.size(), 2u);
        for (const sim::Transaction& par : pars) {
            EXPECT_EQ(get_u32le(&par.data[24]), c.dot_x);
            EXPECT_EQ(get_u32le(&par.data[28]), c.dot_y);
        }
    }
}

TEST_F(Calibration, NoisySamplesReduceToWithinOnePercent)
{
    engine([](sim::ChartScanEngine& e) { e.set_calibration_noise(true); });
    ASSERT_EQ(calibrate(), 1);
    const auto shading = sim::expected_shading(model().records(), 0, 300, 100, 3);
    const CALI_PARAM& c = s_.working_calibration;
    ASSERT_EQ(c.white_line.size(), shading.white.size());
    size_t exact = 0;
    for (size_t k = 0; k < shading.white.size(); ++k) {
        ASSERT_NEAR(c.dark_line[k], shading.dark[k], 0.01 * shading.dark[k]) << k;
        ASSERT_NEAR(c.white_line[k], shading.white[k], 0.01 * shading.white[k]) << k;
        exact += c.white_line[k] == shading.white[k];
    }
    EXPECT_LT(exact, shading.white.size() / 2) << "the noise reaches the reduction";
}

TEST_F(Calibration, ReuseSendsTheStoredRecordAndAsksTheDevice)
{
    ASSERT_EQ(calibrate(), 1);
    const CALI_PARAM first = stored();
    model().clear_shading();
    model().clear_transcript();
    s_.working_calibration = CALI_PARAM{};
    s_.smart_calibration = 1;
    ASSERT_EQ(calibrate(), 1);
    EXPECT_EQ(briefs(),
              (Briefs{"JOB C", "CALI send 300 1", "JOB E", "JOB C", "SHAD send 1 1", "SHAD send 1 0", "JOB E", "SYS",
                      "SYS send", "SYS"}));
    EXPECT_EQ(payload(sent("CALI send 300 1")[0]), first.params);
    EXPECT_EQ(sent("CALI send 300 1")[0].value, 300);
    EXPECT_EQ(payload(sent("SHAD send 1 0")[0]), bytes_of(first.white_line));
    EXPECT_EQ(payload(sent("SYS send")[0])[11] & 1, 1);
    EXPECT_EQ(s_.working_calibration.dark_line, first.dark_line);
    EXPECT_EQ(s_.active_calibration.resolution, 300);

    // Without the smart flag a stored record is never read, but the new one is written.
    CALI_PARAM other = first;
    std::fill(other.white_line.begin(), other.white_line.end(), 7);
    ASSERT_EQ(save_calibration_to_file(&other).code(), 1);
    s_.smart_calibration = 0;
    model().clear_transcript();
    ASSERT_EQ(calibrate(), 1);
    EXPECT_EQ(sent("SWIN send").size(), 2u);
    EXPECT_TRUE(sent("CALI send 300 1").empty());
    EXPECT_EQ(stored().white_line, first.white_line);
}

TEST_F(Calibration, AStoredRecordTheDeviceRejectsIsReplaced)
{
    s_.smart_calibration = 1;
    const std::function<void()> rejections[] = {
        [&] { model().set_calibration_policy(sim::CalibrationPolicy::Never); },
        [&] { model().inject(sim::Injection::refuse(sim::Target::next("CALI"), 5, 0x24)); },
        [&] { model().inject(sim::Injection::refuse(sim::Target::next("SHAD"), 5, 0x24)); },
    };
    for (const auto& reject : rejections) {
        ASSERT_EQ(calibrate(), 1);
        const uintmax_t size = std::filesystem::file_size(file());
        reject();
        model().clear_transcript();
        ASSERT_EQ(calibrate(), 1);
        EXPECT_EQ(sent("SWIN send").size(), 2u) << "a fresh calibration";
        EXPECT_EQ(live_entries(file()), 1);
        EXPECT_EQ(std::filesystem::file_size(file()), size) << "rewritten in place";
        model().set_calibration_policy(sim::CalibrationPolicy::AfterUpload);
    }
}

// A well-formed stored record that cannot calibrate the scan was used as it was: all-white or
// all-black images called successes. Such a record is made again and replaced.
TEST_F(Calibration, AStoredRecordThatDoesNotFitTheScanIsMadeAgain)
{
    use_calibrator_list({1200, 600, 300});
    s_.x_resolution = 150;
    s_.smart_calibration = 1;
    engine([](sim::ChartScanEngine& e) { e.set_chart(sim::flat_chart(0.8)); });
    ASSERT_EQ(calibrate(), 1);
    const CALI_PARAM good = stored();
    ASSERT_GT(good.pixels, 1000u);
    const auto fill = [](std::vector<uint16_t>& line, uint16_t v) { std::fill(line.begin(), line.end(), v); };
    struct Case {
        const char* what;
        std::function<void(CALI_PARAM&)> spoil;
    };
    const Case cases[] = {
        {"lines of 2 pixels",
         [](CALI_PARAM& c) {
             c.pixels = 2;
             c.line_bytes = 12;
             c.dark_line.resize(6);
             c.white_line.resize(6);
         }},
        {"dark 65535", [&](CALI_PARAM& c) { fill(c.dark_line, 65535); }},
        {"dark equal to white", [](CALI_PARAM& c) { c.dark_line = c.white_line; }},
        {"dark 0, white barely above", [&](CALI_PARAM& c) { fill(c.dark_line, 0), fill(c.white_line, 1000); }},
        {"one sample of dark above white",
         [](CALI_PARAM& c) {
             c.dark_line[c.dark_line.size() / 2] = static_cast<uint16_t>(c.white_line[c.white_line.size() / 2] + 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CALI_PARAM bad = good;
        c.spoil(bad);
        ASSERT_EQ(save_calibration_to_file(&bad).code(), 1);
        model().clear_shading();
        model().clear_transcript();
        ASSERT_EQ(calibrate(), 1);
        EXPECT_EQ(sent("SWIN send").size(), 2u) << "calibrated again";
        EXPECT_EQ(off_level(scan_page(8)), 0);
        const CALI_PARAM now = stored();
        EXPECT_EQ(now.dark_line, good.dark_line) << "and replaced";
        EXPECT_EQ(now.white_line, good.white_line);
        EXPECT_EQ(live_entries(file()), 1);
    }

    // What a sound device gives is reused: the ideal sensor's zero dark and full-scale white too.
    for (const sim::Sensor sensor : {sim::Sensor::Realistic, sim::Sensor::Ideal}) {
        engine([&](sim::ChartScanEngine& e) { e.set_sensor(sensor); });
        s_.smart_calibration = 0;
        ASSERT_EQ(calibrate(), 1);
        s_.smart_calibration = 1;
        model().clear_transcript();
        ASSERT_EQ(calibrate(), 1);
        EXPECT_TRUE(sent("SWIN send").empty()) << (sensor == sim::Sensor::Ideal ? "ideal" : "realistic");
    }
}

TEST_F(Calibration, FailuresAfterTheStartStopTheDevice)
{
    struct Case {
        const char* what;
        std::function<void()> inject;
        int result;
        size_t senses;
    };
    const Case cases[] = {
        {"1025 lines", [&] { engine([](auto& e) { e.set_geometry_fault({.height = 1025}); }); }, -1008, 0},
        {"no pixels", [&] { engine([](auto& e) { e.set_geometry_fault({.width = 0}); }); }, -1008, 0},
        {"a short page", [&] { engine([](auto& e) { e.set_geometry_fault({.end_after = 100}); }); }, -1008, 0},
        {"a device error",
         [&] { engine([](auto& e) { e.add_status_fault({.kind = sim::StatusFault::Kind::Error}); }); }, -502, 0},
        {"a refused scan", [&] { model().inject(sim::Injection::refuse(sim::Target::next("SCAN"), 3, 2)); }, -1003002,
         1},
        {"a refused sense read",
         [&] {
             model().inject(sim::Injection::refuse(sim::Target::next("SCAN"), 3, 2));
             model().inject(sim::Injection::refuse(sim::Target::next("SENS"), 5, 0x20));
         },
         -1008, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.inject();
        model().clear_transcript();
        EXPECT_EQ(calibrate(), c.result);
        const Briefs b = briefs();
        const auto scan = std::find(b.begin(), b.end(), "SCAN");
        EXPECT_NE(std::find(scan, b.end(), "STOP"), b.end());
        EXPECT_NE(std::find(scan, b.end(), "JOB E"), b.end());
        EXPECT_EQ(static_cast<size_t>(std::count(b.begin(), b.end(), "SENS")), c.senses);
        EXPECT_EQ(g()->job_id, 0u);
        EXPECT_EQ(g()->scan_started, 0);
        EXPECT_TRUE(s_.working_calibration.dark_samples.empty());
        EXPECT_EQ(s_.active_calibration.resolution, 0) << "nothing was applied";
        engine([](auto& e) { e.set_geometry_fault({}); });
    }
}

TEST_F(Calibration, NoCalibratorResolutionSendsNothing)
{
    use_calibrator_list({});
    EXPECT_EQ(calibrate(), -1008);
    EXPECT_TRUE(briefs().empty());
}

// The file is a cache. A calibration that could not be stored, or a store that could not be
// read, once failed every scan with -2003 (a FIFO in its place held the scan for ever); the scan
// now goes on with the calibration just made, and whatever lies in the file's place stays.
TEST_F(Calibration, AStoreThatCannotBeUsedLeavesTheScanWithTheFreshCalibration)
{
    ASSERT_EQ(calibrate(), 1);
    const Bytes stored_before = read_bytes(file());
    const auto failing = [](auto change) {
        ShdFileOps o = shd_file_default_ops();
        change(o);
        return o;
    };
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::optional<ShdFileOps> ops;
    };
    const Case cases[] = {
        {"a failed write-back", {}, failing([](ShdFileOps& o) {
             o.rename = [](const char*, const char*) { return -1; };
         })},
        {"a full disk", {}, failing([](ShdFileOps& o) {
             o.write = [](const void*, size_t, FILE*) -> size_t { return errno = ENOSPC, 0; };
         })},
        {"an unreadable file", {}, failing([](ShdFileOps& o) {
             o.open_read = [](const char*) -> FILE* { return errno = EACCES, nullptr; };
         })},
        {"no writable folder", [&] { set_folder(""); }, std::nullopt},
        {"a dangling symbolic link", [&] { fs::remove(file()), fs::create_symlink(dir_.file("gone/x.dat"), file()); },
         std::nullopt},
        {"a FIFO", [&] { fs::remove(file()), ::mkfifo(file().c_str(), 0600); }, std::nullopt},
        {"a folder", [&] { fs::remove(file()), fs::create_directory(file()); }, std::nullopt},
    };
    s_.smart_calibration = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s_.exposure_ratio = 110; // a key the store does not hold
        if (c.arrange) c.arrange();
        std::optional<ScopedFileOps> scoped;
        if (c.ops) scoped.emplace(*c.ops);
        model().clear_shading();
        model().clear_transcript();
        auto calibrated = std::async(std::launch::async, [&] { return calibrate(); });
        if (calibrated.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "the calibration blocks";
            const int writer = ::open(file().c_str(), O_WRONLY | O_NONBLOCK);
            calibrated.wait();
            if (writer >= 0) ::close(writer);
        }
        EXPECT_EQ(calibrated.get(), 1);
        scoped.reset();
        EXPECT_EQ(sent("SWIN send").size(), 2u) << "a fresh calibration";
        EXPECT_TRUE(model().calibration_valid()) << "handed to the device";
        EXPECT_EQ(s_.active_calibration.exposure_ratio, 110);
        if (fs::is_regular_file(file())) {
            EXPECT_EQ(read_bytes(file()), stored_before);
        } else {
            EXPECT_TRUE(fs::is_symlink(file()) || fs::is_fifo(file()) || fs::is_directory(file()));
        }
        EXPECT_FALSE(exists(file() + CALI_CORRUPT_SUFFIX));
        set_folder(dir_.path());
        if (!fs::is_regular_file(file())) {
            fs::remove(file());
            write_bytes(file(), stored_before);
        }
    }
}

class FeederCalibration : public Calibration {
protected:
    std::string profile() const override { return "feeder"; }
};

TEST_F(FeederCalibration, BothSidesGetTheFrontLineAndZeros)
{
    s_.source = 0x08;
    ASSERT_EQ(calibrate(), 1);
    const CALI_PARAM& c = s_.working_calibration;
    for (const auto& [brief, line] : {std::pair{"SHAD send 3 1", &c.dark_line}, {"SHAD send 3 0", &c.white_line}}) {
        const auto tx = sent(brief);
        ASSERT_EQ(tx.size(), 1u) << brief;
        Bytes want = bytes_of(*line);
        want.resize(2 * want.size(), 0);
        EXPECT_EQ(payload(tx[0]), want) << brief;
    }
    EXPECT_EQ(sent("PAR")[0].data[10], 3) << "both sides";
}

TEST_F(Calibration, AFlatTargetScansFlat)
{
    use_calibrator_list({1200, 600, 300});
    s_.x_resolution = 150;
    engine([](sim::ChartScanEngine& e) { e.set_chart(sim::flat_chart(0.8)); });
    ASSERT_EQ(calibrate(), 1);
    EXPECT_EQ(s_.working_calibration.resolution, 300);
    EXPECT_EQ(off_level(scan_page(8)), 0);

    // After a reuse, which alone gives the device its shading.
    model().clear_shading();
    model().clear_transcript();
    s_.smart_calibration = 1;
    ASSERT_EQ(calibrate(), 1);
    EXPECT_TRUE(sent("SWIN send").empty());
    EXPECT_EQ(off_level(scan_page(8)), 0);

    // Negative controls: no shading shows the sensor's fall-off, swapped levels are far off.
    model().clear_shading();
    const Bytes raw = scan_page(1);
    const size_t width = raw.size() / 3;
    for (size_t ch = 0; ch < 3; ++ch) {
        const double centre = raw[3 * (width / 2) + ch];
        EXPECT_LT(raw[ch], 0.8 * centre) << ch;
        EXPECT_LT(raw[3 * (width - 1) + ch], 0.8 * centre) << ch;
    }
    ASSERT_EQ(calibrate(), 1);
    model().swap_shading_levels();
    EXPECT_GT(off_level(scan_page(1)), 0);
}

TEST_F(Calibration, RepeatedCalibrationsReleaseEverything)
{
    s_.x_resolution = 75;
    for (int i = 0; i < 20; ++i) {
        if (i % 2 == 1) engine([](auto& e) { e.set_geometry_fault({.end_after = 10}); });
        if (i % 4 == 3) model().inject(sim::Injection::refuse(sim::Target::next("PAR"), 5, 0x24));
        const int want[] = {1, -1008, 1, -1005036};
        EXPECT_EQ(calibrate(), want[i % 4]) << i;
        engine([](auto& e) { e.set_geometry_fault({}); });
    }
}

} // namespace
