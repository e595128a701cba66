// Fixture for tests that drive the device protocol through the real libusb against the simulated
// scanner: the scanner model (a profile, "default" unless the fixture says otherwise) on the
// virtual bus, the USB layer opened on it, a GLDevice and a GLScanner opened on it with
// scanner_new, after which the transcript starts empty. The driver's sleeps are counted, never
// slept. A test ends with an empty violation list on the device unless it calls allow_violations().
#pragma once

#include "gl_scanner.h"
#include "scanner_model.h"
#include "virtual_usb_test.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lftest {

class ScannerTest : public VirtualUsbTest {
protected:
    // The profile the model starts with; false for open_scanner() leaves the record unopened
    // (g() is then null until a test opens one).
    virtual std::string profile() const { return "default"; }
    virtual bool open_scanner() const { return true; }

    void SetUp() override;
    void TearDown() override;

    sim::ScannerModel& model() { return *model_; }
    sim::VirtualDevice& device() { return *device_; }
    GLScanner* g() { return scanner_; }
    GLDevice* gl_device() { return gl_; }
    // The usbio device number the scanner is open under.
    int device_number() const { return dn_; }
    // Frees the record and opens a new one on the same device; the transcript starts empty again.
    void reopen_scanner();
    // Closes the device as the driver does (the interface is released); TearDown then skips it.
    void close_device();
    // For tests that make the driver break the protocol on purpose (and check the violations).
    void allow_violations() { violations_allowed_ = true; }

    // The model's transactions from the last clear on, in short form (Transaction::brief).
    std::vector<std::string> briefs() const;
    // The harness's URB events since the scanner was opened.
    std::vector<sim::Event> urbs() const;
    // Every driver sleep since the test began, in milliseconds.
    static const std::vector<uint32_t>& sleeps();

private:
    sim::VirtualDevice* device_ = nullptr;
    sim::ScannerModel* model_ = nullptr;
    int dn_ = -1;
    size_t urbs_before_ = 0;
    GLDevice* gl_ = nullptr;
    GLScanner* scanner_ = nullptr;
    bool open_ = false;
    bool violations_allowed_ = false;
};

} // namespace lftest
