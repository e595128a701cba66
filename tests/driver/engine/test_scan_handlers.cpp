// The scan handlers through SE_main on the simulated scanner: image size, start, line reads into
// exactly sized buffers, the end of the image, and stop.
#include "entry_fixture.h"
#include "le_bytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace lftest;

struct Settings {
    uint16_t source = SE_SOURCE_REFLECTIVE;
    uint16_t depth = SE_DEPTH_8_BITS;
    uint32_t type = SE_IMAGE_COLOR;
    uint32_t resolution = 150;
    SEFrame frame{0, 0, 4799, 2399}; // one inch by half an inch at 4800 dpi
};

constexpr uint8_t kCanary = 0xCD;
constexpr size_t kCanaryBytes = 32;

// What a whole read of an image gave.
struct Reading {
    uint32_t lines = 0;
    int16_t last = 0;
    int blocks = 0;
    bool canaries_intact = true;
    bool over_delivered = false;
};

class ScanHandlers : public EntryTest {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        if (HasFatalFailure()) return;
        add_scanner();
        open_first();
        // Calibrate once, then reuse the stored calibration.
        command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_SET_MODE, nullptr);
        model().clear_transcript();
    }

    void apply(const Settings& s)
    {
        ASSERT_EQ(command(SE_CMD_SOURCE, 3, s.source), 1);
        ASSERT_EQ(command(SE_CMD_DEPTH, 3, s.depth), 1);
        SEImageType t{s.type, 0, {}};
        ASSERT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &t), 1);
        ASSERT_EQ(command(SE_CMD_RESOLUTION, 3, s.resolution), 1);
        SEFrame f = s.frame;
        ASSERT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
    }

    // Reads blocks of `block` lines into buffers of exactly block × bytes-per-line bytes until the
    // driver answers anything but 1.
    Reading read_all(const SEImageInfo& info, uint32_t block = 256)
    {
        Reading r;
        for (int guard = 0; guard < 100000; ++guard) {
            std::vector<uint8_t> buffer(static_cast<size_t>(block) * info.bytesPerLine + kCanaryBytes, kCanary);
            SELineTransfer t{};
            t.buffer = address(buffer.data());
            t.wanted = block;
            r.last = command(SE_CMD_READ_LINES, 0, 0, &t);
            ++r.blocks;
            if (t.delivered > block) r.over_delivered = true;
            r.lines += t.delivered;
            for (size_t i = buffer.size() - kCanaryBytes; i < buffer.size(); ++i)
                if (buffer[i] != kCanary) r.canaries_intact = false;
            if (r.last != 1) break;
        }
        return r;
    }

    size_t transactions() { return model().transactions().size(); }
    size_t count(const std::string& tag)
    {
        size_t n = 0;
        for (const sim::Transaction& tx : model().transactions()) n += tx.tag == tag ? 1 : 0;
        return n;
    }
};

TEST_F(ScanHandlers, ImageInfoVerbsAndWidth)
{
    apply(Settings{.resolution = 300});
    SEImageInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const SEImageInfo before = info;
    EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 0, 0, &info), 1);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << "verb 0 writes nothing";
    EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 2, 0, &info), 0);
    EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &info), 1);
    EXPECT_EQ(info.width, 300u);
    EXPECT_EQ(info.height, 150u);
    EXPECT_EQ(info.bytesPerLine, 900u);
    EXPECT_EQ(count("JOB"), 0u) << "asking the size starts nothing";
}

TEST_F(ScanHandlers, ImageInfoOfAFrameStartingBeyondItsEnd)
{
    // A left above the right is repaired as the start repairs it, never wrapped.
    Settings s;
    s.frame = SEFrame{4000, 0, 100, 2399};
    apply(s);
    SEImageInfo info{};
    EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &info), 1);
    EXPECT_LT(info.width, 200u);
    EXPECT_GT(info.width, 0u);
}

TEST_F(ScanHandlers, NoSourceOrAnUndeliverablePairStartsNothing)
{
    apply(Settings{});
    SEImageInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const SEImageInfo before = info;
    const std::pair<uint32_t, uint16_t> refused[] = {{64, 1}, {1, 128}, {2, 32768}, {4, 1}};
    for (auto [type, depth] : refused) {
        ASSERT_EQ(command(SE_CMD_DEPTH, 3, depth), 1);
        SEImageType t{type, 0, {}};
        ASSERT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &t), 1);
        EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &info), SE_ERR_IMAGE_TYPE) << type << "/" << depth;
        EXPECT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), SE_ERR_IMAGE_TYPE) << type << "/" << depth;
    }
    apply(Settings{});
    EXPECT_EQ(command(SE_CMD_SOURCE, 3, 2), SE_ERR_RANGE); // no source is left
    EXPECT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &info), SE_ERR_RANGE);
    EXPECT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), SE_ERR_RANGE);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    uint32_t last = 0;
    EXPECT_EQ(command(SE_CMD_LAST_ERROR, 1, 0, &last), 1);
    EXPECT_EQ(static_cast<int32_t>(last), SE_ERR_RANGE) << "the refusal is the last status";
    EXPECT_EQ(count("JOB"), 0u);
    EXPECT_EQ(count("SWIN"), 0u);
}

TEST_F(ScanHandlers, EveryDeliverablePairAgreesWithWhatIsWritten)
{
    const std::pair<uint32_t, uint16_t> pairs[] = {{64, 128}, {64, 32768}, {4, 128}, {4, 32768}, {1, 1}, {2, 1}};
    for (auto [type, depth] : pairs) {
        SCOPED_TRACE(testing::Message() << "type " << type << " depth " << depth);
        Settings s;
        s.type = type;
        s.depth = depth;
        apply(s);
        SEImageInfo asked{};
        ASSERT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &asked), 1);
        SEImageInfo started;
        std::memset(&started, 0x5A, sizeof started);
        ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &started), 1);
        EXPECT_EQ(std::memcmp(&asked, &started, sizeof asked), 0);
        EXPECT_EQ(started.width, 150u);
        EXPECT_EQ(started.height, 75u);
        const uint32_t bits = type == 64 ? 24 : type == 4 ? 8 : 1;
        const uint32_t scale = depth == 32768 ? 2 : 1;
        EXPECT_EQ(started.bytesPerLine, (started.width * bits + 7) / 8 * scale);
        const Reading r = read_all(started, 32);
        EXPECT_EQ(r.last, SE_END_OF_IMAGE);
        EXPECT_EQ(r.lines, started.height);
        EXPECT_TRUE(r.canaries_intact);
        EXPECT_FALSE(r.over_delivered);
        EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    }
}

TEST_F(ScanHandlers, ReadsAroundTheImage)
{
    apply(Settings{});
    SELineTransfer t{};
    std::vector<uint8_t> buffer(450 * 256);
    t.buffer = address(buffer.data());
    t.wanted = 4;
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), SE_ERR_STAGE) << "a read before the start";
    EXPECT_EQ(t.delivered, 0u);

    SEImageInfo info{};
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    t.wanted = 0;
    t.delivered = 99;
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), 1);
    EXPECT_EQ(t.delivered, 99u) << "nothing wanted, nothing written";
    // The count is signed: a negative one wants nothing either, whatever the buffer, and reaches no
    // device (checked first without a buffer, so that a wrong answer does not write through one).
    const size_t quiet = transactions();
    for (const uint64_t into : {uint64_t{0}, address(buffer.data())})
        for (const uint32_t negative : {0xFFFFFFFFu, 0x80000000u}) {
            SELineTransfer n{into, {}, negative, 99};
            ASSERT_EQ(command(SE_CMD_READ_LINES, 0, 0, &n), 1) << negative;
            EXPECT_EQ(n.delivered, 99u);
        }
    EXPECT_EQ(transactions(), quiet);
    t.buffer = 0;
    t.wanted = 3;
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), SE_ERR_RANGE);
    EXPECT_EQ(t.delivered, 0u);

    // The other reads are not offered.
    for (int16_t code : {SE_CMD_READ_LINES_BACK, SE_CMD_READ_JPEG, SE_CMD_READ_JPEG_BACK}) {
        SELineTransfer other{address(buffer.data()), {}, 1, 77};
        EXPECT_EQ(command(code, 0, 0, &other), SE_ERR_UNSUPPORTED) << code;
        EXPECT_EQ(other.delivered, 0u);
    }
    SEImageInfo back{};
    EXPECT_EQ(command(SE_CMD_START_SCAN_BACK, 0, 0, &back), SE_ERR_UNSUPPORTED) << "no two-sided scan runs";

    // Over-asking delivers what is left and ends the image.
    const Reading r = read_all(info, 256);
    EXPECT_EQ(r.blocks, 1);
    EXPECT_EQ(r.lines, info.height);
    EXPECT_EQ(r.last, SE_END_OF_IMAGE);
    EXPECT_TRUE(r.canaries_intact);

    // After the end: the end again, nothing delivered, no traffic.
    const size_t before = transactions();
    t = SELineTransfer{address(buffer.data()), {}, 10, 55};
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), SE_END_OF_IMAGE);
    EXPECT_EQ(t.delivered, 0u);
    EXPECT_EQ(transactions(), before);

    EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    t = SELineTransfer{address(buffer.data()), {}, 10, 55};
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), SE_ERR_STAGE) << "a read after the stop";
    uint32_t last = 0;
    EXPECT_EQ(command(SE_CMD_LAST_ERROR, 1, 0, &last), 1);
    EXPECT_EQ(static_cast<int32_t>(last), -1008);
}

TEST_F(ScanHandlers, AFailureOnTheLastBlockIsAnsweredNotTheEnd)
{
    apply(Settings{});
    SEImageInfo info{};
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    const size_t first_image = count("IMG");
    const Reading whole = read_all(info, 256);
    ASSERT_EQ(whole.last, SE_END_OF_IMAGE);
    const size_t image_reads = count("IMG") - first_image;
    ASSERT_GT(image_reads, 0u);
    EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);

    // The same scan again, with its last image transfer refused.
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    model().inject(
        sim::Injection::disconnect(sim::Target::next("IMG", static_cast<int>(image_reads)), sim::Phase::Reply));
    const Reading failed = read_all(info, 256);
    EXPECT_NE(failed.last, SE_END_OF_IMAGE);
    EXPECT_NE(failed.last, 1);
    uint32_t last = 0;
    EXPECT_EQ(command(SE_CMD_LAST_ERROR, 1, 0, &last), 1);
    EXPECT_LT(static_cast<int32_t>(last), 0) << "kept as the last status";
    allow_violations(); // the vanished device leaves a half exchange behind
}

TEST_F(ScanHandlers, AFailedStartReportsZerosAndReadsNothing)
{
    apply(Settings{});
    model().inject(sim::Injection::refuse(sim::Target::next("SWIN"), 5, 0x24));
    SEImageInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const int16_t answer = command(SE_CMD_START_SCAN, 0, 0, &info);
    EXPECT_LT(answer, 0);
    const SEImageInfo zero{};
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0) << "no geometry of a scan that did not start";
    std::vector<uint8_t> buffer(450 * 8);
    SELineTransfer t{address(buffer.data()), {}, 8, 77};
    EXPECT_EQ(command(SE_CMD_READ_LINES, 0, 0, &t), SE_ERR_STAGE);
    EXPECT_EQ(t.delivered, 0u);
    EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    // The next start works.
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    EXPECT_EQ(info.width, 150u);
    EXPECT_EQ(read_all(info).last, SE_END_OF_IMAGE);
}

TEST_F(ScanHandlers, StartAgainWithoutStop)
{
    apply(Settings{});
    SEImageInfo info{};
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    const size_t windows = count("SWIN");
    ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
    EXPECT_EQ(count("SWIN"), windows + 1) << "a fresh window for the second start";
    const Reading read = read_all(info, 64);
    EXPECT_EQ(read.last, SE_END_OF_IMAGE);
    EXPECT_EQ(read.lines, info.height);
    EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
}

// A handler built directly over the scanner, to see what it hands the driver object.
class DirectScan : public EntryTest {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        if (HasFatalFailure()) return;
        add_scanner();
    }
};

TEST_F(DirectScan, TheStartTakesTheToneTablesOnce)
{
    DirectBase b;
    b.open();
    ASSERT_EQ(b.entry(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
    ASSERT_EQ(b.entry(SE_CMD_RESOLUTION, 3, 150), 1);
    SEFrame f{0, 0, 4799, 2399};
    ASSERT_EQ(b.entry(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
    std::vector<uint8_t> r(256), g(256), bl(256);
    for (int i = 0; i < 256; ++i) r[i] = g[i] = bl[i] = static_cast<uint8_t>(255 - i);
    SEGammaDescriptor d{{address(r.data()), address(g.data()), address(bl.data())}, 256, 1, {}};
    SEImageInfo info{};
    // Tables that hold less than the start reads of them are refused before it reads them: set
    // for a grey image (one table) but started in colour, or shorter than the entry code implies.
    SEImageType grey{SE_IMAGE_GRAY, 0, {}}, colour{SE_IMAGE_COLOR, 0, {}};
    ASSERT_EQ(b.entry(SE_CMD_IMAGE_TYPE, 3, 0, &grey), 1);
    ASSERT_EQ(b.entry(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
    ASSERT_EQ(b.entry(SE_CMD_IMAGE_TYPE, 3, 0, &colour), 1);
    EXPECT_EQ(b.entry(SE_CMD_START_SCAN, 0, 0, &info), SE_ERR_UNSUPPORTED);
    SEGammaDescriptor short_tables = d;
    short_tables.entries = 16;
    ASSERT_EQ(b.entry(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &short_tables), 1);
    EXPECT_EQ(b.entry(SE_CMD_START_SCAN, 0, 0, &info), SE_ERR_UNSUPPORTED);
    EXPECT_TRUE(b->hasGammaBuffer()) << "kept for a start with tables that fit";
    EXPECT_EQ(b.entry(SE_CMD_STOP_SCAN), 1);

    ASSERT_EQ(b.entry(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
    EXPECT_TRUE(b->hasGammaBuffer());
    ASSERT_EQ(b.entry(SE_CMD_START_SCAN, 0, 0, &info), 1);
    EXPECT_FALSE(b->hasGammaBuffer()) << "released once the driver object took its copy";
    EXPECT_EQ(b->driverObject()->scan_setting().gamma_switch, 1);
    EXPECT_EQ(b.entry(SE_CMD_STOP_SCAN), 1);
    ASSERT_EQ(b.entry(SE_CMD_START_SCAN, 0, 0, &info), 1);
    EXPECT_EQ(b->driverObject()->scan_setting().gamma_switch, 0) << "the second start carries no table";
    EXPECT_EQ(b.entry(SE_CMD_STOP_SCAN), 1);
}

// Every setting that reaches the device, from the command that sets it to the bytes of the window
// ("SWIN", record offsets 40-71) and parameter block ("PAR") the start sends. Each case begins
// from the same settings: reflective colour at 150 dpi, no preview, no ultrasound, normal quality.
class SettingsReachTheDevice : public EntryTest {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        if (HasFatalFailure()) return;
        add_scanner("feeder"); // flatbed, transparency unit and a two-sided feeder
        open_first();
    }
};

TEST_F(SettingsReachTheDevice, FromTheCommandToTheWindowAndParameterBytes)
{
    // A command: `value` itself, or with `by_address` the address of a word holding it.
    struct Step {
        int16_t code;
        uint64_t value;
        bool by_address = false;
        int16_t answer = 1;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::pair<size_t, uint32_t>> window;     // record offset, byte
        std::vector<std::pair<size_t, uint32_t>> parameters; // offset, byte (source: its u32)
    };
    constexpr uint32_t kFlatbed = 0x424C46, kFeeder = 0x464441;
    const Case cases[] = {
        {"the reflective defaults",
         {},
         {{40, 0}, {45, 1}, {46, 0}, {48, 0}, {56, 0}, {53, 1}, {54, 3}},
         {{0, kFlatbed}, {10, 1}, {11, 0}, {18, 24}, {19, 0}}},
        {"preview", {{SE_CMD_PREVIEW_MODE, 1, true}}, {{56, 1}}, {{11, 1}}},
        {"ultrasound", {{SE_CMD_ULTRASOUND, 1, true, 0}}, {{48, 1}}, {}},
        {"draft quality", {{SE_CMD_SCAN_QUALITY, 1}}, {{45, 0}}, {}},
        {"normal quality again", {{SE_CMD_SCAN_QUALITY, 1}, {SE_CMD_SCAN_QUALITY, 8}}, {{45, 1}}, {}},
        {"exposure ratio", {{SE_CMD_EXPOSURE_RATIO, 150}}, {{41, 150}, {42, 0}}, {}},
        {"positive film", {{SE_CMD_SOURCE, SE_SOURCE_POSITIVE_FILM}}, {{46, 1}}, {{0, kFlatbed}, {10, 1}}},
        {"negative film", {{SE_CMD_SOURCE, SE_SOURCE_NEGATIVE_FILM}}, {{46, 1}}, {{0, kFlatbed}, {10, 1}}},
        {"the feeder by bit 1", {{SE_CMD_SOURCE, 2}}, {{46, 2}}, {{0, kFeeder}, {10, 1}}},
        {"the feeder, both sides", {{SE_CMD_SOURCE, 16}}, {{46, 3}}, {{0, kFeeder}, {10, 3}}},
        {"grey", {{SE_CMD_IMAGE_TYPE, SE_IMAGE_GRAY, true}}, {}, {{18, 8}, {19, 1}}},
    };
    const Step baseline[] = {
        {SE_CMD_SOURCE, SE_SOURCE_REFLECTIVE},
        {SE_CMD_DEPTH, SE_DEPTH_8_BITS},
        {SE_CMD_IMAGE_TYPE, SE_IMAGE_COLOR, true},
        {SE_CMD_RESOLUTION, 150},
        {SE_CMD_PREVIEW_MODE, 0, true},
        {SE_CMD_ULTRASOUND, 0, true, 0},
        {SE_CMD_SCAN_QUALITY, 8},
        {SE_CMD_EXPOSURE_RATIO, 100},
    };
    SEFrame frame{480, 480, 1919, 1439}; // 0.3 × 0.2 inch, 0.1 inch in
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Step> steps(std::begin(baseline), std::end(baseline));
        steps.insert(steps.end(), c.steps.begin(), c.steps.end());
        for (const Step& step : steps) {
            // Image types travel in a record; the preview and ultrasound switches at an address.
            SEImageType type{static_cast<uint32_t>(step.value), 0, {}};
            uint32_t word = static_cast<uint32_t>(step.value);
            const bool typed = step.code == SE_CMD_IMAGE_TYPE;
            const int16_t r = typed ? command(step.code, 3, 0, &type)
                                    : command(step.code, 3, step.by_address ? address(&word) : step.value);
            ASSERT_EQ(r, step.answer) << "code " << step.code;
        }
        ASSERT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &frame), 1);
        SEImageInfo info{};
        ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &info), 1);
        const auto window = model().window();
        const auto par = model().parameters();
        ASSERT_TRUE(window.has_value());
        ASSERT_TRUE(par.has_value());
        for (auto [at, byte] : c.window) EXPECT_EQ((*window)[at - 40], byte) << "window byte " << at;
        for (auto [at, byte] : c.parameters) {
            const uint32_t value = at == 0 ? get_u32le(par->data()) : (*par)[at];
            EXPECT_EQ(value, byte) << "parameter byte " << at;
        }
        EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
    }
    // The qualities code 102 offers: 1 and 8.
    uint16_t qualities = 0;
    EXPECT_EQ(command(SE_CMD_SCAN_QUALITY, 0, 0, &qualities), 1);
    EXPECT_EQ(qualities, 9);
}

} // namespace
