#include "image_processor.h"

#include "auto_adjustment.h"
#include "bilevel.h"
#include "console_lines.h"
#include "contrast_stretch.h"
#include "document_enhancer.h"
#include "point_filters.h"
#include "point_program.h"
#include "reductions.h"
#include "transfer_curves.h"
#include "unsharp_mask.h"
#include "working_color.h"

#include <cmath>
#include <limits>
#include <memory>
#include <system_error>

namespace lumenfield {

int ProcessTrace::count(std::string_view name) const
{
    int n = 0;
    for (const FilterStep& stage : stages) n += stage.name == name;
    return n;
}

std::vector<std::string> ProcessTrace::names() const
{
    std::vector<std::string> result;
    for (const FilterStep& stage : stages) result.push_back(stage.name);
    return result;
}

ColorMatrix levelsMatrix(const ChannelLevels& levels)
{
    std::array<double, 3> scale{1, 1, 1}, offset{0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        // A nearly flat channel keeps its values: a grey card or a blank page holds only its noise,
        // and stretching that over the whole range gives streaks (an exactly flat one would turn
        // black). Judged without the outlying pixels: a speck on a grey card would otherwise make
        // it a full-range image, stretched to white.
        if (readBack(levels.bulkMaximum.component(c)) - readBack(levels.bulkMinimum.component(c)) < kSmallestLevelsSpan)
            continue;
        const double lo = levels.minimum.component(c), hi = levels.maximum.component(c);
        scale[c] = 1.0 / std::max(hi - lo, 0.0001);
        offset[c] = -lo * scale[c];
    }
    return ColorMatrix::diagonal(scale, offset);
}

ColorMatrix levelsMatrix(const Color& minimum, const Color& maximum)
{
    return levelsMatrix(ChannelLevels{minimum, maximum});
}

namespace {

using Parameters = std::map<std::string, double>;
using ByteCounts = std::array<std::array<double, 256>, 3>;
using LevelCounts = std::array<std::array<double, 256>, 3>; // pixels per read-back byte and channel

constexpr double kDocumentAmount = 10.0;

void record(ProcessTrace* trace, std::string name, Parameters parameters = {})
{
    if (trace) trace->stages.push_back({std::move(name), std::move(parameters)});
}

Color levelColor(const std::array<int, 3>& bytes)
{
    return Color{bytes[0] / 255.0, bytes[1] / 255.0, bytes[2] / 255.0, 1.0};
}

ChannelLevels levelsFromExtremes(const std::array<double, 3>& minimum, const std::array<double, 3>& maximum)
{
    return {levelColor({readBack(minimum[0]), readBack(minimum[1]), readBack(minimum[2])}),
            levelColor({readBack(maximum[0]), readBack(maximum[1]), readBack(maximum[2])})};
}

// The extremes of each channel's read-back bytes, with and without the outlying pixels: the
// lowest and highest byte held, and the lowest and highest once up to kOutlierShare of the
// channel's pixels at each end are passed over.
ChannelLevels levelsFromCounts(const LevelCounts& counts)
{
    std::array<int, 3> lo{}, hi{}, bulkLo{}, bulkHi{};
    for (int b = 0; b < 3; ++b) {
        const std::array<double, 256>& n = counts[b];
        double total = 0.0;
        for (double count : n) total += count;
        const double outlying = std::floor(kOutlierShare * total);
        double below = 0.0, above = 0.0;
        lo[b] = 0;
        while (lo[b] < 255 && n[lo[b]] <= 0.0) ++lo[b];
        bulkLo[b] = 0;
        while (bulkLo[b] < 255 && (below += n[bulkLo[b]]) <= outlying) ++bulkLo[b];
        hi[b] = 255;
        while (hi[b] > 0 && n[hi[b]] <= 0.0) --hi[b];
        bulkHi[b] = 255;
        while (bulkHi[b] > 0 && (above += n[bulkHi[b]]) <= outlying) --bulkHi[b];
    }
    return {levelColor(lo), levelColor(hi), levelColor(bulkLo), levelColor(bulkHi)};
}

// Whether every channel spans less than kSmallestLevelsSpan even with its outlying pixels.
bool flatEverywhere(const ChannelLevels& levels)
{
    for (int c = 0; c < 3; ++c)
        if (readBack(levels.maximum.component(c)) - readBack(levels.minimum.component(c)) >= kSmallestLevelsSpan)
            return false;
    return true;
}

void reportLevelsFailure()
{
    vips_error_clear();
    printLine("Failed to get areaMinimum output image");
}

// The working image as the chain goes. Fused, it is a point program that later per-pixel steps
// extend; reference, every step makes an image of its own. Copies are cheap.
class Work {
public:
    Work(const Image& image, ProcessPath path)
    {
        if (path == ProcessPath::fused)
            program_.emplace(image);
        else
            image_ = toWorking(image);
    }

    bool fused() const { return program_.has_value(); }

    Image image() const { return fused() ? program_->image() : *image_; }

    void replace(const Image& image)
    {
        if (fused())
            program_.emplace(image);
        else
            image_ = image;
    }

    void point(PointOpPtr op)
    {
        if (fused())
            program_->append(std::move(op));
        else
            image_ = applyPointOp(*image_, std::move(op));
    }

    void matrix(const ColorMatrix& matrix)
    {
        if (fused())
            program_->append(matrixOp(matrix));
        else
            image_ = colorMatrix(*image_, matrix);
    }

    // Fused, 8-bit pixels seen only through byte tables are measured from the bytes' histogram,
    // which one pass over the input gives for every levels step of stage 1.
    std::optional<ChannelLevels> measureLevels()
    {
        const Image* bytes = fused() ? program_->byteSource() : nullptr;
        if (!bytes) {
            if (const Image* source = fused() ? program_->colourSource() : nullptr) return colourLevels(*source);
            return ImageProcessor::detectChannelLevels(image());
        }
        try {
            if (!byteCounts_ || countedImage_ != bytes->get_image()) {
                byteCounts_ = std::make_shared<const ByteCounts>(byteHistogram(*bytes));
                countedImage_ = bytes->get_image();
            }
        } catch (const vips::VError&) {
            reportLevelsFailure();
            return std::nullopt;
        }
        const ByteTables& tables = *program_->tables();
        LevelCounts levels{};
        for (int b = 0; b < 3; ++b)
            for (int x = 0; x < 256; ++x)
                if ((*byteCounts_)[b][x] > 0.0) levels[b][readBack(tables[b][x])] += (*byteCounts_)[b][x];
        return levelsFromCounts(levels);
    }

    // Every pixel's result depending on its bytes alone, the extremes over the image are those over
    // the colours it holds. A scan holds far fewer colours than pixels, so the steps run once per
    // colour instead of the whole chain being evaluated a second time only to be measured; an
    // image of nearly as many colours as pixels is measured as it is.
    std::optional<ChannelLevels> colourLevels(const Image& source)
    {
        try {
            if (!colours_ || colouredImage_ != source.get_image()) {
                colours_ = std::make_shared<const ColourSet>(source);
                colouredImage_ = source.get_image();
            }
        } catch (const vips::VError&) {
            reportLevelsFailure();
            return std::nullopt;
        }
        const double pixels = double(source.width()) * source.height();
        if (double(colours_->size()) > pixels / 4) return ImageProcessor::detectChannelLevels(image());

        try {
            const ChannelExtremes extremes =
                extremesOverColours(*colours_, [this](const uint8_t* bytes, float* rgb, int count) {
                    program_->applyToBytes(bytes, rgb, count);
                });
            const ChannelLevels levels = levelsFromExtremes(extremes.minimum, extremes.maximum);
            // An image whose colours span few levels is nearly flat whatever its pixels. Otherwise
            // the outlying pixels are told apart by their number, which the colours do not give:
            // a sample of the pixels shows most images far from flat, and only the others are
            // measured whole.
            if (flatEverywhere(levels) || farFromFlat(source, levels)) return levels;
            return ImageProcessor::detectChannelLevels(image());
        } catch (const std::system_error&) {
            // No thread to spare: measured over the pixels, as an image of many colours is.
            return ImageProcessor::detectChannelLevels(image());
        }
    }

    // Whether every channel that spans kSmallestLevelsSpan or more over the colours is surely not
    // nearly flat, from every 4th pixel of every 4th row. A nearly flat channel has all but
    // 2 floor(kOutlierShare N) of its N pixels within kSmallestLevelsSpan levels, and so has
    // the sample; a sample with more pixels outside every such window is of an image that is not.
    bool farFromFlat(const Image& source, const ChannelLevels& levels) const
    {
        constexpr int kStep = 4;
        if (source.width() < 16 * kStep || source.height() < 16 * kStep) return false;
        const LevelCounts sample = readBackHistogram(program_->on(source.subsample(kStep, kStep)).image());
        const double pixels = double(source.width()) * source.height();
        const double outlying = 2.0 * std::floor(kOutlierShare * pixels);
        for (int c = 0; c < 3; ++c) {
            if (readBack(levels.maximum.component(c)) - readBack(levels.minimum.component(c)) < kSmallestLevelsSpan)
                continue;
            double total = 0.0, window = 0.0, fullest = 0.0;
            for (int level = 0; level < 256; ++level) {
                total += sample[c][level];
                window += sample[c][level];
                if (level >= kSmallestLevelsSpan) window -= sample[c][level - kSmallestLevelsSpan];
                fullest = std::max(fullest, window);
            }
            if (total - fullest <= outlying) return false;
        }
        return true;
    }

    void otsuThreshold()
    {
        if (!fused()) {
            image_ = colorThresholdOtsu(*image_);
            return;
        }
        const std::vector<std::array<double, 3>> counts = histogramCounts(image(), 256);
        std::vector<double> band0(counts.size());
        for (size_t i = 0; i < counts.size(); ++i) band0[i] = counts[i][0];
        point(binThresholdOp(lumenfield::otsuThreshold(band0)));
    }

    void documentEnhancer(double amount)
    {
        if (!fused()) {
            image_ = lumenfield::documentEnhancer(*image_, amount);
            return;
        }
        PointProgram encoded = *program_;
        encoded.append(clampedEncodeOp());
        point(documentEnhancerOp(documentBackground(encoded.image()), amount));
    }

    void bilevel()
    {
        if (fused()) {
            point(bilevelOp());
            return;
        }
        if (const std::optional<Image> bits = ImageProcessor::convertToBilevel(*image_)) image_ = toWorking(*bits);
    }

private:
    std::optional<PointProgram> program_;
    std::optional<Image> image_;
    std::shared_ptr<const ByteCounts> byteCounts_;
    const VipsImage* countedImage_ = nullptr;
    std::shared_ptr<const ColourSet> colours_;
    const VipsImage* colouredImage_ = nullptr;
};

// Runs one stage; when libvips fails inside it, the working image stays as it was.
template <typename Body> void stage(Work& work, Body&& body)
{
    Work saved = work;
    try {
        body();
    } catch (const vips::VError&) {
        work = std::move(saved);
        vips_error_clear();
    }
}

void levelsStep(Work& work, ProcessTrace* trace)
{
    record(trace, "levels");
    stage(work, [&] {
        if (const std::optional<ChannelLevels> levels = work.measureLevels()) work.matrix(levelsMatrix(*levels));
    });
}

double parameter(const Parameters& parameters, const char* key, double fallback)
{
    const auto found = parameters.find(key);
    const double value = found == parameters.end() ? fallback : found->second;
    if (!std::isfinite(value)) throw vips::VError(std::string("parameter ") + key + " is not finite");
    return value;
}

using FilterFunction = void (*)(Work&, const Parameters&);

const std::map<std::string, FilterFunction, std::less<>>& filterRegistry()
{
    static const std::map<std::string, FilterFunction, std::less<>> registry{
        {"CIExposureAdjust",
         [](Work& work, const Parameters& p) { work.matrix(exposureMatrix(parameter(p, "inputEV", 0.0))); }},
        {"CIColorControls",
         [](Work& work, const Parameters& p) {
             work.matrix(colorControlsMatrix(parameter(p, "inputSaturation", 1.0), parameter(p, "inputBrightness", 0.0),
                                             parameter(p, "inputContrast", 1.0)));
         }},
        {"CIHueAdjust",
         [](Work& work, const Parameters& p) { work.matrix(hueMatrix(parameter(p, "inputAngle", 0.0))); }},
        {"CIUnsharpMask",
         [](Work& work, const Parameters& p) {
             work.replace(
                 unsharpMask(work.image(), parameter(p, "inputIntensity", 0.5), parameter(p, "inputRadius", 2.5)));
         }},
    };
    return registry;
}

// Gives whether any step succeeded.
bool runFilterSteps(Work& work, const std::vector<FilterStep>& steps, ProcessTrace* trace)
{
    bool succeeded = false;
    for (const FilterStep& step : steps) {
        const auto filter = filterRegistry().find(step.name);
        if (filter == filterRegistry().end()) {
            printLine("Warning: Filter " + step.name + " not found.");
            continue;
        }
        record(trace, step.name, step.parameters);
        Work saved = work;
        try {
            filter->second(work, step.parameters);
            succeeded = true;
        } catch (const vips::VError&) {
            work = std::move(saved);
            vips_error_clear();
            printLine("Warning: Filter " + step.name + " failed to process.");
        }
    }
    return succeeded;
}

PhotoEffect photoEffectOf(GrayMode mode)
{
    switch (mode) {
    case GrayMode::mono: return PhotoEffect::mono;
    case GrayMode::noir: return PhotoEffect::noir;
    case GrayMode::tonal: return PhotoEffect::tonal;
    }
    return PhotoEffect::noir;
}

const char* photoEffectName(PhotoEffect effect)
{
    switch (effect) {
    case PhotoEffect::mono: return "CIPhotoEffectMono";
    case PhotoEffect::noir: return "CIPhotoEffectNoir";
    case PhotoEffect::tonal: return "CIPhotoEffectTonal";
    }
    return "CIPhotoEffectNoir";
}

void photoEffectStep(Work& work, PhotoEffect effect, ProcessTrace* trace)
{
    record(trace, photoEffectName(effect));
    stage(work, [&] { work.point(photoEffectOp(effect)); });
}

// The tone curve that turns the scanner's samples into working values: an 8-bit image is taken to
// be sRGB-encoded, but a scan's samples are linear in light (a negative's inverted by the driver's
// tone tables, ahead of a decoding curve). With `levels`, each channel's span is stretched around
// it.
void toneCurve(Work& work, VekScanSource source, bool levels, ProcessTrace* trace)
{
    if (source == VekScanSource::negativeFilm) {
        if (levels) levelsStep(work, trace);
        record(trace, "CISRGBToneCurveToLinear");
        stage(work, [&] { work.point(decodeOp()); });
    } else {
        record(trace, "CILinearToSRGBToneCurve");
        stage(work, [&] { work.point(encodeOp()); });
    }
    if (levels) levelsStep(work, trace);
}

void colorTypeStage(Work& work, VekColorType colorType, const ImageSettings::Values& settings, ProcessTrace* trace)
{
    if (colorType == VekColorType::gray) {
        photoEffectStep(work, photoEffectOf(settings.grayMode), trace);
    } else if (colorType == VekColorType::blackAndWhite) {
        photoEffectStep(work, PhotoEffect::noir, trace);
        if (settings.bwMode == BWMode::automatic) {
            record(trace, "CIColorThresholdOtsu");
            stage(work, [&] { work.otsuThreshold(); });
        } else {
            const float threshold = static_cast<float>(settings.threshold);
            record(trace, "CIColorThreshold", {{"inputThreshold", threshold}});
            stage(work, [&] { work.point(colorThresholdOp(threshold)); });
        }
    }
}

std::vector<FilterStep> manualSteps(VekColorType colorType, const ImageSettings::Values& s)
{
    std::vector<FilterStep> steps;
    if (colorType == VekColorType::blackAndWhite) return steps;
    const bool color = colorType == VekColorType::color;
    if (s.exposure != 0.0) steps.push_back({"CIExposureAdjust", {{"inputEV", s.exposure}}});
    steps.push_back(
        {"CIColorControls",
         {{"inputBrightness", 0.0}, {"inputContrast", s.contrast}, {"inputSaturation", color ? s.saturation : 0.0}}});
    if (color && s.hue != 0.0) steps.push_back({"CIHueAdjust", {{"inputAngle", s.hue}}});
    if (s.sharpeness != 0.0) steps.push_back({"CIUnsharpMask", {{"inputIntensity", s.sharpeness}}});
    return steps;
}

void photoStage(Work& work, ProcessTrace* trace)
{
    stage(work, [&] {
        const AutoAdjustment adjustment = autoAdjustment(work.image());
        if (adjustment.toneCurve) {
            Parameters points;
            for (int k = 0; k < 5; ++k) {
                const std::string key = "inputPoint" + std::to_string(k);
                points[key + ".x"] = (*adjustment.toneCurve)[k][0];
                points[key + ".y"] = (*adjustment.toneCurve)[k][1];
            }
            record(trace, "CIToneCurve", points);
            work.point(toneCurveOp(*adjustment.toneCurve));
        }
        if (adjustment.vibranceAmount) {
            record(trace, "CIVibrance", {{"inputAmount", *adjustment.vibranceAmount}});
            work.point(vibranceOp(*adjustment.vibranceAmount));
        }
    });
}

void adjustmentStage(Work& work, VekColorType colorType, const ImageSettings::Values& settings, ProcessTrace* trace)
{
    switch (settings.adjustmentMethod) {
    case AdjustmentMethod::manual: {
        const std::vector<FilterStep> steps = manualSteps(colorType, settings);
        if (!steps.empty()) runFilterSteps(work, steps, trace);
        break;
    }
    case AdjustmentMethod::photo: photoStage(work, trace); break;
    case AdjustmentMethod::doc:
        record(trace, "CIDocumentEnhancer", {{"inputAmount", kDocumentAmount}});
        stage(work, [&] { work.documentEnhancer(kDocumentAmount); });
        break;
    case AdjustmentMethod::raw: break;
    }
}

} // namespace

namespace ImageProcessor {

Image processImage(const Image& image, const ScanSettings::Values& scanSettings, const ImageSettings::Values& settings,
                   ProcessTrace* trace, ProcessPath path)
{
    const AdjustmentMethod method = settings.adjustmentMethod;
    const VekColorType colorType = scanSettings.colorType;

    std::optional<Work> work;
    try {
        work.emplace(image, path);
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }

    // Raw leaves out every adjustment, the levels included, but not the tone curve: without it the
    // linear samples would be written and shown as if they were sRGB-encoded, far too dark.
    toneCurve(*work, scanSettings.scanSource, method != AdjustmentMethod::raw, trace);
    colorTypeStage(*work, colorType, settings, trace);
    // The final levels set the image's range again after what the stages before them did. The
    // manual sliders are there to change that range, so with them the levels come first: measured
    // after exposure or contrast, they would stretch the change back out.
    if (method == AdjustmentMethod::manual) levelsStep(*work, trace);
    adjustmentStage(*work, colorType, settings, trace);
    if (method == AdjustmentMethod::photo || method == AdjustmentMethod::doc) levelsStep(*work, trace);
    if (colorType == VekColorType::blackAndWhite) {
        record(trace, "bilevel");
        stage(*work, [&] { work->bilevel(); });
    }
    if (settings.experiment) {
        record(trace, "CIContrastStretch");
        stage(*work, [&] {
            if (const std::optional<LinearStretch> stretch = measureContrastStretch(work->image()))
                work->matrix(ColorMatrix::uniform(stretch->scale, stretch->offset));
        });
    }
    if (settings.invert) {
        record(trace, "CIColorInvert");
        stage(*work, [&] { work->matrix(invertMatrix()); });
    }

    try {
        return work->image();
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }
}

std::optional<ChannelLevels> detectChannelLevels(const Image& image)
{
    try {
        return levelsFromCounts(readBackHistogram(image));
    } catch (const vips::VError&) {
        reportLevelsFailure();
        return std::nullopt;
    }
}

std::optional<Image> stretchChannelLevels(const Image& image, const Color& minimum, const Color& maximum)
{
    try {
        return colorMatrix(image, levelsMatrix(minimum, maximum));
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

Image applyFilters(const Image& image, const std::vector<FilterStep>& steps)
{
    try {
        Work work(image, ProcessPath::fused);
        if (!runFilterSteps(work, steps, nullptr)) return image;
        return work.image();
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }
}

std::optional<Image> convertToBilevel(const std::optional<Image>& image)
{
    if (!image) return std::nullopt;
    try {
        return bilevelImage(*image);
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

std::optional<Image> contrastStretch(const Image& image)
{
    CIContrastStretch filter;
    filter.inputImage = image;
    return filter.outputImage();
}

} // namespace ImageProcessor

} // namespace lumenfield
