#include "scan_side_cache.h"

#include <cstring>
#include <new>

namespace {

// Drops the first n held bytes, moving the rest to the start.
void consume(cache_t* c, uint32_t n)
{
    const uint32_t rest = cache_remain_data(c) - n;
    if (rest > 0) std::memmove(c->buffer, c->buffer + n, rest);
    c->position = c->buffer + rest;
}

} // namespace

cache_t* cache_new(uint32_t size)
{
    auto* c = new (std::nothrow) cache_t{size, nullptr, nullptr};
    if (c == nullptr) return nullptr;
    // Not zeroed: only bytes a device read wrote are ever read back, and a megabyte cleared per
    // scan side would cost more than the small reads it serves.
    c->buffer = new (std::nothrow) uint8_t[size];
    if (c->buffer == nullptr) {
        delete c;
        return nullptr;
    }
    c->position = c->buffer;
    return c;
}

void cache_free(cache_t* c)
{
    if (c == nullptr) return;
    delete[] c->buffer;
    delete c;
}

void cache_reset(cache_t* c)
{
    if (c != nullptr) c->position = c->buffer;
}

uint32_t cache_remain_data(const cache_t* c)
{
    return c != nullptr ? static_cast<uint32_t>(c->position - c->buffer) : 0;
}

bool cache_read(cache_t* c, uint8_t* destination, uint32_t n)
{
    if (n > cache_remain_data(c) || (destination == nullptr && n > 0)) return false;
    if (n == 0) return true;
    std::memcpy(destination, c->buffer, n);
    consume(c, n);
    return true;
}

bool cache_read_skip_low_byte(cache_t* c, uint8_t* destination, uint32_t n)
{
    const uint64_t taken = uint64_t{n} * 2;
    if (taken > cache_remain_data(c) || (destination == nullptr && n > 0)) return false;
    if (n == 0) return true;
    for (uint32_t i = 0; i < n; ++i) destination[i] = c->buffer[2 * uint64_t{i} + 1];
    consume(c, static_cast<uint32_t>(taken));
    return true;
}

uint8_t* cache_get_ptr(const cache_t* c)
{
    return c != nullptr ? c->position : nullptr;
}

bool cache_update_ptr(cache_t* c, uint8_t* position)
{
    if (c == nullptr) return false;
    const auto at = reinterpret_cast<uintptr_t>(position);
    const auto start = reinterpret_cast<uintptr_t>(c->buffer);
    if (at < start || at - start > c->capacity) return false;
    c->position = position;
    return true;
}
