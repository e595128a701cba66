// Per-pixel steps fused into one own operation.
//
// Consecutive point steps need not each become an image of their own: a program holds the image it
// starts from and the steps still to apply, and becomes one point kernel when its image is asked
// for. Steps that act on each channel alone fold into per-byte tables while the program starts from
// 8-bit pixels, and consecutive colour matrices compose into one.
#pragma once

#include "color_matrix.h"
#include "vips_image.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumenfield {

// One per-pixel step over a row of working pixels (interleaved r, g, b floats).
class PointOp {
public:
    virtual ~PointOp() = default;
    // `rgb` holds `width` pixels of row `y` from column `x` on; they are changed in place.
    virtual void apply(float* rgb, int width, int x, int y) const = 0;
    // A step that maps each channel through a function of that channel alone says so here.
    virtual bool isPerChannel() const { return false; }
    virtual float channel(int band, float value) const;
    // A colour matrix step gives its matrix.
    virtual const ColorMatrix* matrix() const { return nullptr; }
    // A step whose result depends on where the pixel lies, not only on its value, says so here.
    virtual bool dependsOnPosition() const { return false; }
};

using PointOpPtr = std::shared_ptr<const PointOp>;

// For each band, the working value of every byte.
using ByteTables = std::array<std::array<float, 256>, 3>;

class PointProgram {
public:
    // Starts from an image of either form: 8-bit pixels are decoded through byte tables.
    explicit PointProgram(const Image& image);

    void append(PointOpPtr op);
    // The working image the program computes, built lazily. Throws vips::VError when libvips
    // cannot build it.
    Image image() const;

    // The 8-bit image the program starts from, when it has only byte tables so far.
    const Image* byteSource() const { return tables_ && ops_.empty() ? &base_ : nullptr; }
    const ByteTables* tables() const { return tables_.get(); }

    // The 8-bit image the program starts from, when every pixel's result depends on its own
    // three bytes alone (no step looks at where the pixel lies): then the program's values over the
    // image are its values over the colours the image holds.
    const Image* colourSource() const;
    // The program's working values for `count` 8-bit pixels (interleaved r, g, b) into `rgb`, as
    // the image would hold them for pixels of those bytes. Only for a program with a colour source.
    void applyToBytes(const uint8_t* bytes, float* rgb, int count) const;
    // The same steps started from `part`, an 8-bit image of the same kind (a part or a sample of the
    // one this program starts from). Only for a program with a colour source.
    PointProgram on(const Image& part) const;

private:
    Image base_; // 3-band uchar with tables, or 3-band float
    std::shared_ptr<const ByteTables> tables_;
    std::vector<PointOpPtr> ops_;
};

// The step applied to the working form of `image`, as an image of its own.
Image applyPointOp(const Image& image, PointOpPtr op);

// Generic steps.
PointOpPtr matrixOp(const ColorMatrix& matrix);
// Each channel through the same function of that channel alone.
template <typename F> PointOpPtr channelOp(F f);
// Each channel through f(clamp(c)), tabulated at `steps` + 1 points over 0..1 and interpolated.
template <typename F> PointOpPtr unitCurveOp(F&& f, int steps = 16384);
// r = g = b = f(clamp(Y)), Y the luma of linear sRGB, tabulated at 65536 points over 0..1.
template <typename F> PointOpPtr lumaCurveOp(F&& f);

namespace point_program_detail {
PointOpPtr unitCurveOp(std::vector<float> table);
PointOpPtr lumaCurveOp(std::vector<float> table);
} // namespace point_program_detail

template <typename F> class ChannelOp final : public PointOp {
public:
    explicit ChannelOp(F f) : f_(std::move(f)) {}
    void apply(float* rgb, int width, int, int) const override
    {
        for (int i = 0; i < 3 * width; ++i) rgb[i] = f_(rgb[i]);
    }
    bool isPerChannel() const override { return true; }
    float channel(int, float value) const override { return f_(value); }

private:
    F f_;
};

template <typename F> PointOpPtr channelOp(F f)
{
    return std::make_shared<ChannelOp<F>>(std::move(f));
}

template <typename F> PointOpPtr unitCurveOp(F&& f, int steps)
{
    std::vector<float> table(static_cast<size_t>(steps) + 1);
    for (int i = 0; i <= steps; ++i) table[i] = static_cast<float>(f(double(i) / steps));
    return point_program_detail::unitCurveOp(std::move(table));
}

template <typename F> PointOpPtr lumaCurveOp(F&& f)
{
    std::vector<float> table(65536);
    for (int i = 0; i < 65536; ++i) table[i] = static_cast<float>(f(double(i) / 65535.0));
    return point_program_detail::lumaCurveOp(std::move(table));
}

} // namespace lumenfield
