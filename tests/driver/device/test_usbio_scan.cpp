// The bus scan and the device table, on the virtual bus.
#include "test_devices.h"
#include "usbio.h"
#include "virtual_usb_test.h"

#include <gtest/gtest.h>

using lftest::find_devices;
using lftest::find_scanners;

namespace {

class UsbioScan : public lftest::VirtualUsbTest {};

constexpr int kVendor = VARNOTH_USB_VENDOR_ID;

TEST_F(UsbioScan, QualifyingRules)
{
    struct Case {
        uint16_t product;
        sim::DeviceDescription desc;
        bool listed;
    };
    std::vector<Case> cases = {
        {0x1000, lftest::device_with_interfaces(0x1000, {0}), true},
        {0x1006, lftest::device_with_interfaces(0x1006, {6}), true},
        {0x1016, lftest::device_with_interfaces(0x1016, {16}), true},
        {0x10FF, lftest::device_with_interfaces(0x10FF, {255}), true},
        {0x1003, lftest::device_with_interfaces(0x1003, {3}), false},      // HID
        {0x20FF, lftest::device_with_interfaces(0x20FF, {3}, 255), true},  // class 255: first interface
        {0x2009, lftest::device_with_interfaces(0x2009, {255}, 9), false}, // a hub class
        {0x3001, lftest::device_with_interfaces(0x3001, {3, 255}), true},  // interface 1 qualifies
    };
    sim::DeviceDescription unconfigured = lftest::device_with_interfaces(0x4000, {255});
    unconfigured.active_configuration = 0;
    cases.push_back({0x4000, unconfigured, false});
    for (const Case& c : cases) testbed().add(c.desc);
    sim::DeviceDescription no_vendor = lftest::device_with_interfaces(0x5000, {255});
    no_vendor.vendor = 0;
    testbed().add(no_vendor);
    testbed().add(lftest::device_with_interfaces(0, {255}));

    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    for (const Case& c : cases)
        EXPECT_EQ(find_devices(kVendor, c.product).size(), c.listed ? 1u : 0u) << std::hex << c.product;
    EXPECT_TRUE(find_devices(0, 0x5000).empty());
    EXPECT_TRUE(find_devices(kVendor, 0).empty());
    EXPECT_TRUE(find_devices(0x1d6b, 0x0002).empty()); // the root hub is opened but never listed

    // The interface that qualified is the one claimed.
    const auto names = find_devices(kVendor, 0x3001);
    ASSERT_EQ(names.size(), 1u);
    int dn = -1;
    ASSERT_EQ(usbio_open(names[0].c_str(), &dn), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_get_interface(dn), 1);
    usbio_close(dn);
    usbio_exit();
    for (sim::VirtualDevice* dev : testbed().devices()) {
        if (dev->description().product != 0x3001) continue;
        const auto claims =
            dev->transcript().select([](const sim::Event& e) { return e.kind == sim::EventKind::Claim; });
        ASSERT_EQ(claims.size(), 1u);
        EXPECT_EQ(claims[0].value, 1);
    }
}

TEST_F(UsbioScan, NamesCarryBusAndAddress)
{
    for (auto [bus, address] : {std::pair{1, 2}, {3, 17}, {12, 105}}) {
        sim::DeviceDescription desc = sim::scanner_device();
        desc.bus = bus;
        desc.address = address;
        testbed().add(desc);
    }
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    auto names = find_scanners();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"libusb:001:002", "libusb:003:017", "libusb:012:105"}));
    usbio_exit();
}

TEST_F(UsbioScan, FindMatchesIdsAndSkipsDevicesTheLastScanMissed)
{
    auto [a, model_a] = add_scanner();
    testbed().add(lftest::device_with_interfaces(0x7777, {255}));
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    EXPECT_EQ(find_scanners(), std::vector<std::string>{a.name()});
    EXPECT_EQ(find_devices(kVendor, 0x7777).size(), 1u);
    EXPECT_EQ(usbio_find_devices(kVendor, VARNOTH_USB_PRODUCT_ID, nullptr), USBIO_STATUS_GOOD);

    testbed().unplug(a);
    usbio_scan_devices();
    EXPECT_TRUE(find_scanners().empty());
    int v = 0;
    int p = 0;
    EXPECT_EQ(usbio_get_vendor_product_byname(a.name().c_str(), &v, &p), USBIO_STATUS_INVAL);
    usbio_exit();
}

TEST_F(UsbioScan, EntryLifeCycle)
{
    auto [a, model_a] = add_scanner();
    auto [b, model_b] = add_scanner();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn_a = -1;
    int dn_b = -1;
    ASSERT_EQ(usbio_open(a.name().c_str(), &dn_a), USBIO_STATUS_GOOD);
    ASSERT_EQ(usbio_open(b.name().c_str(), &dn_b), USBIO_STATUS_GOOD);
    usbio_close(dn_a);
    usbio_close(dn_b);

    // A rescan refreshes the entry and keeps its number.
    usbio_scan_devices();
    int again = -1;
    ASSERT_EQ(usbio_open(a.name().c_str(), &again), USBIO_STATUS_GOOD);
    EXPECT_EQ(again, dn_a);
    usbio_close(again);

    // Missing for two scans: the entry goes to a new device.
    testbed().unplug(a);
    usbio_scan_devices();
    usbio_scan_devices();
    auto [c, model_c] = add_scanner();
    usbio_scan_devices();
    int dn_c = -1;
    ASSERT_EQ(usbio_open(c.name().c_str(), &dn_c), USBIO_STATUS_GOOD);
    EXPECT_EQ(dn_c, dn_a);
    usbio_close(dn_c);
    usbio_exit();
}

TEST_F(UsbioScan, AnOpenEntryIsNeverReused)
{
    auto [a, model_a] = add_scanner(true);
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn_a = -1;
    ASSERT_EQ(usbio_open(a.name().c_str(), &dn_a), USBIO_STATUS_GOOD);
    testbed().unplug(a);
    usbio_scan_devices();
    usbio_scan_devices();
    auto [b, model_b] = add_scanner(true);
    usbio_scan_devices();

    int dn_b = -1;
    ASSERT_EQ(usbio_open(b.name().c_str(), &dn_b), USBIO_STATUS_GOOD);
    EXPECT_NE(dn_b, dn_a);
    // B answers on its own number; A's number still refers to A, whose transfers fail.
    const unsigned char ping[4] = {1, 2, 3, 4};
    size_t size = sizeof ping;
    EXPECT_EQ(usbio_write_bulk(dn_b, ping, &size), USBIO_STATUS_GOOD);
    EXPECT_EQ(model_b.received().size(), 4u);
    size = sizeof ping;
    EXPECT_EQ(usbio_write_bulk(dn_a, ping, &size), USBIO_STATUS_DEVICE_GONE);
    usbio_close(dn_a);
    usbio_close(dn_b);
    EXPECT_EQ(a.transcript().count(sim::EventKind::Claim), 1u);
    usbio_exit(); // the sanitizer build's leak check covers the dropped device references
}

TEST_F(UsbioScan, TheTableHoldsAHundredDevices)
{
    for (int i = 0; i < 101; ++i) {
        sim::DeviceDescription desc = sim::scanner_device();
        desc.bus = 1 + i / 100;
        testbed().add(desc);
    }
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    EXPECT_EQ(find_scanners().size(), 100u);
    usbio_exit();
}

TEST_F(UsbioScan, NestedInitKeepsTheTable)
{
    add_scanner();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    usbio_exit();
    EXPECT_TRUE(usbio_has_context());
    EXPECT_EQ(find_scanners().size(), 1u);
    usbio_exit();
    EXPECT_FALSE(usbio_has_context());
    EXPECT_TRUE(find_scanners().empty());
}

} // namespace
