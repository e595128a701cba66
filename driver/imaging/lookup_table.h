// Per-channel lookup tables applied to image samples in place (the pipeline's gamma stage).
#pragma once

#include <cstdint>

// What the gamma stage hands over from a side's table set: entries per table, bytes per entry
// (1 or 2) and the tables of channels 0, 1, 2.
struct lookup_table_info_t {
    uint32_t entries;
    uint32_t bytes_per_entry;
    const void* table[3];
};

// Interleaved samples: sample c of pixel p is at index p x channels + c; depth is the sample
// width in bits (8 or 16).
struct lookup_table_image_param_t {
    void* data;
    uint32_t depth;
    uint32_t pixels;
    uint32_t channels;
};

// Chooses the variant by sample width and table shape: depth 8 with one-byte tables of 256 or
// 65536 entries, depth 16 with two-byte tables of 65536 entries. Any other pairing, a channel
// count of 0 or above 3, or a missing table that a channel needs changes nothing.
void apply_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image);

// byte s = t[s]
void apply_8bit_256_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image);
// byte s = t[s x 256]
void apply_8bit_65536_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image);
// 16-bit s = t[s]
void apply_16bit_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image);
