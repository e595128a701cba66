#include "contrast_stretch.h"

#include "color_matrix.h"
#include "reductions.h"

namespace lumenfield {

LinearStretch stretchFromShares(const std::vector<double>& shares)
{
    int lo = -1, hi = -1;
    double cumulative = 0.0;
    for (int bin = 0; bin < static_cast<int>(shares.size()); ++bin) {
        cumulative += shares[bin];
        if (lo < 0 && cumulative >= 0.005) lo = bin;
        if (hi < 0 && cumulative >= 0.995) hi = bin;
    }
    if (lo < 0) lo = 0;
    if (hi < 0) hi = static_cast<int>(shares.size()) - 1;
    if (hi <= lo) return {};
    const double span = hi + 1 - lo;
    return {256.0 / span, -lo / span};
}

std::optional<LinearStretch> measureContrastStretch(const Image& image)
{
    const std::optional<AreaHistogram> histogram = areaHistogram(image, 256, 1.0);
    if (!histogram) return std::nullopt;
    std::vector<double> grey(histogram->shares.size());
    for (size_t i = 0; i < grey.size(); ++i) {
        const auto& s = histogram->shares[i];
        grey[i] = (s[0] + s[1] + s[2]) / 3.0;
    }
    return stretchFromShares(grey);
}

std::optional<Image> CIContrastStretch::outputImage() const
{
    if (!inputImage) return std::nullopt;
    const std::optional<LinearStretch> stretch = measureContrastStretch(*inputImage);
    if (!stretch) return std::nullopt;
    try {
        return colorMatrix(*inputImage, ColorMatrix::uniform(stretch->scale, stretch->offset));
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

} // namespace lumenfield
