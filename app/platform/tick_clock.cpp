#include "tick_clock.h"

#include <chrono>
#include <thread>

namespace lumenfield {

uint32_t TickClock::tickCount()
{
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<Ticks>(now).count());
}

void TickClock::yield()
{
    std::this_thread::yield();
}

TickClock& steadyTickClock()
{
    static TickClock clock;
    return clock;
}

} // namespace lumenfield
