// The host device layer on test bundles: the device table, opening a device, commands, callbacks
// and the operations the application does not call.
#include "fake_driver.h"
#include "se_host.h"
#include "tick_clock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lumenfield;

namespace {

using fake::DriverFolder;
using fake::FakeDriver;

class HostDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDriver::instance().reset();
        folder.add("FakeAlpha");
    }

    SEResult init() { return host.init(folder.path()); }
    uint16_t enumerate(SEResult expected = SE_SUCCESS)
    {
        uint16_t count = 0xFFFF;
        EXPECT_EQ(host.enumerateDevices(&count), expected);
        return count;
    }
    SEDeviceEntry entry(int16_t index)
    {
        const std::optional<SEDeviceEntry> out = host.deviceEntry(index);
        EXPECT_TRUE(out.has_value()) << index;
        return out.value_or(SEDeviceEntry{});
    }
    static std::vector<fake::Device> devices(std::initializer_list<uint32_t> numbers, uint16_t id = 0x6204)
    {
        std::vector<fake::Device> out;
        for (uint32_t n : numbers) out.push_back(fake::Device{id, n, 105});
        return out;
    }

    DriverFolder folder;
    FakeDriver& driver = FakeDriver::instance();
    SEHost host; // shut down by its end, before the folder goes
};

TEST_F(HostDeviceTest, OneScannerIsListedProbedAndOpened)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 1);
    EXPECT_EQ(driver.compactTrace(), (std::vector<std::string>{"open", "6", "9", "8", "65", "64", "3", "close"}));
    const SEDeviceEntry e = entry(0);
    EXPECT_STREQ(e.driverName, "FakeAlpha");
    EXPECT_STREQ(e.deviceName, "Fake Scanner");
    EXPECT_EQ(e.kind, 2);
    EXPECT_EQ(e.deviceId, 0x6204);
    EXPECT_EQ(e.version, 100u);
    EXPECT_EQ(e.ordinal, 0);
    EXPECT_EQ(e.status, SE_HOST_PROBED);
    EXPECT_EQ(e.deviceNumber, 1u);
    EXPECT_EQ(e.slot, 1u);
    EXPECT_EQ(e.firmwareVersion, 105);
    EXPECT_EQ(e.depthCaps, 0x8081);
    EXPECT_EQ(host.deviceCount(), 1);
    EXPECT_EQ(host.currentDeviceId(), -1); // the probe closed it again

    driver.clearTrace();
    EXPECT_EQ(host.selectDevice(0), SE_SUCCESS);
    EXPECT_EQ(driver.compactTrace(), (std::vector<std::string>{"open", "6", "8"}));
    EXPECT_EQ(host.currentDeviceId(), 0x6204);
    EXPECT_EQ(host.openDeviceIndex(), 0);
    // The driver reached the host's free-space service once per device list request.
    EXPECT_EQ(driver.freeSpaceAnswers(), (std::vector<int32_t>{28, 28}));
}

TEST_F(HostDeviceTest, TwoScannersOfOneIdAreToldApartBySubDeviceRecord)
{
    driver.defaults.devices = devices({5, 9});
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 2);
    EXPECT_EQ(entry(0).slot, 5u);
    EXPECT_EQ(entry(0).ordinal, 0);
    EXPECT_EQ(entry(1).slot, 9u);
    EXPECT_EQ(entry(1).ordinal, 1);
    driver.clearTrace();
    ASSERT_EQ(host.selectDevice(1), SE_SUCCESS);
    const std::vector<fake::Call> opens = driver.calls(SE_CMD_OPEN_DEVICE);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].value, 9u);
}

TEST_F(HostDeviceTest, AScannerGoneSinceTheTableWasMadeIsNotReplacedByAnother)
{
    driver.defaults.devices = devices({5, 9});
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 2);
    driver.bundle("FakeAlpha").devices = devices({5}); // the second one was unplugged
    driver.clearTrace();
    EXPECT_EQ(host.selectDevice(1), SE_HOST_OPEN_FAILED);
    EXPECT_TRUE(driver.calls(SE_CMD_OPEN_DEVICE).empty());
    EXPECT_EQ(host.currentDeviceId(), -1);
}

TEST_F(HostDeviceTest, WithoutSubDeviceRecordsOneEntryIsKept)
{
    driver.defaults.devices = devices({5, 9});
    driver.defaults.deliverSubRecord = false;
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 1);
    EXPECT_EQ(entry(0).port, 0u); // the zero-filled record, not stale stack bytes
    EXPECT_EQ(entry(0).slot, 0u);
}

TEST_F(HostDeviceTest, NoScanner)
{
    driver.defaults.devices.clear();
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(SE_HOST_NO_DEVICE_FOUND), 0);
    EXPECT_EQ(host.selectDevice(0), SE_HOST_BAD_INDEX);
    EXPECT_EQ(host.selectDevice(-1), SE_HOST_BAD_INDEX);
}

TEST_F(HostDeviceTest, InitTwiceOpensOneSession)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    // A second open would fail on this folder: success shows none was made.
    const std::filesystem::path missing = "/nonexistent/drivers";
    EXPECT_EQ(host.init(missing), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 1);
    host.shutdown();
    EXPECT_EQ(host.init(missing), SE_HOST_SESSION_NOT_OPEN);
}

TEST_F(HostDeviceTest, CurrentDeviceIdOnlyWhileADeviceIsOpen)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    enumerate();
    EXPECT_EQ(host.currentDeviceId(), -1);
    ASSERT_EQ(host.selectDevice(0), SE_SUCCESS);
    SEResult status(SE_NOT_SUPPORTED);
    host.command(SE_CMD_CLOSE_DEVICE, 0, 0, 0, &status);
    EXPECT_EQ(host.currentDeviceId(), -1);
    EXPECT_EQ(host.openDeviceIndex(), -1);
    // A refused open is no open device, whatever the number it is refused with.
    driver.reply(SE_CMD_OPEN_DEVICE, 0, SE_ERR_BUSY);
    EXPECT_EQ(host.selectDevice(0), SE_HOST_OPEN_FAILED);
    EXPECT_EQ(host.currentDeviceId(), -1);
}

TEST_F(HostDeviceTest, AProbeThatCannotOpenLeavesAFailedEntry)
{
    driver.reply(SE_CMD_OPEN_DEVICE, 0, SE_ERR_NO_ROOT);
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 1);
    EXPECT_EQ(entry(0).status, SE_HOST_PROBE_FAILED);
    EXPECT_EQ(entry(0).depthCaps, 0);
    EXPECT_TRUE(driver.calls(SE_CMD_DEPTH).empty());
}

TEST_F(HostDeviceTest, TheTableHoldsSixteenDevicesWhateverTheDriverClaims)
{
    driver.bundle("FakeAlpha").devices = devices({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
    driver.bundle("FakeAlpha").reportedCount = 200;
    driver.bundle("FakeAlpha").deviceName = std::string(40, 'N'); // no terminator in its field
    driver.bundle("FakeBeta").devices = devices({1}, 0x7000);
    folder.add("FakeBeta");
    ASSERT_EQ(init(), SE_SUCCESS);
    testing::internal::CaptureStdout();
    EXPECT_EQ(enumerate(), 16);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Driver lists 200 devices; the table takes 16"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Device table full"), std::string::npos) << printed;
    EXPECT_EQ(host.findDeviceById(0x7000), -1);
    for (int16_t i = 0; i < 16; i++) {
        EXPECT_EQ(entry(i).ordinal, i);
        EXPECT_EQ(std::string(entry(i).deviceName), std::string(31, 'N'));
    }
}

TEST_F(HostDeviceTest, SingleFormSlotsAreListedAndSortedByPortThenSlot)
{
    driver.bundle("FakeAlpha").chainForm = false;
    driver.bundle("FakeAlpha").slotMask = 0b101;
    driver.bundle("FakeBeta").chainForm = false;
    driver.bundle("FakeBeta").slotMask = 0b010;
    folder.add("FakeBeta");
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 3);
    const std::pair<const char*, uint32_t> expected[] = {{"FakeAlpha", 0}, {"FakeBeta", 1}, {"FakeAlpha", 2}};
    for (int16_t i = 0; i < 3; i++) {
        const SEDeviceEntry e = entry(i);
        EXPECT_STREQ(e.driverName, expected[i].first) << i;
        EXPECT_EQ(e.slot, expected[i].second) << i;
        EXPECT_EQ(e.port, SE_HOST_ANY_PORT) << i;
        EXPECT_EQ(e.kind, 1) << i;
        EXPECT_EQ(e.status, SE_HOST_PROBED) << i;
    }
    // Each slot was probed by its own slot bits.
    std::vector<uint64_t> slotBits;
    for (const fake::Call& call : driver.calls(SE_CMD_OPEN_SLOT)) slotBits.push_back(call.record);
    EXPECT_EQ(slotBits, (std::vector<uint64_t>{0b001, 0b100, 0b010}));
    driver.clearTrace();
    ASSERT_EQ(host.selectDevice(1), SE_SUCCESS);
    EXPECT_EQ(driver.compactTrace(), (std::vector<std::string>{"open", "6", "0", "2"}));
    EXPECT_EQ(driver.trace().back().bundle, "FakeBeta");
}

TEST_F(HostDeviceTest, CommandsAfterShutdownAreRefusedWithStatusZero)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    enumerate();
    ASSERT_EQ(host.selectDevice(0), SE_SUCCESS);
    host.shutdown();
    EXPECT_EQ(driver.trace().back().compact(), "close");
    SEResult status(77);
    EXPECT_EQ(host.command(SE_CMD_SCANNER_INFO, 0, 0, 0, &status), SE_HOST_SESSION_NOT_OPEN);
    EXPECT_EQ(status, SEResult(SE_NOT_SUPPORTED));
    EXPECT_EQ(host.currentDeviceId(), -1);
    // Without a session the driver walk ends at once instead of skipping on for ever.
    EXPECT_EQ(enumerate(SE_HOST_NO_DEVICE_FOUND), 0);
    EXPECT_EQ(host.selectDevice(0), SE_HOST_BAD_INDEX);
}

TEST_F(HostDeviceTest, EnumeratingAgainGivesTheSameTable)
{
    driver.defaults.devices = devices({3, 4});
    ASSERT_EQ(init(), SE_SUCCESS);
    enumerate();
    SEDeviceEntry first[2] = {entry(0), entry(1)};
    // Again in the same session, and after a shutdown and a new start.
    EXPECT_EQ(enumerate(), 2);
    EXPECT_EQ(std::memcmp(first, host.devices().data(), sizeof first), 0);
    host.shutdown();
    ASSERT_EQ(init(), SE_SUCCESS);
    EXPECT_EQ(enumerate(), 2);
    EXPECT_EQ(std::memcmp(first, host.devices().data(), sizeof first), 0);
    ASSERT_EQ(host.selectDevice(0), SE_SUCCESS);
}

TEST_F(HostDeviceTest, ALoadFailureIsTheLastEnumerationsOnly)
{
    folder.add("FakeNoEntry", "0NoEntry");
    ASSERT_EQ(init(), SE_SUCCESS);
    testing::internal::CaptureStdout();
    EXPECT_EQ(enumerate(), 1); // the walk goes on to FakeAlpha
    testing::internal::GetCapturedStdout();
    const std::optional<SELoadFailure> failure = host.lastLoadFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->bundle, folder.path() / "0NoEntry.bundle");
    EXPECT_EQ(failure->reason, "the driver's code has no entry point SE_main");
    // The bundle's code mended in place: the next walk loads it, and nothing stale is reported.
    std::filesystem::copy_file(folder.code("FakeAlpha", "FakeAlpha"), folder.code("0NoEntry", "FakeNoEntry"),
                               std::filesystem::copy_options::overwrite_existing);
    driver.clearTrace();
    EXPECT_EQ(enumerate(), 1); // the same scanner twice is one entry
    EXPECT_EQ(driver.trace().front().bundle, "0NoEntry");
    EXPECT_FALSE(host.lastLoadFailure().has_value());
}

TEST_F(HostDeviceTest, HostCallbacks)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    const SECallbackBlock block = host.callbacks();
    EXPECT_EQ(block.count, SE_CALLBACK_COUNT);
    auto* freeSpace = reinterpret_cast<SECallbackFreeSpace*>(block.function[SE_CALLBACK_FREE_SPACE]);
    auto* allocate = reinterpret_cast<SECallbackAllocate*>(block.function[SE_CALLBACK_ALLOCATE]);
    auto* release = reinterpret_cast<SECallbackFree*>(block.function[SE_CALLBACK_FREE]);
    auto* lock = reinterpret_cast<SECallbackLock*>(block.function[SE_CALLBACK_LOCK]);
    for (uint64_t function : block.function) EXPECT_NE(function, 0u);
    EXPECT_EQ(freeSpace(0), 28);
    void* memory = reinterpret_cast<void*>(1);
    EXPECT_EQ(allocate(0, 16, nullptr), 0);
    EXPECT_EQ(allocate(0, 0, &memory), 0);
    EXPECT_EQ(allocate(0, -1, &memory), 0);
    ASSERT_EQ(allocate(0, 64, &memory), 1);
    ASSERT_NE(memory, nullptr);
    std::memset(memory, 0xAB, 64);
    EXPECT_EQ(lock(0, memory), memory);
    EXPECT_EQ(release(0, memory), 1);
    EXPECT_EQ(release(0, nullptr), 1);
    host.shutdown();
    EXPECT_EQ(host.callbacks().function[SE_CALLBACK_FREE_SPACE], 0u);
}

TEST_F(HostDeviceTest, SmallOperations)
{
    ASSERT_EQ(init(), SE_SUCCESS);
    enumerate();
    ASSERT_EQ(host.selectDevice(0), SE_SUCCESS);
    driver.replyRecord(SE_CMD_CONTRAST, SE_VERB_CAPABILITY, SE_OK, SERange{10, 50, 0});
    driver.replyRecord(SE_CMD_CONTRAST, SE_VERB_VALUE_TO_INDEX, SE_OK, uint32_t{3});
    driver.replyRecord(SE_CMD_CONTRAST, SE_VERB_INDEX_TO_VALUE, SE_OK, uint32_t{40});
    EXPECT_EQ(host.clampValue(SE_CMD_CONTRAST, 60), 50u);
    EXPECT_EQ(host.clampValue(SE_CMD_CONTRAST, 5), 10u);
    driver.clearTrace();
    EXPECT_EQ(host.clampValue(SE_CMD_CONTRAST, 33), 40u);
    const std::vector<fake::Call> trace = driver.trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1].verb, SE_VERB_VALUE_TO_INDEX);
    EXPECT_EQ(trace[1].value, 33u);
    EXPECT_EQ(trace[2].verb, SE_VERB_INDEX_TO_VALUE);
    EXPECT_EQ(trace[2].value, 3u);
    EXPECT_EQ(host.clampValue(SE_CMD_THRESHOLD, 33), 33u); // no range

    EXPECT_EQ(SEHost_CombinePercentages(10, 20), 32);
    EXPECT_EQ(SEHost_CombinePercentages(0, 0), 0);
    EXPECT_EQ(SEHost_CombinePercentages(-50, 100), 0);
    EXPECT_EQ(SEHost_HighestDepth(0x8081), 16);
    EXPECT_EQ(SEHost_HighestDepth(0x0081), 8);
    EXPECT_EQ(SEHost_HighestDepth(0x0009), 4);
    EXPECT_EQ(SEHost_HighestDepth(0x0001), 1);
    EXPECT_EQ(SEHost_HighestDepth(0), 0);
    EXPECT_EQ(host.findDeviceById(0x6204), 0);
    EXPECT_EQ(host.findDeviceById(0x6205), -1);
    EXPECT_EQ(host.imageTypes(), 71);
    EXPECT_TRUE(host.reflectiveAvailable());
    EXPECT_FALSE(host.filmOnly());

    SEHostDeviceSummary summary{};
    ASSERT_TRUE(host.currentDeviceInfo(&summary));
    EXPECT_STREQ(summary.name, "Fake Scanner");
    EXPECT_EQ(summary.pascalName[0], 12);
    EXPECT_EQ(std::memcmp(summary.pascalName + 1, "Fake Scanner", 12), 0);
    EXPECT_EQ(summary.highestDepth, 16);
}

// Ticks that pass only when the code under test yields.
class ManualClock final : public TickClock {
public:
    uint32_t tickCount() override { return ticks; }
    void yield() override { ticks++; }
    uint32_t ticks = 0xFFFFFF00; // wraps during the test
};

TEST_F(HostDeviceTest, PollingCountsTicksWithoutWaiting)
{
    ManualClock clock;
    host.setTickClock(&clock);
    ASSERT_EQ(init(), SE_SUCCESS);
    enumerate();
    ASSERT_EQ(host.selectDevice(0), SE_SUCCESS);
    driver.reply(SE_CMD_TEST_READY, 0, 0);
    driver.clearTrace();
    EXPECT_EQ(host.poll(nullptr, nullptr, 300), SEResult(SE_NOT_SUPPORTED));
    EXPECT_EQ(driver.calls(SE_CMD_TEST_READY).size(), 6u); // at 0, 60, ..., 300 ticks
    int asked = 0;
    auto readyOnThird = [](void* count) {
        return ++*static_cast<int*>(count) == 3 ? SE_SUCCESS : SEResult(SE_NOT_SUPPORTED);
    };
    EXPECT_EQ(host.poll(readyOnThird, &asked, 1200), SE_SUCCESS);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(host.waitForDevice(120), SE_SUCCESS);
}

} // namespace
