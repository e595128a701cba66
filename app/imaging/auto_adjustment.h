// The automatic photo adjustment: a tone curve and a vibrance boost chosen from the image itself.
#pragma once

#include "point_program.h"
#include "vips_image.h"

#include <array>
#include <optional>

namespace lumenfield {

// Five (x, y) points with strictly increasing x.
using CurvePoints = std::array<std::array<double, 2>, 5>;

// The monotone cubic (Fritsch-Carlson) through the points: y0 left of x0, y4 right of x4.
class MonotoneCubic {
public:
    // Throws vips::VError when the x values do not increase strictly or a value is not finite.
    explicit MonotoneCubic(const CurvePoints& points);
    double operator()(double x) const;

private:
    CurvePoints points_;
    std::array<double, 5> slopes_{};
};

// CIToneCurve: c' = D(T(E(clamp(c)))), T the monotone cubic through the points.
PointOpPtr toneCurveOp(const CurvePoints& points);
Image toneCurve(const Image& image, const CurvePoints& points);

// CIVibrance with amount a: e = E(clamp(c)); l = 0.2126 e_R + 0.7152 e_G + 0.0722 e_B;
// s = max(e) - min(e); f = 1 + a (1 - s); c' = D(l + f (e - l)).
PointOpPtr vibranceOp(double amount);
Image vibrance(const Image& image, double amount);

// The automatic adjustment filters of an image, in the order they apply:
//   the tone curve, when the spread w - b of the encoded luma is at least 0.05: points
//   (b + q (w - b), q^g) for q = 0, 0.25, 0.5, 0.75, 1, with
//   g = clamp(ln 0.5 / ln(clamp((m - b) / (w - b), 0.05, 0.95)), 0.75, 1.33);
//   the vibrance, when the mean saturation S of the encoded pixels lies in 0.01..0.35, with amount
//   0.5 (0.35 - S) / 0.35.
// b, m and w are the bins of a 256-bin histogram of the encoded luma where the cumulative count
// first reaches 0.5 %, 50 % and 99.5 %, each taken as (bin + 0.5) / 256. The analysis runs on the
// image box-averaged by ceil(long side / 1024), kept in memory. Throws vips::VError when the pixels
// cannot be computed.
struct AutoAdjustment {
    std::optional<CurvePoints> toneCurve;
    std::optional<double> vibranceAmount;
};
AutoAdjustment autoAdjustment(const Image& image);

} // namespace lumenfield
