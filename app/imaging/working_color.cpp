#include "working_color.h"

#include "point_program.h"
#include "transfer_curves.h"
#include "vips_kernel.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace lumenfield {

namespace {

constexpr double kAdobeGamma = 256.0 / 563.0;

// round(255 clamp(v)^(256/563)): a table of 65536 steps over 0..1, the exact power below 1/256,
// where the curve is too steep for the table to stay within a level.
class AdobeEncoder {
public:
    static constexpr int kSteps = 65535;

    AdobeEncoder() : bytes_(kSteps + 1)
    {
        for (int i = 0; i <= kSteps; ++i) bytes_[i] = exact(double(i) / kSteps);
    }
    std::uint8_t operator()(float v) const
    {
        const float u = clampUnit(v);
        if (u < 1.0f / 256.0f) return exact(u);
        return bytes_[static_cast<int>(u * float(kSteps) + 0.5f)];
    }

private:
    static std::uint8_t exact(double u) { return static_cast<std::uint8_t>(readBack(std::pow(u, kAdobeGamma))); }
    std::vector<std::uint8_t> bytes_;
};

const AdobeEncoder& adobeEncoder()
{
    static const AdobeEncoder encoder;
    return encoder;
}

class EncodeKernel final : public RowKernel {
public:
    explicit EncodeKernel(EncodeSpace space) : space_(space) {}

    void row(const VipsPel* in, VipsPel* out, int width, int, int) const override
    {
        const auto* c = reinterpret_cast<const float*>(in);
        const int n = 3 * width;
        switch (space_) {
        case EncodeSpace::sRGB: {
            const srgb::ByteEncoder& encode = srgb::byteEncoder();
            for (int i = 0; i < n; ++i) out[i] = encode(c[i]);
            break;
        }
        case EncodeSpace::linear:
            for (int i = 0; i < n; ++i) out[i] = static_cast<VipsPel>(readBack(c[i]));
            break;
        case EncodeSpace::adobeRGB: {
            const AdobeEncoder& encode = adobeEncoder();
            for (int i = 0; i < n; i += 3) {
                for (int row = 0; row < 3; ++row) {
                    const double v = kSRGBToAdobeRGB[row][0] * c[i] + kSRGBToAdobeRGB[row][1] * c[i + 1] +
                        kSRGBToAdobeRGB[row][2] * c[i + 2];
                    out[i + row] = encode(static_cast<float>(v));
                }
            }
            break;
        }
        }
    }

private:
    EncodeSpace space_;
};

} // namespace

Image threeBands(const Image& image)
{
    const int bands = image.bands();
    if (bands == 3) return image;
    if (bands > 3) return image.extract_band(0, Image::option()->set("n", 3));
    const Image first = bands == 1 ? image : image.extract_band(0);
    return Image::bandjoin(std::vector<Image>{first, first, first});
}

bool isEightBit(const Image& image)
{
    return image.format() == VIPS_FORMAT_UCHAR;
}

Image toWorking(const Image& image)
{
    return PointProgram(image).image();
}

Image encode8(const Image& image, EncodeSpace space)
{
    if (space == EncodeSpace::sRGB && isEightBit(image)) {
        const Image rgb = threeBands(image);
        if (rgb.interpretation() == VIPS_INTERPRETATION_sRGB) return rgb;
        return rgb.copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }
    return pointOperation(toWorking(image), kFloatRGB, kByteRGB, std::make_shared<EncodeKernel>(space));
}

} // namespace lumenfield
