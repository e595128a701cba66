// Job commands against the simulated scanner: job ids, reply checks, the status copy, image reads
// and the pauses after scan and stop.
#include "job_cmd.h"
#include "protocol_bytes.h"
#include "scanner_test.h"
#include "vek_cmd.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;

namespace {

class JobCmd : public ScannerTest {
protected:
    ScanJob* job() { return g()->scan_job; }
    // Opens a device job; the transcript then starts empty.
    void open_job()
    {
        ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
        model().clear_transcript();
    }
};

TEST_F(JobCmd, ACreateReplyOtherThanJobOneGives18)
{
    model().inject(Injection::refuse(Target::next("JOB"), 5, 0x2C));
    EXPECT_EQ(cmd_job_create(g()), STATUS_REFUSED_REQUEST);
    EXPECT_FALSE(model().job_open());
    model().inject(Injection::job_reply_id(Target::next("JOB"), 2));
    EXPECT_EQ(cmd_job_create(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(g()->job_id, 0u);
    // The device opened a job all the same: the next create ends it first instead of being refused
    // for good.
    ASSERT_TRUE(model().job_open());
    model().clear_transcript();
    EXPECT_EQ(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_EQ(g()->job_id, 1u);
    std::vector<std::string> sent;
    for (const sim::Transaction& tx : model().transactions()) sent.push_back(tx.brief());
    EXPECT_EQ(sent, (std::vector<std::string>{"JOB C", "JOB E", "JOB C"}));
    ASSERT_EQ(model().violations().size(), 1u); // the refused create, as the device sees it
    model().clear_transcript();
    close_device(); // the device drops its job when released
    EXPECT_FALSE(model().job_open());
}

// Only a create or end cut off by a broken transfer makes the driver end a job it may not know
// of; a plain refusal is answered 18 with nothing else sent, whether a job is open or not.
TEST_F(JobCmd, APlainRefusalOfACreateIsNotRetried)
{
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "a job open" : "no job");
        if (open) open_job();
        model().clear_transcript();
        model().inject(Injection::refuse(Target::next("JOB"), 5, 0x2C));
        EXPECT_EQ(cmd_job_create(g()), STATUS_REFUSED_REQUEST);
        std::vector<std::string> sent;
        for (const sim::Transaction& tx : model().transactions()) sent.push_back(tx.brief());
        EXPECT_EQ(sent, std::vector<std::string>{"JOB C"});
        EXPECT_EQ(g()->job_id, open ? 1u : 0u);
        EXPECT_EQ(model().job_open(), open);
    }
}

TEST_F(JobCmd, AnEndWithABadReplyKeepsTheJobId)
{
    open_job();
    model().inject(Injection::stall(Target::next("JOB"), Phase::Header));
    EXPECT_EQ(cmd_job_end(g()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(g()->job_id, 1u);
    model().inject(Injection::refuse(Target::next("JOB"), 5, 0x2C));
    EXPECT_EQ(cmd_job_end(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(g()->job_id, 1u);
    // The device ends its job but answers for another one.
    model().inject(Injection::job_reply_id(Target::next("JOB"), 0));
    EXPECT_EQ(cmd_job_end(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(g()->job_id, 1u);
}

// An end answered for another job may have ended the device's job: the job is no longer taken for
// open, so the next start creates one instead of sending its frames into none.
TEST_F(JobCmd, AnEndAnsweredForAnotherJobLeavesTheJobUnsure)
{
    open_job();
    ASSERT_TRUE(job_surely_open(g()));
    model().inject(Injection::job_reply_id(Target::next("JOB"), 0));
    EXPECT_EQ(cmd_job_end(g()), STATUS_REFUSED_REQUEST);
    EXPECT_FALSE(model().job_open());
    EXPECT_FALSE(job_surely_open(g()));
    EXPECT_EQ(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_TRUE(model().job_open());
    EXPECT_TRUE(job_surely_open(g()));
}

// A job whose end was lost with a stalled transfer stays open on the device; the next create ends
// it and opens a new one instead of being refused for good.
TEST_F(JobCmd, ACreateAfterALostEndEndsTheStaleJobFirst)
{
    open_job();
    model().inject(Injection::stall(Target::next("JOB"), Phase::Header));
    ASSERT_EQ(cmd_job_end(g()), STATUS_TRANSFER_FAILED);
    ASSERT_TRUE(model().job_open());
    model().clear_transcript();
    EXPECT_EQ(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_EQ(g()->job_id, 1u);
    EXPECT_TRUE(model().job_open());
    std::vector<std::string> sent;
    for (const sim::Transaction& tx : model().transactions()) sent.push_back(tx.brief());
    EXPECT_EQ(sent, (std::vector<std::string>{"JOB C", "JOB E", "JOB C"}));
    ASSERT_EQ(model().violations().size(), 1u); // the refused create, as the device sees it
    model().clear_transcript();
    EXPECT_EQ(cmd_job_end(g()), STATUS_GOOD);
    EXPECT_FALSE(model().job_open());
}

// The reply to a create is lost, though the device opened the job: the next create ends it first.
TEST_F(JobCmd, ACreateAfterALostCreateReplyEndsTheDevicesJobFirst)
{
    model().inject(Injection::stall(Target::next("JOB"), Phase::Reply));
    ASSERT_NE(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_EQ(g()->job_id, 0u);
    model().clear_transcript();
    EXPECT_EQ(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_EQ(g()->job_id, 1u);
    EXPECT_TRUE(model().job_open());
    model().clear_transcript();
    EXPECT_EQ(cmd_job_end(g()), STATUS_GOOD);
    EXPECT_FALSE(model().job_open());
}

TEST_F(JobCmd, ParametersAreTheFrameThenTheBlockThenTheReply)
{
    open_job();
    const size_t before = urbs().size();
    std::ranges::copy(pattern<40>(5), job()->para().begin());
    EXPECT_EQ(cmd_set_parameters(g(), job()), STATUS_GOOD);
    const auto events = urbs();
    ASSERT_EQ(events.size(), before + 3);
    EXPECT_EQ(events[before].moved, 8u);
    EXPECT_FALSE(events[before + 1].in);
    EXPECT_EQ(events[before + 1].moved, 40u);
    EXPECT_TRUE(events[before + 2].in);
    EXPECT_EQ(events[before + 2].moved, 8u);
    EXPECT_EQ(model().parameters(), pattern<40>(5));
}

TEST_F(JobCmd, TheStatusReplyIsCopiedWhateverItHolds)
{
    open_job();
    auto info = pattern<48>(9);
    model().set_info(info);
    model().inject(Injection::info_bytes(Target::next("INFO"), {{4, 'E'}, {7, 3}}));
    EXPECT_EQ(cmd_information(g(), job()), STATUS_GOOD);
    info[4] = 'E';
    info[7] = 3;
    EXPECT_TRUE(std::ranges::equal(job()->info(), info));
}

TEST_F(JobCmd, AFailedStatusReadKeepsThePreviousStatus)
{
    open_job();
    std::ranges::fill(job()->info(), 0x42);
    model().set_info(pattern<48>(1));
    model().inject(Injection::short_reply(Target::next("INFO"), 47));
    model().inject(Injection::stall(Target::next("INFO", 2), Phase::Header));
    EXPECT_EQ(cmd_information(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(cmd_information(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_TRUE(std::ranges::all_of(job()->info(), [](uint8_t b) { return b == 0x42; }));
}

TEST_F(JobCmd, StatusFieldsReadTheirOffsets)
{
    std::array<uint8_t, 48> info{};
    for (size_t i = 4; i < 24; ++i) info[i] = static_cast<uint8_t>(i); // little-endian counts
    for (size_t i : {24u, 26u, 27u, 28u, 29u, 30u, 33u, 34u, 35u}) info[i] = static_cast<uint8_t>(0x80 + i);
    open_job();
    model().set_info(info);
    ASSERT_EQ(cmd_information(g(), job()), STATUS_GOOD);
    const ScanJob& j = *job();
    EXPECT_EQ(j.page_number(0), 0x0504);
    EXPECT_EQ(j.page_number(1), 0x0706);
    EXPECT_EQ(j.bytes_ready(0), 0x0B0A0908u);
    EXPECT_EQ(j.bytes_ready(1), 0x0F0E0D0Cu);
    EXPECT_EQ(j.image_width(0), 0x1110);
    EXPECT_EQ(j.image_width(1), 0x1312);
    EXPECT_EQ(j.image_height(0), 0x1514);
    EXPECT_EQ(j.image_height(1), 0x1716);
    EXPECT_EQ(j.page_end(0), 0x80 + 24);
    EXPECT_EQ(j.page_end(1), 0);
    EXPECT_EQ(j.side_state(0), 0x80 + 27);
    EXPECT_EQ(j.side_state(1), 0x80 + 26);
    EXPECT_EQ(std::vector<int>({j.double_feed(), j.paper_jam(), j.device_error(), j.motor_running(),
                                j.jam_cancels_page(), j.feeder_ready()}),
              std::vector<int>({0x80 + 28, 0x80 + 29, 0x80 + 30, 0x80 + 33, 0x80 + 34, 0x80 + 35}));
}

TEST_F(JobCmd, AnImageReadOfNothingSendsTheFrameOnly)
{
    open_job();
    const size_t before = urbs().size();
    uint32_t got = 5;
    EXPECT_EQ(cmd_read(g(), job(), 0, nullptr, 0, &got), STATUS_GOOD);
    EXPECT_EQ(got, 0u);
    const auto events = urbs();
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_FALSE(events.back().in);
    EXPECT_EQ(briefs(), (std::vector<std::string>{"IMG 0 0"}));
}

TEST_F(JobCmd, AFailedImageReadGives17AndNothingGot)
{
    open_job();
    const Bytes data(100, 0x31);
    model().feed_image(0, data);
    std::vector<uint8_t> buffer(100);
    uint32_t got = 9;
    model().inject(Injection::short_reply(Target::next("IMG"), 40));
    EXPECT_EQ(cmd_read(g(), job(), 0, buffer.data(), 100, &got), STATUS_UNEXPECTED_JOB_REPLY);
    EXPECT_EQ(got, 0u);
    // The side now holds 60 bytes; asking for more than that stalls.
    allow_violations();
    got = 9;
    EXPECT_EQ(cmd_read(g(), job(), 0, buffer.data(), 61, &got), STATUS_UNEXPECTED_JOB_REPLY);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(model().violations().size(), 1u);
    EXPECT_NE(model().violations()[0].find("IMG of 61 bytes with 60 ready"), std::string::npos);
    // A failed frame write is a transfer failure.
    model().inject(Injection::stall(Target::next("IMG"), Phase::Header));
    EXPECT_EQ(cmd_read(g(), job(), 0, buffer.data(), 60, &got), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(cmd_read(g(), job(), 0, buffer.data(), 60, &got), STATUS_GOOD);
    EXPECT_EQ(got, 60u);
    EXPECT_EQ(buffer[59], 0x31);
}

TEST_F(JobCmd, ScanAndStopPauseOnlyAfterAGoodReply)
{
    open_job();
    ASSERT_EQ(vek_cmd_set_window(g(), job()), STATUS_GOOD);
    ASSERT_EQ(cmd_set_parameters(g(), job()), STATUS_GOOD);
    model().inject(Injection::refuse(Target::next("SCAN"), 5, 0x24));
    EXPECT_EQ(cmd_scan(g(), job()), STATUS_REFUSED_REQUEST);
    EXPECT_TRUE(sleeps().empty());
    EXPECT_EQ(cmd_scan(g(), job()), STATUS_GOOD);
    EXPECT_EQ(sleeps(), std::vector<uint32_t>{100});
    model().inject(Injection::stall(Target::next("STOP"), Phase::Reply));
    EXPECT_EQ(cmd_stop(g(), job()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(sleeps().size(), 1u);
    EXPECT_EQ(cmd_stop(g(), job()), STATUS_GOOD);
    EXPECT_EQ(sleeps(), (std::vector<uint32_t>{100, 100}));
}

TEST_F(JobCmd, MotorRepliesMustBeAnAcceptance)
{
    open_job();
    model().inject(Injection::refuse(Target::next("MOTO"), 5, 0x24));
    EXPECT_EQ(cmd_motor_load_paper(g(), SCAN_SOURCE_ADF, 1), STATUS_UNEXPECTED_JOB_REPLY);
    model().inject(Injection::stall(Target::next("MOTO"), Phase::Reply));
    EXPECT_EQ(cmd_motor_eject_paper(g(), SCAN_SOURCE_ADF, 1), STATUS_TRANSFER_FAILED);
    // Only the tag and the acceptance byte are judged.
    model().inject(Injection::job_reply_id(Target::next("MOTO"), 9));
    EXPECT_EQ(cmd_motor_eject_paper(g(), 0, 1), STATUS_GOOD);
}

// The device part of opening a scanner, as one job.
TEST_F(JobCmd, TheOpenReadsRunInOneJob)
{
    model().edit([](sim::ScannerRecords& r) { r.media[0] = r.media[1] = 1; });
    EXPECT_EQ(cmd_job_create(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_get_scanner_media(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_get_resolution_information(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_get_attributes(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_read_system_status(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_read_eeprom_data(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_read_flash_config(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_read_calibration_action_data(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_read_side_edge(g(), 1600, 0), STATUS_GOOD);
    EXPECT_EQ(cmd_job_end(g()), STATUS_GOOD);
    EXPECT_EQ(briefs(),
              (std::vector<std::string>{"JOB C", "INQU", "MEDI", "RES 0", "RES 1", "ATTR 0", "ATTR 1", "SYS", "EROM",
                                        "FLHC", "CAAT", "CALI 1600 0", "JOB E"}));
    for (const sim::Transaction& tx : model().transactions()) {
        EXPECT_EQ(tx.outcome, sim::TxOutcome::Accepted) << tx.brief();
        EXPECT_EQ(tx.job_id, tx.tag == "JOB" && tx.code == 'C' ? 0u : 1u) << tx.brief();
    }
}

} // namespace
