// CIContrastStretch: one scale and one offset, shared by red, green and blue, that stretch the grey
// levels of an image to the full range.
#pragma once

#include "vips_image.h"

#include <optional>
#include <vector>

namespace lumenfield {

struct LinearStretch {
    double scale = 1.0;
    double offset = 0.0;
};

// From the shares of a 256-bin histogram in bin order: lo is the first bin where the cumulative
// share reaches 0.005, hi the first where it reaches 0.995. Without spread (hi <= lo) the scale is 1
// and the offset 0; otherwise s = 256 / (hi + 1 - lo) and b = -lo / (hi + 1 - lo), so c' = s c + b
// maps the bins lo..hi onto 0..1.
LinearStretch stretchFromShares(const std::vector<double>& shares);

// The stretch of an image from its 256-bin histogram, the grey share of a bin being the mean of the
// three channels' shares. Nothing when the histogram cannot be computed.
std::optional<LinearStretch> measureContrastStretch(const Image& image);

class CIContrastStretch {
public:
    std::optional<Image> inputImage;

    // The input stretched by its measured stretch; nothing without an input image or when the
    // measurement fails. Every read computes afresh.
    std::optional<Image> outputImage() const;
};

} // namespace lumenfield
