// CIUnsharpMask: c' = c + I (c - G(c)), with G a Gaussian blur.
#pragma once

#include "vips_image.h"

#include <vector>

namespace lumenfield {

// The taps of a Gaussian with standard deviation `sigma`: -h..h, where h is the last distance whose
// weight exp(-x^2 / (2 sigma^2)) is at least 1 % of the peak, normalised to sum 1. For 2.5 px these
// are the 15 taps -7..7.
std::vector<float> gaussianTaps(double sigma);

// The Gaussian has sigma = `radius` px; edges are extended by copying. A radius of 0 leaves the
// image. Computed in float by an own separable kernel. Throws vips::VError for a radius or intensity
// that is not finite, or a radius outside 0..100.
Image unsharpMask(const Image& image, double intensity, double radius = 2.5);

} // namespace lumenfield
