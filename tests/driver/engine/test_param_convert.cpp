// The device parameter conversion on hand-filled device records: unit conversions, the device's
// resolution lists, the scan job's parameter block and window byte for byte, the device gamma
// tables and the status table.
#include "param_convert.h"

#include "external_config.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "scan_setting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMax = UINT32_MAX;

void put_list(GLScanner& g, int media, size_t at, std::initializer_list<uint16_t> values)
{
    size_t i = 0;
    for (uint16_t v : values) put_u16le(g.resolutions[media].data() + at + 2 * i++, v);
}

// Flatbed and transparency present, 4800 dpi, 40800 × 56160 pixels, 32 sampling lines; the
// flatbed lists [1200, 600, 300, 150, 75, 0 …] and, for the second walk, [2400, 1200, 800, 0 …].
std::unique_ptr<GLScanner> scanner()
{
    auto g = std::make_unique<GLScanner>();
    for (int m : {0, 1}) {
        uint8_t* a = g->attributes[m].data();
        put_u32le(a + 4, 4800);
        put_u32le(a + 8, 4800);
        put_u32le(a + 12, 56160);
        put_u32le(a + 16, 40800);
        put_u32le(a + 20, 1);
        a[31] = 32;
    }
    put_list(*g, 0, 8, {1200, 600, 300, 150, 75});
    put_list(*g, 0, 72, {2400, 1200, 800});
    return g;
}

// The reference setting: flatbed colour 8-bit at 300 dpi, frame 0..3199 × 0..1599.
std::unique_ptr<SCAN_SETTING> reference_setting()
{
    auto s = std::make_unique<SCAN_SETTING>();
    s->color_planes = 14;
    s->color_switch = 1;
    s->depth = 8;
    s->x_resolution = 300;
    s->y_resolution = 300;
    s->frame = {0, 0, 3199, 1599};
    s->exposure_ratio = 100;
    s->quality = 1;
    s->sample_lines = 1;
    return s;
}

std::vector<uint8_t> job_bytes(GLScanner* g, const SCAN_SETTING* s)
{
    ScanJob job;
    job.record.fill(0xEE); // the filler clears the job first
    convert_to_scan_job(g, s, &job);
    return std::vector<uint8_t>(job.record.begin(), job.record.begin() + 72);
}

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

TEST(ParameterConversion, PixelsAndFrames)
{
    EXPECT_EQ(PixeltoInchIn1000(5000, 0), 0u);
    EXPECT_EQ(PixeltoInchIn1000(40800, 4800), 8500u);
    EXPECT_EQ(PixeltoInchIn1000(kMax, 1), kMax) << "saturates";

    const stExtFrame inch{0, 0, 999, 999};
    EXPECT_EQ(get_scan_width(300, inch), 300u);
    EXPECT_EQ(get_scan_height(300, inch), 300u);
    EXPECT_EQ(get_scan_start(300, inch), 0u);
    EXPECT_EQ(get_scan_end(300, inch), 300u);
    EXPECT_EQ(get_scan_start(600, stExtFrame{501, 0, 999, 0}), 300u) << "truncated";
    // Backwards frames are empty; frames near 2^32 saturate instead of wrapping.
    EXPECT_EQ(get_scan_width(300, stExtFrame{10, 10, 9, 9}), 0u);
    EXPECT_EQ(get_scan_height(300, stExtFrame{10, 10, 9, 9}), 0u);
    EXPECT_EQ(get_scan_width(4800, stExtFrame{0, 0, kMax, 0}), kMax);
    EXPECT_EQ(get_scan_width(1000, stExtFrame{0, 0, kMax - 1, 0}), kMax);
    EXPECT_EQ(get_scan_end(4800, stExtFrame{0, 0, kMax, 0}), kMax);
    EXPECT_EQ(get_scan_height(2, stExtFrame{0, 0, 0, kMax}), 8589934u) << "a product above 32 bits";

    EXPECT_EQ(get_scan_bytes(0, 1, 1001), 126u);
    EXPECT_EQ(get_scan_bytes(1, 1, 1001), 378u);
    EXPECT_EQ(get_scan_bytes(0, 8, 1001), 1001u);
    EXPECT_EQ(get_scan_bytes(1, 16, 1001), 6006u);
    EXPECT_EQ(get_scan_bytes(0, 12, 1001), 1001u);
    EXPECT_EQ(get_scan_bytes(1, 16, kMax), kMax);
}

TEST(ParameterConversion, SmallConversions)
{
    EXPECT_EQ(get_scan_quality(0x100 | 0x80), 2);
    EXPECT_EQ(get_scan_quality(0x80), 0);
    EXPECT_EQ(get_scan_quality(0), 1);
    EXPECT_EQ(get_min_of_exposure_time(14, 30, 10, 20), 10u);
    EXPECT_EQ(get_min_of_exposure_time(1, 30, 10, 20), 30u);
    EXPECT_EQ(get_multiple_exposure_pixels_per_segment(0, 100), 0);
    EXPECT_EQ(get_multiple_exposure_pixels_per_segment(3, -100), -33);
    EXPECT_EQ(get_multiple_exposure_pixels_per_segment(-1, INT32_MIN), INT32_MAX);
    EXPECT_EQ(DrvResult::refusal(3, 2).code(), -1003002);
    SCAN_SETTING s{};
    s.scan_mode.ScanMode = 0x03;
    EXPECT_EQ(is_preview_scan(&s), 1);
    s.scan_mode.ScanMode = 0x02;
    EXPECT_EQ(is_preview_scan(&s), 0);
}

TEST(ParameterConversion, TheResolutionWalk)
{
    auto g = scanner();
    const std::pair<uint32_t, uint32_t> walk[] = {{200, 300}, {3000, 1200}, {50, 75}, {150, 150}, {600, 600}};
    for (auto [request, device] : walk) {
        EXPECT_EQ(get_scanner_resolution(g.get(), 0, request, 0), device) << request;
        EXPECT_EQ(get_scanner_y_resolution(g.get(), 0, request, 0), device) << request;
    }
    // The second list continues from the first's value and keeps it until an entry is taken.
    EXPECT_EQ(get_scanner_resolution(g.get(), 0, 3000, 1), 1200u);
    EXPECT_EQ(get_scanner_resolution(g.get(), 0, 2000, 1), 2400u);
    EXPECT_EQ(get_scanner_resolution(g.get(), 0, 700, 1), 800u);
    EXPECT_EQ(get_scanner_resolution(g.get(), 0, 200, 1), 800u);
    // Requests of 1000 and 1200 dpi keep their y resolution, whether the list has them or not.
    struct Case {
        std::initializer_list<uint16_t> list;
        uint32_t request, x, y;
    };
    const Case cases[] = {
        {{1200, 600, 300}, 1000, 1200, 1000}, {{1200, 600, 300}, 1200, 1200, 1200},
        {{2400, 600, 300}, 1200, 2400, 1200}, {{2400, 600, 300}, 1000, 2400, 1000},
        {{2400, 600, 300}, 1100, 2400, 2400}, {{600, 300}, 1200, 600, 1200},
        {{1000, 500}, 1000, 1000, 1000},      {{1000, 500}, 999, 1000, 1000},
    };
    for (const Case& c : cases) {
        auto h = scanner();
        h->resolutions[0].fill(0);
        put_list(*h, 0, 8, c.list);
        EXPECT_EQ(get_scanner_resolution(h.get(), 0, c.request, 0), c.x) << *c.list.begin() << " " << c.request;
        EXPECT_EQ(get_scanner_y_resolution(h.get(), 0, c.request, 0), c.y) << *c.list.begin() << " " << c.request;
    }
    // The transparency's list is empty.
    EXPECT_EQ(get_scanner_resolution(g.get(), 0x04, 300, 0), 0u);
}

TEST(ParameterConversion, MediaAndTheirFallbacks)
{
    auto g = scanner();
    EXPECT_EQ(get_scanner_media(g.get(), 0), 0);
    EXPECT_EQ(get_scanner_media(g.get(), 0x04), 1);
    // Neither feeder media is present: 3 falls back to 2, which falls back to 3.
    EXPECT_EQ(get_scanner_media(g.get(), 0x02), 3);
    EXPECT_EQ(get_scanner_media(g.get(), 0x08), 3);
    put_u32le(g->attributes[2].data() + 20, 1);
    EXPECT_EQ(get_scanner_media(g.get(), 0x08), 2);
    put_u32le(g->attributes[0].data() + 20, 0);
    EXPECT_EQ(get_scanner_media(g.get(), 0), 2) << "no flatbed: 3, then 2";
}

TEST(ParameterConversion, TheReferenceJobByteForByte)
{
    auto g = scanner();
    auto s = reference_setting();
    EXPECT_EQ(job_bytes(g.get(), s.get()),
              hex("464c420002000000 0000010052415700 000018002c012c01 0000000000000000 c0030000e0010000 "
                  "0064000000010001 0000000000010300 0000e80300000000 0000000000000000"));
    EXPECT_EQ(std::vector<uint8_t>(g->calibration_action.begin(), g->calibration_action.end()),
              std::vector<uint8_t>(32, 0));
}

TEST(ParameterConversion, EverySettingReachesItsByte)
{
    auto g = scanner();
    auto s = reference_setting();
    s->scan_mode.ScanMode = 0x2D; // preview, bits 2, 3 and 5
    s->scan_mode.cEnableUltraSound = 1;
    s->scan_mode.dwScanPaperType = 0x08;
    s->scan_mode.cEnableColorConsistency = 7;
    s->scan_mode.cLightCount = 2;
    s->quality = 2;
    s->exposure_ratio = 0x1234;
    s->depth = 16;
    s->sample_lines = 40;
    g->attributes[0][31] = 16; // the media's most sampling lines
    g->isp_a[0] = 1;
    s->frame = {0, 0, 3336, 1600}; // 1001.1 × 480.3 pixels
    uint8_t table = 0;
    s->front_side.gamma.table[0] = &table; // a device gamma table without the host's switch
    ScanJob job;
    convert_to_scan_job(g.get(), s.get(), &job);
    EXPECT_EQ(job.flags(), 0x102u);
    EXPECT_EQ(job.bits_per_pixel(), 48);
    EXPECT_EQ(job.width(), 1008u) << "1001 raised to a multiple of 8";
    EXPECT_EQ(job.height(), 480u);
    EXPECT_EQ(job.mode_flag(), 1);
    EXPECT_EQ(job.preview(), 1);
    EXPECT_EQ(job.scan_mode_bit2(), 1);
    EXPECT_EQ(job.scan_mode_bit5(), 1);
    EXPECT_EQ(job.paper_type(), 1);
    EXPECT_EQ(job.ultrasound_double_feed(), 1);
    EXPECT_EQ(job.colour_consistency(), 1);
    EXPECT_EQ(job.light_channels(), 3) << "no multiple lights";
    EXPECT_EQ(job.quality(), 2);
    EXPECT_EQ(job.exposure_ratio(), 0x1234);
    EXPECT_EQ(job.sampling_lines(), 16);
    EXPECT_EQ(job.send_gamma(), 1);
    s->gamma_switch = 1;
    g->attributes[0][40] = 1; // multiple lights
    s->bqm_switch = 1;
    s->bqm_exposure = 1200;
    s->bqm_params = {0x1FF, 5, 0x1111, 0x2222, 0x3333, 0x14444};
    s->frame = {0, 0, 999, 1599}; // 300 pixels: the filler raises it to 304
    s->source = 0x04;             // transparency
    convert_to_scan_job(g.get(), s.get(), &job);
    EXPECT_EQ(job.send_gamma(), 0);
    EXPECT_EQ(job.light_channels(), 2);
    EXPECT_EQ(job.exposure(), 1200);
    EXPECT_EQ(job.width(), 304u);
    EXPECT_EQ(job.source(), PAR_SOURCE_FLATBED);
    EXPECT_EQ(job.sides(), 1);
    EXPECT_EQ(job.media(), 1);
    const uint8_t* a = g->calibration_action.data();
    EXPECT_EQ(std::vector<uint8_t>(a + 8, a + 11), (std::vector<uint8_t>{1, 1, 0xFF}));
    EXPECT_EQ(std::vector<uint16_t>({get_u16le(a + 16), get_u16le(a + 18), get_u16le(a + 20), get_u16le(a + 22)}),
              (std::vector<uint16_t>{0x1111, 0x2222, 0x3333, 0x4444}));
    s->source = 0x08;
    convert_to_scan_job(g.get(), s.get(), &job);
    EXPECT_EQ(job.source(), PAR_SOURCE_FEEDER);
    EXPECT_EQ(job.sides(), 3);
    EXPECT_EQ(job.media(), 3);
}

TEST(ParameterConversion, WidthHeightAndSampling)
{
    auto g = scanner();
    auto s = reference_setting();
    // A glass of 1001 × 100 pixels at 4800 dpi. The window is raised to multiples of 8 only where
    // the glass leaves room, at the scan's own resolution.
    put_u32le(g->attributes[0].data() + 16, 1001);
    put_u32le(g->attributes[0].data() + 12, 100);
    struct Case {
        uint32_t dpi;
        stExtFrame frame;
        uint32_t dot_x, dot_y, width, height;
    };
    const Case cases[] = {
        {4800, {0, 0, kMax, kMax}, 0, 0, 1001, 100},  // the frame capped at the glass
        {300, {0, 0, kMax, kMax}, 0, 0, 62, 6},       // 1001 × 300 / 4800, 100 × 300 / 4800
        {4800, {0, 0, 99, 9}, 0, 0, 480, 48},         // multiples of 8 already
        {4800, {0, 0, 100, 10}, 0, 0, 488, 56},       // 484 × 52, raised
        {4800, {100, 5, 203, 14}, 480, 24, 504, 48},  // 499 × 48: 504 still fits
        {4800, {105, 11, 208, 19}, 504, 52, 497, 48}, // 499 × 43: both stop at the glass's edges
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, left " << c.frame.left << ", top " << c.frame.top);
        s->x_resolution = s->y_resolution = c.dpi;
        s->frame = c.frame;
        ScanJob job;
        convert_to_scan_job(g.get(), s.get(), &job);
        EXPECT_EQ(job.dot_x(), c.dot_x);
        EXPECT_EQ(job.dot_y(), c.dot_y);
        EXPECT_EQ(job.width(), c.width);
        EXPECT_EQ(job.height(), c.height);
        EXPECT_LE(job.dot_x() + job.width(), get_glass_width(g.get(), 0, c.dpi));
        EXPECT_LE(job.dot_y() + job.height(), get_glass_length(g.get(), 0, c.dpi));
    }
    s->x_resolution = s->y_resolution = 300;
    put_u32le(g->attributes[0].data() + 16, 40800);
    put_u32le(g->attributes[0].data() + 12, 56160);
    ScanJob job;

    // With the correction on the window spans the corrected range and two more pixels.
    horizontal_magnification_correction_t model{};
    s->magnification = &model;
    s->corrected_start_x = 100;
    s->corrected_end_x = 1100;
    convert_to_scan_job(g.get(), s.get(), &job);
    EXPECT_EQ(job.dot_x(), 100u);
    EXPECT_EQ(job.width(), 1008u) << "1002 raised to a multiple of 8";
    s->corrected_end_x = 97;
    EXPECT_EQ(convert_to_par_width(g.get(), s.get(), 300, true), 0u) << "never negative";
    s->corrected_end_x = kMax;
    s->corrected_start_x = 0;
    EXPECT_EQ(convert_to_par_width(g.get(), s.get(), 300, true), kMax);

    s->sample_lines = 1;
    EXPECT_EQ(convert_to_par_sampling_line(g.get(), s.get()), 1);
    s->sample_lines = 8;
    EXPECT_EQ(convert_to_par_sampling_line(g.get(), s.get()), 8);
    s->sample_lines = 100;
    EXPECT_EQ(convert_to_par_sampling_line(g.get(), s.get()), 32);
    s->color_switch = 0;
    EXPECT_EQ(convert_to_par_bit(g.get(), s.get()), 8);
}

TEST(ParameterConversion, TheMonoCodeOfEveryChannelMask)
{
    auto g = scanner();
    auto s = reference_setting();
    // Colour bits first, then the first channel (bits 8 and 0), the second (9), the third (10).
    const std::pair<uint16_t, uint8_t> masks[] = {
        {14, 0},    {2, 0},     {0x10E, 0}, {1, 1},     {0x100, 1}, {0x300, 1},
        {0x401, 1}, {0x200, 2}, {0x600, 2}, {0x400, 3}, {0, 0},     {0x800, 0},
    };
    for (auto [planes, mono] : masks) {
        s->color_planes = planes;
        EXPECT_EQ(convert_to_par_mono(g.get(), s.get()), mono) << std::hex << planes;
    }
}

TEST(ParameterConversion, TheConfigurationAsksToScanFromHome)
{
    auto g = scanner();
    auto s = reference_setting();
    std::string dir = std::filesystem::temp_directory_path() / "pcfg.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    for (const char* key : {"ENV_VEK_DRIVER_SCAN_FROM_HOME", "ENV_VEK_DRIVER_SCAN_RAW_FROM_HOME"}) {
        std::ofstream(dir + "/" + EXTERNAL_CONFIG_FILE) << key << "=1\n";
        ExternalConfig_Init((dir + "/").c_str());
        ScanJob job;
        convert_to_scan_job(g.get(), s.get(), &job);
        EXPECT_EQ(job.scan_from_home(), 1) << key;
    }
    ExternalConfig_Init(nullptr);
    std::filesystem::remove_all(dir);
}

TEST(ParameterConversion, DeviceGammaTables)
{
    auto g = scanner();
    SCAN_SETTING s{};
    std::vector<uint8_t> bytes(3 * 256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    GAMMA_INFO& set = s.front_side.gamma;
    set = {256, 1, 7, {&bytes[0], &bytes[256], &bytes[512]}};
    const auto entry = [&](int table, int i) { return get_u32le(g->gamma_tables.data() + (table * 256 + i) * 4); };

    ASSERT_EQ(convert_to_scanner_gamma_table(g.get(), &s).code(), 1);
    EXPECT_EQ(g->gamma_control[0], 4);
    EXPECT_EQ(g->gamma_control[1], 1);
    for (int t = 0; t < 3; ++t)
        for (int i : {0, 1, 200, 255}) EXPECT_EQ(entry(t, i), bytes[t * 256 + i] * 256u) << t << " " << i;

    // Grey: one table, the others zero; the control byte follows the colour planes.
    set.channel_mask = 2;
    const std::pair<uint16_t, uint8_t> planes[] = {{0x100, 0}, {0x401, 2}, {0x200, 1}, {0x001, 1}};
    for (auto [p, control] : planes) {
        s.color_planes = p;
        ASSERT_EQ(convert_to_scanner_gamma_table(g.get(), &s).code(), 1);
        EXPECT_EQ(g->gamma_control[0], control) << p;
    }
    EXPECT_EQ(entry(0, 9), bytes[9] * 256u);
    EXPECT_EQ(entry(1, 9) + entry(2, 9), 0u);

    // 65536 two-byte entries: every 256th, its high byte.
    std::vector<uint16_t> wide(3 * 65536);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint16_t>(65535 - i % 65536 + i / 65536);
    set = {65536, 2, 7, {&wide[0], &wide[65536], &wide[131072]}};
    ASSERT_EQ(convert_to_scanner_gamma_table(g.get(), &s).code(), 1);
    for (int t = 0; t < 3; ++t)
        for (int i : {0, 3, 255}) EXPECT_EQ(entry(t, i), (wide[t * 65536 + i * 256] >> 8) * 256u) << t << " " << i;

    // A set without its tables, or of another size, sends nothing.
    g->gamma_tables.fill(0xAB);
    set.table[2] = nullptr;
    EXPECT_EQ(convert_to_scanner_gamma_table(g.get(), &s), DRV_NOT_SUPPORTED);
    set = {16, 1, 2, {&bytes[0], &bytes[0], &bytes[0]}};
    EXPECT_EQ(convert_to_scanner_gamma_table(g.get(), &s), DRV_NOT_SUPPORTED);
    EXPECT_EQ(g->gamma_tables[0], 0xAB);
}

TEST(ParameterConversion, EveryDeviceStatus)
{
    auto g = scanner(); // no device: a sense read fails as a transfer
    const std::pair<uint32_t, int32_t> table[] = {
        {0, 1},      {1, -8000}, {2, -1008},  {3, -1007},  {4, -1000},         {5, -1008},
        {6, -2},     {7, -1002}, {8, -1008},  {9, -600},   {10, -502},         {11, -206},
        {12, -8001}, {13, -309}, {14, -1008}, {15, -1008}, {16, -1008},        {17, -1008},
        {18, -1000}, {19, -602}, {20, -1005}, {21, -1008}, {0xFFFFFFFF, -1008}};
    for (auto [status, code] : table)
        EXPECT_EQ(get_scanner_error_code(g.get(), static_cast<eStatus>(status)).code(), code) << status;
}

} // namespace
