// The driver's one way to wait. Every pause of the device protocol and its polls goes through
// driver_sleep_ms, so tests can replace the clock with a counter and never wait.
#pragma once

#include <cstdint>

void driver_sleep_ms(uint32_t ms);

// Replaces the sleep (null restores the real one); returns the previous replacement, or null.
using driver_sleep_fn = void (*)(uint32_t ms);
driver_sleep_fn driver_set_sleep_function(driver_sleep_fn fn);
