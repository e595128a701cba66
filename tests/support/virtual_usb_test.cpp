#include "virtual_usb_test.h"

#include "usb_ids.h"
#include "usbio.h"

#include <cstdlib>

namespace lftest {

namespace {

constexpr unsigned kDefaultTimeoutMs = 60000;
std::vector<std::string>* collected = nullptr;

int collect(const char* devname)
{
    if (collected != nullptr) collected->emplace_back(devname);
    return 0;
}

} // namespace

void VirtualUsbTest::SetUp()
{
    ASSERT_FALSE(usbio_has_context()) << "a libusb context exists before the testbed; it must come after";
    for (const auto& [name, value] : environment_) setenv(name.c_str(), value.c_str(), 1);
    testbed_.emplace(testbed_options());
}

void VirtualUsbTest::TearDown()
{
    if (usbio_has_context()) {
        ADD_FAILURE() << "the test ended with the usbio layer still holding a libusb context";
        while (usbio_has_context()) usbio_exit();
    }
    testbed_.reset();
    for (const auto& [name, value] : environment_) unsetenv(name.c_str());
    usbio_set_timeout(kDefaultTimeoutMs);
}

std::pair<sim::VirtualDevice&, sim::LoopbackModel&> VirtualUsbTest::add_scanner(bool echo, bool interrupt_endpoint)
{
    return testbed().add_with<sim::LoopbackModel>(sim::scanner_device(interrupt_endpoint), echo);
}

std::vector<std::string> find_devices(int vendor, int product)
{
    std::vector<std::string> names;
    collected = &names;
    usbio_find_devices(vendor, product, collect);
    collected = nullptr;
    return names;
}

std::vector<std::string> find_scanners()
{
    return find_devices(VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID);
}

} // namespace lftest
