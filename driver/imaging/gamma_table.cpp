#include "gamma_table.h"

#include <algorithm>
#include <cstring>

namespace {

bool mask_has(const GAMMA_INFO* set, int c)
{
    return (set->channel_mask & (1u << c)) != 0;
}

void _linearGamma(void* table, uint32_t entries, uint16_t bytes_per_entry)
{
    if (table == nullptr || entries == 0) return;
    if (bytes_per_entry == 1) {
        auto* t = static_cast<uint8_t*>(table);
        for (uint32_t i = 0; i < entries; ++i) t[i] = static_cast<uint8_t>(static_cast<uint64_t>(i) * 256 / entries);
    } else if (bytes_per_entry == 2) {
        auto* t = static_cast<uint16_t*>(table);
        for (uint32_t i = 0; i < entries; ++i) t[i] = static_cast<uint16_t>(i);
    }
}

// Spreads each source entry over m = destination entries >> 8 destination entries: m - 1 values
// between the previous entry and this one, then this one. The weighted sum is kept to 16 bits.
// Stops at the end of either table; destination entries left over repeat the last value written.
// `put` stores one interpolated value.
template <typename Put> void interp_gamma(const uint8_t* src, uint32_t src_entries, uint32_t dst_entries, Put put)
{
    const uint32_t m = dst_entries >> 8;
    uint32_t o = 0;
    uint32_t prev = src[0];
    for (uint32_t i = 0; i < src_entries && o < dst_entries; ++i) {
        const uint32_t cur = src[i];
        for (uint32_t k = 0; k + 1 < m && o < dst_entries; ++k) {
            const auto acc = static_cast<uint16_t>((m - 1 - k) * prev + (k + 1) * cur);
            put(o++, acc / m);
        }
        if (o < dst_entries) put(o++, cur);
        prev = cur;
    }
}

void _interpBBGamma(const uint8_t* src, uint32_t src_entries, uint8_t* dst, uint32_t dst_entries)
{
    if (src_entries == 0 || dst_entries == 0) return;
    uint32_t written = 0;
    interp_gamma(src, src_entries, dst_entries, [&](uint32_t i, uint32_t q) {
        dst[i] = static_cast<uint8_t>(q);
        written = i + 1;
    });
    std::fill(dst + written, dst + dst_entries, dst[written - 1]);
}

// An 8-bit value q spread over the range of a destination of m x 256 entries: q x m + q / (256 / m),
// each division term 0 when its divisor is 0 (m = 16 maps 255 to 4095).
uint16_t widen(uint32_t q, uint32_t m)
{
    const uint32_t d = m == 0 ? 0 : 256 / m;
    return static_cast<uint16_t>(q * m + (d == 0 ? 0 : q / d));
}

void _interpWBGamma(const uint8_t* src, uint32_t src_entries, uint16_t* dst, uint32_t dst_entries)
{
    if (src_entries == 0 || dst_entries == 0) return;
    const uint32_t m = dst_entries >> 8;
    uint32_t written = 0;
    interp_gamma(src, src_entries, dst_entries, [&](uint32_t i, uint32_t q) {
        dst[i] = widen(q, m);
        written = i + 1;
    });
    std::fill(dst + written, dst + dst_entries, dst[written - 1]);
}

void _expandGamma(const void* src, uint32_t src_entries, uint16_t src_bytes, void* dst, uint32_t dst_entries,
                  uint16_t dst_bytes)
{
    if (src_entries == 0 || dst_entries == 0) return;
    const auto* s8 = static_cast<const uint8_t*>(src);
    if (dst_bytes == 1) {
        if (src_bytes != 1) return;
        if (src_entries >= dst_entries)
            std::memcpy(dst, src, dst_entries);
        else
            _interpBBGamma(s8, src_entries, static_cast<uint8_t*>(dst), dst_entries);
    } else if (dst_bytes == 2) {
        auto* d = static_cast<uint16_t*>(dst);
        if (src_bytes == 2) {
            std::memcpy(d, src, static_cast<size_t>(std::min(src_entries, dst_entries)) * 2);
        } else if (src_bytes == 1) {
            if (src_entries >= dst_entries) {
                const uint32_t m = dst_entries >> 8;
                for (uint32_t i = 0; i < dst_entries; ++i) d[i] = widen(s8[i], m);
            } else {
                _interpWBGamma(s8, src_entries, d, dst_entries);
            }
        }
    }
}

void _to14Gamma(const void* src, uint32_t src_entries, uint16_t src_bytes, uint16_t* dst, uint32_t dst_entries)
{
    if (src_bytes != 1 && src_bytes != 2) return;
    uint32_t i = 0;
    for (; i < dst_entries && static_cast<uint64_t>(i) * 4 < src_entries; ++i) {
        if (src_bytes == 2)
            dst[i] = static_cast<uint16_t>(static_cast<const uint16_t*>(src)[4 * i] >> 2);
        else
            dst[i] = static_cast<uint16_t>(static_cast<const uint8_t*>(src)[4 * i] << 6);
    }
    if (i == 0) {
        _linearGamma(dst, dst_entries, 2);
        return;
    }
    std::fill(dst + i, dst + dst_entries, dst[i - 1]);
}

// Calls fill(c, source table or null) for each destination channel to be filled: mask bit set and
// table present in the destination, and, when there is a source set, mask bit set in it too.
template <typename Fill> void for_each_channel(const GAMMA_INFO* source, GAMMA_INFO* destination, Fill fill)
{
    if (destination == nullptr) return;
    for (int c = 0; c < 3; ++c) {
        if (!mask_has(destination, c) || destination->table[c] == nullptr) continue;
        if (source != nullptr && !mask_has(source, c)) continue;
        fill(c, source == nullptr ? nullptr : source->table[c]);
    }
}

} // namespace

void GetLinearGamma(GAMMA_INFO* set)
{
    if (set == nullptr) return;
    for (int c = 0; c < 3; ++c)
        if (mask_has(set, c)) _linearGamma(set->table[c], set->entries, set->bytes_per_entry);
}

void ExpandGamma(const GAMMA_INFO* source, GAMMA_INFO* destination)
{
    for_each_channel(source, destination, [&](int c, const void* src) {
        void* dst = destination->table[c];
        if (src == nullptr)
            _linearGamma(dst, destination->entries, destination->bytes_per_entry);
        else
            _expandGamma(src, source->entries, source->bytes_per_entry, dst, destination->entries,
                         destination->bytes_per_entry);
    });
}

void To14Gamma(const GAMMA_INFO* source, GAMMA_INFO* destination)
{
    if (destination == nullptr || destination->bytes_per_entry != 2) return;
    for_each_channel(source, destination, [&](int c, const void* src) {
        auto* dst = static_cast<uint16_t*>(destination->table[c]);
        if (src == nullptr)
            _linearGamma(dst, destination->entries, 2);
        else
            _to14Gamma(src, source->entries, source->bytes_per_entry, dst, destination->entries);
    });
}
