// The magnification correction's parameters: from hand-filled device records, and from the
// simulated scanner opened through the real open sequence.
#include "magnification_module.h"

#include "external_config.h"
#include "gl_scanner.h"
#include "kzd_records.h"
#include "le_bytes.h"
#include "scan_setting.h"
#include "scanner_profiles.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kFlatbed = 0;
constexpr uint16_t kTransparency = 4;

// A colour setting at `dpi` whose front frame covers scan pixels [start, end].
std::unique_ptr<SCAN_SETTING> colour_setting(uint32_t dpi, uint32_t start, uint32_t end)
{
    auto s = std::make_unique<SCAN_SETTING>();
    s->color_planes = 14;
    s->depth = 8;
    s->x_resolution = dpi;
    s->front_side.scan_start = start;
    s->front_side.scan_end = end + 1;
    return s;
}

// The device records of the "submodel2" profile, without a device.
std::unique_ptr<GLScanner> submodel2_record()
{
    const auto r = sim::scanner_profile("submodel2").value();
    auto g = std::make_unique<GLScanner>();
    for (size_t m = 0; m < sim::kMediaKinds; ++m) g->attributes[m] = r.attributes[m];
    g->x_axis_magnification = r.xsmc;
    g->rgb_alignment = r.crrg;
    return g;
}

TEST(MagnificationParameters, FromTheDeviceRecords)
{
    auto g = submodel2_record();
    stScannerAttri attr{};
    CoordinateCorrectionParameter p{};
    ASSERT_TRUE(init_magnification_correction_coords(g.get(), &attr, &p));
    EXPECT_EQ(p.coords_data.table_length, 40800u);
    EXPECT_EQ(p.coords_data.coords_resolution, 4800u);
    EXPECT_EQ(p.coords_data.measured[30], 40800u);
    init_magnification_rgb_alignment_settings(g.get(), &p);
    // d2-3 = 4060 and d0-1 = 20; rl 2, gl 5, bl 3 and rr -1, gr 4, br 4.
    EXPECT_EQ(p.pixel_position_left, 200u);
    EXPECT_EQ(p.pixel_position_right, 40600u);
    const double left[3] = {p.red_offset_left, p.green_offset_left, p.blue_offset_left};
    const double right[3] = {p.red_offset_right, p.green_offset_right, p.blue_offset_right};
    EXPECT_EQ(std::vector<double>(left, left + 3), (std::vector<double>{0.5, 0.0, 0.0}));
    EXPECT_EQ(std::vector<double>(right, right + 3), (std::vector<double>{0.0, 0.3, 0.1}));

    // Grey takes one channel; anything but 16 bits is corrected as 8; a frame ending at pixel 0
    // has no last pixel and is refused.
    auto s = colour_setting(600, 30, 99);
    s->color_planes = 1;
    s->depth = 12;
    init_magnification_correction_settings(g.get(), s.get(), &p);
    EXPECT_EQ(p.settings.channel, 1);
    EXPECT_EQ(p.settings.depth, 8);
    EXPECT_EQ(p.settings.end_x, 99u);
    s->front_side.scan_end = 0;
    init_magnification_correction_settings(g.get(), s.get(), &p);
    EXPECT_FALSE(MagnificationCorrectionValidate(&p));

    // An alignment record of 0xFF bytes, or the configuration flag, leaves the alignment off.
    std::string dir = fs::temp_directory_path() / "hmcfg.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::ofstream(dir + "/" + EXTERNAL_CONFIG_FILE) << "ENV_VEK_DRIVER_DISABLE_HORIZONTAL_MAGNIFICATION_OF_RGB=1\n";
    for (bool flag : {false, true}) {
        g = submodel2_record();
        if (flag)
            ExternalConfig_Init((dir + "/").c_str());
        else
            g->rgb_alignment.fill(0xFF);
        CoordinateCorrectionParameter q{};
        q.coords_data.table_length = 40800;
        init_magnification_rgb_alignment_settings(g.get(), &q);
        EXPECT_EQ(q.pixel_position_left + q.pixel_position_right, 0u) << flag;
        EXPECT_EQ(q.red_offset_left + q.green_offset_right, 0.0) << flag;
    }
    ExternalConfig_Init(nullptr);
    fs::remove_all(dir);
}

// The module against the simulated scanner with the magnification profile.
class MagnificationModule : public lftest::ScannerTest {
protected:
    std::string profile() const override { return "submodel2"; }
    void TearDown() override
    {
        if (setting_) free_magnification_correction_module(setting_.get());
        ScannerTest::TearDown();
    }
    // Runs the module on a colour frame [start, end] at `dpi`.
    int run(uint32_t dpi, uint32_t start, uint32_t end, uint16_t source = kFlatbed)
    {
        if (setting_) free_magnification_correction_module(setting_.get());
        setting_ = colour_setting(dpi, start, end);
        stScannerAttri attr{};
        attr.ScanSource = source;
        return init_magnification_correction_module(g(), &attr, setting_.get()).code();
    }
    void edit_and_reopen(const std::function<void(sim::ScannerRecords&)>& change)
    {
        model().edit(change);
        reopen_scanner();
    }
    const horizontal_magnification_correction_t* context() const { return setting_->magnification; }
    std::unique_ptr<SCAN_SETTING> setting_;
};

TEST_F(MagnificationModule, TheProfileBuildsTheModelFromTheDevice)
{
    // At 600 dpi the table steps by 8; pixels 100 to 5000 lie clear of both alignment zones
    // (table rows below 200 and from 40600 on).
    ASSERT_EQ(run(600, 100, 5000), 1);
    ASSERT_NE(context(), nullptr);
    const auto& p = context()->parameters;
    EXPECT_EQ(p.coords_data.table_length, 40800u);
    EXPECT_EQ(p.coords_data.ideal[17], 17u * 1360);
    EXPECT_EQ(p.pixel_position_left, 200u);
    EXPECT_EQ(p.settings.channel, 3);
    EXPECT_EQ(setting_->corrected_start_x, 100u);
    EXPECT_EQ(setting_->corrected_end_x, 5000u);
    EXPECT_TRUE(briefs().empty()); // everything comes from the records read at open

    // The transparency unit: magnification on, alignment off.
    ASSERT_EQ(run(600, 0, 899, kTransparency), 1);
    ASSERT_NE(context(), nullptr);
    EXPECT_EQ(context()->parameters.coords_data.table_length, 7200u);
    EXPECT_EQ(context()->parameters.pixel_position_left, 0u);

    // Marks 10 to 20 measured 24 further apart each: those ten segments zoom by 1384/1360.
    edit_and_reopen([](sim::ScannerRecords& r) {
        for (int i = 0; i < 31; ++i)
            put_u16le(r.xsmc.data() + 104 + 2 * i,
                      static_cast<uint16_t>(1360 * i + 24 * std::min(std::max(i - 10, 0), 10)));
    });
    ASSERT_EQ(run(600, 100, 5000), 1);
    ASSERT_NE(context(), nullptr);
    for (int s = 0; s < 30; ++s) EXPECT_EQ(context()->zoom[s], s >= 10 && s < 20 ? 1384.0 / 1360.0 : 1.0) << s;
}

TEST_F(MagnificationModule, UnusableDeviceDataLeaveNoContext)
{
    struct Case {
        const char* name;
        std::function<void(sim::ScannerRecords&)> change;
        uint32_t dpi, start, end;
    };
    const Case cases[] = {
        {"no coordinates", [](auto& r) { put_u16le(r.xsmc.data() + 4, 0); }, 600, 100, 5000},
        {"scan above the coordinates", [](auto& r) { put_u16le(r.xsmc.data() + 4, 1200); }, 2400, 100, 5000},
        {"frame narrower than a pixel", [](auto&) {}, 600, 100, 99},
        {"frame past the table", [](auto&) {}, 600, 100, 5100},
        {"table length past 32 bits", // (2^30 + 100) x 4800 would wrap to 480000
         [](auto& r) {
             put_u32le(r.attributes[0].data() + 4, 1);
             put_u32le(r.attributes[0].data() + 16, (1u << 30) + 100);
         },
         600, 100, 5000},
    };
    for (const auto& c : cases) {
        edit_and_reopen(c.change);
        EXPECT_EQ(run(c.dpi, c.start, c.end), 1) << c.name;
        EXPECT_EQ(context(), nullptr) << c.name;
        EXPECT_EQ(setting_->corrected_start_x, 0u) << c.name;
        model().edit([](sim::ScannerRecords& r) { r = sim::scanner_profile("submodel2").value(); });
    }
    ASSERT_TRUE(model().use_profile("hostile"));
    reopen_scanner();
    EXPECT_EQ(run(600, 100, 5000), 1);
    EXPECT_EQ(context(), nullptr);
}

} // namespace
