// The device record: the open sequence against the simulated scanner's profiles, its failures,
// the serial number and every accessor, including hostile records.
#include "gl_scanner.h"
#include "protocol_bytes.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;

namespace {

const std::vector<std::string> kDefaultOpen = {"JOB C", "INQU", "MEDI", "RES 0", "RES 1",       "ATTR 0", "ATTR 1",
                                               "SYS",   "EROM", "FLHC", "CAAT",  "CALI 1600 0", "JOB E"};

// The record is opened by each test.
class ScannerOpen : public ScannerTest {
protected:
    bool open_scanner() const override { return false; }
    void TearDown() override
    {
        scanner_free(opened_);
        ScannerTest::TearDown();
    }
    // Opens a fresh record (freeing the last) and answers the open's transcript.
    std::vector<std::string> reopen(eStatus expected = STATUS_GOOD)
    {
        scanner_free(opened_);
        opened_ = nullptr;
        model().clear_transcript();
        EXPECT_EQ(scanner_new(gl_device(), &opened_), expected);
        return briefs();
    }
    GLScanner* opened_ = nullptr;
};

TEST_F(ScannerOpen, TheDefaultProfileOpensWithTheExactSequenceEveryTime)
{
    for (int cycle = 0; cycle < 4; ++cycle) {
        EXPECT_EQ(reopen(), kDefaultOpen) << "cycle " << cycle;
        ASSERT_NE(opened_, nullptr);
        EXPECT_EQ(opened_->job_id, 0u);
        EXPECT_EQ(opened_->scan_started, 0);
        EXPECT_STREQ(opened_->serial_number, "SN6204000012345A");
        EXPECT_NE(opened_->scan_job, nullptr);
        EXPECT_NE(opened_->white_job, nullptr);
    }
    EXPECT_FALSE(model().job_open());
    // The side edge of the device's calibration store: 10, 20, 45, 60 in words 14 to 17.
    EXPECT_EQ(get_u16le(opened_->side_edge.data() + 28), 10);
    EXPECT_EQ(get_u16le(opened_->side_edge.data() + 34), 60);

    ASSERT_TRUE(model().use_profile("submodel2"));
    std::vector<std::string> expected = kDefaultOpen;
    expected.insert(expected.begin() + 11, {"XSMC", "CRRG"});
    EXPECT_EQ(reopen(), expected);
    EXPECT_EQ(opened_->x_axis_magnification, model().records().xsmc);
    EXPECT_EQ(opened_->rgb_alignment, model().records().crrg);

    // Reading the features again takes a job of its own; a failed inquiry leaves it open.
    model().clear_transcript();
    EXPECT_EQ(scanner_device_features(opened_), STATUS_GOOD);
    model().inject(Injection::refuse(Target::next("INQU"), 5, 0x24));
    EXPECT_EQ(scanner_device_features(opened_), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(briefs(), (std::vector<std::string>{"JOB C", "INQU", "JOB E", "JOB C", "INQU"}));
    EXPECT_EQ(opened_->job_id, 1u);
}

struct FailingStep {
    std::string tag;
    int occurrence;
    bool stall;
    friend void PrintTo(const FailingStep& s, std::ostream* os) { *os << s.tag << " #" << s.occurrence; }
};

class ScannerOpenFailure : public ScannerOpen, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(ScannerOpenFailure, EachStepsFailureEndsTheJobAndLeavesNothing)
{
    const FailingStep& step = GetParam();
    const Target target = Target::next(step.tag, step.occurrence);
    model().inject(step.stall ? Injection::stall(target, Phase::Reply) : Injection::refuse(target, 5, 0x24));
    // After a failed create, or an end whose reply was lost, the driver ends a job the device does
    // not hold: the device calls that out of sequence.
    if (step.tag == "JOB" && (step.occurrence == 1 || step.stall)) allow_violations();
    const auto sent = reopen(step.stall ? STATUS_TRANSFER_FAILED : STATUS_REFUSED_REQUEST);
    EXPECT_EQ(opened_, nullptr);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "JOB E");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ScannerOpenFailure, ::testing::ValuesIn([] {
                             std::vector<FailingStep> steps;
                             const std::pair<const char*, int> targets[] = {
                                 {"JOB", 1},  {"INQU", 1}, {"MEDI", 1}, {"RES", 1},  {"RES", 2},
                                 {"ATTR", 1}, {"ATTR", 2}, {"SYS", 1},  {"EROM", 1}, {"FLHC", 1},
                                 {"CAAT", 1}, {"CALI", 1}, {"JOB", 2}};
                             for (bool stall : {false, true})
                                 for (const auto& [tag, n] : targets) steps.push_back({tag, n, stall});
                             return steps;
                         }()),
                         [](const auto& step) {
                             return step.param.tag + std::to_string(step.param.occurrence) +
                                 (step.param.stall ? "Stall" : "Refused");
                         });

// Each row: a change to the default profile's records that makes the answer true or false.
struct PredicateRow {
    const char* name;
    std::function<void(sim::ScannerRecords&, bool)> set;
    bool (*answer)(const GLScanner*);
};

TEST_F(ScannerOpen, EveryPredicateFollowsTheDevicesRecords)
{
    auto attr = [](size_t media, size_t at) {
        return [=](sim::ScannerRecords& r, bool on) { r.attributes[media][at] = on ? 1 : 0; };
    };
    auto vendor = [](sim::ScannerRecords& r, bool on) { r.inquiry[103] = on ? 'E' : 'X'; };
    const PredicateRow rows[] = {
        {"media 2 is read",
         [](sim::ScannerRecords& r, bool on) {
             r.media[2] = on ? 1 : 0;
             r.attributes[2] = r.attributes[0];
         },
         [](const GLScanner* g) { return get_scanner_max_x_resolution(g, 2) == 4800; }},
        {"mirror", attr(1, 1), [](const GLScanner* g) { return is_scanner_image_mirror(g, 1); }},
        {"bqm", attr(1, 47), [](const GLScanner* g) { return is_scanner_support_bqm(g, 1); }},
        {"ecc", attr(1, 57), [](const GLScanner* g) { return is_scanner_support_ecc(g, 1); }},
        {"zero resolutions",
         [](sim::ScannerRecords& r, bool on) {
             if (!on) std::fill_n(r.attributes[1].begin() + 4, 8, 0);
         },
         [](const GLScanner* g) {
             return get_scanner_max_x_resolution(g, 1) != 3200 || get_scanner_max_y_resolution(g, 1) != 3200;
         }},
        {"ir", attr(1, 37), is_scanner_support_ir_sensor_paper_detection},
        {"ultrasound", attr(1, 35), is_scanner_support_ultrasound_doublefeed_detection},
        {"hall", attr(1, 38), is_scanner_support_hall_sensor_paper_detection},
        {"buttons", [](sim::ScannerRecords& r, bool on) { put_u16le(r.attributes[1].data() + 28, on ? 0xFFFF : 0); },
         [](const GLScanner* g) { return g->supported_buttons == 0x1FF; }},
        {"further feature", attr(1, 36), [](const GLScanner* g) { return g->further_feature == 1; }},
        {"model name", [](sim::ScannerRecords& r, bool on) { r.system_status[16] = on ? 1 : 0xFE; },
         is_scanner_support_model_name},
        {"user exposure", attr(0, 32),
         [](const GLScanner* g) {
             return is_scanner_support_user_exposure(g) && get_scanner_max_user_exposure(g) == 200 &&
                 get_scanner_min_user_exposure(g) == 50;
         }},
        {"multi light", attr(0, 40), is_scanner_support_multi_light},
        {"magnification", attr(0, 41), is_scanner_support_x_axis_magnification_compensation},
        {"power saving", attr(0, 42),
         [](const GLScanner* g) {
             return is_scanner_support_power_saving_mode(g) && get_scanner_max_power_saving(g) == 240;
         }},
        {"power off", attr(0, 52),
         [](const GLScanner* g) {
             return is_scanner_support_power_off_mode(g) && get_scanner_max_power_off(g) == 480;
         }},
        {"rgb alignment", attr(0, 58), is_scanner_support_rgb_alignment},
        {"firmware vendor", vendor, is_scanner_support_full_version_of_firmware},
        {"fpga vendor", vendor, is_scanner_support_full_version_of_fpga},
        {"mcu vendor", vendor, is_scanner_support_full_version_of_mcu},
        {"firmware of 7 characters", [](sim::ScannerRecords& r, bool on) { r.inquiry[104 + 7] = on ? '.' : 0; },
         is_scanner_support_full_version_of_firmware},
        {"cropping scaling", [](sim::ScannerRecords& r, bool on) { r.inquiry[90] = on ? 1 : 0; },
         [](const GLScanner* g) {
             return is_scanner_support_cropping_scaling(g) && get_scanner_cropping_scaling_ratio(g) == 0.8942125;
         }},
    };
    for (const PredicateRow& r : rows) {
        for (bool want : {true, false}) {
            ASSERT_TRUE(model().use_profile("default"));
            model().edit([&](sim::ScannerRecords& records) { r.set(records, want); });
            reopen();
            ASSERT_NE(opened_, nullptr) << r.name;
            EXPECT_EQ(r.answer(opened_), want) << r.name;
        }
    }
}

TEST(ScannerRecord, SerialNumberPiecesAndBounds)
{
    GLScanner g{};
    auto serial = [&](size_t size) {
        std::string text(size + 4, '#');
        get_scanner_serial_number(&g, text.data(), size);
        return text;
    };
    const uint8_t pieces[] = {'S', 'N', '6', '2', '0', '4', '0', '0', '0', '0', '1', '2', '3', '4', '5', 'A'};
    std::memcpy(g.eeprom.data() + 36, pieces, sizeof pieces);
    EXPECT_EQ(serial(48).c_str(), std::string("SN6204000012345A"));
    EXPECT_EQ(serial(4), std::string("SN6\0####", 8));
    EXPECT_EQ(serial(0), "####");
    EXPECT_EQ(serial(1), std::string("\0####", 5));

    // A 0 or 0xFF ends its piece only.
    const uint8_t broken[] = {'A', 'B', 0xFF, 'C', 'D', 0, 'E', 'F', 'G'};
    g.eeprom.fill(0);
    std::memcpy(g.eeprom.data() + 36, broken, sizeof broken);
    EXPECT_EQ(serial(48).c_str(), std::string("ABDG"));
    g.eeprom.fill(0);
    EXPECT_EQ(serial(48).c_str(), std::string());
    g.eeprom.fill(0xFF);
    EXPECT_EQ(serial(48).c_str(), std::string());
}

class HostileScanner : public ScannerTest {
protected:
    std::string profile() const override { return "hostile"; }
};

TEST_F(HostileScanner, EveryAccessorStaysWithinItsField)
{
    EXPECT_STREQ(g()->serial_number, "../x/../evil/..\x01");
    std::string name(48, '#');
    get_scanner_model_name(g(), name.data(), 8);
    EXPECT_EQ(name.substr(0, 9), std::string("NNNNNNN\0#", 9));
    get_scanner_model_name(g(), name.data(), 32);
    EXPECT_EQ(std::strlen(name.c_str()), 31u);
    get_scanner_model_name(g(), name.data(), 48);
    EXPECT_EQ(std::strlen(name.c_str()), 32u);
    EXPECT_EQ(name.find_first_not_of('N'), 32u);

    EXPECT_TRUE(is_scanner_support_full_version_of_firmware(g()));
    EXPECT_TRUE(is_scanner_support_full_version_of_fpga(g()));
    EXPECT_TRUE(is_scanner_support_full_version_of_mcu(g()));
    EXPECT_EQ(get_scanner_max_scan_width_by_inch(g(), 0), INT32_MAX);
    EXPECT_EQ(get_scanner_max_scan_height_by_inch(g(), 0), INT32_MAX);
    EXPECT_EQ(get_scanner_max_scan_width_by_inch(g(), 1), 7200 * 1000 / 4800);

    // Media outside the table read as an all-zero record.
    for (int media : {-1, 10, INT_MAX}) {
        EXPECT_FALSE(is_scanner_image_mirror(g(), media));
        EXPECT_EQ(get_scanner_max_x_resolution(g(), media), 3200u);
        EXPECT_EQ(get_scanner_max_scan_width_by_inch(g(), media), 0);
    }
}

} // namespace
