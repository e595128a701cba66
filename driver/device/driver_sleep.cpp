#include "driver_sleep.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>

namespace {

driver_sleep_fn sleep_replacement = nullptr;
driver_clock_fn clock_replacement = nullptr;
driver_cancel_fn cancel_probe = nullptr;
std::atomic<bool> stop_pending{false};

void real_sleep(uint32_t ms)
{
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // A signal cuts the sleep short; the rest is slept.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
}

uint64_t real_clock()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

} // namespace

void driver_sleep_ms(uint32_t ms)
{
    if (sleep_replacement != nullptr)
        sleep_replacement(ms);
    else
        real_sleep(ms);
}

driver_sleep_fn driver_set_sleep_function(driver_sleep_fn fn)
{
    driver_sleep_fn previous = sleep_replacement;
    sleep_replacement = fn;
    return previous;
}

uint64_t driver_monotonic_ns()
{
    return clock_replacement != nullptr ? clock_replacement() : real_clock();
}

driver_clock_fn driver_set_clock_function(driver_clock_fn fn)
{
    driver_clock_fn previous = clock_replacement;
    clock_replacement = fn;
    return previous;
}

bool driver_cancel_requested()
{
    if (stop_pending.load(std::memory_order_acquire)) return true;
    return cancel_probe != nullptr && cancel_probe();
}

void driver_set_stop_pending(bool pending)
{
    stop_pending.store(pending, std::memory_order_release);
}

driver_cancel_fn driver_set_cancel_function(driver_cancel_fn fn)
{
    driver_cancel_fn previous = cancel_probe;
    cancel_probe = fn;
    return previous;
}
