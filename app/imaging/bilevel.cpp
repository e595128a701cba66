#include "bilevel.h"

#include "color_matrix.h"
#include "transfer_curves.h"
#include "vips_kernel.h"
#include "working_color.h"

#include <array>

namespace lumenfield {

namespace {

// round(255 E(Y)) >= 128 exactly when E(Y) >= 127.5 / 255, that is Y >= D(0.5), so the luma is
// compared with that bound instead of being encoded.
struct BilevelRule {
    std::array<std::array<double, 256>, 3> weighted{};
    double bound = srgb::decode(0.5);

    BilevelRule()
    {
        const auto& decoded = srgb::byteDecodeTableExact();
        for (int b = 0; b < 3; ++b)
            for (int x = 0; x < 256; ++x) weighted[b][x] = kLumaWeights[b] * decoded[x];
    }
    bool white(std::uint8_t r, std::uint8_t g, std::uint8_t b) const
    {
        return weighted[0][r] + weighted[1][g] + weighted[2][b] >= bound;
    }
};

const BilevelRule& rule()
{
    static const BilevelRule instance;
    return instance;
}

class BilevelKernel final : public RowKernel {
public:
    void row(const VipsPel* in, VipsPel* out, int width, int, int) const override
    {
        const BilevelRule& r = rule();
        for (int i = 0; i < width; ++i) out[i] = r.white(in[3 * i], in[3 * i + 1], in[3 * i + 2]) ? 255 : 0;
    }
};

class BilevelOp final : public PointOp {
public:
    void apply(float* rgb, int width, int, int) const override
    {
        const BilevelRule& r = rule();
        const srgb::ByteEncoder& encode = srgb::byteEncoder();
        for (int i = 0; i < width; ++i) {
            float* p = rgb + 3 * i;
            p[0] = p[1] = p[2] = r.white(encode(p[0]), encode(p[1]), encode(p[2])) ? 1.0f : 0.0f;
        }
    }
};

} // namespace

std::uint8_t bilevelByte(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return rule().white(red, green, blue) ? 255 : 0;
}

Image bilevelImage(const Image& image)
{
    return pointOperation(encode8(image, EncodeSpace::sRGB), kByteRGB, kByteGrey, std::make_shared<BilevelKernel>());
}

PointOpPtr bilevelOp()
{
    return std::make_shared<BilevelOp>();
}

} // namespace lumenfield
