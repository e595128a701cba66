// The command handler's dispatch, capability queries and setting handlers, through SE_main and on
// handlers built directly, on the simulated scanner.
#include "entry_fixture.h"
#include "le_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

namespace {

using namespace lftest;

class Handlers : public EntryTest {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        if (HasFatalFailure()) return;
        add_scanner(profile());
    }
    virtual std::string profile() const { return "default"; }
};

TEST_F(Handlers, ResultTranslation)
{
    DirectBase b;
    b.open_failed();
    // -1005, a device that left the bus, is no device (-103), unlike a failed transfer.
    const std::pair<int32_t, int16_t> table[] = {
        {-1000000, -190}, {-1000001, -190}, {-5005036, -190}, {-8000, -183},   {-2000, -184},  {-1007, -109},
        {-1004, -188},    {-1003, -185},    {-1002, -100},    {-1001, -100},   {-1000, -188},  {-704, -122},
        {-3, -143},       {-801, -801},     {-1010, -1010},   {-1008, -1008},  {70000, 4464},  {1, 1},
        {0, 0},           {-32768, -32768}, {-32769, -190},   {-999999, -190}, {-40000, -190}, {-1005, -103},
    };
    for (auto [in, out] : table) EXPECT_EQ(b->TransferErrCodePC2Mac(in), out) << in;
}

// Every code reaches the handler of its name: each read verb answers through Entry exactly what
// the named handler answers when called directly, after the scalar settings were given values
// that tell the handlers apart. A handler table with two entries swapped fails here.
TEST_F(Handlers, EveryCodeReachesItsNamedHandler)
{
    using Handler = int32_t (EBase::*)(ECDB*);
    const std::pair<int16_t, Handler> named[] = {
        {64, &EBase::DoScannerInfo},
        {65, &EBase::DoDepth},
        {66, &EBase::DoAttached},
        {67, &EBase::DoResolution},
        {68, &EBase::DoPageLength},
        {69, &EBase::DoScanFrame},
        {72, &EBase::DoContrast},
        {73, &EBase::DoThreshold},
        {80, &EBase::DoExposure},
        {81, &EBase::DoGamma},
        {82, &EBase::DoSmhInput},
        {83, &EBase::DoSmhOutput},
        {84, &EBase::DoDither},
        {85, &EBase::DoImage},
        {96, &EBase::DoErrString},
        {97, &EBase::DoInternalLUT},
        {99, &EBase::DoOpticalRes},
        {100, &EBase::DoTestReady},
        {102, &EBase::ScanQualitySetting},
        {103, &EBase::DoExpMode},
        {105, &EBase::DoAPD},
        {113, &EBase::DoGetScanImageInfo},
        {130, &EBase::DoAutoLamp},
        {134, &EBase::DoButtonStatus},
        {149, &EBase::DoInterPolation},
        {151, &EBase::DoNewLampControl},
        {168, &EBase::DoSmartCalibration},
        {176, &EBase::DoUltraSound},
        {177, &EBase::DoAutoCrop},
        {179, &EBase::DoPreviewScanMode},
        {181, &EBase::DoPaperType},
        {183, &EBase::DoHWJpeg},
        {184, &EBase::DoHWCropDeskew},
        {186, &EBase::DoScannerLastError},
        {187, &EBase::DoShrinkableExposureRatio},
    };
    DirectBase b;
    b.open();
    // Distinct values in the switches that hold a plain number.
    for (auto [code, value] : {std::pair{97, 3}, {102, 2}, {103, 1}, {84, 5}, {177, 7}, {183, 4}, {184, 6}})
        ASSERT_EQ(b.entry(static_cast<int16_t>(code), SE_VERB_SET, static_cast<uint64_t>(value)), SE_OK) << code;

    // Room for the largest record a read verb writes (a 16-bit gamma set).
    std::vector<uint8_t> via_entry(1 << 20), direct(1 << 20);
    for (const auto& [code, handler] : named) {
        for (uint16_t verb : {SE_VERB_CAPABILITY, SE_VERB_CURRENT, SE_VERB_DEFAULT}) {
            std::fill(via_entry.begin(), via_entry.end(), 0x5A);
            std::fill(direct.begin(), direct.end(), 0x5A);
            const int16_t answer = b.entry(code, verb, 0, via_entry.data());
            ECDB block{};
            block.code = code;
            block.verb = verb;
            block.record = reinterpret_cast<uintptr_t>(direct.data());
            const int16_t expected = b->TransferErrCodePC2Mac(((*b).*handler)(&block));
            EXPECT_EQ(answer, expected) << "code " << code << " verb " << verb;
            EXPECT_TRUE(via_entry == direct) << "code " << code << " verb " << verb;
        }
    }
}

TEST_F(Handlers, CodesWithoutHandlerAnswerZero)
{
    open_first();
    uint8_t record[64];
    std::memset(record, 0x77, sizeof record);
    for (int16_t code : {int16_t{31}, int16_t{35}, int16_t{36}, int16_t{200}, int16_t{-5}, int16_t{150}, int16_t{188}})
        for (uint16_t verb = 0; verb < 4; ++verb) EXPECT_EQ(command(code, verb, 0, record), 0) << code;
    EXPECT_EQ(record[0], 0x77);
}

TEST_F(Handlers, StartUpStateOfAFlatbedWithTransparencyUnit)
{
    DirectBase b;
    b.open();
    EXPECT_TRUE(b->initialised());
    EXPECT_EQ(b->availableSources(), 0x105);
    EXPECT_EQ(b->currentSource(), 260);
    const SEFrame f = b->frame();
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.right, 7195);
    EXPECT_EQ(f.bottom, 43195);
    EXPECT_EQ(b->depth(), 128);
    EXPECT_EQ(b->resolution(), 75u);
    EXPECT_EQ(b->imageType(), 64u);
    EXPECT_EQ(b->scanQuality(), 1);
    EXPECT_EQ(b->lastStatus(), 1);
    EXPECT_EQ(b->gammaEntryCode(), 1);
    EXPECT_EQ(b->exposureRatio(), 100u);
    EXPECT_EQ(b->pageLength(), 9000u);

    // The same through the commands.
    uint32_t optical = 0;
    EXPECT_EQ(b.entry(SE_CMD_OPTICAL_RESOLUTION, 0, 0, &optical), 1);
    EXPECT_EQ(optical, 4800u);
    SEFrameCap cap{};
    EXPECT_EQ(b.entry(SE_CMD_SCAN_FRAME, 0, 0, &cap), 1);
    EXPECT_EQ(cap.resolution, 4800u);
    EXPECT_EQ(cap.right, 7195);
    EXPECT_EQ(cap.bottom, 43195);
    EXPECT_EQ(b.entry(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
    EXPECT_EQ(b.entry(SE_CMD_SCAN_FRAME, 0, 0, &cap), 1);
    EXPECT_EQ(cap.right, 40795); // 8.5 inches: (8500 - 1) x 4800 / 1000
    EXPECT_EQ(cap.bottom, 56155);
    SEPageLengthCap page{};
    EXPECT_EQ(b.entry(SE_CMD_PAGE_LENGTH, 0, 0, &page), 1);
    EXPECT_EQ(page.resolution, 4800u);
    EXPECT_EQ(page.tripleResolution, 14400u);
    EXPECT_EQ(page.maximumLength, 11700u);
}

TEST_F(Handlers, ADeviceThatFailedToOpenHasNoCapabilities)
{
    DirectBase b;
    b.open_failed();
    EXPECT_FALSE(b->initialised());
    uint16_t mask = 0x5555;
    EXPECT_EQ(b.entry(SE_CMD_SOURCE, 0, 0, &mask), 1);
    EXPECT_EQ(mask, 0);
    uint16_t depth = 0x5555;
    EXPECT_EQ(b.entry(SE_CMD_DEPTH, 0, 0, &depth), 1);
    EXPECT_EQ(depth, 0);
    uint32_t optical = 0x5555;
    EXPECT_EQ(b.entry(SE_CMD_OPTICAL_RESOLUTION, 0, 0, &optical), 1);
    EXPECT_EQ(optical, 0u);
    SEFrameCap cap;
    std::memset(&cap, 0x55, sizeof cap);
    EXPECT_EQ(b.entry(SE_CMD_SCAN_FRAME, 0, 0, &cap), 1);
    EXPECT_EQ(cap.right, 0);
    uint16_t calibration = 0;
    EXPECT_EQ(b.entry(SE_CMD_CALIBRATION, 0, 0, &calibration), 0);

    // Nothing can start: the host record stays as it was.
    SEImageInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const SEImageInfo before = info;
    EXPECT_EQ(b.entry(SE_CMD_START_SCAN, 0, 0, &info), SE_ERR_RANGE);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    EXPECT_EQ(b.entry(SE_CMD_IMAGE_INFO, 1, 0, &info), SE_ERR_RANGE);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    // Without a device record the erase cannot run: a failure, not success.
    EXPECT_EQ(b.entry(SE_CMD_CALIBRATION, 3, 0, nullptr), SE_ERR_CALIBRATION_FILE);
}

TEST_F(Handlers, ScannerInformationAndCalibrationSupport)
{
    open_first();
    uint8_t info[10];
    std::memset(info, 0xEE, sizeof info);
    EXPECT_EQ(command(SE_CMD_SCANNER_INFO, 0, 0, info), 1);
    const uint8_t expected[10] = {105, 0, 2, 0, 0, 0, 0, 0, 0xEE, 0xEE};
    EXPECT_EQ(std::memcmp(info, expected, sizeof info), 0);
    EXPECT_EQ(command(SE_CMD_SCANNER_INFO, 1, 0, info), 0);
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 0), 1) << "exactly 1, as the host tests";
}

class SubmodelOne : public Handlers {
protected:
    std::string profile() const override { return "submodel1"; }
};

TEST_F(SubmodelOne, ScannerInformationCarriesTheSubmodel)
{
    open_first();
    SEScannerInfo info{};
    EXPECT_EQ(command(SE_CMD_SCANNER_INFO, 0, 0, &info), 1);
    EXPECT_EQ(info.firmware, 105);
    EXPECT_EQ(info.subModel, 1);
}

TEST_F(Handlers, FrameCapabilityOfAnEmptyOrHugeBed)
{
    // The flatbed reports no width: its frame capability is all zero, not a wrapped maximum.
    model().edit([](sim::ScannerRecords& r) { put_u32le(r.attributes[0].data() + 16, 0); });
    {
        DirectBase b;
        b.open();
        EXPECT_EQ(b.entry(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
        SEFrameCap cap;
        std::memset(&cap, 0x55, sizeof cap);
        EXPECT_EQ(b.entry(SE_CMD_SCAN_FRAME, 0, 0, &cap), 1);
        const SEFrameCap zero{};
        EXPECT_EQ(std::memcmp(&cap, &zero, sizeof cap), 0);
    }
    // 6400 dpi over 11.7 inches is beyond 16 bits: the bottom is clamped.
    model().edit([](sim::ScannerRecords& r) {
        uint8_t* a = r.attributes[0].data();
        put_u32le(a + 4, 6400);
        put_u32le(a + 8, 6400);
        put_u32le(a + 12, 74880);
        put_u32le(a + 16, 54400);
    });
    DirectBase b;
    b.open();
    EXPECT_EQ(b.entry(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
    SEFrameCap cap{};
    EXPECT_EQ(b.entry(SE_CMD_SCAN_FRAME, 0, 0, &cap), 1);
    EXPECT_EQ(cap.resolution, 6400u);
    EXPECT_EQ(cap.right, 54393); // (8500 - 1) x 6.4
    EXPECT_EQ(cap.bottom, 65535);
}

TEST_F(Handlers, SettingEdgeCases)
{
    open_first();
    // Source 2 means the other source, which this scanner lacks: refused, and no source is left.
    EXPECT_EQ(command(SE_CMD_SOURCE, 3, 2), SE_ERR_RANGE);
    uint32_t optical = 77;
    EXPECT_EQ(command(SE_CMD_OPTICAL_RESOLUTION, 0, 0, &optical), 1);
    EXPECT_EQ(optical, 0u);
    EXPECT_EQ(command(SE_CMD_SOURCE, 3, SE_SOURCE_NEGATIVE_FILM), 1);
    uint16_t masks[2] = {};
    EXPECT_EQ(command(SE_CMD_SOURCE, 1, 0, masks), 1);
    EXPECT_EQ(masks[0], 0x105);
    EXPECT_EQ(masks[1], 0x105);

    // Frames beyond the maximum are limited; a left or top beyond it starts at 0.
    SEFrame f{100, 200, 60000, 60000};
    EXPECT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
    SEFrame got{};
    EXPECT_EQ(command(SE_CMD_SCAN_FRAME, 1, 0, &got), 1);
    EXPECT_EQ(got.left, 100);
    EXPECT_EQ(got.top, 200);
    EXPECT_EQ(got.right, 7195);
    EXPECT_EQ(got.bottom, 43195);
    f = SEFrame{8000, 50000, 7000, 100};
    EXPECT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
    EXPECT_EQ(command(SE_CMD_SCAN_FRAME, 1, 0, &got), 1);
    EXPECT_EQ(got.left, 0);
    EXPECT_EQ(got.top, 0);
    EXPECT_EQ(got.right, 7000);
    EXPECT_EQ(got.bottom, 100);
    SEFrame maximum{};
    EXPECT_EQ(command(SE_CMD_SCAN_FRAME, 2, 0, &maximum), 1);
    EXPECT_EQ(maximum.right, 7195);

    SEImageType type{8, 0, {}};
    EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &type), SE_ERR_IMAGE_TYPE);
    type = {64, 0, {}};
    EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &type), 1);
    SEImageType cap{};
    EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 0, 0, &cap), 1);
    EXPECT_EQ(cap.type, 71u);

    EXPECT_EQ(command(SE_CMD_DITHER, 3, 0), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_DITHER, 3, 11), 1);
    EXPECT_EQ(command(SE_CMD_DITHER, 3, 12), SE_ERR_RANGE);
    uint16_t dither = 0;
    EXPECT_EQ(command(SE_CMD_DITHER, 1, 0, &dither), 1);
    EXPECT_EQ(dither, 11);
    EXPECT_EQ(command(SE_CMD_DITHER, 0, 0, &dither), 1);
    EXPECT_EQ(dither, 12);

    EXPECT_EQ(command(SE_CMD_EXPOSURE_MODE, 3, 2), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_MODE, 3, 1), 1);

    // Tone tables: the device's entries depend on the depth.
    EXPECT_EQ(command(SE_CMD_DEPTH, 3, SE_DEPTH_16_BITS), 1);
    SEGammaDescriptor d{};
    EXPECT_EQ(command(SE_CMD_GAMMA, 2, 0, &d), 1);
    EXPECT_EQ(d.entries, 65536u);
    EXPECT_EQ(d.bytesPerEntry, 2);
    EXPECT_EQ(command(SE_CMD_DEPTH, 3, SE_DEPTH_8_BITS), 1);
    d = SEGammaDescriptor{};
    EXPECT_EQ(command(SE_CMD_GAMMA, 2, 0, &d), 1);
    EXPECT_EQ(d.entries, 256u);
    EXPECT_EQ(d.bytesPerEntry, 1);
    uint32_t gammaCap = 0;
    EXPECT_EQ(command(SE_CMD_GAMMA, 0, 0, &gammaCap), 1);
    EXPECT_EQ(gammaCap, 0x80BCu);

    // Calibration mode 0 reuses: the current mode reads 0.
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_SET_MODE, reinterpret_cast<void*>(uintptr_t{0})), 1);
    uint32_t mode = 7;
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 1, 0, &mode), 1);
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_SET_MODE, reinterpret_cast<void*>(uintptr_t{1})), 1);
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 1, 0, &mode), 1);
    EXPECT_EQ(mode, 1u);

    SEInterpolation interp{};
    EXPECT_EQ(command(SE_CMD_RESOLUTION, 3, 300), 1);
    EXPECT_EQ(command(SE_CMD_INTERPOLATION, 1, 0, &interp), 1);
    EXPECT_EQ(interp.enabled, 0);
    EXPECT_EQ(interp.xResolution, 300);
    EXPECT_EQ(interp.yResolution, 300);
    SERange range{};
    EXPECT_EQ(command(SE_CMD_RESOLUTION, 0, 0, &range), 1);
    EXPECT_EQ(range.minimum, 15);
    EXPECT_EQ(range.maximum, 9600);
    EXPECT_EQ(range.third, 9586u);
}

TEST_F(Handlers, ExposureRatio)
{
    open_first();
    uint32_t ratio = 0;
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 1, 0, &ratio), 1);
    EXPECT_EQ(ratio, 100u);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 3, 70000), 1);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 1, 0, &ratio), 1);
    EXPECT_EQ(ratio, 65535u);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 3, static_cast<uint32_t>(-5)), 1);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 1, 0, &ratio), 1);
    EXPECT_EQ(ratio, 0u);
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 2, 0, &ratio), 1);
    EXPECT_EQ(ratio, 100u);
    // The default profile's flatbed offers 50 to 200 percent.
    SERange range{};
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 0, 0, &range), 1);
    EXPECT_EQ(range.minimum, 50);
    EXPECT_EQ(range.maximum, 200);
    EXPECT_EQ(range.third, 3u);
}

// Without a transparency unit the range comes from the reflective unit's capability record (a
// scanner with one gives both records the same range).
TEST_F(Handlers, ExposureRangeOfAFlatbedWithoutTransparencyUnit)
{
    model().edit([](sim::ScannerRecords& r) {
        r.media[1] = 0;
        r.attributes[1].fill(0);
    });
    open_first();
    uint16_t masks[2] = {};
    EXPECT_EQ(command(SE_CMD_SOURCE, 1, 0, masks), 1);
    ASSERT_EQ(masks[0], 1) << "a flatbed alone";
    SERange range{};
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 0, 0, &range), 1);
    EXPECT_EQ(range.minimum, 50);
    EXPECT_EQ(range.maximum, 200);
    EXPECT_EQ(range.third, 3u);
}

TEST_F(Handlers, ExposureRangeWithoutStepWhenInverted)
{
    model().edit([](sim::ScannerRecords& r) {
        put_u16le(r.attributes[0].data() + 43, 40); // maximum below the minimum
        put_u16le(r.attributes[0].data() + 45, 50);
    });
    open_first();
    SERange range{};
    EXPECT_EQ(command(SE_CMD_EXPOSURE_RATIO, 0, 0, &range), 1);
    EXPECT_EQ(range.third, 0u);
}

// Depth, resolution and image type are kept as they come (the image type needs a bit of the
// offered 71); what the driver cannot deliver is refused when the image is asked for or started,
// before any traffic.
TEST_F(Handlers, SettingsAreKeptAsTheyComeAndRefusedAtTheStart)
{
    open_first();
    ASSERT_EQ(command(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
    SEFrame f{0, 0, 479, 479}; // a tenth of an inch
    ASSERT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
    struct Case {
        const char* name;
        uint16_t depth;
        uint32_t type;
        uint32_t resolution;
        int16_t start; // code 113 and code 32
    };
    const Case cases[] = {
        {"depth 0", 0, SE_IMAGE_COLOR, 150, SE_ERR_IMAGE_TYPE},
        {"depth 129", 129, SE_IMAGE_COLOR, 150, SE_ERR_IMAGE_TYPE},
        {"depth 0x8080", 0x8080, SE_IMAGE_COLOR, 150, SE_ERR_IMAGE_TYPE},
        {"type 3", SE_DEPTH_8_BITS, 3, 150, SE_ERR_IMAGE_TYPE},
        {"type 65", SE_DEPTH_8_BITS, 65, 150, SE_ERR_IMAGE_TYPE},
        {"type 71", SE_DEPTH_8_BITS, 71, 150, SE_ERR_IMAGE_TYPE},
        {"resolution 0", SE_DEPTH_8_BITS, SE_IMAGE_COLOR, 0, SE_ERR_RANGE},
        {"resolution 14", SE_DEPTH_8_BITS, SE_IMAGE_COLOR, 14, SE_ERR_RANGE},
        {"resolution 9601", SE_DEPTH_8_BITS, SE_IMAGE_COLOR, 9601, SE_ERR_RANGE},
        {"resolution 2^32 - 1", SE_DEPTH_8_BITS, SE_IMAGE_COLOR, 0xFFFFFFFF, SE_ERR_RANGE},
        {"16-bit grey", SE_DEPTH_16_BITS, SE_IMAGE_GRAY, 15, 1},
        {"line art at the highest resolution", SE_DEPTH_1_BIT, SE_IMAGE_LINE_ART, 9600, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(command(SE_CMD_DEPTH, 3, c.depth), 1);
        SEImageType t{c.type, 7, {}};
        EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &t), 1);
        EXPECT_EQ(command(SE_CMD_RESOLUTION, 3, c.resolution), 1);
        uint16_t depth = 0;
        EXPECT_EQ(command(SE_CMD_DEPTH, 1, 0, &depth), 1);
        EXPECT_EQ(depth, c.depth);
        SEImageType kept{};
        EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 1, 0, &kept), 1);
        EXPECT_EQ(kept.type, c.type);
        EXPECT_EQ(kept.second, 7);
        uint32_t resolution = 0;
        EXPECT_EQ(command(SE_CMD_RESOLUTION, 1, 0, &resolution), 1);
        EXPECT_EQ(resolution, c.resolution);
        model().clear_transcript();
        SEImageInfo info{};
        EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &info), c.start);
        EXPECT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), c.start);
        if (c.start != 1) {
            EXPECT_TRUE(model().transactions().empty());
        }
        EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    }
    // A type without a bit of the offered ones is refused when set and changes nothing.
    for (uint32_t bad : {0u, 8u, 16u, 32u, 0x10000u, 0x80u}) {
        SEImageType t{bad, 0, {}};
        EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &t), SE_ERR_IMAGE_TYPE) << bad;
    }
    SEImageType kept{};
    EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 1, 0, &kept), 1);
    EXPECT_EQ(kept.type, SE_IMAGE_LINE_ART);
}

TEST_F(Handlers, GammaTablesAreCheckedAndCopied)
{
    open_first();
    std::vector<uint8_t> red(256, 1), green(256, 2), blue(256, 3);
    SEGammaDescriptor d{{address(red.data()), address(green.data()), address(blue.data())}, 256, 3, {}};
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), SE_ERR_RANGE) << "three bytes per entry";
    d.bytesPerEntry = 1;
    d.entries = 0;
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), SE_ERR_RANGE);
    d.entries = 65537;
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), SE_ERR_RANGE);
    d.entries = 256;
    d.table[1] = 0;
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), SE_ERR_NO_TABLE) << "colour copies three";
    EXPECT_EQ(command(SE_CMD_GAMMA, 2, SE_GAMMA_ALL_CHANNELS, &d), SE_ERR_NO_TABLE);
    SEImageType gray{4, 0, {}};
    EXPECT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &gray), 1);
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1) << "grey copies the first only";
    EXPECT_EQ(command(SE_CMD_GAMMA, 1, 0, &d), 0);
    EXPECT_EQ(command(SE_CMD_GAMMA, 3, 0, nullptr), 0);
}

TEST_F(Handlers, LinearTablesAreIdentities)
{
    DirectBase b;
    b.open();
    std::vector<uint16_t> wide(65536, 0xFFFF);
    EXPECT_EQ(b->SetLinearLUT(65536, 2, wide.data(), 65536), 1);
    for (uint32_t i = 0; i < 65536; ++i) ASSERT_EQ(wide[i], i);
    std::vector<uint8_t> narrow(256, 0xFF);
    EXPECT_EQ(b->SetLinearLUT(256, 1, narrow.data(), 256), 1);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(narrow[i], i);

    // Verb 2 fills the masked channels and leaves the others.
    std::vector<uint16_t> r(65536, 7), g(65536, 7), bl(65536, 7);
    EXPECT_EQ(b.entry(SE_CMD_DEPTH, 3, SE_DEPTH_16_BITS), 1);
    SEGammaDescriptor d{{address(r.data()), address(g.data()), address(bl.data())}, 65536, 2, {}};
    EXPECT_EQ(b.entry(SE_CMD_GAMMA, 2, 0x50000, &d), 1);
    EXPECT_EQ(r[40000], 40000);
    EXPECT_EQ(g[40000], 7);
    EXPECT_EQ(bl[65535], 65535);
    EXPECT_EQ(b.entry(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
    EXPECT_EQ(b->gammaEntryCode(), 128);
    EXPECT_TRUE(b->hasGammaBuffer());
    d.entries = 256;
    EXPECT_EQ(b.entry(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
    EXPECT_EQ(b->gammaEntryCode(), 1);
}

TEST_F(Handlers, EmptyToneTables)
{
    open_first();
    uint32_t value = 42;
    EXPECT_EQ(command(SE_CMD_CONTRAST, 3, SE_PLANE_FIRST, &value), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_CONTRAST, 4, 0, &value), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_CONTRAST, 5, 0, &value), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_CONTRAST, 1, 7, &value), SE_ERR_RANGE) << "no such plane";
    EXPECT_EQ(command(SE_CMD_CONTRAST, 1, SE_PLANE_SECOND, &value), 1);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(command(SE_CMD_CONTRAST, 0, SE_PLANE_FIRST, &value), 0);
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 3, SE_PLANE_FIRST, &value), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 4, 0, &value), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 5, 0, &value), SE_ERR_RANGE);
    uint32_t three[3] = {5, 5, 5};
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 3, SE_PLANE_ALL, three), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 1, SE_PLANE_ALL, three), 1);
    EXPECT_EQ(three[0], 0u);
    SERange range{7, 7, 7};
    EXPECT_EQ(command(SE_CMD_EXPOSURE, 0, 0, &range), 1);
    EXPECT_EQ(range.minimum, 0);
    EXPECT_EQ(range.maximum, 0);
    EXPECT_EQ(range.third, 0u);
}

TEST_F(Handlers, ToneTablesConformValues)
{
    // A handler built directly, with a contrast and an exposure table (no device needed).
    ERangeEntry table[] = {{10, 20, 11}, {30, 50, 3}, {0, 0, 0}};
    EBase direct(table, 12, nullptr, table, table, 0, 0, 0, 0, 0, 0, nullptr, 0, nullptr);
    ECDB block = make_block(SE_CMD_CONTRAST, 3, SE_PLANE_SECOND);
    int32_t value = 25;
    block.record = address(&value);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(value, 30) << "written back conformed";
    uint32_t got = 0;
    block = make_block(SE_CMD_CONTRAST, 1, SE_PLANE_SECOND, &got);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(got, 30u);
    block = make_block(SE_CMD_CONTRAST, 1, 1, &got); // the master
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(got, 30u);
    block = make_block(SE_CMD_CONTRAST, 4, 12, &got);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(got, 40u);
    block = make_block(SE_CMD_CONTRAST, 5, 45, &got);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(got, 12u);
    int32_t three[3] = {99, 25, 12};
    block = make_block(SE_CMD_EXPOSURE, 3, SE_PLANE_ALL, three);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(three[0], 99) << "the exposure record is not written back";
    uint32_t channels[3] = {};
    block = make_block(SE_CMD_EXPOSURE, 1, SE_PLANE_ALL, channels);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(channels[0], 50u);
    EXPECT_EQ(channels[1], 30u);
    EXPECT_EQ(channels[2], 12u);
    SERange range{};
    block = make_block(SE_CMD_EXPOSURE, 0, 0, &range);
    EXPECT_EQ(direct.Entry(&block), 1);
    EXPECT_EQ(range.minimum, 10);
    EXPECT_EQ(range.maximum, 50);
    EXPECT_EQ(range.third, 14u);
}

TEST_F(Handlers, OpticalResolutionWritesFourBytes)
{
    open_first();
    uint8_t record[8];
    std::memset(record, 0xC3, sizeof record);
    EXPECT_EQ(command(SE_CMD_OPTICAL_RESOLUTION, 0, 0, record), 1);
    EXPECT_EQ(get_u32le(record), 4800u);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(record[i], 0xC3) << i;
}

TEST_F(Handlers, ButtonsWithAFailedStatusReadAreNotPressed)
{
    open_first();
    uint16_t buttons = 0x7777;
    EXPECT_EQ(command(SE_CMD_BUTTONS, 1, 0, &buttons), 1);
    EXPECT_EQ(buttons, 0);
    model().inject(sim::Injection::refuse(sim::Target::next("SYS"), 5, 0x24));
    buttons = 0x7777;
    EXPECT_EQ(command(SE_CMD_BUTTONS, 1, 0, &buttons), SE_ERR_TRANSFER);
    EXPECT_EQ(buttons, 0);
    EXPECT_EQ(command(SE_CMD_BUTTONS, 0, 0, &buttons), 1);
    EXPECT_EQ(command(SE_CMD_BUTTONS, 3), 1);
}

TEST_F(Handlers, EraseAllRemovesTheCalibrationFile)
{
    open_first();
    const std::string file = folder().file("CaliData6204_0000_SN6204000012345A.dat");
    std::ofstream(file) << "stale";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_ERASE, nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(command(SE_CMD_CALIBRATION, 3, 7, nullptr), 1) << "any other request does nothing";
}

TEST_F(Handlers, DitherTable)
{
    DirectBase b;
    b.open();
    EDITHER entry{};
    std::memcpy(entry.bytes + 2, "Bayer 4x4", 10);
    EXPECT_EQ(b.entry(SE_CMD_DITHER, 4, 3, &entry), 1);
    EXPECT_EQ(b.entry(SE_CMD_DITHER, 4, 12, &entry), SE_ERR_DITHER_INDEX);
    uint16_t index = 0;
    EXPECT_EQ(b.entry(SE_CMD_DITHER, 5, address(&entry), &index), 1);
    EXPECT_EQ(index, 3);
    EDITHER other{};
    std::memcpy(other.bytes + 2, "Bayer 8x8", 10);
    EXPECT_EQ(b.entry(SE_CMD_DITHER, 5, address(&other), &index), SE_ERR_DITHER_NAME);
}

// Every code and verb that reads or writes through `record`, or through an address in `value`,
// with that pointer null: answer 0 and no crash.
class NullRecords : public Handlers, public ::testing::WithParamInterface<std::tuple<int16_t, uint16_t>> {};

TEST_P(NullRecords, AnswerZero)
{
    open_first();
    const auto [code, verb] = GetParam();
    const uint64_t value = code == SE_CMD_CONTRAST || code == SE_CMD_EXPOSURE ? SE_PLANE_FIRST : 0;
    EXPECT_EQ(command(code, verb, value, nullptr), 0);
    SEScannerInfo info{};
    EXPECT_EQ(command(SE_CMD_SCANNER_INFO, 0, 0, &info), 1) << "still usable";
    EXPECT_EQ(info.firmware, 105);
}

INSTANTIATE_TEST_SUITE_P(EveryRecordVerb, NullRecords,
                         ::testing::Values(std::tuple<int16_t, uint16_t>{64, 0}, std::tuple<int16_t, uint16_t>{65, 0},
                                           std::tuple<int16_t, uint16_t>{65, 1}, std::tuple<int16_t, uint16_t>{65, 2},
                                           std::tuple<int16_t, uint16_t>{66, 0}, std::tuple<int16_t, uint16_t>{66, 1},
                                           std::tuple<int16_t, uint16_t>{66, 2}, std::tuple<int16_t, uint16_t>{67, 0},
                                           std::tuple<int16_t, uint16_t>{67, 1}, std::tuple<int16_t, uint16_t>{67, 2},
                                           std::tuple<int16_t, uint16_t>{68, 0}, std::tuple<int16_t, uint16_t>{68, 1},
                                           std::tuple<int16_t, uint16_t>{68, 2}, std::tuple<int16_t, uint16_t>{69, 0},
                                           std::tuple<int16_t, uint16_t>{69, 1}, std::tuple<int16_t, uint16_t>{69, 2},
                                           std::tuple<int16_t, uint16_t>{69, 3}, std::tuple<int16_t, uint16_t>{72, 1},
                                           std::tuple<int16_t, uint16_t>{72, 3}, std::tuple<int16_t, uint16_t>{72, 4},
                                           std::tuple<int16_t, uint16_t>{72, 5}, std::tuple<int16_t, uint16_t>{80, 0},
                                           std::tuple<int16_t, uint16_t>{80, 1}, std::tuple<int16_t, uint16_t>{80, 2},
                                           std::tuple<int16_t, uint16_t>{80, 3}, std::tuple<int16_t, uint16_t>{80, 4},
                                           std::tuple<int16_t, uint16_t>{80, 5}, std::tuple<int16_t, uint16_t>{81, 0},
                                           std::tuple<int16_t, uint16_t>{81, 2}, std::tuple<int16_t, uint16_t>{81, 3},
                                           std::tuple<int16_t, uint16_t>{84, 0}, std::tuple<int16_t, uint16_t>{84, 1},
                                           std::tuple<int16_t, uint16_t>{84, 2}, std::tuple<int16_t, uint16_t>{84, 4},
                                           std::tuple<int16_t, uint16_t>{84, 5}, std::tuple<int16_t, uint16_t>{85, 0},
                                           std::tuple<int16_t, uint16_t>{85, 1}, std::tuple<int16_t, uint16_t>{85, 2},
                                           std::tuple<int16_t, uint16_t>{85, 3}, std::tuple<int16_t, uint16_t>{97, 1},
                                           std::tuple<int16_t, uint16_t>{97, 2}, std::tuple<int16_t, uint16_t>{99, 0},
                                           std::tuple<int16_t, uint16_t>{102, 0}, std::tuple<int16_t, uint16_t>{102, 1},
                                           std::tuple<int16_t, uint16_t>{102, 2}, std::tuple<int16_t, uint16_t>{103, 1},
                                           std::tuple<int16_t, uint16_t>{103, 2}, std::tuple<int16_t, uint16_t>{105, 1},
                                           std::tuple<int16_t, uint16_t>{113, 1}, std::tuple<int16_t, uint16_t>{134, 0},
                                           std::tuple<int16_t, uint16_t>{134, 1}, std::tuple<int16_t, uint16_t>{149, 1},
                                           std::tuple<int16_t, uint16_t>{168, 1}, std::tuple<int16_t, uint16_t>{176, 0},
                                           std::tuple<int16_t, uint16_t>{176, 3}, std::tuple<int16_t, uint16_t>{177, 1},
                                           std::tuple<int16_t, uint16_t>{179, 1}, std::tuple<int16_t, uint16_t>{179, 3},
                                           std::tuple<int16_t, uint16_t>{183, 1}, std::tuple<int16_t, uint16_t>{184, 1},
                                           std::tuple<int16_t, uint16_t>{186, 1}, std::tuple<int16_t, uint16_t>{187, 0},
                                           std::tuple<int16_t, uint16_t>{187, 1}, std::tuple<int16_t, uint16_t>{187, 2},
                                           std::tuple<int16_t, uint16_t>{32, 0}, std::tuple<int16_t, uint16_t>{34, 0},
                                           std::tuple<int16_t, uint16_t>{37, 0}, std::tuple<int16_t, uint16_t>{38, 0},
                                           std::tuple<int16_t, uint16_t>{39, 0}, std::tuple<int16_t, uint16_t>{40, 0},
                                           std::tuple<int16_t, uint16_t>{4, 0}));

} // namespace
