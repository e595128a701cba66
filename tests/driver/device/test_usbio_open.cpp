// Open, close and exit of the USB layer, on the virtual bus.
#include "test_devices.h"
#include "gl_device.h"
#include "usbio.h"
#include "virtual_usb_test.h"

#include <gtest/gtest.h>

#include <cstdlib>

using lftest::find_scanners;
using sim::EventKind;

namespace {

class UsbioOpen : public lftest::VirtualUsbTest {};

int open_first(int* dn)
{
    const auto names = find_scanners();
    if (names.empty()) return -1;
    return usbio_open(names[0].c_str(), dn);
}

std::vector<EventKind> kinds(const sim::Transcript& t)
{
    std::vector<EventKind> out;
    for (const sim::Event& e : t.events) out.push_back(e.kind);
    return out;
}

TEST_F(UsbioOpen, EndpointsComeFromTheDescriptorsAndDeviceOpenFixesTheBulkPair)
{
    sim::DeviceDescription desc = sim::scanner_device();
    sim::AltSettingDescription alt0;
    alt0.endpoints = {{0x04, 2, 512, 0}, {0x85, 2, 512, 0}, {0x86, 3, 64, 8}, {0x87, 2, 512, 0}};
    sim::AltSettingDescription alt1;
    alt1.endpoints = {{0x88, 1, 1024, 1}, {0x0A, 2, 512, 0}};
    sim::AltSettingDescription other; // interface 1 of configuration 0 is not claimed: ignored
    other.endpoints = {{0x0B, 3, 64, 8}};
    desc.configurations[0].interfaces = {{{alt0, alt1}}, {{other}}};
    sim::ConfigDescription second;
    second.value = 2;
    sim::AltSettingDescription alt2;
    alt2.endpoints = {{0x0C, 3, 64, 8}, {0x0D, 1, 1024, 1}};
    second.interfaces = {{{alt2}}};
    desc.configurations.push_back(second);
    testbed().add(desc);

    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn = -1;
    ASSERT_EQ(open_first(&dn), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_BULK_OUT), 0x04);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_BULK_IN), 0x85);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_INT_IN), 0x86);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_ISO_IN), 0x88);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_INT_OUT), 0x0C);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_ISO_OUT), 0x0D);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_CONTROL_IN), 0);
    EXPECT_EQ(usbio_get_endpoint(dn, 0x42), 0);

    GLDevice* dev = nullptr;
    ASSERT_EQ(device_New(&dev), STATUS_GOOD);
    device_Open(dev, static_cast<uint32_t>(dn));
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_BULK_OUT), 0x02);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_BULK_IN), 0x81);
    device_Free(dev);
    usbio_close(dn);
    usbio_exit();
}

TEST_F(UsbioOpen, RefusesSecondOpenUnknownNamesAndNullNumber)
{
    auto [dev, model] = add_scanner();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn = -1;
    ASSERT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_GOOD);
    int second = -1;
    EXPECT_EQ(usbio_open(dev.name().c_str(), &second), USBIO_STATUS_INVAL);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(usbio_open("libusb:009:099", &second), USBIO_STATUS_INVAL);
    EXPECT_EQ(usbio_open(dev.name().c_str(), nullptr), USBIO_STATUS_INVAL);
    EXPECT_EQ(dev.transcript().count(EventKind::Claim), 1u);
    usbio_close(dn);
    usbio_exit();
}

TEST_F(UsbioOpen, SetsTheFirstConfigurationOnlyWhenAnotherIsActive)
{
    sim::DeviceDescription two = sim::scanner_device();
    sim::ConfigDescription second = two.configurations[0];
    second.value = 2;
    two.configurations.push_back(second);
    two.active_configuration = 2;
    sim::VirtualDevice& switched = testbed().add(two);
    two.active_configuration = 1;
    two.address = 0;
    sim::VirtualDevice& kept = testbed().add(two);

    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    for (sim::VirtualDevice* d : {&switched, &kept}) {
        int dn = -1;
        ASSERT_EQ(usbio_open(d->name().c_str(), &dn), USBIO_STATUS_GOOD);
        usbio_close(dn);
    }
    usbio_exit();
    const auto set =
        switched.transcript().select([](const sim::Event& e) { return e.kind == EventKind::SetConfiguration; });
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].value, 1);
    EXPECT_EQ(kept.transcript().count(EventKind::SetConfiguration), 0u);
}

TEST_F(UsbioOpen, InitAfterExitStartsAFreshContext)
{
    auto [dev, model] = add_scanner();
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD) << cycle;
        int dn = -1;
        ASSERT_EQ(open_first(&dn), USBIO_STATUS_GOOD) << cycle;
        usbio_close(dn);
        usbio_exit();
        EXPECT_FALSE(usbio_has_context());
    }
    EXPECT_EQ(dev.transcript().count(EventKind::Claim), 3u);
    EXPECT_EQ(dev.transcript().count(EventKind::Release), 3u);
}

TEST_F(UsbioOpen, ExitClosesWhatIsStillOpen)
{
    auto [dev, model] = add_scanner();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn = -1;
    ASSERT_EQ(open_first(&dn), USBIO_STATUS_GOOD);
    usbio_exit();
    EXPECT_EQ(kinds(dev.transcript()), (std::vector<EventKind>{EventKind::Claim, EventKind::Release}));
}

TEST_F(UsbioOpen, FailedOpensCloseTheHandleAndALaterOpenWorks)
{
    auto [dev, model] = add_scanner();
    sim::DeviceDescription two = sim::scanner_device();
    sim::ConfigDescription second = two.configurations[0];
    second.value = 2;
    two.configurations.push_back(second);
    two.active_configuration = 2;
    auto [multi, multi_model] = testbed().add_with<sim::LoopbackModel>(two);
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn = -1;

    model.refuse_claim(true);
    EXPECT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_DEVICE_BUSY);
    model.refuse_claim(false);
    ASSERT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_GOOD);
    usbio_close(dn);

    multi_model.refuse_set_configuration(true);
    EXPECT_EQ(usbio_open(multi.name().c_str(), &dn), USBIO_STATUS_INVAL);
    multi_model.refuse_set_configuration(false);
    ASSERT_EQ(usbio_open(multi.name().c_str(), &dn), USBIO_STATUS_GOOD);
    usbio_close(dn);

    // Unconfigured between the scan and the open.
    testbed().set_active_configuration(dev, 0);
    EXPECT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_INVAL);
    testbed().set_active_configuration(dev, 1);
    ASSERT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_GOOD);
    usbio_close(dn);
    usbio_exit();
    // Every handle that a failed open made is closed again: no file of the device stays open.
    EXPECT_TRUE(dev.wait_open_clients(0));
    EXPECT_TRUE(multi.wait_open_clients(0));
}

// Init, open, close (twice, and an unknown number) and exit; returns what the scanner saw.
sim::Transcript open_and_close(sim::VirtualDevice& dev)
{
    EXPECT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    int dn = -1;
    EXPECT_EQ(open_first(&dn), USBIO_STATUS_GOOD);
    usbio_close(dn);
    usbio_close(dn); // already closed: nothing
    usbio_close(1000);
    usbio_exit();
    return dev.transcript();
}

TEST_F(UsbioOpen, CloseReleasesWithoutWorkaround)
{
    auto [dev, model] = add_scanner();
    EXPECT_EQ(kinds(open_and_close(dev)), (std::vector<EventKind>{EventKind::Claim, EventKind::Release}));
}

// VARNOTH_USB_WORKAROUND is read with atoi: any non-zero value turns it on.
class UsbioCloseWorkaround : public lftest::VirtualUsbTest, public ::testing::WithParamInterface<const char*> {
protected:
    UsbioCloseWorkaround() { set_environment("VARNOTH_USB_WORKAROUND", GetParam()); }
};

TEST_P(UsbioCloseWorkaround, ReappliesTheAlternateSettingBeforeTheRelease)
{
    auto [dev, model] = add_scanner();
    const auto t = open_and_close(dev);
    if (std::atoi(GetParam()) == 0) {
        EXPECT_EQ(kinds(t), (std::vector<EventKind>{EventKind::Claim, EventKind::Release}));
        return;
    }
    ASSERT_EQ(kinds(t), (std::vector<EventKind>{EventKind::Claim, EventKind::SetInterface, EventKind::Release}));
    EXPECT_EQ(t.events[1].value, 0);
    EXPECT_EQ(t.events[1].value2, 0);
}

INSTANTIATE_TEST_SUITE_P(Values, UsbioCloseWorkaround, ::testing::Values("1", "7", "0"));

} // namespace
