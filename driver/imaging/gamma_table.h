// A side's gamma table set and the functions that fill it with identity values, resample it to
// another size or derive a set of 14-bit values from it.
#pragma once

#include <cstdint>

// One table set. The set does not own its tables; for a one-channel scan all three point at the
// same table. Bit c of channel_mask stands for table c.
struct GAMMA_INFO {
    uint32_t entries;         // entries per table
    uint16_t bytes_per_entry; // 1 or 2
    uint16_t channel_mask;
    void* table[3];
};

// Identity values in every table whose mask bit is set: with one-byte entries entry i holds
// i x 256 / entries (so every multiple of 256 entries spreads each value evenly), with two-byte
// entries entry i holds i. A null set does nothing.
void GetLinearGamma(GAMMA_INFO* set);

// Fills each destination table from the source table of the same channel (mask bit set in both,
// destination table present), resampling to the destination's entry count and width. A null
// source set, or a missing source table, gives identity values.
void ExpandGamma(const GAMMA_INFO* source, GAMMA_INFO* destination);

// 14-bit set: destination entry i (two-byte) = source[4i] >> 2 for a two-byte source and
// source[4i] << 6 for a one-byte source, as far as the source reaches; the entries beyond repeat
// the last value written. Destinations with one-byte entries are left alone.
void To14Gamma(const GAMMA_INFO* source, GAMMA_INFO* destination);
