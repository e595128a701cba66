// SE_main, the host callbacks and the root object on simulated scanners.
#include "eexpert.h"
#include "entry_fixture.h"
#include "host_callbacks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

using namespace lftest;

// A device number no enumeration records (the USB layer numbers at most 100 devices).
constexpr uint64_t kNeverRecorded = 9999;

bool same_bytes(const ECDB& a, const ECDB& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

uint16_t effective_word(const ECDB& b)
{
    return *reinterpret_cast<const uint16_t*>(static_cast<uintptr_t>(b.effectiveCode));
}

// ---------------------------------------------------------------------------------------------
// The entry

using Entry = EntryTest;

TEST_F(Entry, OpenCloseAndUnknownOperations)
{
    ECDB b = make_block(0);
    b.result = 77;
    EXPECT_EQ(op(SE_OP_COMMAND, &b), SE_ERR_NO_ROOT);
    EXPECT_EQ(b.result, SE_ERR_NO_ROOT);
    EXPECT_EQ(effective_word(b), 0xFFFF);

    b = make_block(0);
    EXPECT_EQ(op(SE_OP_CLOSE, &b), SE_OK) << "closing without a root object";
    EXPECT_EQ(b.result, SE_OK);

    b = make_block(0);
    EXPECT_EQ(op(SE_OP_OPEN, &b), SE_OK);
    EXPECT_EQ(effective_word(b), 0xFFFF);
    b.result = 77;
    EXPECT_EQ(op(SE_OP_OPEN, &b), SE_ERR_BUSY);
    EXPECT_EQ(b.result, 77) << "a refused second open leaves the result";
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, kNeverRecorded), SE_NOT_SUPPORTED) << "the first root object stays";

    for (int16_t other : {int16_t{5}, int16_t{-1}, int16_t{3}, int16_t{32767}}) {
        b = make_block(0);
        b.result = 77;
        EXPECT_EQ(op(other, &b), SE_NOT_SUPPORTED) << other;
        EXPECT_EQ(b.result, SE_NOT_SUPPORTED);
        EXPECT_EQ(b.effectiveCode, address(&EffFncCodeBuf[0]));
        EXPECT_EQ(EffFncCodeBuf[0], 0xFFFF);
    }
}

TEST_F(Entry, NullBlocks)
{
    EXPECT_EQ(op(SE_OP_COMMAND, nullptr), SE_ERR_RANGE) << "op 1 without a block is not routed";
    EXPECT_EQ(op(SE_OP_OPEN, nullptr), SE_OK);
    EXPECT_EQ(op(SE_OP_COMMAND, nullptr), SE_ERR_RANGE);
    EXPECT_EQ(op(7, nullptr), SE_NOT_SUPPORTED);
    EXPECT_EQ(op(SE_OP_CLOSE, nullptr), SE_OK);
    EXPECT_EQ(op(SE_OP_CLOSE, nullptr), SE_OK);
    ECDB b = make_block(SE_CMD_DEVICE_INFO);
    EXPECT_EQ(op(SE_OP_COMMAND, &b), SE_ERR_NO_ROOT) << "the root object is gone";
}

TEST_F(Entry, AnExceptionInsideIsAnsweredAndReleasesTheGuard)
{
    open_root();
    se_main_set_command_hook([](const ECDB& b) {
        if (b.code == 64) throw std::runtime_error("fault");
        if (b.code == 65) throw std::bad_alloc();
    });
    EXPECT_EQ(command(64), SE_ERR_STAGE);
    EXPECT_EQ(command(65), SE_ERR_NO_MEMORY);
    se_main_set_command_hook(nullptr);
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, kNeverRecorded), SE_NOT_SUPPORTED) << "the next call is not refused";
}

// Service 0 runs inside SE_main, during code 6.
struct Reentry {
    ECDB inner{};
    ECDB before{};
    int16_t answer = 0;
    int calls = 0;
    uint64_t reference = 0;
    bool from_other_thread = false;
};
Reentry* reentry = nullptr;

extern "C" int32_t reentering_free_space(uint64_t reference)
{
    Reentry& r = *reentry;
    ++r.calls;
    r.reference = reference;
    r.before = r.inner;
    if (r.from_other_thread) {
        // The service waits for the other thread's call to be answered while this one is inside.
        std::thread other([&] { r.answer = SE_main(SE_OP_COMMAND, &r.inner); });
        other.join();
    } else {
        r.answer = SE_main(SE_OP_COMMAND, &r.inner);
    }
    return 0;
}

class EntryReentry : public EntryTest {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        reentry = &state;
        state.inner = make_block(SE_CMD_DEVICE_INFO, 0, 0, &record);
        state.inner.result = 55;
        callbacks.reference = 0xFEEDFACECAFEBEEFull;
        callbacks.count = SE_CALLBACK_COUNT;
        callbacks.function[SE_CALLBACK_FREE_SPACE] = address(reinterpret_cast<void*>(&reentering_free_space));
    }
    void TearDown() override
    {
        reentry = nullptr;
        EntryTest::TearDown();
    }
    Reentry state;
    SESubDevice record{};
    SECallbackBlock callbacks{};
};

TEST_F(EntryReentry, ACallFromInsideAServiceIsRefusedUntouched)
{
    add_scanner();
    open_root();
    enumerate(&callbacks);
    EXPECT_EQ(state.calls, 1);
    EXPECT_EQ(state.reference, callbacks.reference);
    EXPECT_EQ(state.answer, SE_ERR_BUSY);
    EXPECT_TRUE(same_bytes(state.inner, state.before)) << "the refused block is byte-identical";
}

TEST_F(EntryReentry, ACallFromAnotherThreadIsRefusedAndTheDriverStaysUsable)
{
    add_scanner();
    state.from_other_thread = true;
    open_root();
    const SEChainReply reply = enumerate(&callbacks);
    EXPECT_EQ(state.answer, SE_ERR_BUSY);
    EXPECT_TRUE(same_bytes(state.inner, state.before));
    ASSERT_EQ(reply.count, 1);
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, reply.numbers[0], &record), SE_OK);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK);
}

TEST_F(EntryReentry, ManyThreadsAtOnceGetOneAnswerEachAndNeverTwoInside)
{
    open_root();
    std::atomic<int> ok{0}, busy{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                SESubDevice rec{};
                ECDB b = make_block(SE_CMD_DEVICE_INFO, 0, kNeverRecorded, &rec);
                const int16_t r = SE_main(SE_OP_COMMAND, &b);
                (r == SE_NOT_SUPPORTED ? ok : r == SE_ERR_BUSY ? busy : other)++;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(ok.load() + busy.load(), 800);
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, kNeverRecorded), SE_NOT_SUPPORTED);
}

// ---------------------------------------------------------------------------------------------
// Host callbacks through code 6

int free_space_calls = 0;
uint64_t free_space_reference = 0;
extern "C" int32_t counting_free_space(uint64_t reference)
{
    ++free_space_calls;
    free_space_reference = reference;
    return 1;
}
extern "C" void some_yield(uint64_t) {}
int test_arguments[3] = {};
extern "C" void callback_test(int32_t a, int32_t b, int32_t c)
{
    test_arguments[0] = a;
    test_arguments[1] = b;
    test_arguments[2] = c;
}

using Callbacks = EntryTest;

TEST_F(Callbacks, ServiceZeroOncePerEnumerationWithTheReference)
{
    free_space_calls = 0;
    SECallbackBlock block{};
    block.reference = 0x0102030405060708ull;
    block.function[SE_CALLBACK_FREE_SPACE] = address(reinterpret_cast<void*>(&counting_free_space));
    block.function[SE_CALLBACK_YIELD] = address(reinterpret_cast<void*>(&some_yield));
    open_root();
    enumerate(&block);
    EXPECT_EQ(free_space_calls, 1);
    EXPECT_EQ(free_space_reference, block.reference);
    EXPECT_EQ(CallBackYieldProc, nullptr);
    enumerate(&block);
    EXPECT_EQ(free_space_calls, 2);

    // Without slot 0 nothing is called; without a block nothing is registered or called.
    SECallbackBlock no_zero = block;
    no_zero.function[SE_CALLBACK_FREE_SPACE] = 0;
    enumerate(&no_zero);
    EXPECT_EQ(free_space_calls, 2);
    SetCallBackfunc(reinterpret_cast<void*>(&counting_free_space), 0);
    enumerate(nullptr);
    EXPECT_EQ(free_space_calls, 2);
    EXPECT_EQ(command(SE_CMD_DEVICE_LIST, 0, address(&block), nullptr), SE_OK) << "no reply record";
    EXPECT_EQ(free_space_calls, 3);
}

TEST_F(Callbacks, CodeFourCallsTheHostFunction)
{
    open_root();
    EXPECT_EQ(command(SE_CMD_CALLBACK_TEST, 0, address(reinterpret_cast<void*>(&callback_test))), SE_OK);
    EXPECT_EQ(test_arguments[0], 1);
    EXPECT_EQ(test_arguments[1], 2);
    EXPECT_EQ(test_arguments[2], 3);
    EXPECT_EQ(command(SE_CMD_CALLBACK_TEST, 0, 0), SE_NOT_SUPPORTED);
}

// ---------------------------------------------------------------------------------------------
// The root object

using Root = EntryTest;

TEST_F(Root, NoScanner)
{
    gScannerChain = SEChainReply{}; // as in a fresh process: no scanner was ever recorded
    open_root();
    const SEChainReply reply = enumerate();
    const SEChainReply zero{};
    EXPECT_EQ(std::memcmp(&reply, &zero, sizeof reply), 0);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, 0), SE_ERR_NO_ROOT);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, 1), SE_ERR_NO_ROOT);
    SESubDevice sub{};
    std::memset(&sub, 0x5A, sizeof sub);
    const SESubDevice before = sub;
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, 0, &sub), SE_NOT_SUPPORTED) << "number 0 is no scanner";
    EXPECT_EQ(std::memcmp(&sub, &before, sizeof sub), 0);
    EXPECT_EQ(command(SE_CMD_CLOSE_DEVICE), SE_OK);
}

TEST_F(Root, OneScannerListedOpenedDescribedAndClosed)
{
    sim::VirtualDevice& dev = add_scanner();
    open_root();
    SEChainReply reply = enumerate();
    reply = enumerate(); // a second enumeration lists it once
    SEChainReply expected{};
    std::strcpy(expected.name, "VQ-K5200-U3 Scanner");
    expected.kind = 2;
    expected.version = 100;
    expected.ids[0] = 0x6204;
    expected.count = 1;
    expected.numbers[0] = reply.numbers[0];
    EXPECT_EQ(std::memcmp(&reply, &expected, sizeof reply), 0);
    EXPECT_EQ(semVQInfo.flags & 1, 1);
    EXPECT_TRUE(dev.claimed_interfaces().empty()) << "the probe closed the device";

    const uint32_t n = reply.numbers[0];
    SESubDevice sub;
    std::memset(&sub, 0x5A, sizeof sub);
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, n, &sub), SE_OK);
    EXPECT_EQ(sub.firmware, 105);
    EXPECT_EQ(sub.kind, 2);
    EXPECT_EQ(sub.number, n);
    EXPECT_EQ(sub.port, 0u);
    EXPECT_EQ(sub.slot, n);
    EXPECT_EQ(sub.reserved, 0u);
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, n), SE_OK) << "no record";
    EXPECT_EQ(command(SE_CMD_DEVICE_INFO, 0, n + 1, &sub), SE_NOT_SUPPORTED);

    EXPECT_EQ(command(SE_CMD_SCANNER_INFO, 0, 0, &sub), SE_ERR_NO_DEVICE) << "nothing open yet";
    for (int16_t code : {int16_t{0}, int16_t{1}, int16_t{7}}) EXPECT_EQ(command(code), SE_ERR_NO_DEVICE) << code;

    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, n), SE_OK);
    EXPECT_FALSE(dev.claimed_interfaces().empty());
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, n), SE_ERR_NO_ROOT) << "already open";
    for (int16_t code : {int16_t{0}, int16_t{1}, int16_t{7}}) {
        uint8_t untouched[64];
        std::memset(untouched, 0x33, sizeof untouched);
        EXPECT_EQ(command(code, 0, 0, untouched), SE_NOT_SUPPORTED) << code;
        EXPECT_EQ(untouched[0], 0x33);
    }
    EXPECT_EQ(command(SE_CMD_CLOSE_DEVICE), SE_OK);
    EXPECT_TRUE(dev.claimed_interfaces().empty()) << "code 3 released the interface";
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, n), SE_OK) << "a closed device opens again";

    // Closing the root object closes the device.
    ECDB close = make_block(0);
    EXPECT_EQ(op(SE_OP_CLOSE, &close), SE_OK);
    EXPECT_TRUE(dev.claimed_interfaces().empty());
}

TEST_F(Root, ASecondScannerStaysClosedWhileOneIsOpen)
{
    sim::VirtualDevice& first = add_scanner();
    sim::VirtualDevice& second = add_scanner();
    open_root();
    const SEChainReply reply = enumerate();
    ASSERT_EQ(reply.count, 2);
    EXPECT_NE(reply.numbers[0], reply.numbers[1]);
    // The list's order is the bus's: find which device each entry is.
    const bool swapped = std::string(gDeviceList[0].name) != first.name();
    sim::VirtualDevice& listed_first = swapped ? second : first;
    sim::VirtualDevice& listed_second = swapped ? first : second;
    EXPECT_EQ(std::string(gDeviceList[1].name), listed_second.name());
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[1]), SE_ERR_BUSY);
    EXPECT_FALSE(listed_first.claimed_interfaces().empty());
    EXPECT_TRUE(listed_second.claimed_interfaces().empty());
    // While the first stays open, enumeration cannot probe it and lists the second only.
    const SEChainReply again = enumerate();
    EXPECT_EQ(again.count, 1);
    EXPECT_EQ(again.numbers[0], reply.numbers[1]);
}

TEST_F(Root, AScannerRefusingTheProbeIsSkipped)
{
    add_scanner();
    add_scanner();
    model(0).inject(sim::Injection::refuse(sim::Target::next("INQU"), 5, 0x24));
    open_root();
    const SEChainReply reply = enumerate();
    ASSERT_EQ(reply.count, 1);
    EXPECT_EQ(reply.numbers[0], static_cast<uint32_t>(gDeviceList[0].number));
    EXPECT_EQ(std::string(gDeviceList[0].name), device(1).name());
}

TEST_F(Root, AFailedOpenAnswersNoDeviceAndReleasesIt)
{
    sim::VirtualDevice& dev = add_scanner();
    // The first inquiry is the probe's; the second is the open's.
    model().inject(sim::Injection::refuse(sim::Target::next("INQU", 2), 5, 0x24));
    open_root();
    const SEChainReply reply = enumerate();
    ASSERT_EQ(reply.count, 1);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_ERR_NO_DEVICE);
    EXPECT_TRUE(dev.claimed_interfaces().empty());
    EXPECT_EQ(command(SE_CMD_SCANNER_INFO), SE_ERR_NO_DEVICE) << "nothing is open";
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK) << "the next open works";
}

TEST_F(Root, SeventeenScannersFillSixteenEntries)
{
    for (int i = 0; i < 17; ++i) add_scanner();
    open_root();
    const SEChainReply reply = enumerate();
    EXPECT_EQ(reply.count, 16);
    EXPECT_EQ(gScannerIndex, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(reply.ids[i], 0x6204) << i;
    // The seventeenth was never opened.
    size_t probed = 0;
    for (int i = 0; i < 17; ++i) probed += model(i).transactions().empty() ? 0 : 1;
    EXPECT_EQ(probed, 16u);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[15]), SE_OK);
}

TEST_F(Root, AScannerAtANumberAboveFifteenIsClosedByCodeThree)
{
    // Sixteen other devices of the same maker come first in the device list, which libusb gives
    // in the reverse order of enumeration: they sit on the later bus.
    for (int i = 0; i < 16; ++i) {
        sim::DeviceDescription other = sim::scanner_device();
        other.product = 0x6205;
        other.bus = 2;
        testbed().add_with<sim::LoopbackModel>(other, false);
    }
    sim::VirtualDevice& dev = add_scanner();
    open_root();
    const SEChainReply reply = enumerate();
    ASSERT_EQ(find_devices(0xF0A2, 0x6205).size(), 16u);
    ASSERT_EQ(reply.count, 1);
    ASSERT_GE(reply.numbers[0], 16u);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK);
    EXPECT_EQ(command(SE_CMD_CLOSE_DEVICE), SE_OK);
    EXPECT_TRUE(dev.claimed_interfaces().empty());
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK) << "not left claimed";
}

TEST_F(Root, UnknownOrMissingNamesAreNotRecorded)
{
    open_root();
    gScannerIndex = 0;
    const std::string longName(400, 'x');
    EXPECT_EQ(attach_one_usb(longName.c_str()), 4);
    EXPECT_EQ(attach_one_usb(nullptr), 4);
    EXPECT_EQ(gScannerIndex, 0);
}

} // namespace
