// Further image operations for white balance, colour measurement, normalisation and thresholding,
// offered as building blocks beside the post-processing chain; nothing in the application calls
// them. Like the chain's operations they keep no state and never throw; each gives nothing when a
// step fails, and none changes its input.
#pragma once

#include "vips_image.h"

#include <array>
#include <optional>
#include <string>

namespace lumenfield {

namespace ImageProcessor {

// CIAreaAverage over the whole image: each component the read-back byte of the channel's mean
// / 255.0, alpha 1.0.
std::optional<Color> averageColor(const Image& image);

// The average read back as bytes; prints "🎨 平均顏色 - R:<r> G:<g> B:<b> A:<a>" and gives
// (r + g + b) / 3. Prints nothing when there is no average.
std::optional<double> averageBrightness(const Image& image);

// Prints the average brightness line, then makes every channel R + G + B.
std::optional<Image> channelSumGray(const Image& image);

// Grey world: each channel times m / c, c the channel's average and m the mean of the three,
// each divisor at least 0.0001. Without an average, prints "無法獲取平均顏色".
std::optional<Image> whiteBalanceGrayWorld(const Image& image);
// The same without the message.
std::optional<Image> whiteBalanceGrayWorldFloored(const Image& image);

// Stretches each channel from its minimum to its maximum, then applies CIToneCurve through (0, 0),
// (0.25, 0.15), (0.5, 0.5), (0.75, 0.85), (1, 1). The extremes are read back through the device RGB
// space and decoded again; a channel spanning less than 1/255 is left as it is.
std::optional<Image> normalizeChannelsMinMax(const Image& image);

// Pixel (0, 0) read back through the device RGB space (bytes of E(c)) / 255.0: red, green, blue,
// and alpha 1.0.
std::optional<std::array<double, 4>> pixelComponents(const Image& image);

// The contrast stretch of CIContrastStretch, derived per channel from each channel's shares, or
// shared from the luma 0.3 R + 0.59 G + 0.11 B of the shares.
std::optional<Image> histogramStretchPerChannel(const Image& image);
std::optional<Image> histogramStretchLuma(const Image& image);

// Grey by colour controls (saturation 0), then 255 (Y - t) with t limited to 0..1, rendered to
// bytes and converted to one bit.
std::optional<Image> thresholdToBilevel(const Image& image, double threshold);

// CIGammaAdjust with 1/2.2, CIColorInvert, the channel gains (0.5, 0.6, 1), CIGammaAdjust with 2.2;
// each stage keeps the previous image when it fails.
Image negativeFilmTest(const Image& image);

} // namespace ImageProcessor

// Stretches the grey levels from the darkest to the brightest pixel.
class CINormalize {
public:
    std::optional<Image> inputImage;

    // The per-channel minima and maxima as bytes give minGray and maxGray (0.3 R + 0.59 G + 0.11 B);
    // s = 255 / (maxGray - minGray) and b = -minGray s, or s = 1 and b = 0 when the grey levels
    // do not differ. Prints "minGray: <min>, maxGray: <max>", "scale: <s>, bias: <b>" and 45
    // hyphens, then scales the channels by s with the offset b / 255, so minGray maps to 0 and
    // maxGray to 1. Nothing without an input image or when the extremes cannot be computed.
    std::optional<Image> outputImage() const;
};

// A number in its shortest round-trip form, with ".0" after a whole number: 12 gives "12.0".
std::string formatNumber(double value);

} // namespace lumenfield
