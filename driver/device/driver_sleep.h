// The driver's one way to wait and to read the time. Every pause of the device protocol and its
// polls goes through driver_sleep_ms, and every time-out reads driver_monotonic_ns, so tests can
// replace both with counters and never wait. Waits also ask driver_cancel_requested whether the
// host has given up the operation in progress.
#pragma once

#include <cstdint>

void driver_sleep_ms(uint32_t ms);

// Replaces the sleep (null restores the real one); returns the previous replacement, or null.
using driver_sleep_fn = void (*)(uint32_t ms);
driver_sleep_fn driver_set_sleep_function(driver_sleep_fn fn);

// The monotonic clock in nanoseconds.
uint64_t driver_monotonic_ns();

// Replaces the clock (null restores the real one); returns the previous replacement, or null.
using driver_clock_fn = uint64_t (*)();
driver_clock_fn driver_set_clock_function(driver_clock_fn fn);

// Whether the host has given up the operation in progress: the polls of a scan ask before each
// pause, and a USB transfer asks whenever the device has kept it waiting for a slice of its
// time-out. It has when a stop is pending (below) or the probe says so; without either nothing is
// given up.
bool driver_cancel_requested();

// A stop the host asked for while the driver was busy with another call, which it had to refuse:
// until it is withdrawn, every wait on the device gives up as if the probe had said so. Any
// thread may set it.
void driver_set_stop_pending(bool pending);

// Installs the probe (null removes it); returns the previous one, or null.
using driver_cancel_fn = bool (*)();
driver_cancel_fn driver_set_cancel_function(driver_cancel_fn fn);
