// The line FIFO of one pipeline stage: a zero-filled byte block holding whole lines of one
// geometry. The held bytes start `head` bytes into the block: a pop moves the start instead of
// the remaining bytes, and the start returns to the block's beginning whenever the FIFO runs
// empty, so every stage still writes its output at the start of its block.
#pragma once

#include <cstdint>

// The geometry a FIFO is made with: the first five fields of data_buffer_t.
struct data_buffer_desc_t {
    uint32_t row_bytes; // bytes of one line
    uint32_t width;     // pixels per line
    uint32_t channels;  // 1 or 3
    uint32_t lines;     // lines of the whole image at this stage
    uint32_t depth;     // bits per sample: 1, 8 or 16
};

struct data_buffer_t {
    uint32_t row_bytes;
    uint32_t width;
    uint32_t channels;
    uint32_t lines;
    uint32_t depth;
    uint32_t fill;     // bytes held
    uint32_t capacity; // bytes of data
    uint8_t* data;
    uint32_t head; // offset of the first held byte; 0 while the FIFO is empty
};

// The first held byte.
inline uint8_t* data_buffer_front(data_buffer_t* b)
{
    return b->data + b->head;
}

// *out is nulled first. A record and a zero-filled block of `size` bytes; 1, or -1 when memory
// runs out or size is not positive (nothing stays allocated then).
int data_buffer_new(int size, const data_buffer_desc_t* desc, data_buffer_t** out);
// Frees the block and the record; null is accepted. 1.
int data_buffer_free(data_buffer_t* b);
// Empties the FIFO. 1.
int data_buffer_reset(data_buffer_t* b);
// Removes n bytes from the front: 1, or -2 (nothing changed) when n is negative or above the
// bytes held or the capacity.
int data_buffer_pop(data_buffer_t* b, int n);
