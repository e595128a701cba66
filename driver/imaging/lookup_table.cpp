#include "lookup_table.h"

#include <cstddef>

namespace {

constexpr uint32_t kSmallTable = 256;
constexpr uint32_t kFullTable = 65536;

// The tables a call needs: one per channel; null when any of them is missing.
bool tables_for(const lookup_table_info_t* info, const lookup_table_image_param_t* image, uint32_t min_entries,
                const void* (&tables)[3])
{
    if (info == nullptr || image == nullptr || image->data == nullptr) return false;
    if (info->entries < min_entries) return false;
    if (image->channels == 0 || image->channels > 3) return false;
    for (uint32_t c = 0; c < 3; ++c) tables[c] = nullptr;
    for (uint32_t c = 0; c < image->channels; ++c) {
        if (info->table[c] == nullptr) return false;
        tables[c] = info->table[c];
    }
    return true;
}

template <typename T> void map_one_table(T* data, size_t count, const T* t)
{
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const T a = t[data[i]], b = t[data[i + 1]], c = t[data[i + 2]], d = t[data[i + 3]];
        data[i] = a;
        data[i + 1] = b;
        data[i + 2] = c;
        data[i + 3] = d;
    }
    for (; i < count; ++i) data[i] = t[data[i]];
}

template <typename T> void map_samples(T* data, uint32_t pixels, uint32_t channels, const void* const (&tables)[3])
{
    const auto* t0 = static_cast<const T*>(tables[0]);
    if (channels == 1 || (tables[1] == t0 && (channels == 2 || tables[2] == t0))) {
        map_one_table(data, static_cast<size_t>(pixels) * channels, t0);
        return;
    }
    const auto* t1 = static_cast<const T*>(tables[1]);
    if (channels == 2) {
        for (uint32_t p = 0; p < pixels; ++p, data += 2) {
            data[0] = t0[data[0]];
            data[1] = t1[data[1]];
        }
        return;
    }
    const auto* t2 = static_cast<const T*>(tables[2]);
    for (uint32_t p = 0; p < pixels; ++p, data += 3) {
        const T a = t0[data[0]], b = t1[data[1]], c = t2[data[2]];
        data[0] = a;
        data[1] = b;
        data[2] = c;
    }
}

} // namespace

void apply_8bit_256_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image)
{
    const void* tables[3];
    if (!tables_for(info, image, kSmallTable, tables)) return;
    map_samples(static_cast<uint8_t*>(image->data), image->pixels, image->channels, tables);
}

void apply_8bit_65536_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image)
{
    const void* tables[3];
    if (!tables_for(info, image, kFullTable, tables)) return;
    // Only entries s x 256 are ever read: gather them once into 256-entry tables.
    uint8_t compact[3][kSmallTable];
    const void* small[3] = {nullptr, nullptr, nullptr};
    for (uint32_t c = 0; c < image->channels; ++c) {
        uint32_t same = c;
        for (uint32_t e = 0; e < c; ++e)
            if (tables[e] == tables[c]) same = e;
        if (same != c) {
            small[c] = small[same];
            continue;
        }
        const auto* t = static_cast<const uint8_t*>(tables[c]);
        for (uint32_t s = 0; s < kSmallTable; ++s) compact[c][s] = t[s * 256];
        small[c] = compact[c];
    }
    map_samples(static_cast<uint8_t*>(image->data), image->pixels, image->channels, small);
}

void apply_16bit_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image)
{
    const void* tables[3];
    if (!tables_for(info, image, kFullTable, tables)) return;
    map_samples(static_cast<uint16_t*>(image->data), image->pixels, image->channels, tables);
}

void apply_lookup_table(const lookup_table_info_t* info, lookup_table_image_param_t* image)
{
    if (info == nullptr || image == nullptr) return;
    // The sample width decides as much as the table: a two-byte table over 8-bit samples would
    // rewrite twice the buffer, and 16-bit samples need an entry for every value.
    if (image->depth == 8 && info->bytes_per_entry == 1) {
        if (info->entries == kSmallTable)
            apply_8bit_256_lookup_table(info, image);
        else if (info->entries == kFullTable)
            apply_8bit_65536_lookup_table(info, image);
    } else if (image->depth == 16 && info->bytes_per_entry == 2 && info->entries == kFullTable) {
        apply_16bit_lookup_table(info, image);
    }
}
