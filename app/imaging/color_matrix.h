// Affine colour transforms: out_c = V_c . (r, g, b) + offset_c for each channel c. The alpha row of a
// colour matrix has no counterpart, since images here are opaque; an alpha term of a row is
// computed with alpha = 1 and belongs to the offset.
#pragma once

#include "vips_image.h"

#include <array>

namespace lumenfield {

struct ColorMatrix {
    std::array<std::array<double, 3>, 3> rows{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::array<double, 3> offset{0, 0, 0};

    static ColorMatrix diagonal(const std::array<double, 3>& scale, const std::array<double, 3>& offset = {0, 0, 0});
    static ColorMatrix uniform(double scale, double offset = 0.0)
    {
        return diagonal({scale, scale, scale}, {offset, offset, offset});
    }

    // This transform followed by `next`.
    ColorMatrix then(const ColorMatrix& next) const;
    bool isDiagonal() const;
    std::array<double, 3> apply(const std::array<double, 3>& rgb) const;
};

// The matrix applied to the working image (libvips recomb and linear; linear alone when the matrix
// is diagonal). Throws vips::VError when libvips cannot build the operation.
Image colorMatrix(const Image& image, const ColorMatrix& matrix);

// CIExposureAdjust: c' = c 2^ev.
ColorMatrix exposureMatrix(double ev);
// CIColorControls, with Y = 0.2126 r + 0.7152 g + 0.0722 b:
//   c1 = Y + s (c - Y);  c2 = c1 + brightness;  c' = (c2 - 0.5) contrast + 0.5
ColorMatrix colorControlsMatrix(double saturation, double brightness, double contrast);
// CIHueAdjust: rotation by `angle` radians about the grey axis,
//   M = cos(a) I + (1 - cos(a)) / 3 J + sin(a) / sqrt(3) K,
// J all ones, K = [[0, -1, 1], [1, 0, -1], [-1, 1, 0]]; 2 pi / 3 takes red to green.
ColorMatrix hueMatrix(double angle);
// CIColorInvert: c' = 1 - c.
ColorMatrix invertMatrix();

// The luma weights of linear sRGB.
inline constexpr std::array<double, 3> kLumaWeights{0.2126, 0.7152, 0.0722};

} // namespace lumenfield
