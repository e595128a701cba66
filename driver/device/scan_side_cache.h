// A side's byte cache between the device and the reader: whatever the last device read delivered
// beyond the reader's request waits here. The data always start at the buffer's beginning; the
// amount held is the write position minus the buffer's start.
//
// Every operation checks its count against the bytes held and the capacity: a count that does not
// fit is refused and nothing is copied.
#pragma once

#include <cstdint>

struct cache_t {
    uint32_t capacity;
    uint8_t* buffer;   // owned, `capacity` bytes
    uint8_t* position; // the write position
};

// A record with an empty buffer of `size` bytes; null when either allocation fails.
cache_t* cache_new(uint32_t size);
// Frees the buffer and the record; null is accepted.
void cache_free(cache_t* c);
// Drops the content; null is accepted.
void cache_reset(cache_t* c);
// Bytes held; 0 for null.
uint32_t cache_remain_data(const cache_t* c);
// Copies the first n bytes out and moves the rest to the start. False, with nothing copied, when
// fewer than n bytes are held.
bool cache_read(cache_t* c, uint8_t* destination, uint32_t n);
// Delivers n bytes from the first 2n held: the second byte of each pair, the high byte of a
// little-endian 16-bit sample. The rest moves to the start. False, with nothing copied, when fewer
// than 2n bytes are held.
bool cache_read_skip_low_byte(cache_t* c, uint8_t* destination, uint32_t n);
// The write position: where the next device read lands. Null for null.
uint8_t* cache_get_ptr(const cache_t* c);
// Sets the write position after data was written up to it. False, with nothing changed, for a
// position outside the buffer.
bool cache_update_ptr(cache_t* c, uint8_t* position);
