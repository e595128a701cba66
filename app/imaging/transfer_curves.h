// The sRGB transfer curves, and the one rounding by which working values become bytes.
//
//   decode  D(u) = u / 12.92 for u <= 0.04045, otherwise ((u + 0.055) / 1.055)^2.4
//   encode  E(u) = 12.92 u for u <= 0.0031308, otherwise 1.055 u^(1/2.4) - 0.055
// Both extend to negative values by symmetry, D(-u) = -D(u), and continue their formulas above 1,
// because filters run unclamped.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumenfield {

// Clamping to 0..1; NaN becomes 0. The compiler would branch on the lower bound; maxss and maxsd
// give their second operand for NaN, and so 0.
inline double clampUnit(double v)
{
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_min_sd(_mm_max_sd(_mm_set_sd(v), _mm_setzero_pd()), _mm_set_sd(1.0)));
#else
    const double low = v > 0.0 ? v : 0.0;
    return low < 1.0 ? low : 1.0;
#endif
}
inline float clampUnit(float v)
{
#if defined(__SSE2__)
    return _mm_cvtss_f32(_mm_min_ss(_mm_max_ss(_mm_set_ss(v), _mm_setzero_ps()), _mm_set_ss(1.0f)));
#else
    const float low = v > 0.0f ? v : 0.0f;
    return low < 1.0f ? low : 1.0f;
#endif
}

// The byte that a working value reads back as: floor(255 clamp(v) + 0.5).
inline int readBack(double v)
{
    return static_cast<int>(255.0 * clampUnit(v) + 0.5);
}

// An int as a float. The scalar conversion (cvtsi2ss) keeps the rest of its target register and so
// waits for whatever last wrote it, chaining otherwise independent pixels together; the packed one
// does not.
inline float toFloat(int i)
{
#if defined(__SSE2__)
    return _mm_cvtss_f32(_mm_cvtepi32_ps(_mm_cvtsi32_si128(i)));
#else
    return static_cast<float>(i);
#endif
}

namespace srgb {

double decode(double u);
double encode(double u);

// A curve for the per-pixel kernels: a table read with linear interpolation for |u| up to 2
// (within 5e-6 of the exact value), using the curves' odd symmetry, and the exact formula beyond.
// Filters push values a little past 0 and 1 often enough that the exact formula there would cost
// more than the whole table.
class FastCurve {
public:
    static constexpr int kSteps = 8192; // per unit
    static constexpr int kRange = 2;

    explicit FastCurve(double (*exact)(double));

    float operator()(float u) const
    {
        const float magnitude = std::fabs(u);
        if (magnitude <= float(kRange)) return std::copysign(unit(magnitude), u);
        return static_cast<float>(exact_(u));
    }
    // Every value of v[0..n) through the curve, in place.
    void apply(float* v, int n) const;
    // The same for values known to lie within 0..1.
    void applyUnit(float* v, int n) const;

    // For u already within 0..2.
    float unit(float u) const
    {
        const float position = u * kSteps;
        const int i = static_cast<int>(position);
        const float f = position - toFloat(i);
        return values_[i] + f * (values_[i + 1] - values_[i]);
    }

private:
    double (*exact_)(double);
    // One entry more than the steps, repeating the last, so that the end needs no branch.
    std::array<float, kRange * kSteps + 2> values_;
};

const FastCurve& fastDecode();
const FastCurve& fastEncode();

// round(255 E(clamp(c))) through a table of 65536 steps over 0..1: never more than one level from
// the exact rounding, and exact for every value decoded from a byte. NaN gives 0.
class ByteEncoder {
public:
    static constexpr int kSteps = 65535;

    ByteEncoder();
    std::uint8_t operator()(float c) const { return bytes_[static_cast<int>(clampUnit(c) * float(kSteps) + 0.5f)]; }

private:
    std::vector<std::uint8_t> bytes_;
};

const ByteEncoder& byteEncoder();

// D(x / 255) for every byte x.
const std::array<float, 256>& byteDecodeTable();
const std::array<double, 256>& byteDecodeTableExact();

} // namespace srgb

} // namespace lumenfield
