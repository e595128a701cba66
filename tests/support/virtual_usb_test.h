// Fixture for tests that run the driver's USB layer on the virtual USB bus. It keeps the order
// the harness needs: environment, then testbed, then (in the test) usbio_init ... usbio_exit,
// then the testbed goes. A test that ends with the usbio layer still holding a libusb context
// fails.
#pragma once

#include "loopback_model.h"
#include "testbed.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lftest {

class VirtualUsbTest : public ::testing::Test {
protected:
    // An environment variable to set before the testbed and the libusb context exist (call it in
    // the fixture's constructor); it is removed after the testbed is gone.
    void set_environment(std::string name, std::string value)
    {
        environment_.emplace_back(std::move(name), std::move(value));
    }
    virtual sim::TestbedOptions testbed_options() const { return {}; }

    void SetUp() override;
    void TearDown() override;

    sim::Testbed& testbed() { return *testbed_; }
    // The scanner (next free address on bus 1) with a loopback model.
    std::pair<sim::VirtualDevice&, sim::LoopbackModel&> add_scanner(bool echo = false, bool interrupt_endpoint = false);

private:
    std::vector<std::pair<std::string, std::string>> environment_;
    std::optional<sim::Testbed> testbed_;
};

// Names that usbio_find_devices reports for these ids.
std::vector<std::string> find_devices(int vendor, int product);
// The same for the scanner's ids.
std::vector<std::string> find_scanners();

} // namespace lftest
