#include "driver_sleep.h"

#include <cerrno>
#include <ctime>

namespace {

driver_sleep_fn replacement = nullptr;

void real_sleep(uint32_t ms)
{
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // A signal cuts the sleep short; the rest is slept.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

void driver_sleep_ms(uint32_t ms)
{
    if (replacement != nullptr)
        replacement(ms);
    else
        real_sleep(ms);
}

driver_sleep_fn driver_set_sleep_function(driver_sleep_fn fn)
{
    driver_sleep_fn previous = replacement;
    replacement = fn;
    return previous;
}
