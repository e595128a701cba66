#include "point_program.h"

#include "transfer_curves.h"
#include "vips_kernel.h"
#include "working_color.h"

#include <cstring>

namespace lumenfield {

float PointOp::channel(int, float value) const
{
    return value;
}

namespace {

// One row through the program: the bytes through their tables (or the floats as they are), then
// every step. Rows of the image and lists of colours both go through here, so that a colour comes
// out the same either way.
void runProgram(const ByteTables* tables, const std::vector<PointOpPtr>& ops, const VipsPel* in, float* rgb, int width,
                int x, int y)
{
    if (tables) {
        const ByteTables& t = *tables;
        for (int i = 0; i < width; ++i) {
            rgb[3 * i] = t[0][in[3 * i]];
            rgb[3 * i + 1] = t[1][in[3 * i + 1]];
            rgb[3 * i + 2] = t[2][in[3 * i + 2]];
        }
    } else {
        std::memcpy(rgb, in, sizeof(float) * 3 * static_cast<size_t>(width));
    }
    for (const PointOpPtr& op : ops) op->apply(rgb, width, x, y);
}

std::shared_ptr<const ByteTables> decodeTables()
{
    static const auto tables = [] {
        auto t = std::make_shared<ByteTables>();
        for (auto& band : *t) band = srgb::byteDecodeTable();
        return std::shared_ptr<const ByteTables>(std::move(t));
    }();
    return tables;
}

class ProgramKernel final : public RowKernel {
public:
    ProgramKernel(std::shared_ptr<const ByteTables> tables, std::vector<PointOpPtr> ops)
        : tables_(std::move(tables)), ops_(std::move(ops))
    {}

    void row(const VipsPel* in, VipsPel* out, int width, int x, int y) const override
    {
        runProgram(tables_.get(), ops_, in, reinterpret_cast<float*>(out), width, x, y);
    }

private:
    std::shared_ptr<const ByteTables> tables_;
    std::vector<PointOpPtr> ops_;
};

class MatrixOp final : public PointOp {
public:
    explicit MatrixOp(const ColorMatrix& matrix) : matrix_(matrix), diagonal_(matrix.isDiagonal())
    {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) rows_[r][c] = static_cast<float>(matrix.rows[r][c]);
            offset_[r] = static_cast<float>(matrix.offset[r]);
        }
    }

    void apply(float* rgb, int width, int, int) const override
    {
        if (diagonal_) {
            const float s0 = rows_[0][0], s1 = rows_[1][1], s2 = rows_[2][2];
            const float o0 = offset_[0], o1 = offset_[1], o2 = offset_[2];
            for (int i = 0; i < width; ++i) {
                float* p = rgb + 3 * i;
                p[0] = p[0] * s0 + o0;
                p[1] = p[1] * s1 + o1;
                p[2] = p[2] * s2 + o2;
            }
            return;
        }
        const auto& m = rows_;
        for (int i = 0; i < width; ++i) {
            float* p = rgb + 3 * i;
            const float r = p[0], g = p[1], b = p[2];
            p[0] = m[0][0] * r + m[0][1] * g + m[0][2] * b + offset_[0];
            p[1] = m[1][0] * r + m[1][1] * g + m[1][2] * b + offset_[1];
            p[2] = m[2][0] * r + m[2][1] * g + m[2][2] * b + offset_[2];
        }
    }
    bool isPerChannel() const override { return diagonal_; }
    float channel(int band, float value) const override { return value * rows_[band][band] + offset_[band]; }
    const ColorMatrix* matrix() const override { return &matrix_; }

private:
    ColorMatrix matrix_;
    bool diagonal_;
    float rows_[3][3];
    float offset_[3];
};

class UnitCurveOp final : public PointOp {
public:
    explicit UnitCurveOp(std::vector<float> table)
        : table_(std::move(table)), steps_(static_cast<int>(table_.size()) - 1)
    {}

    void apply(float* rgb, int width, int, int) const override
    {
        for (int i = 0; i < 3 * width; ++i) rgb[i] = at(rgb[i]);
    }
    bool isPerChannel() const override { return true; }
    float channel(int, float value) const override { return at(value); }

private:
    float at(float value) const
    {
        const float position = clampUnit(value) * static_cast<float>(steps_);
        const int i = static_cast<int>(position);
        if (i >= steps_) return table_[steps_];
        const float f = position - toFloat(i);
        return table_[i] + f * (table_[i + 1] - table_[i]);
    }

    std::vector<float> table_;
    int steps_;
};

class LumaCurveOp final : public PointOp {
public:
    explicit LumaCurveOp(std::vector<float> table) : table_(std::move(table)) {}

    void apply(float* rgb, int width, int, int) const override
    {
        constexpr float wr = float(kLumaWeights[0]), wg = float(kLumaWeights[1]), wb = float(kLumaWeights[2]);
        const float* table = table_.data();
        for (int i = 0; i < width; ++i) {
            float* p = rgb + 3 * i;
            const float luma = wr * p[0] + wg * p[1] + wb * p[2];
            const float v = table[static_cast<int>(clampUnit(luma) * 65535.0f + 0.5f)];
            p[0] = p[1] = p[2] = v;
        }
    }

private:
    std::vector<float> table_;
};

} // namespace

PointProgram::PointProgram(const Image& image)
{
    const Image rgb = threeBands(image);
    switch (rgb.format()) {
    case VIPS_FORMAT_FLOAT: base_ = rgb; break;
    case VIPS_FORMAT_DOUBLE: base_ = rgb.cast(VIPS_FORMAT_FLOAT); break;
    case VIPS_FORMAT_UCHAR: base_ = rgb; break;
    default: base_ = rgb.cast(VIPS_FORMAT_UCHAR); break;
    }
    if (base_.format() == VIPS_FORMAT_UCHAR) {
        tables_ = decodeTables();
    } else if (base_.interpretation() != VIPS_INTERPRETATION_scRGB) {
        base_ = base_.copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
    }
}

void PointProgram::append(PointOpPtr op)
{
    if (tables_ && ops_.empty() && op->isPerChannel()) {
        auto tables = std::make_shared<ByteTables>(*tables_);
        for (int band = 0; band < 3; ++band)
            for (float& value : (*tables)[band]) value = op->channel(band, value);
        tables_ = std::move(tables);
        return;
    }
    if (!ops_.empty() && ops_.back()->matrix() && op->matrix()) {
        ops_.back() = matrixOp(ops_.back()->matrix()->then(*op->matrix()));
        return;
    }
    ops_.push_back(std::move(op));
}

Image PointProgram::image() const
{
    if (!tables_ && ops_.empty()) return base_;
    return pointOperation(base_, tables_ ? kByteRGB : kFloatRGB, kFloatRGB,
                          std::make_shared<ProgramKernel>(tables_, ops_));
}

const Image* PointProgram::colourSource() const
{
    if (!tables_) return nullptr;
    for (const PointOpPtr& op : ops_)
        if (op->dependsOnPosition()) return nullptr;
    return &base_;
}

void PointProgram::applyToBytes(const uint8_t* bytes, float* rgb, int count) const
{
    runProgram(tables_.get(), ops_, bytes, rgb, count, 0, 0);
}

PointProgram PointProgram::on(const Image& part) const
{
    PointProgram program = *this;
    program.base_ = threeBands(part);
    return program;
}

Image applyPointOp(const Image& image, PointOpPtr op)
{
    PointProgram program(toWorking(image));
    program.append(std::move(op));
    return program.image();
}

PointOpPtr matrixOp(const ColorMatrix& matrix)
{
    return std::make_shared<MatrixOp>(matrix);
}

namespace point_program_detail {

PointOpPtr unitCurveOp(std::vector<float> table)
{
    return std::make_shared<UnitCurveOp>(std::move(table));
}

PointOpPtr lumaCurveOp(std::vector<float> table)
{
    return std::make_shared<LumaCurveOp>(std::move(table));
}

} // namespace point_program_detail

} // namespace lumenfield
