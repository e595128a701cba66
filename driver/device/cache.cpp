#include "cache.h"

#include <new>

cache_t* cache_new(uint32_t size)
{
    auto* c = new (std::nothrow) cache_t{size, nullptr, nullptr};
    if (c == nullptr) return nullptr;
    c->buffer = new (std::nothrow) uint8_t[size]();
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
