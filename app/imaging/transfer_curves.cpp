#include "transfer_curves.h"

#include "float_vectors.h"

#include <cmath>

namespace lumenfield {

namespace srgb {

namespace {

double decodePositive(double u)
{
    return u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4);
}

double encodePositive(double u)
{
    return u <= 0.0031308 ? 12.92 * u : 1.055 * std::pow(u, 1.0 / 2.4) - 0.055;
}

} // namespace

double decode(double u)
{
    return u < 0.0 ? -decodePositive(-u) : decodePositive(u);
}

double encode(double u)
{
    return u < 0.0 ? -encodePositive(-u) : encodePositive(u);
}

FastCurve::FastCurve(double (*exact)(double)) : exact_(exact)
{
    constexpr int last = kRange * kSteps;
    for (int i = 0; i <= last; ++i) values_[i] = static_cast<float>(exact(double(i) / kSteps));
    values_[last + 1] = values_[last];
}

void FastCurve::apply(float* v, int n) const
{
    const Floats4 range{float(kRange), float(kRange), float(kRange), float(kRange)};
    const Floats4 sign{-0.0f, -0.0f, -0.0f, -0.0f};
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const Floats4 x = loadFloats4(v + i);
        const Floats4 magnitude = (Floats4)((Ints4)x & ~(Ints4)sign);
        const Ints4 inRange = magnitude <= range;
        if (inRange[0] & inRange[1] & inRange[2] & inRange[3]) {
            const Floats4 y = interpolate4(values_.data(), magnitude * float(kSteps));
            storeFloats4(v + i, (Floats4)((Ints4)y | ((Ints4)x & (Ints4)sign)));
        } else {
            for (int k = i; k < i + 4; ++k) v[k] = (*this)(v[k]);
        }
    }
    for (; i < n; ++i) v[i] = (*this)(v[i]);
}

void FastCurve::applyUnit(float* v, int n) const
{
    int i = 0;
    for (; i + 4 <= n; i += 4) storeFloats4(v + i, interpolate4(values_.data(), loadFloats4(v + i) * float(kSteps)));
    for (; i < n; ++i) v[i] = unit(v[i]);
}

const FastCurve& fastDecode()
{
    static const FastCurve curve(decode);
    return curve;
}

const FastCurve& fastEncode()
{
    static const FastCurve curve(encode);
    return curve;
}

ByteEncoder::ByteEncoder() : bytes_(kSteps + 1)
{
    for (int i = 0; i <= kSteps; ++i) bytes_[i] = static_cast<std::uint8_t>(readBack(encode(double(i) / kSteps)));
}

const ByteEncoder& byteEncoder()
{
    static const ByteEncoder encoder;
    return encoder;
}

const std::array<float, 256>& byteDecodeTable()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int x = 0; x < 256; ++x) t[x] = static_cast<float>(decode(x / 255.0));
        return t;
    }();
    return table;
}

const std::array<double, 256>& byteDecodeTableExact()
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int x = 0; x < 256; ++x) t[x] = decode(x / 255.0);
        return t;
    }();
    return table;
}

} // namespace srgb

} // namespace lumenfield
