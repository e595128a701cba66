#include "document_enhancer.h"

#include "transfer_curves.h"
#include "working_color.h"

#include <algorithm>
#include <cmath>

namespace {

// Where each full-size row or column samples the background: the two neighbours and the weight of
// the second, with pixel centres aligned and edges clamped.
struct Samples {
    std::vector<int> lower, upper;
    std::vector<float> weight;

    Samples(int fullSize, int size) : lower(fullSize), upper(fullSize), weight(fullSize) {
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
        : m_background(std::move(background)), m_gain(static_cast<float>(1.0 + 0.1 * amount)),
          m_columns(m_background->fullWidth, m_background->width),
          m_rows(m_background->fullHeight, m_background->height) {}

    void apply(float* rgb, int width, int x, int y) const override {
        const DocumentBackground& bg = *m_background;
        const srgb::FastCurve& encode = srgb::fastEncode();
        const srgb::FastCurve& decode = srgb::fastDecode();
        const float fy = m_rows.weight[y];
        const float* top = bg.values.data() + size_t(m_rows.lower[y]) * bg.width * 3;
        const float* bottom = bg.values.data() + size_t(m_rows.upper[y]) * bg.width * 3;
        for (int i = 0; i < width; ++i) {
            const int left = 3 * m_columns.lower[x + i], right = 3 * m_columns.upper[x + i];
            const float fx = m_columns.weight[x + i];
            float* p = rgb + 3 * i;
            for (int b = 0; b < 3; ++b) {
                const float upper = top[left + b] + fx * (top[right + b] - top[left + b]);
                const float lower = bottom[left + b] + fx * (bottom[right + b] - bottom[left + b]);
                const float background = upper + fy * (lower - upper);
                const float e = encode.unit(clampUnit(p[b]));
                const float v = clampUnit(e / std::max(background, 0.05f));
                p[b] = decode.unit(clampUnit(1.0f - (1.0f - v) * m_gain));
            }
        }
    }

private:
    std::shared_ptr<const DocumentBackground> m_background;
    float m_gain;
    Samples m_columns;
    Samples m_rows;
};

}  // namespace

PointOpPtr clampedEncodeOp() {
    const srgb::FastCurve* encode = &srgb::fastEncode();
    return channelOp([encode](float c) { return encode->unit(clampUnit(c)); });
}

std::shared_ptr<const DocumentBackground> documentBackground(const Image& encoded) {
    const int factor = std::max(1, static_cast<int>(std::ceil(
                                       std::max(encoded.width(), encoded.height()) / 512.0)));
    const Image reduced = factor > 1 ? encoded.shrink(factor, factor) : encoded;
    const Image background =
        reduced.rank(7, 7, 48)
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

PointOpPtr documentEnhancerOp(std::shared_ptr<const DocumentBackground> background, double amount) {
    return std::make_shared<DocumentEnhancerOp>(std::move(background), amount);
}

Image documentEnhancer(const Image& image, double amount) {
    const Image working = toWorking(image);
    const auto background = documentBackground(applyPointOp(working, clampedEncodeOp()));
    return applyPointOp(working, documentEnhancerOp(background, amount));
}
