#include "scanner_plug.h"

#include "usb_descriptors.h"

#include <cstring>

namespace sim {

// The simulated scanner, counting the image bytes it delivers against an armed unplug.
class ScannerPlug::Model : public ScannerModel {
public:
    Model(ScannerRecords records, std::shared_ptr<Arming> arming)
        : ScannerModel(std::move(records)), arming_(std::move(arming))
    {}

    int out(uint8_t endpoint, std::span<const uint8_t> data) override
    {
        if (held_) return static_cast<int>(data.size());
        if (endpoint == 0x02 && data.size() == 8) {
            // An "IMG" frame of an image page (window kind 0) starts image data; any other frame
            // ends it.
            const auto page = window();
            image_reading_ = std::memcmp(data.data(), "IMG", 3) == 0 && page && (*page)[0] == 0;
        }
        return ScannerModel::out(endpoint, data);
    }

    int in(uint8_t endpoint, std::span<uint8_t> buffer) override
    {
        // Once the budget is spent the device says nothing more: the plug's thread takes it off the
        // bus (its removal announced first), which fails what is still waiting here, or leaves it
        // there, silent.
        if (endpoint == 0x81 && held_) return kPending;
        const int delivered = ScannerModel::in(endpoint, buffer);
        if (delivered <= 0 || endpoint != 0x81 || !image_reading_) return delivered;
        {
            std::lock_guard<std::mutex> lock(arming_->mutex);
            if (!arming_->remaining || arming_->fired) return delivered;
            const auto count = static_cast<uint64_t>(delivered);
            *arming_->remaining = *arming_->remaining > count ? *arming_->remaining - count : 0;
            if (*arming_->remaining != 0) return delivered;
            arming_->remaining.reset();
            arming_->fired = true;
        }
        held_ = true;
        arming_->fired_cv.notify_all();
        return delivered;
    }

private:
    const std::shared_ptr<Arming> arming_;
    bool image_reading_ = false;
    bool held_ = false;
};

ScannerPlug::ScannerPlug(Testbed& testbed, ScannerRecords records, std::function<void(ScannerModel&)> setup)
    : testbed_(testbed), records_(std::move(records)), setup_(std::move(setup))
{}

ScannerPlug::~ScannerPlug()
{
    {
        std::lock_guard<std::mutex> lock(arming_->mutex);
        arming_->stopping = true;
        arming_->remaining.reset();
    }
    arming_->fired_cv.notify_all();
    join_replugger();
}

void ScannerPlug::join_replugger()
{
    if (replugger_.joinable()) replugger_.join();
}

void ScannerPlug::plug()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (device_ != nullptr && !device_->gone()) return;
    auto model = std::make_unique<Model>(records_, arming_);
    Model& added = *model;
    device_ = &testbed_.add(scanner_device(), std::move(model));
    // Once on the bus: the model's own methods take the device's lock. No client has seen the
    // device yet, as the host lists devices only when asked.
    if (setup_) setup_(added);
    ++plugs_;
}

void ScannerPlug::unplug()
{
    VirtualDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = device_;
        device_ = nullptr;
    }
    // Outside the lock: unplugging takes the device's lock, which a counting model holds while it
    // reaches for ours.
    if (device != nullptr && !device->gone()) testbed_.unplug(*device);
    testbed_.settle();
}

void ScannerPlug::toggle()
{
    if (plugged())
        unplug();
    else
        plug();
}

bool ScannerPlug::plugged() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return device_ != nullptr && !device_->gone();
}

int ScannerPlug::plugs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return plugs_;
}

void ScannerPlug::unplug_after_image_bytes(uint64_t bytes, std::optional<std::chrono::milliseconds> replug_after)
{
    arm(bytes, true, replug_after);
}

void ScannerPlug::silent_after_image_bytes(uint64_t bytes)
{
    arm(bytes, false, std::nullopt);
}

void ScannerPlug::arm(uint64_t bytes, bool unplug, std::optional<std::chrono::milliseconds> replug_after)
{
    join_replugger();
    {
        std::lock_guard<std::mutex> lock(arming_->mutex);
        arming_->remaining = std::max<uint64_t>(bytes, 1);
        arming_->unplug = unplug;
        arming_->fired = false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cycle_done_ = false;
    }
    replugger_ = std::thread([this, replug_after] { replug_after_unplug(replug_after); });
}

void ScannerPlug::replug_after_unplug(std::optional<std::chrono::milliseconds> delay)
{
    std::unique_lock<std::mutex> armed(arming_->mutex);
    arming_->fired_cv.wait(armed, [this] { return arming_->fired || arming_->stopping; });
    if (arming_->stopping) return;
    const bool leave = arming_->unplug;
    armed.unlock();
    if (leave) unplug();
    if (delay) {
        armed.lock();
        if (arming_->fired_cv.wait_for(armed, *delay, [this] { return arming_->stopping; })) return;
        armed.unlock();
        plug();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    cycle_done_ = true;
    cycle_cv_.notify_all();
}

bool ScannerPlug::wait_for_cycle(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cycle_cv_.wait_for(lock, timeout, [this] { return cycle_done_; });
}

} // namespace sim
