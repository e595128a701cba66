// The device side of a virtual USB device. A model decides what the device answers; the harness
// (testbed.h) carries URBs and requests between the client's libusb and the model.
//
// Every callback runs on umockdev's one worker thread, shared by all devices, with the device's
// lock held. Callbacks must never block: a reply that is not ready yet is "pending", and pending
// IN URBs are offered again every millisecond, or at once after DeviceLink::kick().
#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <span>

namespace sim {

// Returned by DeviceModel::in: no reply yet; the URB stays queued.
constexpr int kPending = INT_MIN;

// The harness side of one device, as a model (or a test driving it) sees it.
class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    // The device leaves the bus: URBs in flight complete with -ENODEV, later submits fail, and
    // the device disappears from the next device list. Callable from callbacks.
    virtual void disconnect() = 0;
    // Offer pending IN URBs to the model again now (new data arrived).
    virtual void kick() = 0;
    // The device lock; callbacks already hold it. Public model methods that tests call take it.
    virtual std::unique_lock<std::recursive_mutex> lock() = 0;
};

// A control transfer's SETUP packet.
struct ControlSetup {
    uint8_t request_type = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    bool in() const { return (request_type & 0x80) != 0; }
};

class DeviceModel {
public:
    virtual ~DeviceModel() = default;

    // Called once when the device is added.
    void attach(DeviceLink* link) { link_ = link; }

    // Bulk or interrupt OUT data: bytes accepted (>= 0) or a negative URB status
    // (-EPIPE stalls and halts the endpoint).
    virtual int out(uint8_t /*endpoint*/, std::span<const uint8_t> data) { return static_cast<int>(data.size()); }
    // Bulk or interrupt IN with room for `buffer.size()` bytes: bytes written, a negative URB
    // status, or kPending.
    virtual int in(uint8_t /*endpoint*/, std::span<uint8_t> /*buffer*/) { return kPending; }
    // Control transfer: for IN fill `data`, for OUT read it; bytes moved or a negative status.
    virtual int control(const ControlSetup& /*setup*/, std::span<uint8_t> /*data*/) { return -EPIPE; }

    // Requests: 0 accepts, a positive errno refuses (EBUSY for a busy claim).
    virtual int claim(int /*interface*/) { return 0; }
    virtual void release(int /*interface*/) {}
    virtual int set_interface(int /*interface*/, int /*alternate*/) { return 0; }
    virtual int set_configuration(int /*value*/) { return 0; }
    // Notifications.
    virtual void clear_halt(uint8_t /*endpoint*/) {}
    virtual void reset() {}
    // The client gave up on an IN URB (its time-out expired).
    virtual void discarded(uint8_t /*endpoint*/) {}

protected:
    DeviceLink& link() { return *link_; }
    std::unique_lock<std::recursive_mutex> guard() { return link_->lock(); }

private:
    DeviceLink* link_ = nullptr;
};

} // namespace sim
