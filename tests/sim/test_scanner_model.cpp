// The simulated scanner driven through plain libusb with hand-made frames, including the malformed
// ones the driver never sends: its refusals, sense data, job state machine and violations.
#include "bytes.h"
#include "model_registry.h"
#include "protocol_bytes.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "testbed.h"
#include "usb_ids.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace lftest;

class ScannerModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testbed_.emplace();
        // Blank records: these checks are about framing, refusals and the job state machine.
        model_ = &testbed_->add_with<sim::ScannerModel>(sim::scanner_device(), sim::ScannerRecords{}).second;
        ASSERT_EQ(libusb_init(&ctx_), 0);
        handle_ = libusb_open_device_with_vid_pid(ctx_, VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID);
        ASSERT_NE(handle_, nullptr);
        ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    }
    void TearDown() override
    {
        if (handle_ != nullptr) libusb_close(handle_);
        if (ctx_ != nullptr) libusb_exit(ctx_);
        testbed_.reset();
    }
    sim::ScannerModel& model() { return *model_; }

    int send(const Bytes& bytes)
    {
        int moved = 0;
        Bytes copy = bytes;
        return libusb_bulk_transfer(handle_, 0x02, copy.data(), static_cast<int>(copy.size()), &moved, 2000);
    }
    // Reads up to n bytes; an error leaves the result empty.
    Bytes receive(size_t n, int* status = nullptr)
    {
        Bytes buffer(n);
        int moved = 0;
        const int r = libusb_bulk_transfer(handle_, 0x81, buffer.data(), static_cast<int>(n), &moved, 2000);
        if (status != nullptr) *status = r;
        buffer.resize(r == 0 ? static_cast<size_t>(moved) : 0);
        return buffer;
    }
    Bytes read_request(const Bytes& block, uint32_t length)
    {
        EXPECT_EQ(send(request_header("VEKR", length)), 0);
        EXPECT_EQ(send(block), 0);
        return receive(length);
    }
    // A write request; answers reply byte 4 ('A' or 'E').
    uint8_t write_request(Bytes block, const Bytes& payload)
    {
        block.insert(block.end(), payload.begin(), payload.end());
        EXPECT_EQ(send(request_header("VEKW", static_cast<uint32_t>(block.size()))), 0);
        EXPECT_EQ(send(block), 0);
        const Bytes reply = receive(8);
        return reply.size() == 8 ? reply[4] : 0;
    }
    Bytes exchange(const Bytes& f)
    {
        EXPECT_EQ(send(f), 0);
        return receive(8);
    }
    // The sense the device reports now: key and code.
    std::pair<uint8_t, uint8_t> sense()
    {
        const Bytes reply = read_request(own_block("SENS", 0x03), 256);
        EXPECT_EQ(reply.size(), 256u);
        EXPECT_EQ(reply[4], 'A');
        EXPECT_EQ(reply[8], 0x70);
        return {reply[9], reply[10]};
    }

    std::optional<sim::Testbed> testbed_;
    sim::ScannerModel* model_ = nullptr;
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

using Key = std::pair<uint8_t, uint8_t>;

TEST_F(ScannerModelTest, AWrongLengthIsRefusedAfterTakingTheAnnouncedBytes)
{
    Bytes reply = read_request(own_block("INQU", 0x12), 100);
    ASSERT_EQ(reply.size(), 100u);
    EXPECT_EQ(reply[4], 'E');
    EXPECT_EQ(Bytes(reply.begin() + 8, reply.end()), Bytes(92, 0));
    EXPECT_EQ(sense(), Key(5, 0x1A));

    // A write takes the L bytes its header announced.
    Bytes data = send_block("EROM", 0xF1);
    data.resize(26, 0x99);
    ASSERT_EQ(send(request_header("VEKW", 26)), 0);
    ASSERT_EQ(send(data), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x1A));
    EXPECT_EQ(model().records().eeprom, (std::array<uint8_t, 256>{}));

    // Gamma tables and the eject operand have their own lengths.
    data = send_block("GAMA", 0x03, {{13, 4}});
    data.resize(16 + 1024);
    ASSERT_EQ(send(request_header("VEKW", static_cast<uint32_t>(data.size()))), 0);
    ASSERT_EQ(send(data), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    ASSERT_EQ(send(request_header("VEKC", 0xFFE)), 0);
    ASSERT_EQ(send(own_block("MOTO", 0xE1, {{6, 0xA2}})), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x1A));

    const auto v = model().violations();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NE(v[0].find("INQU: wrong length 100 (expected 216)"), std::string::npos);
}

TEST_F(ScannerModelTest, UnknownCommandsAndAbsentMediaAreRefusedWithoutViolations)
{
    EXPECT_EQ(read_request(own_block("ABCD", 0x01), 16)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x20));
    EXPECT_EQ(read_request(read_block("ATTR", 0x83), 72)[4], 'E'); // wrong code
    EXPECT_EQ(sense(), Key(5, 0x20));
    EXPECT_EQ(exchange(job_frame("XYZW", 0, 0, 0, 0))[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x20));

    model().edit([](sim::ScannerRecords& r) { r.media[0] = 1; });
    EXPECT_EQ(read_request(own_block("RES", 0x14, {{5, 0}}), 160)[4], 'A');
    EXPECT_EQ(read_request(own_block("RES", 0x14, {{5, 1}}), 160)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x24));
    EXPECT_EQ(read_request(read_block("ATTR", 0x82, {{13, 7}}), 72)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x24));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, JobFramesOutOfSequenceAreRefused)
{
    const Bytes refused = {'S', 'T', 'A', 0, 'E', 0, 0, 0};
    for (const Bytes& f : {job_frame("SCAN", 0, 0, 0, 1), job_frame("STOP", 0, 0, 0, 1), job_frame("CANC", 0, 0, 1, 1),
                           job_frame("MOTO", 0, 0, 1, 1), job_frame("JOB", 'E', 0, 0, 1)}) {
        EXPECT_EQ(exchange(f), refused);
        EXPECT_EQ(sense(), Key(5, 0x2C));
    }
    ASSERT_EQ(send(job_frame("PAR", 0x28, 0, 0, 1)), 0);
    ASSERT_EQ(send(Bytes(40, 0)), 0);
    EXPECT_EQ(receive(8), refused);

    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0))[4], 'A');
    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0)), (Bytes{'S', 'T', 'A', 0, 'E', 0, 0, 1}));
    EXPECT_EQ(exchange(job_frame("SCAN", 0, 0, 0, 1))[4], 'E'); // no window or parameters yet
    EXPECT_EQ(exchange(job_frame("STOP", 0, 0, 0, 2))[4], 'E'); // another job's id
    EXPECT_EQ(exchange(job_frame("JOB", 'E', 0, 0, 1)), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 1}));
    EXPECT_EQ(model().violations().size(), 9u);
    for (const std::string& v : model().violations()) EXPECT_NE(v.find("out of sequence"), std::string::npos) << v;
}

TEST_F(ScannerModelTest, DataThatCannotBeServedIsAViolationAndNeverAWait)
{
    ASSERT_EQ(send(job_frame("INFO", 0x30, 0, 0, 1)), 0);
    EXPECT_EQ(receive(48), Bytes(48, 0));
    int status = 0;
    ASSERT_EQ(send(job_frame("IMG", 10, 0, 0, 0)), 0);
    EXPECT_TRUE(receive(10, &status).empty());
    EXPECT_EQ(status, LIBUSB_ERROR_PIPE);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);
    receive(8, &status); // nothing pending
    EXPECT_EQ(status, LIBUSB_ERROR_PIPE);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);

    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0))[4], 'A');
    model().feed_image(1, Bytes{1, 2, 3});
    ASSERT_EQ(send(job_frame("IMG", 4, 0, 0, 1)), 0);
    EXPECT_TRUE(receive(4, &status).empty());
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);
    ASSERT_EQ(send(job_frame("IMG", 3, 0, 0, 1)), 0);
    EXPECT_EQ(receive(3), (Bytes{1, 2, 3}));

    const auto v = model().violations();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NE(v[0].find("INFO without an open job"), std::string::npos);
    EXPECT_NE(v[1].find("IMG without an open job"), std::string::npos);
    EXPECT_NE(v[2].find("nothing pending"), std::string::npos);
    EXPECT_NE(v[3].find("IMG of 4 bytes with 3 ready on side 1"), std::string::npos);
}

// The two faults the soak injects into replies: one that never comes, and image bytes changed on
// the way (offsets wrap around the reply, across the transfers that take it).
TEST_F(ScannerModelTest, AnUnansweredReplyAndCorruptedImageBytes)
{
    model().inject(sim::Injection::no_answer(sim::Target::next("SENS")));
    ASSERT_EQ(send(request_header("VEKR", 256)), 0);
    ASSERT_EQ(send(own_block("SENS", 0x03)), 0);
    int status = 0;
    EXPECT_TRUE(receive(256, &status).empty());
    EXPECT_EQ(status, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(sense(), Key(0, 0)) << "the next request is answered";

    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0))[4], 'A');
    const Bytes image = {10, 11, 12, 13, 14, 15};
    model().feed_image(0, image);
    model().feed_image(0, image);
    model().inject(sim::Injection::image_bytes(sim::Target::next("IMG"), {{1, 0xFF}, {10, 0x01}}));
    ASSERT_EQ(send(job_frame("IMG", 6, 0, 0, 0)), 0);
    EXPECT_EQ(receive(3), (Bytes{10, 11 ^ 0xFF, 12}));
    EXPECT_EQ(receive(3), (Bytes{13, 14 ^ 0x01, 15}));
    ASSERT_EQ(send(job_frame("IMG", 6, 0, 0, 0)), 0);
    EXPECT_EQ(receive(6), image) << "the next reply is whole";
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, FramingBreachesAreViolations)
{
    ASSERT_EQ(send(job_frame("JOB", 'C', 0, 0, 0)), 0);
    ASSERT_EQ(send(job_frame("JOB", 'E', 0, 0, 1)), 0); // the create's reply was never read
    EXPECT_EQ(receive(8)[7], 1);
    EXPECT_EQ(read_request(own_block("MEDI", 0x13), 40)[4], 'A');
    Bytes odd = request_header("VEKR", 40);
    odd[4] = 1;
    ASSERT_EQ(send(odd), 0);
    ASSERT_EQ(send(own_block("MEDI", 0x13)), 0);
    receive(40);
    ASSERT_EQ(send(request_header("VEKR", 40)), 0);
    ASSERT_EQ(send(Bytes(12, 0)), 0); // a short block
    const auto v = model().violations();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NE(v[0].find("still pending"), std::string::npos);
    EXPECT_NE(v[1].find("byte 4 is not 0"), std::string::npos);
    EXPECT_NE(v[2].find("block of 12 bytes"), std::string::npos);
}

TEST_F(ScannerModelTest, AHaltClearDropsAHalfReceivedRequest)
{
    ASSERT_EQ(send(request_header("VEKR", 216)), 0);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x02), 0);
    EXPECT_EQ(read_request(own_block("MEDI", 0x13), 40).size(), 40u);
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, ReleasingTheInterfaceDropsTheJobButNotTheRecords)
{
    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0))[4], 'A');
    Bytes window = own_block("SWIN", 0x24);
    window.resize(48, 3);
    ASSERT_EQ(send(request_header("VEKW", 48)), 0);
    ASSERT_EQ(send(window), 0);
    EXPECT_EQ(receive(8)[4], 'A');
    model().edit([](sim::ScannerRecords& r) { r.eeprom.fill(0x17); });
    EXPECT_TRUE(model().window().has_value());

    ASSERT_EQ(libusb_release_interface(handle_, 0), 0);
    EXPECT_FALSE(model().job_open());
    EXPECT_FALSE(model().window().has_value());
    ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    EXPECT_EQ(exchange(job_frame("JOB", 'C', 0, 0, 0)), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 1}));
    const Bytes eeprom = read_request(read_block("EROM", 0xF1), 264);
    EXPECT_EQ(Bytes(eeprom.begin() + 8, eeprom.end()), Bytes(256, 0x17));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, StoresKeepOnlyWhatTheyAccept)
{
    // The EEPROM wants its checksum, the flash configuration its CRC.
    auto eeprom = pattern<256>(5);
    EXPECT_EQ(write_request(send_block("EROM", 0xF1), Bytes(eeprom.begin(), eeprom.end())), 'E');
    EXPECT_EQ(sense(), Key(5, 0x26));
    sim::seal_eeprom(eeprom);
    EXPECT_EQ(write_request(send_block("EROM", 0xF1), Bytes(eeprom.begin(), eeprom.end())), 'A');
    EXPECT_EQ(model().records().eeprom, eeprom);
    auto config = pattern<128>(6);
    EXPECT_EQ(write_request(send_block("FLHC", 0xF6), Bytes(config.begin(), config.end())), 'E');
    EXPECT_EQ(sense(), Key(5, 0x26));
    EXPECT_EQ(model().records().flash_config, (std::array<uint8_t, 128>{}));
    sim::seal_flash_config(config);
    EXPECT_EQ(write_request(send_block("FLHC", 0xF6), Bytes(config.begin(), config.end())), 'A');

    // The user area holds up to 1 MiB; a read is cut or zero-padded to its size.
    EXPECT_EQ(write_request(send_block("FLHU", 0xF7), Bytes((1u << 20) + 1, 1)), 'E');
    EXPECT_EQ(sense(), Key(5, 0x1A));
    EXPECT_EQ(write_request(send_block("FLHU", 0xF7), Bytes{7, 8, 9}), 'A');
    EXPECT_EQ(read_request(read_block("FLHU", 0xF7), 8 + 2), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 0, 7, 8}));
    EXPECT_EQ(read_request(read_block("FLHU", 0xF7), 8 + 4), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 0, 7, 8, 9, 0}));

    // Only system status bytes 11-15 are the host's; bit 4 of byte 11 stays the device's.
    model().edit([](sim::ScannerRecords& r) { r.system_status[11] = 0x10; });
    EXPECT_EQ(write_request(send_block("SYS", 0x81), Bytes(32, 0xEE)), 'A');
    auto status = std::array<uint8_t, 32>{};
    status[11] = 0xFE;
    std::fill_n(status.begin() + 12, 4, 0xEE);
    EXPECT_EQ(model().records().system_status, status);
    EXPECT_TRUE(model().violations().empty());
}

TEST(ScannerModelRegistry, TheLauncherKnowsTheScannerAndItsProfiles)
{
    auto media_of = [](const std::string& name) {
        const std::optional<sim::ModelEntry> entry = sim::find_model(name);
        if (!entry) return std::array<uint8_t, 32>{0xFF};
        sim::Testbed testbed;
        entry->populate(testbed);
        EXPECT_EQ(testbed.devices().size(), 1u);
        return testbed.devices()[0]->model_as<sim::ScannerModel>().records().media;
    };
    EXPECT_EQ(media_of("scanner"), (std::array<uint8_t, 32>{1, 1}));
    EXPECT_EQ(media_of("scanner:feeder"), (std::array<uint8_t, 32>{1, 1, 1, 1}));
    EXPECT_EQ(media_of("scanner:none"), (std::array<uint8_t, 32>{0xFF}));
    EXPECT_EQ(media_of("scanners:feeder"), (std::array<uint8_t, 32>{0xFF}));
    for (const std::string& name : sim::scanner_profile_names()) {
        const auto r = sim::scanner_profile(name);
        ASSERT_TRUE(r.has_value()) << name;
        EXPECT_TRUE(sim::eeprom_sealed(r->eeprom)) << name;
        EXPECT_TRUE(sim::flash_config_sealed(r->flash_config)) << name;
    }
}

} // namespace
