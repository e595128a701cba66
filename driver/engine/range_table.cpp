#include "range_table.h"

#include <se_boundary.h>

namespace {

// Entries before the terminator, at most ERANGE_MAX_ENTRIES.
int entries(const ERangeEntry* table)
{
    if (table == nullptr) return 0;
    int n = 0;
    while (n < ERANGE_MAX_ENTRIES && table[n].count != 0) ++n;
    return n;
}

// Distance between neighbouring values of an entry; 0 for an entry of one value.
int64_t step_of(const ERangeEntry& e)
{
    if (e.count <= 1) return 0;
    return (static_cast<int64_t>(e.maximum) - e.minimum) / (static_cast<int64_t>(e.count) - 1);
}

} // namespace

int GetCapab(ERangeCap& out, const ERangeEntry* table)
{
    const int n = entries(table);
    if (n == 0 || n == ERANGE_MAX_ENTRIES) {
        out.count = 0;
        return 0;
    }
    uint64_t total = 0;
    for (int i = 0; i < n; ++i) total += table[i].count;
    out.minimum = table[0].minimum;
    out.maximum = table[n - 1].maximum;
    out.count = static_cast<uint32_t>(total);
    return n;
}

int Index2Value(int32_t index, int32_t* out, const ERangeEntry* table)
{
    const int n = entries(table);
    if (n == 0 || index < 0) return SE_ERR_RANGE;
    uint64_t total = 0;
    for (int i = 0; i < n; ++i) total += table[i].count;
    if (static_cast<uint64_t>(index) >= total) return SE_ERR_RANGE;
    int64_t remaining = index;
    int i = 0;
    while (remaining >= static_cast<int64_t>(table[i].count)) remaining -= table[i++].count;
    *out = static_cast<int32_t>(table[i].minimum + remaining * step_of(table[i]));
    return SE_OK;
}

int Value2Index(int32_t value, int32_t* out, const ERangeEntry* table)
{
    const int n = entries(table);
    if (n == 0 || value > table[n - 1].maximum || value < table[0].minimum) return SE_ERR_RANGE;
    int64_t sum = 0;
    int i = 0;
    while (table[i].maximum < value) sum += table[i++].count;
    const int64_t step = step_of(table[i]);
    // A value between two entries lies below this entry's minimum: it takes the entry's first index.
    const int64_t offset = static_cast<int64_t>(value) - table[i].minimum;
    if (step != 0 && offset > 0) sum += offset / step;
    *out = static_cast<int32_t>(sum);
    return SE_OK;
}

int DoConverSetting(int32_t value, int32_t* out, const ERangeEntry* table)
{
    ERangeCap cap{};
    if (GetCapab(cap, table) == 0) return SE_ERR_RANGE;
    if (value < cap.minimum) value = cap.minimum;
    if (value > cap.maximum) value = cap.maximum;
    int32_t index = 0;
    const int r = Value2Index(value, &index, table);
    if (r != SE_OK) return r;
    return Index2Value(index, out, table);
}
