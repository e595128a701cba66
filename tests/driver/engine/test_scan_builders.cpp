// The scan-setting builders on a device record opened from the simulated scanner: frames,
// resolutions, gamma and halftone data, and the attributes they refuse before any traffic.
#include "driver_utils.h"
#include "halftone.h"
#include "image_pipeline.h"
#include "le_bytes.h"
#include "magnification_module.h"
#include "param_convert.h"
#include "scan_setting.h"
#include "scan_start.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace lftest;

class ScanBuilders : public ScannerTest {
protected:
    void TearDown() override
    {
        for (IMAGE_SETTING* side : {&s_.front_side, &s_.back_side}) vMyGlobalFree(nullptr, &side->gamma_block);
        SingleBitEpilogue(nullptr, &s_.halftone);
        free_magnification_correction_module(&s_);
        ip_release(&s_);
        ScannerTest::TearDown();
    }
    static stScannerAttri attributes(uint16_t planes, uint16_t bits, uint16_t resolution, stExtFrame frame)
    {
        stScannerAttri a{};
        a.ColorPlanes = planes;
        a.BitsPerPixel = bits;
        a.Resolution = resolution;
        a.ScanSource = 1;
        a.HalftoneType = 1;
        a.HalftonePattern = 5;
        a.ImageEnhanced = 0x20;
        a.ExtFrame = frame;
        return a;
    }
    int basic(stScannerAttri& a) { return get_basic_scan_setting(g(), &a, &s_).code(); }

    SCAN_SETTING s_{};
};

TEST_F(ScanBuilders, FramesAreClampedAndRepaired)
{
    struct Case {
        const char* name;
        stFrame16 frame;
        stExtFrame ext;
        stExtFrame want;
    };
    const Case cases[] = {
        {"right beyond the media", {0, 0, 9000, 1000}, {}, {0, 0, 8499, 1000}},
        {"top below bottom", {0, 500, 999, 200}, {}, {0, 0, 999, 200}},
        {"an ordinary frame", {}, {100, 200, 3199, 1599}, {100, 200, 3199, 1599}},
        // The last thousandth inside the glass: its far edges are inclusive.
        {"top and bottom beyond the media", {}, {0, 20000, 999, 30000}, {0, 0, 999, 11699}},
        {"left and right beyond the media", {}, {9000, 0, 9500, 999}, {0, 0, 8499, 999}},
        {"bottom beyond, top inside", {}, {0, 300, 999, 30000}, {0, 300, 999, 11699}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = attributes(14, 8, 300, c.ext);
        a.Frame = c.frame;
        const stExtFrame f = get_repaired_scan_frame(g(), &a);
        EXPECT_EQ(f.left, c.want.left);
        EXPECT_EQ(f.top, c.want.top);
        EXPECT_EQ(f.right, c.want.right);
        EXPECT_EQ(f.bottom, c.want.bottom);
        ASSERT_EQ(basic(a), 1);
        EXPECT_EQ(s_.front_side.output_lines, (c.want.bottom - c.want.top + 1) * 300 / 1000);
        EXPECT_EQ(s_.front_side.output_width, (c.want.right - c.want.left + 1) * 300 / 1000);
        EXPECT_EQ(s_.frame.right, c.want.right);
    }
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScanBuilders, AMirroredMediaScansFromTheOtherEdge)
{
    model().edit([](sim::ScannerRecords& r) { r.attributes[0][1] = 1; });
    reopen_scanner();
    auto a = attributes(14, 8, 300, {100, 0, 3199, 1599});
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.frame.left, 8500u - 3199u - 1u);
    EXPECT_EQ(s_.frame.right, 8500u - 100u - 1u);
    EXPECT_EQ(s_.front_side.mirror, 1);
    EXPECT_EQ(s_.front_side.scan_start, 5300u * 300 / 1000);
    EXPECT_EQ(s_.front_side.scan_end, 8400u * 300 / 1000);
    EXPECT_EQ(s_.front_side.output_width, 930u);
}

class CropScaling : public ScanBuilders {
protected:
    std::string profile() const override { return "submodel1"; }
};

TEST_F(CropScaling, TheFrameIsScaledFromItsLeadingEdge)
{
    auto a = attributes(14, 8, 300, {1000, 0, 3199, 1599});
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.frame.left, 894u);
    EXPECT_EQ(s_.frame.right, 2860u);
    EXPECT_EQ(s_.front_side.output_width, 660u) << "the host's frame sets the output";

    model().edit([](sim::ScannerRecords& r) { r.attributes[0][1] = 1; });
    reopen_scanner();
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.frame.right, 6705u);
    EXPECT_EQ(s_.frame.left, 4738u);
}

TEST_F(CropScaling, StoredCalibrationFollowsOnlyTheForceBit)
{
    EXPECT_EQ(is_scan_smart_calibration(g(), 2, 0x100), 1);
    EXPECT_EQ(is_scan_smart_calibration(g(), 0, 0), 0);
}

TEST_F(ScanBuilders, HighQualityForbidsAStoredCalibrationOnOtherModels)
{
    EXPECT_EQ(is_scan_smart_calibration(g(), 2, 0x100), 0);
    EXPECT_EQ(is_scan_smart_calibration(g(), 2, 0x20), 1);
    EXPECT_EQ(is_scan_smart_calibration(g(), 1, 0x20), 0);
    auto a = attributes(14, 8, 300, {0, 0, 999, 999});
    a.byForceCalibration = 2;
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.smart_calibration, 1);
}

TEST_F(ScanBuilders, ResolutionsOfPreviewsAndKeptRequests)
{
    s_.scan_mode.ScanMode = 1;
    s_.scan_mode.cEnableBQMScan = 1;
    auto a = attributes(14, 8, 300, {0, 0, 999, 999});
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.x_resolution, 300u);
    EXPECT_EQ(s_.y_resolution, 100u);

    s_.scan_mode = {};
    for (uint16_t kept : {1000, 1200}) {
        a.Resolution = kept;
        ASSERT_EQ(basic(a), 1);
        EXPECT_EQ(s_.y_resolution, kept);
        EXPECT_EQ(s_.x_resolution, 1200u);
    }
    a.Resolution = 500;
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.y_resolution, 600u);
}

TEST_F(ScanBuilders, SingleBitScansReadEightBits)
{
    auto a = attributes(1, 1, 300, {0, 0, 3209, 999}); // 963 pixels
    ASSERT_EQ(basic(a), 1);
    EXPECT_EQ(s_.depth, 8u);
    EXPECT_EQ(s_.front_side.depth, 8u);
    EXPECT_EQ(s_.front_side.output_width, 963u);
    EXPECT_EQ(s_.front_side.output_row_bytes, 121u);
    EXPECT_EQ(s_.front_side.image_type, uint32_t{IMAGE_TYPE_LINE_ART});
    EXPECT_EQ(s_.halftone_switch, 1);
    EXPECT_EQ(s_.lineart_flag, 1);
    EXPECT_EQ(s_.single_bit_switch, 1);
    scan_output_geometry_t geo{};
    ASSERT_EQ(get_scan_output_geometry(g(), &a, &geo).code(), 1);
    EXPECT_EQ(geo.row_bytes, 121u);
    EXPECT_EQ(geo.lines, 300u);
}

TEST_F(ScanBuilders, ExposureRatioIsClampedToSixteenBits)
{
    struct Case {
        uint16_t planes;
        int32_t exposure[3];
        uint16_t ratio;
        uint16_t want;
    };
    const Case cases[] = {
        {14, {5, 3, 9}, 120, 123},
        {1, {5, 3, 9}, 0, 105},
        {14, {-500, 0, 0}, 0, 0},
        {14, {70000, 70000, 70000}, 100, 65535},
    };
    for (const Case& c : cases) {
        auto a = attributes(c.planes, 8, 300, {0, 0, 999, 999});
        for (int i = 0; i < 3; ++i) a.Exposure[i] = c.exposure[i];
        a.ShrinkableExposureRatio = c.ratio;
        ASSERT_EQ(basic(a), 1);
        EXPECT_EQ(s_.exposure_ratio, c.want) << c.exposure[0];
    }
}

TEST_F(ScanBuilders, GammaTablesAreCopiedWhole)
{
    auto a = attributes(14, 16, 300, {0, 0, 999, 999});
    std::vector<uint16_t> deep(3 * 65536);
    for (size_t i = 0; i < deep.size(); ++i) deep[i] = static_cast<uint16_t>(i * 7 + i / 65536);
    a.NumofGammaEntry = 128;
    a.GammaTable = reinterpret_cast<const uint8_t*>(deep.data());
    ASSERT_EQ(basic(a), 1);
    ASSERT_EQ(get_adv_scan_setting(g(), &a, &s_, 0).code(), 1);
    const GAMMA_INFO& set = s_.front_side.gamma;
    EXPECT_EQ(set.entries, 65536u);
    EXPECT_EQ(set.bytes_per_entry, 2);
    EXPECT_EQ(set.channel_mask, 7);
    const auto* base = static_cast<const uint8_t*>(set.table[0]);
    EXPECT_EQ(static_cast<const uint8_t*>(set.table[1]) - base, 65536 * 2);
    EXPECT_EQ(static_cast<const uint8_t*>(set.table[2]) - base, 2 * 65536 * 2);
    EXPECT_EQ(0, std::memcmp(base, deep.data(), 2 * deep.size()));

    auto b = attributes(14, 8, 300, {0, 0, 999, 999});
    std::vector<uint8_t> small(3 * 256);
    for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(i * 13 + i / 256);
    b.GammaTable = small.data();
    ASSERT_EQ(basic(b), 1);
    ASSERT_EQ(get_adv_scan_setting(g(), &b, &s_, 0).code(), 1);
    EXPECT_EQ(s_.front_side.gamma.entries, 256u);
    EXPECT_EQ(s_.front_side.gamma.bytes_per_entry, 1);
    EXPECT_EQ(0, std::memcmp(s_.front_side.gamma.table[2], small.data() + 512, 256));
    EXPECT_EQ(0, std::memcmp(s_.front_side.gamma_block, small.data(), small.size()));

    auto grey = attributes(1, 8, 300, {0, 0, 999, 999});
    grey.GammaTable = small.data();
    ASSERT_EQ(basic(grey), 1);
    ASSERT_EQ(get_adv_scan_setting(g(), &grey, &s_, 0).code(), 1);
    EXPECT_EQ(s_.front_side.gamma.channel_mask, 2);
    EXPECT_EQ(s_.front_side.gamma.table[0], s_.front_side.gamma.table[2]);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScanBuilders, ThresholdMapsStepThroughTheTableTheyHave)
{
    std::vector<uint8_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>((255 - (i & 0xFF)) ^ (i >> 8));
    // The entry codes 4, 16 and 128 stand for tables of 1024, 4096 and 65536 entries; the map takes
    // every step-th byte. The table holds what the code implies: the bytes up to the map's last
    // one, or the gamma set's 256 (65536) entries when those reach further.
    struct Case {
        uint16_t entry_code;
        size_t step;
        uint64_t reach;
    };
    for (const Case c :
         {Case{4, 4, 1021}, Case{16, 16, 4081}, Case{0, 1, 256}, Case{1, 1, 256}, Case{128, 256, 65536}}) {
        SCOPED_TRACE(testing::Message() << "entry code " << c.entry_code);
        auto a = attributes(1, 1, 300, {0, 0, 999, 999});
        a.ImageEnhanced = 0x08;
        a.NumofGammaEntry = c.entry_code;
        a.GammaTable = table.data();
        EXPECT_EQ(get_gamma_table_reach(&a), c.reach);
        ASSERT_EQ(basic(a), 1);
        ASSERT_EQ(get_halftone_setting(g(), &a, &s_, 0).code(), 1);
        ASSERT_NE(s_.halftone, nullptr);
        for (size_t i = 0; i < 256; ++i) ASSERT_EQ(s_.threshold_map[i], table[i * c.step]) << i;
    }
    auto plain = attributes(1, 1, 300, {0, 0, 999, 999});
    ASSERT_EQ(basic(plain), 1);
    ASSERT_EQ(get_halftone_setting(g(), &plain, &s_, 0).code(), 1);
    for (size_t i = 0; i < 256; ++i) ASSERT_EQ(s_.threshold_map[i], i);
}

TEST_F(ScanBuilders, AttributesTheDriverCannotDeliverAreRefusedBeforeAnyTraffic)
{
    const stExtFrame frame{0, 0, 999, 999};
    struct Case {
        const char* name;
        stScannerAttri a;
    };
    std::vector<Case> cases = {
        {"four bits", attributes(14, 4, 300, frame)},
        {"ten bits", attributes(1, 10, 300, frame)},
        {"single-bit colour", attributes(14, 1, 300, frame)},
        {"two colour channels", attributes(6, 8, 300, frame)},
        {"no channels", attributes(0, 8, 300, frame)},
        {"resolution 0", attributes(14, 8, 0, frame)},
        {"no pixel in the frame", attributes(14, 8, 1, {0, 0, 99, 99})},
        {"wider than the pipeline", attributes(14, 8, 65535, {0, 0, 8499, 99})},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(basic(c.a), -1010);
        scan_output_geometry_t geo{};
        EXPECT_EQ(get_scan_output_geometry(g(), &c.a, &geo).code(), -1010);
    }

    // The builders of gamma and halftone data.
    std::vector<uint8_t> table(65536 * 2);
    auto small = attributes(14, 8, 300, frame);
    small.GammaTable = table.data();
    ASSERT_EQ(basic(small), 1);
    // The table holds the size the entry code implies.
    EXPECT_EQ(get_gamma_table_reach(&small), 3u * 256);
    EXPECT_EQ(get_adv_scan_setting(g(), &small, &s_, 0).code(), 1);
    EXPECT_EQ(s_.front_side.gamma.entries, 256u);
    EXPECT_EQ(get_adv_scan_setting(g(), &small, &s_, 0).code(), 1) << "a second set-up replaces the first";
    auto short_deep = attributes(1, 16, 300, frame);
    short_deep.GammaTable = table.data();
    short_deep.NumofGammaEntry = 0;
    ASSERT_EQ(basic(short_deep), 1);
    EXPECT_EQ(get_adv_scan_setting(g(), &short_deep, &s_, 0).code(), -1010);
    EXPECT_EQ(s_.front_side.gamma_block, nullptr);

    std::vector<uint8_t> pattern(17 * 17, 128);
    auto big_pattern = attributes(1, 1, 300, frame);
    big_pattern.HalftoneType = 4;
    big_pattern.UserPattern = pattern.data();
    big_pattern.UserPatternSize = 17;
    ASSERT_EQ(basic(big_pattern), 1);
    EXPECT_EQ(get_halftone_setting(g(), &big_pattern, &s_, 0).code(), -1010);
    big_pattern.UserPatternSize = 16;
    EXPECT_EQ(get_halftone_setting(g(), &big_pattern, &s_, 0).code(), 1);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScanBuilders, MediaWithoutLimitsOrResolutionsAreRefused)
{
    auto a = attributes(14, 8, 300, {0, 0, 999, 999});
    model().edit([](sim::ScannerRecords& r) { put_u32le(r.attributes[0].data() + 16, 0); });
    reopen_scanner();
    EXPECT_EQ(basic(a), -1010);

    model().use_profile("default");
    model().edit([](sim::ScannerRecords& r) { r.resolutions[0].fill(0); });
    reopen_scanner();
    EXPECT_EQ(basic(a), -1010);

    // A media 20 inches long at 65535 dpi has more lines than the pipeline takes.
    model().use_profile("default");
    model().edit([](sim::ScannerRecords& r) { put_u32le(r.attributes[0].data() + 12, 96000); });
    reopen_scanner();
    auto tall = attributes(1, 8, 65535, {0, 0, 999, 19999});
    EXPECT_EQ(basic(tall), -1010);
    tall.ExtFrame.bottom = 9999;
    EXPECT_EQ(basic(tall), 1);
    EXPECT_TRUE(briefs().empty());
}

} // namespace
