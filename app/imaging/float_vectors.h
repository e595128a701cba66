// Four floats (or ints) in one SSE register. Release builds use -O2 without -march, which
// vectorises few plain loops; these vectors do it explicitly where a kernel spends its time.
#pragma once

#include <cstring>

namespace lumenfield {

typedef float Floats4 __attribute__((vector_size(16)));
typedef int Ints4 __attribute__((vector_size(16)));

inline Floats4 loadFloats4(const float* p)
{
    Floats4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeFloats4(float* p, Floats4 v)
{
    std::memcpy(p, &v, sizeof v);
}

// Lane-wise max and min in the manner of maxps and minps: for NaN the second operand.
inline Floats4 max4(Floats4 a, Floats4 b)
{
    return a > b ? a : b;
}
inline Floats4 min4(Floats4 a, Floats4 b)
{
    return a < b ? a : b;
}

// Linear interpolation in a table at four non-negative positions (whole part the index).
inline Floats4 interpolate4(const float* table, Floats4 position)
{
    const Ints4 i = __builtin_convertvector(position, Ints4);
    const Floats4 f = position - __builtin_convertvector(i, Floats4);
    const Floats4 a{table[i[0]], table[i[1]], table[i[2]], table[i[3]]};
    const Floats4 b{table[i[0] + 1], table[i[1] + 1], table[i[2] + 1], table[i[3] + 1]};
    return a + f * (b - a);
}

} // namespace lumenfield
