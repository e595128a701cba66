// Range tables of the tone settings: a list of entries {minimum, maximum, count}, each standing
// for `count` values spread evenly from minimum to maximum, ended by an entry whose count is 0.
// Indices run on from one entry to the next. Every function but GetCapab answers in the host's
// codes: SE_OK, or SE_ERR_RANGE.
#pragma once

#include <cstdint>

struct ERangeEntry {
    int32_t minimum;
    int32_t maximum;
    uint32_t count;
};

constexpr int ERANGE_MAX_ENTRIES = 50;

// {minimum, maximum, number of values} of a table.
struct ERangeCap {
    int32_t minimum;
    int32_t maximum;
    uint32_t count;
};

// Fills `out` from the leading entries; an empty table (or one of 50 entries without end) writes
// only out.count = 0. Answers the number of leading entries taken (0 for none).
int GetCapab(ERangeCap& out, const ERangeEntry* table);
// The value of a table index. SE_ERR_RANGE for an index at or beyond the total, or an empty table.
int Index2Value(int32_t index, int32_t* out, const ERangeEntry* table);
// The index of a value. SE_ERR_RANGE for a value outside the table, or an empty table.
int Value2Index(int32_t value, int32_t* out, const ERangeEntry* table);
// Conforms a value to the table: clamped to its range, then to the value of its index.
// SE_ERR_RANGE for an empty table.
int DoConverSetting(int32_t value, int32_t* out, const ERangeEntry* table);
