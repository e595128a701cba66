// The host library's clock for waits counted in ticks: sixtieths of a second on a monotonic
// clock, and a cooperative yield between tries.
#pragma once

#include <cstdint>

namespace lumenfield {

class TickClock {
public:
    virtual ~TickClock() = default;
    // Sixtieths of a second; wraps at 2^32.
    virtual uint32_t tickCount();
    // Lets other threads run.
    virtual void yield();
};

// The monotonic clock itself, shared by every user that has not been given another.
TickClock& steadyTickClock();

} // namespace lumenfield
