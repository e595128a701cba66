#include "data_buffer.h"

#include <cstddef>
#include <new>

int data_buffer_new(int size, const data_buffer_desc_t* desc, data_buffer_t** out)
{
    if (out == nullptr) return -1;
    *out = nullptr;
    if (size <= 0 || desc == nullptr) return -1;
    auto* b = new (std::nothrow) data_buffer_t{};
    if (b == nullptr) return -1;
    b->data = new (std::nothrow) uint8_t[static_cast<size_t>(size)]();
    if (b->data == nullptr) {
        delete b;
        return -1;
    }
    b->row_bytes = desc->row_bytes;
    b->width = desc->width;
    b->channels = desc->channels;
    b->lines = desc->lines;
    b->depth = desc->depth;
    b->capacity = static_cast<uint32_t>(size);
    *out = b;
    return 1;
}

int data_buffer_free(data_buffer_t* b)
{
    if (b == nullptr) return 1;
    delete[] b->data;
    delete b;
    return 1;
}

int data_buffer_reset(data_buffer_t* b)
{
    if (b == nullptr) return 1;
    b->fill = 0;
    b->head = 0;
    return 1;
}

int data_buffer_pop(data_buffer_t* b, int n)
{
    if (b == nullptr || n < 0) return -2;
    const auto count = static_cast<uint32_t>(n);
    if (count > b->capacity || count > b->fill) return -2;
    b->fill -= count;
    b->head = b->fill == 0 ? 0 : b->head + count;
    return 1;
}
