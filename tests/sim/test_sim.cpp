// The virtual USB bus itself, driven through plain libusb.
#include "loopback_model.h"
#include "preload.h"
#include "testbed.h"
#include "usb_ids.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using sim::EventKind;

class VirtualBus : public ::testing::Test {
protected:
    void SetUp() override { testbed_.emplace(); }
    void TearDown() override
    {
        if (handle_ != nullptr) libusb_close(handle_);
        if (ctx_ != nullptr) libusb_exit(ctx_);
        testbed_.reset();
    }
    void start() { ASSERT_EQ(libusb_init(&ctx_), 0); }
    // Opens the device at bus/address and claims interface 0.
    void open(const sim::VirtualDevice& dev)
    {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx_, &list);
        for (ssize_t i = 0; i < n; ++i)
            if (libusb_get_bus_number(list[i]) == dev.bus() && libusb_get_device_address(list[i]) == dev.address()) {
                EXPECT_EQ(libusb_open(list[i], &handle_), 0);
            }
        libusb_free_device_list(list, 1);
        ASSERT_NE(handle_, nullptr);
        ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    }
    int read(std::vector<uint8_t>& buffer, int* moved, unsigned timeout = 2000)
    {
        return libusb_bulk_transfer(handle_, 0x81, buffer.data(), static_cast<int>(buffer.size()), moved, timeout);
    }
    // (bus, address) of every device in a fresh libusb device list.
    std::vector<std::pair<int, int>> listed()
    {
        std::vector<std::pair<int, int>> out;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx_, &list);
        for (ssize_t i = 0; i < n; ++i)
            out.emplace_back(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]));
        libusb_free_device_list(list, 1);
        std::sort(out.begin(), out.end());
        return out;
    }

    std::optional<sim::Testbed> testbed_;
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

TEST_F(VirtualBus, DescriptorsReadBackThroughLibusb)
{
    sim::DeviceDescription desc = sim::scanner_device(true);
    desc.bcd_device = 0x0321;
    sim::ConfigDescription second;
    second.value = 7;
    second.max_power = 100;
    sim::AltSettingDescription a0;
    a0.interface_class = 6;
    sim::AltSettingDescription a1;
    a1.interface_class = 6;
    a1.endpoints = {{0x84, 3, 16, 4}};
    second.interfaces = {{{a0, a1}}};
    desc.configurations.push_back(second);
    testbed_->add(desc);
    start();

    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    bool seen = false;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d;
        ASSERT_EQ(libusb_get_device_descriptor(list[i], &d), 0);
        if (d.idVendor != VARNOTH_USB_VENDOR_ID) {
            EXPECT_EQ(d.idVendor, 0x1d6b);
            EXPECT_EQ(d.bDeviceClass, 9);
            continue;
        }
        seen = true;
        EXPECT_EQ(d.idProduct, VARNOTH_USB_PRODUCT_ID);
        EXPECT_EQ(d.bcdDevice, 0x0321);
        EXPECT_EQ(d.bNumConfigurations, 2);
        EXPECT_EQ(libusb_get_device_speed(list[i]), LIBUSB_SPEED_HIGH);
        libusb_config_descriptor* c = nullptr;
        ASSERT_EQ(libusb_get_config_descriptor(list[i], 0, &c), 0);
        ASSERT_EQ(c->bNumInterfaces, 1);
        const libusb_interface_descriptor& alt = c->interface[0].altsetting[0];
        EXPECT_EQ(alt.bInterfaceClass, 0xFF);
        ASSERT_EQ(alt.bNumEndpoints, 3);
        EXPECT_EQ(alt.endpoint[0].bEndpointAddress, 0x02);
        EXPECT_EQ(alt.endpoint[1].bEndpointAddress, 0x81);
        EXPECT_EQ(alt.endpoint[1].wMaxPacketSize, 512);
        EXPECT_EQ(alt.endpoint[2].bmAttributes, 3);
        libusb_free_config_descriptor(c);
        ASSERT_EQ(libusb_get_config_descriptor(list[i], 1, &c), 0);
        EXPECT_EQ(c->bConfigurationValue, 7);
        EXPECT_EQ(c->MaxPower, 100);
        ASSERT_EQ(c->interface[0].num_altsetting, 2);
        EXPECT_EQ(c->interface[0].altsetting[1].endpoint[0].bEndpointAddress, 0x84);
        libusb_free_config_descriptor(c);
    }
    libusb_free_device_list(list, 1);
    EXPECT_TRUE(seen);
}

TEST_F(VirtualBus, AStallPersistsUntilClearHalt)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device());
    start();
    open(dev);
    model.reply_stall();
    model.reply({9, 8, 7});
    std::vector<uint8_t> buffer(16);
    int moved = -1;
    EXPECT_EQ(read(buffer, &moved), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(read(buffer, &moved), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(model.queued(), 1u); // the data stay queued while the endpoint is halted
    EXPECT_EQ(libusb_clear_halt(handle_, 0x81), 0);
    EXPECT_EQ(read(buffer, &moved), 0);
    EXPECT_EQ(moved, 3);
    const auto urbs = dev.transcript().urbs(0x81);
    ASSERT_EQ(urbs.size(), 3u);
    EXPECT_EQ(urbs[1].status, -EPIPE);
}

TEST_F(VirtualBus, ALateReplyArrives)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device());
    start();
    open(dev);
    model.reply_late(std::chrono::milliseconds(40));
    model.reply({1, 2, 3, 4});
    std::vector<uint8_t> buffer(512);
    int moved = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(buffer, &moved), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(moved, 4);
}

TEST_F(VirtualBus, FourMebibytesInOneMebibyteTransfersAreByteExact)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device());
    start();
    open(dev);
    std::vector<uint8_t> data(4u << 20);
    uint32_t x = 12345;
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    model.reply(data);
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(1u << 20);
    for (int i = 0; i < 4; ++i) {
        int moved = 0;
        ASSERT_EQ(read(buffer, &moved), 0);
        ASSERT_EQ(moved, static_cast<int>(buffer.size()));
        got.insert(got.end(), buffer.begin(), buffer.end());
    }
    EXPECT_TRUE(got == data);
    EXPECT_EQ(dev.transcript().urbs(0x81).size(), 4u);
}

TEST_F(VirtualBus, ADisconnectMidReadDeliversTheBytesSentBefore)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device());
    start();
    open(dev);
    model.disconnect_after(1000);
    model.reply(std::vector<uint8_t>(4096, 0x5A));
    std::vector<uint8_t> buffer(4096);
    int moved = 0;
    EXPECT_EQ(read(buffer, &moved), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(moved, 1000);
    EXPECT_EQ(libusb_bulk_transfer(handle_, 0x02, buffer.data(), 4, &moved, 1000), LIBUSB_ERROR_NO_DEVICE);
    testbed_->settle();
    EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{1, 1}}));
}

TEST_F(VirtualBus, HotPlugIsSeenByTheNextDeviceList)
{
    testbed_->add(sim::scanner_device());
    start();
    EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}}));
    sim::DeviceDescription other = sim::scanner_device();
    other.bus = 2;
    sim::VirtualDevice& added = testbed_->add(other);
    EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {2, 2}}));
    testbed_->unplug(added);
    EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}}));
}

TEST_F(VirtualBus, ControlAndInterruptTransfers)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device(true));
    start();
    open(dev);
    uint8_t status[2] = {0xFF, 0xFF};
    EXPECT_EQ(libusb_control_transfer(handle_, 0x80, 0x00, 0, 0, status, 2, 1000), 2);
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(libusb_control_transfer(handle_, 0x40, 0x09, 1, 0, nullptr, 0, 1000), LIBUSB_ERROR_PIPE);
    model.reply({0xAB}, 0x83);
    uint8_t irq[8];
    int moved = 0;
    EXPECT_EQ(libusb_interrupt_transfer(handle_, 0x83, irq, sizeof irq, &moved, 1000), 0);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(irq[0], 0xAB);
    const auto controls = dev.transcript().urbs(0);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].value2, 0x80);
    EXPECT_EQ(controls[1].value, 0x09);
}

TEST_F(VirtualBus, ClaimsAreExclusivePerOpenFile)
{
    auto [dev, model] = testbed_->add_with<sim::LoopbackModel>(sim::scanner_device());
    start();
    open(dev);
    libusb_device_handle* second = nullptr;
    ASSERT_EQ(libusb_open(libusb_get_device(handle_), &second), 0);
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(dev.claimed_interfaces(), std::vector<int>{0});
    libusb_close(handle_);
    handle_ = nullptr;
    ASSERT_TRUE(dev.wait_open_clients(1));
    EXPECT_EQ(libusb_claim_interface(second, 0), 0); // the closed file's claim went with it
    libusb_close(second);
}

TEST(VirtualBusChild, AChildProcessClientWorks)
{
    sim::Testbed testbed({.client = sim::ClientMode::ChildProcess});
    auto [dev, model] = testbed.add_with<sim::LoopbackModel>(sim::scanner_device(), true);

    std::vector<std::string> env = sim::client_environment();
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = USB_DEMO_PATH;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(model.received().size(), 22u);
    const auto urbs = dev.transcript().urbs(0x81);
    ASSERT_EQ(urbs.size(), 1u);
    EXPECT_EQ(urbs[0].moved, 22u);
}

TEST(VirtualBusNames, AFolderTooLongForTheSocketsIsRefusedClearly)
{
    // GLib reads TMPDIR once per process, so the check runs in a child: varnoth-sim itself.
    const std::string folder = "/tmp/" + std::string(90, 'd');
    std::filesystem::create_directories(folder);
    const std::string command = "TMPDIR=" + folder + " " + VARNOTH_SIM_PATH + " -- /bin/true 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(out.find("too long for its device sockets"), std::string::npos) << out;
    EXPECT_NE(out.find("TMPDIR"), std::string::npos) << out;
}

} // namespace
