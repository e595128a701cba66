#include "document_enhancer.h"

#include "float_vectors.h"
#include "transfer_curves.h"
#include "working_color.h"

#include <algorithm>
#include <cmath>

namespace lumenfield {

namespace {

// Where each full-size row or column samples the background: the two neighbours and the weight of
// the second, with pixel centres aligned and edges clamped.
struct Samples {
    std::vector<int> lower, upper;
    std::vector<float> weight;

    Samples(int fullSize, int size) : lower(fullSize), upper(fullSize), weight(fullSize)
    {
        const double scale = double(size) / fullSize;
        for (int i = 0; i < fullSize; ++i) {
            const double p = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(size - 1));
            lower[i] = static_cast<int>(p);
            upper[i] = std::min(lower[i] + 1, size - 1);
            weight[i] = static_cast<float>(p - lower[i]);
        }
    }
};

class DocumentEnhancerOp final : public PointOp {
public:
    DocumentEnhancerOp(std::shared_ptr<const DocumentBackground> background, double amount)
        : background_(std::move(background))
        , gain_(static_cast<float>(1.0 + 0.1 * amount))
        , columns_(background_->fullWidth, background_->width)
        , rows_(background_->fullHeight, background_->height)
    {}

    bool dependsOnPosition() const override { return true; }

    // In three simple passes over the row rather than one long chain per pixel, so that the
    // processor overlaps the table lookups of many pixels.
    void apply(float* rgb, int width, int x, int y) const override
    {
        const DocumentBackground& bg = *background_;
        const srgb::FastCurve& encode = srgb::fastEncode();
        const srgb::FastCurve& decode = srgb::fastDecode();
        const int n = 3 * width;
        for (int i = 0; i < n; ++i) rgb[i] = clampUnit(rgb[i]);
        encode.applyUnit(rgb, n);

        // The background at each pixel: the row at this y, interpolated vertically once for the
        // columns in reach, then horizontally per pixel.
        const int first = columns_.lower[x], last = columns_.upper[x + width - 1];
        thread_local std::vector<float> row, background;
        row.resize(size_t(last - first + 1) * 3);
        background.resize(size_t(n));
        const float fy = rows_.weight[y];
        const float* top = bg.values.data() + (size_t(rows_.lower[y]) * bg.width + first) * 3;
        const float* bottom = bg.values.data() + (size_t(rows_.upper[y]) * bg.width + first) * 3;
        for (size_t k = 0; k < row.size(); ++k) row[k] = top[k] + fy * (bottom[k] - top[k]);
        for (int i = 0; i < width; ++i) {
            const float* left = row.data() + 3 * (columns_.lower[x + i] - first);
            const float* right = row.data() + 3 * (columns_.upper[x + i] - first);
            const float fx = columns_.weight[x + i];
            for (int b = 0; b < 3; ++b) background[3 * i + b] = left[b] + fx * (right[b] - left[b]);
        }

        // v = clamp(e / max(bg, 0.05)), then clamp(1 - (1 - v) gain), four values at a time.
        const Floats4 zero{0, 0, 0, 0}, one{1, 1, 1, 1}, floor{0.05f, 0.05f, 0.05f, 0.05f};
        const Floats4 gain{gain_, gain_, gain_, gain_};
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            const Floats4 e = loadFloats4(rgb + i);
            const Floats4 v = min4(max4(e / max4(loadFloats4(background.data() + i), floor), zero), one);
            storeFloats4(rgb + i, min4(max4(one - (one - v) * gain, zero), one));
        }
        for (; i < n; ++i) {
            const float v = clampUnit(rgb[i] / std::max(background[i], 0.05f));
            rgb[i] = clampUnit(1.0f - (1.0f - v) * gain_);
        }
        decode.applyUnit(rgb, n);
    }

private:
    std::shared_ptr<const DocumentBackground> background_;
    float gain_;
    Samples columns_;
    Samples rows_;
};

} // namespace

PointOpPtr clampedEncodeOp()
{
    const srgb::FastCurve* encode = &srgb::fastEncode();
    return channelOp([encode](float c) { return encode->unit(clampUnit(c)); });
}

std::shared_ptr<const DocumentBackground> documentBackground(const Image& encoded)
{
    const int factor = std::max(1, static_cast<int>(std::ceil(std::max(encoded.width(), encoded.height()) / 512.0)));
    const Image reduced = factor > 1 ? encoded.shrink(factor, factor) : encoded;
    const Image background = reduced.rank(7, 7, 48)
                                 .gaussblur(2.0, Image::option()->set("precision", VIPS_PRECISION_FLOAT))
                                 .cast(VIPS_FORMAT_FLOAT)
                                 .copy_memory();
    auto result = std::make_shared<DocumentBackground>();
    result->width = background.width();
    result->height = background.height();
    result->fullWidth = encoded.width();
    result->fullHeight = encoded.height();
    size_t size = 0;
    void* memory = background.write_to_memory(&size);
    const std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const auto* values = static_cast<const float*>(memory);
    result->values.assign(values, values + size / sizeof(float));
    if (result->values.size() != size_t(result->width) * result->height * 3)
        throw vips::VError("document background: unexpected layout");
    return result;
}

PointOpPtr documentEnhancerOp(std::shared_ptr<const DocumentBackground> background, double amount)
{
    return std::make_shared<DocumentEnhancerOp>(std::move(background), amount);
}

Image documentEnhancer(const Image& image, double amount)
{
    const Image working = toWorking(image);
    const auto background = documentBackground(applyPointOp(working, clampedEncodeOp()));
    return applyPointOp(working, documentEnhancerOp(background, amount));
}

} // namespace lumenfield
