// A scan area in thousandths of an inch, as the host and the scan setting hold it.
#pragma once

#include <cstdint>

// Right and bottom are inclusive.
struct stExtFrame {
    uint32_t left;
    uint32_t top;
    uint32_t right;
    uint32_t bottom;
};
