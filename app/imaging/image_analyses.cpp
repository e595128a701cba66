#include "image_analyses.h"

#include "auto_adjustment.h"
#include "bilevel.h"
#include "color_matrix.h"
#include "console_lines.h"
#include "contrast_stretch.h"
#include "point_filters.h"
#include "reductions.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace lumenfield {

namespace {

// Runs a step that builds an image; nothing when libvips fails.
template <typename Body> std::optional<Image> attempt(Body&& body)
{
    try {
        return body();
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

// A working value read back through the device RGB space, / 255.0.
double deviceComponent(double working)
{
    return readBack(srgb::encode(working)) / 255.0;
}

std::vector<double> channelShares(const AreaHistogram& histogram, const std::array<double, 3>& weights)
{
    std::vector<double> shares(histogram.shares.size());
    for (size_t i = 0; i < shares.size(); ++i) {
        const auto& s = histogram.shares[i];
        shares[i] = weights[0] * s[0] + weights[1] * s[1] + weights[2] * s[2];
    }
    return shares;
}

std::optional<Image> grayWorld(const Image& image, bool reportMissingAverage)
{
    const std::optional<Color> average = ImageProcessor::averageColor(image);
    if (!average) {
        if (reportMissingAverage) printLine("無法獲取平均顏色");
        return std::nullopt;
    }
    const double mean = (average->red + average->green + average->blue) / 3.0;
    std::array<double, 3> gains{};
    // A channel without any of its colour would otherwise get an infinite gain.
    for (int c = 0; c < 3; ++c) gains[c] = mean / std::max(average->component(c), 0.0001);
    return attempt([&] { return colorMatrix(image, ColorMatrix::diagonal(gains)); });
}

} // namespace

namespace ImageProcessor {

std::optional<Color> averageColor(const Image& image)
{
    try {
        const std::array<double, 3> mean = areaAverage(image);
        return Color{readBack(mean[0]) / 255.0, readBack(mean[1]) / 255.0, readBack(mean[2]) / 255.0, 1.0};
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

std::optional<double> averageBrightness(const Image& image)
{
    const std::optional<Color> average = averageColor(image);
    if (!average) return std::nullopt;
    const int r = readBack(average->red), g = readBack(average->green), b = readBack(average->blue);
    const int a = readBack(average->alpha);
    printLine("🎨 平均顏色 - R:" + std::to_string(r) + " G:" + std::to_string(g) + " B:" + std::to_string(b) +
              " A:" + std::to_string(a));
    return (r + g + b) / 3.0;
}

std::optional<Image> channelSumGray(const Image& image)
{
    averageBrightness(image);
    ColorMatrix sum;
    for (auto& row : sum.rows) row = {1.0, 1.0, 1.0};
    return attempt([&] { return colorMatrix(image, sum); });
}

std::optional<Image> whiteBalanceGrayWorld(const Image& image)
{
    return grayWorld(image, true);
}

std::optional<Image> whiteBalanceGrayWorldFloored(const Image& image)
{
    return grayWorld(image, false);
}

std::optional<Image> normalizeChannelsMinMax(const Image& image)
{
    return attempt([&] {
        const ChannelExtremes extremes = areaMinMax(image);
        std::array<double, 3> scale{1, 1, 1}, offset{0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            // The read-back bytes are encoded; the image's values are linear.
            const double lo = srgb::decode(deviceComponent(extremes.minimum[c]));
            const double hi = srgb::decode(deviceComponent(extremes.maximum[c]));
            if (hi - lo < 1.0 / 255.0) continue;
            scale[c] = 1.0 / (hi - lo);
            offset[c] = -lo * scale[c];
        }
        const Image normalised = colorMatrix(image, ColorMatrix::diagonal(scale, offset));
        return toneCurve(normalised, {{{0, 0}, {0.25, 0.15}, {0.5, 0.5}, {0.75, 0.85}, {1, 1}}});
    });
}

std::optional<std::array<double, 4>> pixelComponents(const Image& image)
{
    try {
        const std::vector<double> pixel = toWorking(image).crop(0, 0, 1, 1).getpoint(0, 0);
        return std::array<double, 4>{deviceComponent(pixel.at(0)), deviceComponent(pixel.at(1)),
                                     deviceComponent(pixel.at(2)), 1.0};
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

std::optional<Image> histogramStretchPerChannel(const Image& image)
{
    const std::optional<AreaHistogram> histogram = areaHistogram(image, 256, 1.0);
    if (!histogram) return std::nullopt;
    std::array<double, 3> scale{}, offset{};
    for (int c = 0; c < 3; ++c) {
        std::array<double, 3> pick{};
        pick[c] = 1.0;
        const LinearStretch stretch = stretchFromShares(channelShares(*histogram, pick));
        scale[c] = stretch.scale;
        offset[c] = stretch.offset;
    }
    return attempt([&] { return colorMatrix(image, ColorMatrix::diagonal(scale, offset)); });
}

std::optional<Image> histogramStretchLuma(const Image& image)
{
    const std::optional<AreaHistogram> histogram = areaHistogram(image, 256, 1.0);
    if (!histogram) return std::nullopt;
    const LinearStretch stretch = stretchFromShares(channelShares(*histogram, {0.3, 0.59, 0.11}));
    return attempt([&] { return colorMatrix(image, ColorMatrix::uniform(stretch.scale, stretch.offset)); });
}

std::optional<Image> thresholdToBilevel(const Image& image, double threshold)
{
    const double t = std::clamp(threshold, 0.0, 1.0);
    return attempt([&] {
        const Image grey = colorMatrix(image, colorControlsMatrix(0.0, 0.0, 1.0));
        return bilevelImage(colorMatrix(grey, ColorMatrix::uniform(255.0, -255.0 * t)));
    });
}

Image negativeFilmTest(const Image& image)
{
    Image current = image;
    const auto stageOf = [&current](auto&& body) {
        if (std::optional<Image> next = attempt([&] { return body(current); })) current = *next;
    };
    stageOf([](const Image& in) { return gammaAdjust(in, double(1.0f / 2.2f)); });
    stageOf([](const Image& in) { return colorMatrix(in, invertMatrix()); });
    stageOf([](const Image& in) { return colorMatrix(in, ColorMatrix::diagonal({0.5, 0.6, 1.0})); });
    stageOf([](const Image& in) { return gammaAdjust(in, double(2.2f)); });
    return current;
}

} // namespace ImageProcessor

std::string formatNumber(double value)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
    return text;
}

std::optional<Image> CINormalize::outputImage() const
{
    if (!inputImage) return std::nullopt;
    ChannelExtremes extremes;
    try {
        extremes = areaMinMax(*inputImage);
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    const auto grey = [](const std::array<double, 3>& v) {
        return 0.3 * readBack(v[0]) + 0.59 * readBack(v[1]) + 0.11 * readBack(v[2]);
    };
    const double minGray = grey(extremes.minimum), maxGray = grey(extremes.maximum);
    // A flat image has no span to stretch.
    const double scale = maxGray > minGray ? 255.0 / (maxGray - minGray) : 1.0;
    const double bias = maxGray > minGray ? -minGray * scale : 0.0;
    printLine("minGray: " + formatNumber(minGray) + ", maxGray: " + formatNumber(maxGray));
    printLine("scale: " + formatNumber(scale) + ", bias: " + formatNumber(bias));
    printLine(std::string(45, '-'));
    return attempt([&] { return colorMatrix(*inputImage, ColorMatrix::uniform(scale, bias / 255.0)); });
}

} // namespace lumenfield
