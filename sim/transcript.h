// What a virtual device saw, in order: every URB at its completion and every claim, release,
// set-interface, set-configuration, clear-halt, reset, discard and unplug.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

enum class EventKind {
    Urb,
    Claim,
    Release,
    SetInterface,
    SetConfiguration,
    ClearHalt,
    Reset,
    Discard,
    Unplug
};

// URB transfer types as usbdevfs numbers them.
enum class UrbType : uint8_t {
    Iso = 0,
    Interrupt = 1,
    Control = 2,
    Bulk = 3
};

struct Event {
    EventKind kind = EventKind::Urb;
    uint8_t endpoint = 0; // URB, clear-halt and discard: the endpoint
    bool in = false;      // URB direction
    UrbType type = UrbType::Bulk;
    size_t asked = 0; // URB: bytes asked for (control: the data stage)
    size_t moved = 0; // URB: bytes moved
    int status = 0;   // URB: 0 or a negative errno; requests: 0 or the errno answered
    int value = 0;    // interface, configuration value, or control bRequest
    int value2 = 0;   // alternate setting, or control bmRequestType
};

struct Transcript {
    std::vector<Event> events;

    size_t count(EventKind kind) const;
    std::vector<Event> select(const std::function<bool(const Event&)>& pred) const;
    // URBs on one endpoint (0x00 for control).
    std::vector<Event> urbs(uint8_t endpoint) const;
};

} // namespace sim
