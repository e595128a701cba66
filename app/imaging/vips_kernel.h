// Own libvips operations. A point kernel turns each row of input pixels into the same row of output
// pixels; a neighbourhood kernel computes an output tile from the input around it. Both are lazy
// images that libvips evaluates in small tiles on all its worker threads.
#pragma once

#include "vips_image.h"

#include <memory>
#include <vector>

namespace lumenfield {

// The pixels of an image: band count, band format and interpretation.
struct PixelLayout {
    int bands;
    VipsBandFormat format;
    VipsInterpretation interpretation;
};

constexpr PixelLayout kFloatRGB{3, VIPS_FORMAT_FLOAT, VIPS_INTERPRETATION_scRGB};
constexpr PixelLayout kByteRGB{3, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_sRGB};
constexpr PixelLayout kByteGrey{1, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_B_W};

bool hasLayout(const Image& image, const PixelLayout& layout);

class RowKernel {
public:
    virtual ~RowKernel() = default;
    // `in` holds `width` input pixels of row `y` from column `x` on; `out` receives as many output
    // pixels. Called from several threads at once. An exception fails the evaluation.
    virtual void row(const VipsPel* in, VipsPel* out, int width, int x, int y) const = 0;
};

class TileKernel {
public:
    virtual ~TileKernel() = default;
    // Pixels needed on each side of an output pixel.
    virtual int margin() const = 0;
    // `in` holds the input over `out`'s valid rectangle grown by the margin on every side, edges
    // extended by copying, in coordinates shifted by the margin: output (x, y) is input
    // (x + margin, y + margin). `scratch` belongs to the calling thread. An exception fails the
    // evaluation.
    virtual void tile(VipsRegion* in, VipsRegion* out, std::vector<float>& scratch) const = 0;
};

// The kernel applied to `in`, which must have the layout `input`. The kernel stays alive, and `in`
// stays referenced, for as long as the result. Throws vips::VError when `in` has another layout or
// libvips cannot make the image.
Image pointOperation(const Image& in, const PixelLayout& input, const PixelLayout& output,
                     std::shared_ptr<const RowKernel> kernel);
Image neighbourhoodOperation(const Image& in, const PixelLayout& input, const PixelLayout& output,
                             std::shared_ptr<const TileKernel> kernel);

} // namespace lumenfield
