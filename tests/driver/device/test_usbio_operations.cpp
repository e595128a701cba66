// The USB layer's operations that the driver itself does not call, and its pure helpers.
#include "test_devices.h"
#include "usbio.h"
#include "virtual_usb_test.h"

#include <libusb.h>

#include <gtest/gtest.h>

using lftest::find_scanners;
using sim::EventKind;

namespace {

class UsbioOperations : public lftest::VirtualUsbTest {
protected:
    int open_scanner(sim::VirtualDevice& dev)
    {
        EXPECT_EQ(usbio_init(), USBIO_STATUS_GOOD);
        int dn = -1;
        EXPECT_EQ(usbio_open(dev.name().c_str(), &dn), USBIO_STATUS_GOOD);
        return dn;
    }
    static std::vector<sim::Event> of_kind(const sim::Transcript& t, std::initializer_list<EventKind> kinds)
    {
        return t.select(
            [&](const sim::Event& e) { return std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end(); });
    }
};

TEST_F(UsbioOperations, ClearHaltResetAndControlMessages)
{
    auto [dev, model] = add_scanner();
    const int dn = open_scanner(dev);
    EXPECT_EQ(usbio_clear_halt(dn), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_reset(dn), USBIO_STATUS_GOOD);
    EXPECT_EQ(model.resets(), 1);

    unsigned char status[2] = {0xFF, 0xFF};
    EXPECT_EQ(usbio_control_msg(dn, 0x80, 0x00, 0, 0, 2, status), USBIO_STATUS_GOOD);
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(usbio_control_msg(dn, 0xC0, 0x42, 0, 0, 2, status), USBIO_STATUS_INVAL);
    usbio_close(dn);
    usbio_exit();

    const auto t = dev.transcript();
    const auto halts = of_kind(t, {EventKind::ClearHalt, EventKind::SetInterface});
    ASSERT_EQ(halts.size(), 2u);
    EXPECT_EQ(halts[0].endpoint, 0x81);
    EXPECT_EQ(halts[1].endpoint, 0x02);
    EXPECT_EQ(t.count(EventKind::Reset), 1u);
    const auto controls = t.urbs(0);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].moved, 2u);
    EXPECT_EQ(controls[1].status, -EPIPE);
}

TEST_F(UsbioOperations, InterruptReads)
{
    auto [dev, model] = add_scanner(false, true);
    const int dn = open_scanner(dev);
    EXPECT_EQ(usbio_get_endpoint(dn, USBIO_EP_INT_IN), 0x83);
    std::vector<uint8_t> buffer(8);
    model.reply({1, 2, 3}, 0x83);
    size_t size = buffer.size();
    EXPECT_EQ(usbio_read_int(dn, buffer.data(), &size), USBIO_STATUS_GOOD);
    EXPECT_EQ(size, 3u);

    model.reply_stall(0x83);
    size = buffer.size();
    EXPECT_EQ(usbio_read_int(dn, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    model.reply_none(0x83);
    usbio_set_timeout(50);
    size = buffer.size();
    EXPECT_EQ(usbio_read_int(dn, buffer.data(), &size), USBIO_STATUS_IO_ERROR);
    usbio_close(dn);
    usbio_exit();
    // Only the stall is cleared, not the time-out.
    const auto halts = of_kind(dev.transcript(), {EventKind::ClearHalt});
    ASSERT_EQ(halts.size(), 1u);
    EXPECT_EQ(halts[0].endpoint, 0x83);
}

TEST_F(UsbioOperations, InterruptReadNeedsAnInterruptEndpoint)
{
    auto [dev, model] = add_scanner();
    const int dn = open_scanner(dev);
    std::vector<uint8_t> buffer(8);
    size_t size = buffer.size();
    EXPECT_EQ(usbio_read_int(dn, buffer.data(), &size), USBIO_STATUS_INVAL);
    usbio_close(dn);
    usbio_exit();
    EXPECT_EQ(dev.transcript().count(EventKind::Urb), 0u);
}

TEST_F(UsbioOperations, ConfigurationInterfacesAndDescriptor)
{
    sim::DeviceDescription desc = sim::scanner_device();
    desc.bcd_device = 0x0123;
    desc.max_packet0 = 64;
    auto [dev, model] = testbed().add_with<sim::LoopbackModel>(desc);
    const int dn = open_scanner(dev);
    EXPECT_EQ(usbio_set_configuration(dn, 1), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_release_interface(dn, 0), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_claim_interface(dn, 0), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_set_altinterface(dn, 0), USBIO_STATUS_GOOD);
    EXPECT_EQ(usbio_set_altinterface(dn + 5, 0), USBIO_STATUS_INVAL);

    usbio_descriptor d{};
    EXPECT_EQ(usbio_get_descriptor(dn, &d), USBIO_STATUS_GOOD);
    EXPECT_EQ(d.desc_type, 1);
    EXPECT_EQ(d.bcd_usb, 0x0200u);
    EXPECT_EQ(d.bcd_dev, 0x0123u);
    EXPECT_EQ(d.dev_class, 0);
    EXPECT_EQ(d.max_packet_size, 64);
    EXPECT_EQ(usbio_get_descriptor(dn + 5, &d), USBIO_STATUS_INVAL);

    int v = 0;
    int p = 0;
    EXPECT_EQ(usbio_get_vendor_product(dn, &v, &p), USBIO_STATUS_GOOD);
    EXPECT_EQ(v, VARNOTH_USB_VENDOR_ID);
    EXPECT_EQ(p, VARNOTH_USB_PRODUCT_ID);
    EXPECT_EQ(usbio_get_vendor_product(dn + 5, &v, &p), USBIO_STATUS_INVAL);
    v = p = 0;
    EXPECT_EQ(usbio_get_vendor_product_byname(dev.name().c_str(), &v, nullptr), USBIO_STATUS_GOOD);
    EXPECT_EQ(v, VARNOTH_USB_VENDOR_ID);
    EXPECT_EQ(usbio_get_vendor_product_byname("libusb:001:099", &v, &p), USBIO_STATUS_INVAL);
    usbio_close(dn);
    usbio_exit();

    const auto t = dev.transcript();
    std::vector<EventKind> kinds;
    for (const sim::Event& e : t.events) kinds.push_back(e.kind);
    EXPECT_EQ(kinds,
              (std::vector<EventKind>{EventKind::Claim, EventKind::SetConfiguration, EventKind::Release,
                                      EventKind::Claim, EventKind::SetInterface, EventKind::Release}));
}

class UsbioOperationsWorkaround : public UsbioOperations {
protected:
    UsbioOperationsWorkaround() { set_environment("VARNOTH_USB_WORKAROUND", "7"); }
};

TEST_F(UsbioOperationsWorkaround, ClearHaltReappliesTheAlternateSettingFirst)
{
    auto [dev, model] = add_scanner();
    const int dn = open_scanner(dev);
    EXPECT_EQ(usbio_clear_halt(dn), USBIO_STATUS_GOOD);
    usbio_close(dn);
    usbio_exit();
    const auto events = of_kind(dev.transcript(), {EventKind::ClearHalt, EventKind::SetInterface});
    ASSERT_EQ(events.size(), 4u); // set-interface, clear IN, clear OUT, then close's set-interface
    EXPECT_EQ(events[0].kind, EventKind::SetInterface);
    EXPECT_EQ(events[1].endpoint, 0x81);
    EXPECT_EQ(events[2].endpoint, 0x02);
    EXPECT_EQ(events[3].kind, EventKind::SetInterface);
}

std::vector<std::string> attached;
int remember(const char* line)
{
    attached.emplace_back(line);
    return 0;
}

TEST_F(UsbioOperations, AttachMatchingDevicesReadsConfigurationLines)
{
    auto [dev, model] = add_scanner();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    attached.clear();
    usbio_attach_matching_devices("usb 0xf0a2 0x6204", remember);
    usbio_attach_matching_devices("usb \"0xF0A2\"   \"25092\"", remember);
    usbio_attach_matching_devices("usb 0xf0a2 0x1111", remember);
    usbio_attach_matching_devices("usb", remember);
    usbio_attach_matching_devices("usbfs /dev/whatever", remember);
    usbio_attach_matching_devices("scsi FOO", remember);
    usbio_exit();
    EXPECT_EQ(attached, (std::vector<std::string>{dev.name(), dev.name(), "usbfs /dev/whatever", "scsi FOO"}));
}

TEST(UsbioHelpers, ConfigStrings)
{
    std::optional<std::string> out;
    const char* text = "  word  \"quoted text\" \"open";
    const char* pos = config_get_string(text, out);
    EXPECT_EQ(out, "word");
    pos = config_get_string(pos, out);
    EXPECT_EQ(out, "quoted text");
    pos = config_get_string(pos, out);
    EXPECT_FALSE(out.has_value());
    EXPECT_EQ(*pos, '\0');
    EXPECT_STREQ(config_skip_whitespace(" \t x"), "x");
}

TEST(UsbioHelpers, StatusMappings)
{
    const int codes[] = {LIBUSB_SUCCESS,
                         LIBUSB_ERROR_IO,
                         LIBUSB_ERROR_INVALID_PARAM,
                         LIBUSB_ERROR_ACCESS,
                         LIBUSB_ERROR_NO_DEVICE,
                         LIBUSB_ERROR_NOT_FOUND,
                         LIBUSB_ERROR_BUSY,
                         LIBUSB_ERROR_TIMEOUT,
                         LIBUSB_ERROR_OVERFLOW,
                         LIBUSB_ERROR_PIPE,
                         LIBUSB_ERROR_INTERRUPTED,
                         LIBUSB_ERROR_NO_MEM,
                         LIBUSB_ERROR_NOT_SUPPORTED,
                         LIBUSB_ERROR_OTHER};
    for (int code : codes) {
        SCOPED_TRACE(code);
        const int open = code == 0        ? 0
            : code == LIBUSB_ERROR_ACCESS ? 11
            : code == LIBUSB_ERROR_BUSY   ? 3
            : code == LIBUSB_ERROR_NO_MEM ? 10
                                          : 4;
        EXPECT_EQ(usbio_status_from_open_error(code), open);
        const int config = code == 0 || code == LIBUSB_ERROR_BUSY ? 0 : code == LIBUSB_ERROR_ACCESS ? 11 : 4;
        EXPECT_EQ(usbio_status_from_configuration_error(code), config);
        const int claim = code == 0 ? 0 : code == LIBUSB_ERROR_ACCESS ? 11 : code == LIBUSB_ERROR_BUSY ? 3 : 4;
        EXPECT_EQ(usbio_status_from_claim_error(code), claim);
    }
}

} // namespace
