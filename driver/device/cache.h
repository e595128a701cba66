// A side's byte cache between the device and the reader: whatever the last device read delivered
// beyond the reader's request waits here. The data always start at the buffer's beginning; the
// amount held is the write position minus the buffer's start.
#pragma once

#include <cstdint>

struct cache_t {
    uint32_t capacity;
    uint8_t* buffer;   // owned, `capacity` bytes
    uint8_t* position; // the write position
};

// A record with a zeroed buffer of `size` bytes; null when either allocation fails.
cache_t* cache_new(uint32_t size);
// Frees the buffer and the record; null is accepted.
void cache_free(cache_t* c);
