// The simulated scanner driven through plain libusb with hand-made frames, including the malformed
// ones the driver never sends: its refusals, sense data, job state machine and violations.
#include "bytes.h"
#include "model_registry.h"
#include "scanner_model.h"
#include "testbed.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(const char* tag, uint32_t length, uint8_t byte4 = 0)
{
    Bytes h(8, 0);
    std::memcpy(h.data(), tag, 4);
    h[4] = byte4;
    h[5] = static_cast<uint8_t>(length);
    h[6] = static_cast<uint8_t>(length >> 8);
    h[7] = static_cast<uint8_t>(length >> 16);
    return h;
}

Bytes own(const char* tag, uint8_t code, std::initializer_list<std::pair<int, uint8_t>> params = {})
{
    Bytes b(16, 0);
    std::memcpy(b.data(), tag, strnlen(tag, 4));
    b[4] = code;
    for (const auto& [at, v] : params) b[static_cast<size_t>(at)] = v;
    return b;
}

Bytes subject(const char* form, uint8_t opcode, const char* tag, uint8_t code,
              std::initializer_list<std::pair<int, uint8_t>> params = {})
{
    Bytes b = own(form, opcode, params);
    std::memcpy(b.data() + 8, tag, strnlen(tag, 4));
    b[12] = code;
    return b;
}

Bytes frame(const char* tag, uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    Bytes f(8, 0);
    std::memcpy(f.data(), tag, strnlen(tag, 4));
    f[4] = b4;
    f[5] = b5;
    f[6] = b6;
    f[7] = b7;
    return f;
}

class ScannerModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testbed_.emplace();
        auto [dev, model] = testbed_->add_with<sim::ScannerModel>(sim::scanner_device());
        device_ = &dev;
        model_ = &model;
        ASSERT_EQ(libusb_init(&ctx_), 0);
        handle_ = libusb_open_device_with_vid_pid(ctx_, 0xF0A2, 0x6204);
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
        EXPECT_EQ(send(header("VEKR", length)), 0);
        EXPECT_EQ(send(block), 0);
        return receive(length);
    }
    Bytes exchange(const Bytes& job_frame)
    {
        EXPECT_EQ(send(job_frame), 0);
        return receive(8);
    }
    // The sense the device reports now: key and code.
    std::pair<uint8_t, uint8_t> sense()
    {
        const Bytes reply = read_request(own("SENS", 0x03), 256);
        EXPECT_EQ(reply.size(), 256u);
        EXPECT_EQ(reply[4], 'A');
        EXPECT_EQ(reply[8], 0x70);
        return {reply[9], reply[10]};
    }

    std::optional<sim::Testbed> testbed_;
    sim::VirtualDevice* device_ = nullptr;
    sim::ScannerModel* model_ = nullptr;
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

using Key = std::pair<uint8_t, uint8_t>;

TEST_F(ScannerModelTest, RepliesCarryTheStatusAndJobIdAndReadsAreExactlyTheAnnouncedLength)
{
    model().edit([](sim::ScannerRecords& r) {
        r.inquiry.fill(0x21);
        r.flash_user = Bytes(30, 0x42);
    });
    const Bytes reply = read_request(own("INQU", 0x12), 216);
    ASSERT_EQ(reply.size(), 216u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 0}));
    EXPECT_EQ(Bytes(reply.begin() + 8, reply.end()), Bytes(208, 0x21));

    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0)), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 1}));
    // A read of n bytes of the user area is its first n, zero-padded.
    Bytes user = read_request(subject("READ", 0x28, "FLHU", 0xF7), 8 + 40);
    ASSERT_EQ(user.size(), 48u);
    EXPECT_EQ(user[7], 1);
    Bytes expected(30, 0x42);
    expected.resize(40, 0);
    EXPECT_EQ(Bytes(user.begin() + 8, user.end()), expected);
    user = read_request(subject("READ", 0x28, "FLHU", 0xF7), 8 + 5);
    EXPECT_EQ(Bytes(user.begin() + 8, user.end()), Bytes(5, 0x42));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, AWrongLengthIsRefusedAfterTakingTheAnnouncedBytes)
{
    Bytes reply = read_request(own("INQU", 0x12), 100);
    ASSERT_EQ(reply.size(), 100u);
    EXPECT_EQ(reply[4], 'E');
    EXPECT_EQ(Bytes(reply.begin() + 8, reply.end()), Bytes(92, 0));
    EXPECT_EQ(sense(), Key(5, 0x1A));

    // A write takes the L bytes its header announced.
    Bytes data = subject("SEND", 0x2A, "EROM", 0xF1);
    data.resize(26, 0x99);
    ASSERT_EQ(send(header("VEKW", 26)), 0);
    ASSERT_EQ(send(data), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x1A));
    EXPECT_EQ(model().records().eeprom, (std::array<uint8_t, 256>{}));

    // Gamma tables and the eject operand have their own lengths.
    data = subject("SEND", 0x2A, "GAMA", 0x03, {{13, 4}});
    data.resize(16 + 1024);
    ASSERT_EQ(send(header("VEKW", static_cast<uint32_t>(data.size()))), 0);
    ASSERT_EQ(send(data), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    ASSERT_EQ(send(header("VEKC", 0xFFE)), 0);
    ASSERT_EQ(send(own("MOTO", 0xE1, {{6, 0xA2}})), 0);
    EXPECT_EQ(receive(8)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x1A));

    const auto v = model().violations();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NE(v[0].find("INQU: wrong length 100 (expected 216)"), std::string::npos);
}

TEST_F(ScannerModelTest, UnknownCommandsAndAbsentMediaAreRefusedWithoutViolations)
{
    EXPECT_EQ(read_request(own("ABCD", 0x01), 16)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x20));
    EXPECT_EQ(read_request(subject("READ", 0x28, "ATTR", 0x83), 72)[4], 'E'); // wrong code
    EXPECT_EQ(sense(), Key(5, 0x20));
    EXPECT_EQ(exchange(frame("XYZW", 0, 0, 0, 0))[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x20));

    model().edit([](sim::ScannerRecords& r) { r.media[0] = 1; });
    EXPECT_EQ(read_request(own("RES", 0x14, {{5, 0}}), 160)[4], 'A');
    EXPECT_EQ(read_request(own("RES", 0x14, {{5, 1}}), 160)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x24));
    EXPECT_EQ(read_request(subject("READ", 0x28, "ATTR", 0x82, {{13, 7}}), 72)[4], 'E');
    EXPECT_EQ(sense(), Key(5, 0x24));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, JobFramesOutOfSequenceAreRefused)
{
    const Bytes refused = {'S', 'T', 'A', 0, 'E', 0, 0, 0};
    for (const Bytes& f : {frame("SCAN", 0, 0, 0, 1), frame("STOP", 0, 0, 0, 1), frame("CANC", 0, 0, 1, 1),
                           frame("MOTO", 0, 0, 1, 1), frame("JOB", 'E', 0, 0, 1)}) {
        EXPECT_EQ(exchange(f), refused);
        EXPECT_EQ(sense(), Key(5, 0x2C));
    }
    ASSERT_EQ(send(frame("PAR", 0x28, 0, 0, 1)), 0);
    ASSERT_EQ(send(Bytes(40, 0)), 0);
    EXPECT_EQ(receive(8), refused);

    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0))[4], 'A');
    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0)), (Bytes{'S', 'T', 'A', 0, 'E', 0, 0, 1}));
    EXPECT_EQ(exchange(frame("SCAN", 0, 0, 0, 1))[4], 'E'); // no window or parameters yet
    EXPECT_EQ(exchange(frame("STOP", 0, 0, 0, 2))[4], 'E'); // another job's id
    EXPECT_EQ(exchange(frame("JOB", 'E', 0, 0, 1)), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 1}));
    EXPECT_EQ(model().violations().size(), 9u);
    for (const std::string& v : model().violations()) EXPECT_NE(v.find("out of sequence"), std::string::npos) << v;
}

TEST_F(ScannerModelTest, DataThatCannotBeServedIsAViolationAndNeverAWait)
{
    ASSERT_EQ(send(frame("INFO", 0x30, 0, 0, 1)), 0);
    EXPECT_EQ(receive(48), Bytes(48, 0));
    int status = 0;
    ASSERT_EQ(send(frame("IMG", 10, 0, 0, 0)), 0);
    EXPECT_TRUE(receive(10, &status).empty());
    EXPECT_EQ(status, LIBUSB_ERROR_PIPE);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);
    receive(8, &status); // nothing pending
    EXPECT_EQ(status, LIBUSB_ERROR_PIPE);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);

    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0))[4], 'A');
    model().feed_image(1, Bytes{1, 2, 3});
    ASSERT_EQ(send(frame("IMG", 4, 0, 0, 1)), 0);
    EXPECT_TRUE(receive(4, &status).empty());
    ASSERT_EQ(libusb_clear_halt(handle_, 0x81), 0);
    ASSERT_EQ(send(frame("IMG", 3, 0, 0, 1)), 0);
    EXPECT_EQ(receive(3), (Bytes{1, 2, 3}));

    const auto v = model().violations();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NE(v[0].find("INFO without an open job"), std::string::npos);
    EXPECT_NE(v[1].find("IMG without an open job"), std::string::npos);
    EXPECT_NE(v[2].find("nothing pending"), std::string::npos);
    EXPECT_NE(v[3].find("IMG of 4 bytes with 3 ready on side 1"), std::string::npos);
}

TEST_F(ScannerModelTest, FramingBreachesAreViolations)
{
    ASSERT_EQ(send(frame("JOB", 'C', 0, 0, 0)), 0);
    ASSERT_EQ(send(frame("JOB", 'E', 0, 0, 1)), 0); // the create's reply was never read
    EXPECT_EQ(receive(8)[7], 1);
    EXPECT_EQ(read_request(own("MEDI", 0x13), 40)[4], 'A');
    ASSERT_EQ(send(header("VEKR", 40, 1)), 0);
    ASSERT_EQ(send(own("MEDI", 0x13)), 0);
    receive(40);
    ASSERT_EQ(send(header("VEKR", 40)), 0);
    ASSERT_EQ(send(Bytes(12, 0)), 0); // a short block
    const auto v = model().violations();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NE(v[0].find("still pending"), std::string::npos);
    EXPECT_NE(v[1].find("byte 4 is not 0"), std::string::npos);
    EXPECT_NE(v[2].find("block of 12 bytes"), std::string::npos);
}

TEST_F(ScannerModelTest, AHaltClearDropsAHalfReceivedRequest)
{
    ASSERT_EQ(send(header("VEKR", 216)), 0);
    ASSERT_EQ(libusb_clear_halt(handle_, 0x02), 0);
    EXPECT_EQ(read_request(own("MEDI", 0x13), 40).size(), 40u);
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, ReleasingTheInterfaceDropsTheJobButNotTheRecords)
{
    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0))[4], 'A');
    Bytes window = own("SWIN", 0x24);
    window.resize(48, 3);
    ASSERT_EQ(send(header("VEKW", 48)), 0);
    ASSERT_EQ(send(window), 0);
    EXPECT_EQ(receive(8)[4], 'A');
    model().edit([](sim::ScannerRecords& r) { r.eeprom.fill(0x17); });
    EXPECT_TRUE(model().window().has_value());

    ASSERT_EQ(libusb_release_interface(handle_, 0), 0);
    EXPECT_FALSE(model().job_open());
    EXPECT_FALSE(model().window().has_value());
    ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0)), (Bytes{'S', 'T', 'A', 0, 'A', 0, 0, 1}));
    const Bytes eeprom = read_request(subject("READ", 0x28, "EROM", 0xF1), 264);
    EXPECT_EQ(Bytes(eeprom.begin() + 8, eeprom.end()), Bytes(256, 0x17));
    EXPECT_TRUE(model().violations().empty());
}

TEST_F(ScannerModelTest, TheTranscriptDecodesEachTransaction)
{
    EXPECT_EQ(exchange(frame("JOB", 'C', 0, 0, 0))[4], 'A');
    read_request(subject("READ", 0x28, "SHAD", 0x01, {{5, 0x40}, {6, 0x06}, {13, 4}, {14, 1}, {15, 3}}), 8 + 12);
    ASSERT_EQ(send(header("VEKC", 0x345)), 0);
    ASSERT_EQ(send(own("MOTO", 0xE1, {{6, 0xA1}})), 0);
    receive(8);
    const auto txs = model().transactions();
    ASSERT_EQ(txs.size(), 3u);
    EXPECT_EQ(txs[0].brief(), "JOB C");
    EXPECT_EQ(txs[0].job_id, 0u);
    const sim::Transaction& shad = txs[1];
    EXPECT_EQ(shad.brief(), "SHAD 3 1");
    EXPECT_EQ(shad.kind, sim::TxKind::Read);
    EXPECT_EQ(shad.number, txs[0].number + 1);
    EXPECT_EQ(shad.value, 1600);
    EXPECT_EQ(shad.deep, 4);
    EXPECT_EQ(shad.length, 20u);
    EXPECT_EQ(shad.payload, 12u);
    EXPECT_EQ(shad.job_id, 1u);
    EXPECT_EQ(txs[2].brief(), "MOTO A1 837");
    EXPECT_EQ(model().records().motor.at(0).operand, 0x345u);
}

TEST(ScannerModelRegistry, TheLauncherKnowsTheScanner)
{
    const sim::ModelEntry* entry = sim::find_model("scanner");
    ASSERT_NE(entry, nullptr);
    sim::Testbed testbed;
    entry->populate(testbed);
    ASSERT_EQ(testbed.devices().size(), 1u);
    EXPECT_NE(dynamic_cast<sim::ScannerModel*>(&testbed.devices()[0]->model()), nullptr);
}

} // namespace
