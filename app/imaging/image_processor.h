// ImageProcessor: the post-processing of a scanned image. Every image the scanner delivers passes
// through processImage before anybody sees it: the preview, the scan-frame crop laid over it, and
// the final scan before it is written.
//
// The operations keep no state and may run on any thread at once. None throws: a step that fails
// gives no output, and the chain keeps the image it had.
#pragma once

#include "color_matrix.h"
#include "image_settings.h"
#include "scan_settings.h"
#include "vips_image.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumenfield {

// A filter by name with its parameters by key.
struct FilterStep {
    std::string name;
    std::map<std::string, double> parameters;

    bool operator==(const FilterStep&) const = default;
};

// The stages a processImage call ran, in order: the filter names, plus "levels", "bilevel" and
// "CIContrastStretch".
struct ProcessTrace {
    std::vector<FilterStep> stages;

    int count(std::string_view name) const;
    std::vector<std::string> names() const;
};

// How processImage builds its result. Fused composes consecutive per-pixel steps into single
// operations and measures 8-bit input directly; reference builds every filter as an image of its
// own. Both compute the same image within a level.
enum class ProcessPath {
    fused,
    reference
};

// The smallest span, in read-back bytes, over which the levels step stretches a channel. A channel
// with fewer distinct levels is noise on a flat original, or would come out posterised in steps of
// more than 8 levels.
inline constexpr int kSmallestLevelsSpan = 32;

// The share of an image's pixels at each end of a channel that the nearly-flat guard leaves out.
// Dust, a speck or a hair on a grey card or a blank page covers far less (two specks 0.03 inch
// across are 0.006 % of a 4 x 6 inch card), while whatever makes an original more than nearly flat
// (text, a shadow, a photo's highlights) covers far more. A share rather than a number of pixels,
// so that a preview and the scan at any resolution decide alike.
inline constexpr double kOutlierShare = 0.001;

// The per-channel extremes of an image, each component a read-back byte / 255.0.
struct ChannelLevels {
    Color minimum;
    Color maximum;
    // The extremes once up to kOutlierShare of the pixels at each end are left out. The levels
    // stretch decides on these whether a channel is nearly flat, and stretches between minimum and
    // maximum when it is not.
    Color bulkMinimum = minimum;
    Color bulkMaximum = maximum;
};

namespace ImageProcessor {

// The processed form of a raw scan or a preview crop, lazily: the pixels are computed by whoever
// reads them (writer, display). The stages:
//   1. negative film: levels, CISRGBToneCurveToLinear, levels; any other source:
//      CILinearToSRGBToneCurve, levels; raw: the tone curve alone, which takes the scanner's
//      linear samples for what they are;
//   2. grey: the photo effect of the grey mode; black and white: CIPhotoEffectNoir, then
//      CIColorThresholdOtsu (auto) or CIColorThreshold (manual);
//   3. manual: levels (stage 4, ahead of the sliders, which it would otherwise undo), then
//      exposure, colour controls, hue and sharpness (see applyFilters); photo: the automatic
//      adjustment filters; doc: CIDocumentEnhancer with amount 10;
//   4. photo and doc: levels;
//   5. black and white: to one bit and back to a working image of 0.0 and 1.0;
//   6. experiment: contrastStretch;
//   7. invert: CIColorInvert.
// Raw colour without experiment and invert gives the samples as linear light, unchanged: written in
// the linear profile they keep their bytes.
Image processImage(const Image& image, const ScanSettings::Values& scanSettings,
                   const ImageSettings::Values& imageSettings, ProcessTrace* trace = nullptr,
                   ProcessPath path = ProcessPath::fused);

// The per-channel minimum and maximum, with and without the outlying pixels, from one histogram
// pass. When the pass fails it prints "Failed to get areaMinimum output image" and gives nothing.
std::optional<ChannelLevels> detectChannelLevels(const Image& image);

// Maps each channel's [minimum, maximum] onto [0, 1]: c' = (c - min) / max(max - min, 0.0001). A
// nearly flat channel, whose minimum and maximum read back less than kSmallestLevelsSpan bytes
// apart, is left as it is.
std::optional<Image> stretchChannelLevels(const Image& image, const Color& minimum, const Color& maximum);

// The steps in order, each on the previous output. The filters known by name:
//   "CIExposureAdjust"  "inputEV" (0)
//   "CIColorControls"   "inputBrightness" (0), "inputContrast" (1), "inputSaturation" (1)
//   "CIHueAdjust"       "inputAngle" (0)
//   "CIUnsharpMask"     "inputIntensity" (0.5), "inputRadius" (2.5)
// A missing key takes the default in brackets, a key the filter lacks is ignored. An unknown name
// prints "Warning: Filter <name> not found." and a step that fails prints "Warning: Filter <name>
// failed to process."; either way the next step runs on the unchanged image. Gives `image` itself
// when no step succeeded.
Image applyFilters(const Image& image, const std::vector<FilterStep>& steps);

// The 1-bit form of an image (see bilevel.h); nothing without an image.
std::optional<Image> convertToBilevel(const std::optional<Image>& image);

// CIContrastStretch on the image; nothing when it gives nothing.
std::optional<Image> contrastStretch(const Image& image);

} // namespace ImageProcessor

// The colour matrix of the levels stretch (see stretchChannelLevels). With channel levels, a
// channel is nearly flat when its bulk spans less than kSmallestLevelsSpan.
ColorMatrix levelsMatrix(const Color& minimum, const Color& maximum);
ColorMatrix levelsMatrix(const ChannelLevels& levels);

} // namespace lumenfield
