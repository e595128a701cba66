// umockdev's preload library must be in a process from its start (the dynamic linker reads
// LD_PRELOAD only at exec) for that process's libusb to reach the virtual devices.
#pragma once

#include <string>
#include <vector>

namespace sim {

// Call as the first line of main() in every program that uses the virtual USB device: when the
// preload is missing, re-executes the program with it (the sanitizer runtime first in sanitizer
// builds) and the same arguments. Works for plain runs, ctest and gtest_discover_tests alike.
void reexec_with_preload(int argc, char** argv);

// Whether umockdev's preload library is loaded in this process.
bool preload_active();

// The LD_PRELOAD value for a process that should reach the virtual devices (a child, or this
// program re-executed): the sanitizer runtime when this process has one, then the preload, then
// whatever LD_PRELOAD held before.
std::string preload_value();

// The environment for a child process that should reach the virtual devices: this process's
// environment (which holds the testbed's UMOCKDEV_DIR) with LD_PRELOAD set to preload_value().
std::vector<std::string> client_environment();

} // namespace sim
