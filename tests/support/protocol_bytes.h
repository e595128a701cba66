// Expected protocol bytes, written out independently of the driver's own builders.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace lftest {

using Bytes = std::vector<uint8_t>;
// (offset, value) pairs of a block's parameter bytes.
using Params = std::initializer_list<std::pair<int, uint8_t>>;

inline Bytes request_header(const char* tag, uint32_t length)
{
    Bytes h(8, 0);
    std::memcpy(h.data(), tag, 4);
    h[5] = static_cast<uint8_t>(length);
    h[6] = static_cast<uint8_t>(length >> 8);
    h[7] = static_cast<uint8_t>(length >> 16);
    return h;
}

inline Bytes block_of(const char* head, uint8_t opcode, const char* subject, uint8_t code, Params params)
{
    Bytes b(16, 0);
    std::memcpy(b.data(), head, strnlen(head, 4));
    b[4] = opcode;
    if (subject != nullptr) {
        std::memcpy(b.data() + 8, subject, strnlen(subject, 4));
        b[12] = code;
    }
    for (const auto& [at, value] : params) b[static_cast<size_t>(at)] = value;
    return b;
}

inline Bytes own_block(const char* tag, uint8_t code, Params params = {})
{
    return block_of(tag, code, nullptr, 0, params);
}

inline Bytes read_block(const char* subject, uint8_t code, Params params = {})
{
    return block_of("READ", 0x28, subject, code, params);
}

inline Bytes send_block(const char* subject, uint8_t code, Params params = {})
{
    return block_of("SEND", 0x2A, subject, code, params);
}

inline Bytes job_frame(const char* tag, uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    Bytes f(8, 0);
    std::memcpy(f.data(), tag, strnlen(tag, 4));
    f[4] = b4;
    f[5] = b5;
    f[6] = b6;
    f[7] = b7;
    return f;
}

// Distinct, recognisable record contents.
template <size_t N> std::array<uint8_t, N> pattern(uint8_t seed)
{
    std::array<uint8_t, N> a{};
    for (size_t i = 0; i < N; ++i) a[i] = static_cast<uint8_t>(seed + i * 7);
    return a;
}

} // namespace lftest
