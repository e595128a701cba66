#include "color_matrix.h"

#include "working_color.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace lumenfield {

ColorMatrix ColorMatrix::diagonal(const std::array<double, 3>& scale, const std::array<double, 3>& offset)
{
    ColorMatrix m;
    for (int c = 0; c < 3; ++c) {
        m.rows[c] = {0, 0, 0};
        m.rows[c][c] = scale[c];
    }
    m.offset = offset;
    return m;
}

ColorMatrix ColorMatrix::then(const ColorMatrix& next) const
{
    ColorMatrix m;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += next.rows[r][k] * rows[k][c];
            m.rows[r][c] = sum;
        }
        double offsetSum = next.offset[r];
        for (int k = 0; k < 3; ++k) offsetSum += next.rows[r][k] * offset[k];
        m.offset[r] = offsetSum;
    }
    return m;
}

bool ColorMatrix::isDiagonal() const
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (r != c && rows[r][c] != 0.0) return false;
    return true;
}

std::array<double, 3> ColorMatrix::apply(const std::array<double, 3>& rgb) const
{
    std::array<double, 3> out{};
    for (int r = 0; r < 3; ++r) out[r] = rows[r][0] * rgb[0] + rows[r][1] * rgb[1] + rows[r][2] * rgb[2] + offset[r];
    return out;
}

Image colorMatrix(const Image& image, const ColorMatrix& matrix)
{
    const Image working = toWorking(image);
    const std::vector<double> offset(matrix.offset.begin(), matrix.offset.end());
    if (matrix.isDiagonal()) {
        return working.linear({matrix.rows[0][0], matrix.rows[1][1], matrix.rows[2][2]}, offset);
    }
    const Image m = Image::new_matrixv(3, 3, matrix.rows[0][0], matrix.rows[0][1], matrix.rows[0][2], matrix.rows[1][0],
                                       matrix.rows[1][1], matrix.rows[1][2], matrix.rows[2][0], matrix.rows[2][1],
                                       matrix.rows[2][2]);
    return working.recomb(m).linear({1.0, 1.0, 1.0}, offset);
}

ColorMatrix exposureMatrix(double ev)
{
    return ColorMatrix::uniform(std::exp2(ev));
}

ColorMatrix colorControlsMatrix(double saturation, double brightness, double contrast)
{
    ColorMatrix m;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const double saturated = (1.0 - saturation) * kLumaWeights[c] + (r == c ? saturation : 0.0);
            m.rows[r][c] = contrast * saturated;
        }
        m.offset[r] = contrast * brightness + 0.5 * (1.0 - contrast);
    }
    return m;
}

ColorMatrix hueMatrix(double angle)
{
    static constexpr std::array<std::array<double, 3>, 3> k{{{0, -1, 1}, {1, 0, -1}, {-1, 1, 0}}};
    const double cosine = std::cos(angle);
    const double sine = std::sin(angle) / std::numbers::sqrt3;
    ColorMatrix m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.rows[r][c] = (r == c ? cosine : 0.0) + (1.0 - cosine) / 3.0 + sine * k[r][c];
    return m;
}

ColorMatrix invertMatrix()
{
    return ColorMatrix::uniform(-1.0, 1.0);
}

} // namespace lumenfield
