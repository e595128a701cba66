// Transfers through the USB layer and GLDevice, on the virtual bus.
#include "dbg_log.h"
#include "driver_sleep.h"
#include "gl_device.h"
#include "usbio.h"
#include "virtual_usb_test.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using lftest::find_scanners;
using sim::EventKind;

namespace {

class UsbioTransfer : public lftest::VirtualUsbTest {
protected:
    // Adds the scanner, starts the layer and opens it through GLDevice.
    sim::LoopbackModel& open_scanner(bool echo = false)
    {
        auto [dev, model] = add_scanner(echo);
        device_ = &dev;
        EXPECT_EQ(usbio_init(), USBIO_STATUS_GOOD);
        const auto names = find_scanners();
        EXPECT_EQ(names.size(), 1u);
        EXPECT_EQ(usbio_open(names.at(0).c_str(), &dn_), USBIO_STATUS_GOOD);
        EXPECT_EQ(device_New(&gl_), STATUS_GOOD);
        device_Open(gl_, static_cast<uint32_t>(dn_));
        return model;
    }
    void close_scanner()
    {
        device_Free(gl_);
        gl_ = nullptr;
        usbio_close(dn_);
        usbio_exit();
    }
    size_t urb_count() const { return device_->transcript().count(EventKind::Urb); }

    sim::VirtualDevice* device_ = nullptr;
    GLDevice* gl_ = nullptr;
    int dn_ = -1;
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
    return v;
}

TEST_F(UsbioTransfer, RoundTripIsByteExactAndLoggedAtLevel40)
{
    const std::filesystem::path folder = testbed().root_dir() + "/log/";
    std::filesystem::create_directories(folder);
    DBG_SET_SETTING("LEVEL", 40);
    DBG_INIT(folder.c_str(), DBG_MODE_FILE);

    open_scanner(true);
    const auto sent = pattern(20, 0xA0);
    std::vector<uint8_t> back(sent.size());
    EXPECT_EQ(device_BulkWriteEx(gl_, sent.data(), sent.size()), STATUS_GOOD);
    EXPECT_EQ(device_BulkReadEx(gl_, back.data(), back.size()), STATUS_GOOD);
    EXPECT_EQ(back, sent);
    close_scanner();
    DBG_RESET_SETTINGS();
    DBG_INIT(nullptr, DBG_MODE_STDOUT);

    std::ifstream log(folder / "DEBUG-LOG-6204.txt");
    std::stringstream text;
    text << log.rdbuf();
    const std::string first = "\ta0 ad ba c7 d4 e1 ee fb 08 15 22 2f 3c 49 56 63 \n";
    const std::string second = "\t70 7d 8a 97 " + std::string(36, ' ') + "\n";
    EXPECT_EQ(text.str(), first + second + first + second);
}

TEST_F(UsbioTransfer, ShortAndZeroLengthReads)
{
    auto& model = open_scanner();
    model.reply_short(10);
    model.reply(pattern(100, 1));
    std::vector<uint8_t> buffer(100);
    size_t size = buffer.size();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_GOOD);
    EXPECT_EQ(size, 10u);

    model.reply_short(10);
    model.reply(pattern(100, 1));
    EXPECT_EQ(device_BulkReadEx(gl_, buffer.data(), buffer.size()), STATUS_TRANSFER_FAILED);

    model.reply_zero_length();
    size = buffer.size();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_EOF);
    EXPECT_EQ(size, 0u);
    model.reply_zero_length();
    EXPECT_EQ(device_BulkReadEx(gl_, buffer.data(), buffer.size()), STATUS_TRANSFER_FAILED);
    close_scanner();
}

TEST_F(UsbioTransfer, StallsAreClearedOnTheirEndpointAndTheNextTransferWorks)
{
    auto& model = open_scanner();
    std::vector<uint8_t> buffer(64);
    size_t size = buffer.size();
    model.reply_stall();
    model.reply(pattern(64, 7));
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(device_BulkReadEx(gl_, buffer.data(), buffer.size()), STATUS_GOOD);
    EXPECT_EQ(buffer, pattern(64, 7));

    model.out_stall();
    size = buffer.size();
    EXPECT_EQ(usbio_write_bulk(dn_, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    EXPECT_EQ(device_BulkWriteEx(gl_, buffer.data(), buffer.size()), STATUS_GOOD);
    close_scanner();

    const auto t = device_->transcript();
    const auto halts = t.select([](const sim::Event& e) { return e.kind == EventKind::ClearHalt; });
    ASSERT_EQ(halts.size(), 2u);
    EXPECT_EQ(halts[0].endpoint, 0x81);
    EXPECT_EQ(halts[1].endpoint, 0x02);
    const auto urbs = t.select([](const sim::Event& e) { return e.kind == EventKind::Urb; });
    ASSERT_EQ(urbs.size(), 4u);
    EXPECT_EQ(urbs[0].status, -EPIPE);
    EXPECT_EQ(urbs[1].status, 0);
    EXPECT_EQ(urbs[2].status, -EPIPE);
    EXPECT_EQ(urbs[3].moved, 64u);
}

TEST_F(UsbioTransfer, AnUnansweredReadTimesOut)
{
    auto& model = open_scanner();
    model.reply_none();
    usbio_set_timeout(200);
    std::vector<uint8_t> buffer(512);
    size_t size = buffer.size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(1));
    EXPECT_EQ(device_->transcript().count(EventKind::Discard), 2u) << "two slices of 100 ms";
    EXPECT_EQ(model.queued(), 0u);
    usbio_set_timeout(60000);
    close_scanner();
}

// A transfer waits in slices of 100 ms: a reply later than a slice still arrives whole, and the
// host's giving up ends the wait after the slice it comes in, with the halt cleared so that a late
// reply cannot pass for the next one.
TEST_F(UsbioTransfer, ATransferWaitsInSlicesTheHostCanGiveUp)
{
    auto& model = open_scanner();
    const std::vector<uint8_t> bytes = pattern(512, 3);
    model.reply_late(std::chrono::milliseconds(250));
    model.reply(bytes);
    std::vector<uint8_t> buffer(512);
    size_t size = buffer.size();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_GOOD);
    EXPECT_EQ(size, 512u);
    EXPECT_EQ(buffer, bytes);
    EXPECT_GE(device_->transcript().count(EventKind::Discard), 1u) << "at least one slice ran out";

    static std::atomic<bool> given_up{false};
    const driver_cancel_fn before = driver_set_cancel_function([] { return given_up.load(); });
    model.reply_none();
    const size_t discards = device_->transcript().count(EventKind::Discard);
    std::thread host([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        given_up = true;
    });
    size = buffer.size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    const auto waited = std::chrono::steady_clock::now() - start;
    host.join();
    EXPECT_EQ(size, 0u);
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(2)) << "not the minute of the time-out";
    EXPECT_GE(device_->transcript().count(EventKind::Discard) - discards, 2u) << "slices before the host gave up";
    EXPECT_EQ(device_->transcript().count(EventKind::ClearHalt), 1u);
    driver_set_cancel_function(before);
    close_scanner();
}

TEST_F(UsbioTransfer, DisconnectDuringAPendingRead)
{
    auto& model = open_scanner();
    model.reply_late(std::chrono::milliseconds(30));
    model.disconnect_after(0);
    std::vector<uint8_t> buffer(512);
    size_t size = buffer.size();
    // Told apart from a time-out or a stall (IO_ERROR, above): the device is gone.
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_DEVICE_GONE);
    EXPECT_EQ(size, 0u);
    size = buffer.size();
    EXPECT_EQ(usbio_write_bulk(dn_, buffer.data(), &size), USBIO_STATUS_DEVICE_GONE);
    EXPECT_EQ(device_BulkReadEx(gl_, buffer.data(), buffer.size()), STATUS_DEVICE_GONE);
    device_Free(gl_);
    usbio_close(dn_);
    testbed().settle();
    usbio_scan_devices();
    EXPECT_TRUE(find_scanners().empty());
    usbio_exit();
    EXPECT_EQ(device_->transcript().count(EventKind::Unplug), 1u);
}

TEST_F(UsbioTransfer, BadArgumentsAndClosedNumbersMoveNothing)
{
    open_scanner(true);
    std::vector<uint8_t> buffer(16);
    size_t size = buffer.size();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), nullptr), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_write_bulk(dn_ + 1, buffer.data(), &size), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_read_bulk(-1, buffer.data(), &size), USBIO_STATUS_INVAL);
    size = static_cast<size_t>(INT_MAX) + 1;
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_write_bulk(dn_, buffer.data(), &size), USBIO_STATUS_INVAL);

    EXPECT_EQ(device_BulkWriteEx(nullptr, buffer.data(), buffer.size()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(device_BulkReadEx(nullptr, buffer.data(), buffer.size()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(device_BulkWriteEx(gl_, nullptr, 4), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(device_BulkReadEx(gl_, nullptr, 4), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(urb_count(), 0u);

    // After close the endpoints keep their values, but nothing may use the closed handle.
    usbio_close(dn_);
    size = buffer.size();
    EXPECT_EQ(usbio_write_bulk(dn_, buffer.data(), &size), USBIO_STATUS_INVAL);
    size = buffer.size();
    EXPECT_EQ(usbio_read_bulk(dn_, buffer.data(), &size), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_read_int(dn_, buffer.data(), &size), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_set_altinterface(dn_, 0), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_clear_halt(dn_), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_reset(dn_), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_control_msg(dn_, 0x80, 0, 0, 0, 2, buffer.data()), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_set_configuration(dn_, 1), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_claim_interface(dn_, 0), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_release_interface(dn_, 0), USBIO_STATUS_INVAL);
    device_Free(gl_);
    usbio_exit();
    EXPECT_EQ(urb_count(), 0u);
    EXPECT_EQ(device_->transcript().count(EventKind::Claim), 1u);
}

} // namespace
