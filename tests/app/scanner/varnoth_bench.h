// The driver bundle as the build writes it, on the simulated scanner, for the application's tests:
// a driver folder of its own holding a copy of the bundle (the driver keeps its calibration file in
// its module folder), a virtual USB bus, and a scanner model whose image reads a test can slow
// down or make fail part way through a page.
//
// Life cycle: make the bench before any driver is loaded, and shut it down after every scanner
// object has unloaded its driver (the driver's USB layer must end before the bus).
#pragma once

#include "bytes.h"
#include "fake_driver.h"
#include "scanner_model.h"
#include "se_boundary.h"
#include "testbed.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnoth_test {

// The geometry of a page the scanner was asked for, from its parameter block and window.
struct PageWindow {
    uint32_t dotX = 0, dotY = 0, width = 0, height = 0;
    uint16_t xres = 0, yres = 0;
    uint8_t media = 0;
    bool mirrored = false;
};

// The simulated scanner with two hooks on image pages (window kind 0; calibration pages are left
// alone): each bulk-in transfer of an image read can be held back for a while (the transfer stays
// pending, so the model never blocks), and the n-th image read from now can be refused with sense
// data.
class HookedScannerModel : public sim::ScannerModel {
public:
    void delayImageReads(std::chrono::milliseconds delay) { delayMs_ = delay.count(); }
    // Once this many more bytes of image data have gone to the host, the device holds every further
    // read back (heldBack), until the test takes it off the bus.
    void holdBackAfterImageBytes(int64_t bytes) { holdAfter_ = bytes; }
    bool heldBack() const { return heldBack_; }
    void refuseImageRead(int occurrence) { refuseAt_ = occurrence; }
    // Image reads asked for so far (each job frame "IMG" of an image page).
    int imageReads() const { return imageReads_; }
    // The geometry of the image page last read.
    std::optional<PageWindow> lastImagePage()
    {
        const auto held = lock();
        return lastImagePage_;
    }

    int out(uint8_t endpoint, std::span<const uint8_t> data) override
    {
        if (endpoint == 0x02 && data.size() == 8 && std::memcmp(data.data(), "IMG", 3) == 0 && imagePage()) {
            imageReading_ = true;
            ++imageReads_;
            lastImagePage_ = pageWindow();
            if (refuseAt_ > 0 && --refuseAt_ == 0)
                inject(sim::Injection::refuse(sim::Target::transaction(next_transaction()), 3, 0x11));
        } else if (endpoint == 0x02 && data.size() == 8) {
            imageReading_ = false;
        }
        return sim::ScannerModel::out(endpoint, data);
    }
    int in(uint8_t endpoint, std::span<uint8_t> buffer) override
    {
        const std::chrono::milliseconds delay(delayMs_.load());
        if (endpoint == 0x81 && imageReading_ && delay.count() > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (!heldSince_) heldSince_ = now;
            if (now - *heldSince_ < delay) return sim::kPending;
            heldSince_.reset();
        }
        if (endpoint == 0x81 && heldBack_) return sim::kPending;
        const int delivered = sim::ScannerModel::in(endpoint, buffer);
        if (endpoint == 0x81 && imageReading_ && delivered > 0 && holdAfter_ > 0 && (holdAfter_ -= delivered) <= 0) {
            holdAfter_ = 0;
            heldBack_ = true;
        }
        return delivered;
    }

private:
    std::unique_lock<std::recursive_mutex> lock() { return guard(); }
    std::optional<PageWindow> pageWindow() const
    {
        const auto p = parameters();
        const auto w = window();
        if (!p || !w) return std::nullopt;
        PageWindow page;
        page.xres = sim::le16(&(*p)[20]);
        page.yres = sim::le16(&(*p)[22]);
        page.dotX = sim::le32(&(*p)[24]);
        page.dotY = sim::le32(&(*p)[28]);
        page.width = sim::le32(&(*p)[32]);
        page.height = sim::le32(&(*p)[36]);
        page.media = (*w)[6];
        page.mirrored = page.media < sim::kMediaKinds && records().attributes[page.media][1] != 0;
        return page;
    }
    bool imagePage() const
    {
        const auto w = window();
        return w && (*w)[0] == 0;
    }

    std::atomic<int64_t> delayMs_{0};
    std::atomic<int> refuseAt_{0};
    std::atomic<int64_t> holdAfter_{0};
    std::atomic<bool> heldBack_{false};
    std::atomic<int> imageReads_{0};
    bool imageReading_ = false;
    std::optional<std::chrono::steady_clock::time_point> heldSince_;
    std::optional<PageWindow> lastImagePage_;
};

class Bench {
public:
    Bench()
    {
        folder_.copy(VARNOTH_BUNDLE_PATH);
        testbed_.emplace();
    }
    ~Bench() { shutdown(); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // A simulated scanner with this profile on the bus.
    HookedScannerModel& addScanner(const std::string& profile = "default")
    {
        sim::DeviceDescription desc = sim::scanner_device();
        // A bus holds addresses up to 127 and a removed device keeps its own: many replugs move on
        // to the next bus.
        desc.bus += replugs_ / 100;
        auto [device, model] = testbed_->add_with<HookedScannerModel>(std::move(desc));
        (void)device;
        if (!model.use_profile(profile)) throw std::runtime_error("unknown profile " + profile);
        return model;
    }
    // Takes every scanner off the bus (a disconnected one is gone already) and plugs in a fresh one
    // with this profile: the device returning after a disconnect. The old models are destroyed.
    HookedScannerModel& replugScanner(const std::string& profile = "default")
    {
        unplugAll();
        ++replugs_;
        return addScanner(profile);
    }
    // Takes every scanner off the bus.
    void unplugAll()
    {
        for (sim::VirtualDevice* device : testbed_->devices())
            if (!device->gone()) testbed_->unplug(*device);
        testbed_->settle();
    }
    // Whether the scanner last plugged in has left the bus (after an injected disconnect).
    bool scannerGone() const
    {
        const std::vector<sim::VirtualDevice*> devices = testbed_->devices();
        return !devices.empty() && devices.back()->gone();
    }
    // Ends the bus.
    void shutdown() { testbed_.reset(); }

    // The folder to hand to the scanner object.
    const std::filesystem::path& driverFolder() const { return folder_.path(); }
    // The driver's calibration file for the default profile's scanner.
    std::filesystem::path calibrationFile() const
    {
        return folder_.path() / "Varnoth.bundle/Contents/CaliData6204_0000_SN6204000012345A.dat";
    }

private:
    fake::DriverFolder folder_;
    std::optional<sim::Testbed> testbed_;
    int replugs_ = 0;
};

} // namespace varnoth_test
