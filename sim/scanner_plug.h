// A simulated scanner that can be unplugged and plugged back while a program uses it, as a user
// pulls the cable and puts it back: the device leaves the bus (transfers in flight fail, the next
// device list no longer shows it), and a plug brings a fresh scanner of the same profile, set up
// the same way, at the bus's next address.
//
// The unplug can wait for the scan: it then happens once a given number of image bytes (image
// pages only, not calibration pages) have gone to the host, and a plug back can follow by itself
// after a delay. Instead of leaving, the scanner can also go silent at that point: it stays on the
// bus but answers nothing more.
#pragma once

#include "scanner_model.h"
#include "scanner_records.h"
#include "testbed.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {

class ScannerPlug {
public:
    // `setup` runs on each new scanner as it goes on the bus (its chart and sensor, say).
    ScannerPlug(Testbed& testbed, ScannerRecords records, std::function<void(ScannerModel&)> setup = {});
    // Ends a pending plug back; the device stays as it is.
    ~ScannerPlug();
    ScannerPlug(const ScannerPlug&) = delete;
    ScannerPlug& operator=(const ScannerPlug&) = delete;

    // Puts a new scanner on the bus; nothing when one is there.
    void plug();
    // Takes the scanner off the bus now; nothing when there is none.
    void unplug();
    // Unplugs when plugged, plugs when not.
    void toggle();
    bool plugged() const;
    // Scanners put on the bus so far.
    int plugs() const;

    // Unplugs once `bytes` more bytes of image data have been delivered, and with `replug_after`
    // puts a new scanner back that long after the device has left the bus.
    void unplug_after_image_bytes(uint64_t bytes, std::optional<std::chrono::milliseconds> replug_after = std::nullopt);
    // Goes silent once `bytes` more bytes of image data have been delivered: the scanner stays on
    // the bus, takes every OUT transfer and leaves every IN transfer waiting, until it is unplugged.
    void silent_after_image_bytes(uint64_t bytes);
    // Waits until an unplug armed by unplug_after_image_bytes has happened (and its plug back, when
    // one was asked for), or the silence armed by silent_after_image_bytes has begun; false when
    // `timeout` passed first.
    bool wait_for_cycle(std::chrono::milliseconds timeout);

private:
    class Model;
    // What an armed unplug shares with the scanner on the bus, which counts the image bytes.
    struct Arming {
        std::mutex mutex;
        std::condition_variable fired_cv;
        std::optional<uint64_t> remaining;
        bool unplug = true; // else the scanner only goes silent
        bool fired = false;
        bool stopping = false;
    };
    void arm(uint64_t bytes, bool unplug, std::optional<std::chrono::milliseconds> replug_after);
    void replug_after_unplug(std::optional<std::chrono::milliseconds> delay);
    void join_replugger();

    Testbed& testbed_;
    const ScannerRecords records_;
    const std::function<void(ScannerModel&)> setup_;
    const std::shared_ptr<Arming> arming_ = std::make_shared<Arming>();
    mutable std::mutex mutex_; // device_, plugs_, cycle_done_
    std::condition_variable cycle_cv_;
    VirtualDevice* device_ = nullptr;
    int plugs_ = 0;
    bool cycle_done_ = true;
    std::thread replugger_;
};

} // namespace sim
