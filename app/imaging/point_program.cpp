#include "point_program.h"

#include "transfer_curves.h"
#include "vips_kernel.h"
#include "working_color.h"

#include <cstring>

float PointOp::channel(int, float value) const {
    return value;
}

namespace {

std::shared_ptr<const ByteTables> decodeTables() {
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
        : m_tables(std::move(tables)), m_ops(std::move(ops)) {}

    void row(const VipsPel* in, VipsPel* out, int width, int x, int y) const override {
        auto* rgb = reinterpret_cast<float*>(out);
        if (m_tables) {
            const ByteTables& t = *m_tables;
            for (int i = 0; i < width; ++i) {
                rgb[3 * i] = t[0][in[3 * i]];
                rgb[3 * i + 1] = t[1][in[3 * i + 1]];
                rgb[3 * i + 2] = t[2][in[3 * i + 2]];
            }
        } else {
            std::memcpy(rgb, in, sizeof(float) * 3 * static_cast<size_t>(width));
        }
        for (const PointOpPtr& op : m_ops) op->apply(rgb, width, x, y);
    }

private:
    std::shared_ptr<const ByteTables> m_tables;
    std::vector<PointOpPtr> m_ops;
};

class MatrixOp final : public PointOp {
public:
    explicit MatrixOp(const ColorMatrix& matrix) : m_matrix(matrix), m_diagonal(matrix.isDiagonal()) {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m_rows[r][c] = static_cast<float>(matrix.rows[r][c]);
            m_offset[r] = static_cast<float>(matrix.offset[r]);
        }
    }

    void apply(float* rgb, int width, int, int) const override {
        if (m_diagonal) {
            const float s0 = m_rows[0][0], s1 = m_rows[1][1], s2 = m_rows[2][2];
            const float o0 = m_offset[0], o1 = m_offset[1], o2 = m_offset[2];
            for (int i = 0; i < width; ++i) {
                float* p = rgb + 3 * i;
                p[0] = p[0] * s0 + o0;
                p[1] = p[1] * s1 + o1;
                p[2] = p[2] * s2 + o2;
            }
            return;
        }
        const auto& m = m_rows;
        for (int i = 0; i < width; ++i) {
            float* p = rgb + 3 * i;
            const float r = p[0], g = p[1], b = p[2];
            p[0] = m[0][0] * r + m[0][1] * g + m[0][2] * b + m_offset[0];
            p[1] = m[1][0] * r + m[1][1] * g + m[1][2] * b + m_offset[1];
            p[2] = m[2][0] * r + m[2][1] * g + m[2][2] * b + m_offset[2];
        }
    }
    bool isPerChannel() const override { return m_diagonal; }
    float channel(int band, float value) const override {
        return value * m_rows[band][band] + m_offset[band];
    }
    const ColorMatrix* matrix() const override { return &m_matrix; }

private:
    ColorMatrix m_matrix;
    bool m_diagonal;
    float m_rows[3][3];
    float m_offset[3];
};

class UnitCurveOp final : public PointOp {
public:
    explicit UnitCurveOp(std::vector<float> table)
        : m_table(std::move(table)), m_steps(static_cast<int>(m_table.size()) - 1) {}

    void apply(float* rgb, int width, int, int) const override {
        for (int i = 0; i < 3 * width; ++i) rgb[i] = at(rgb[i]);
    }
    bool isPerChannel() const override { return true; }
    float channel(int, float value) const override { return at(value); }

private:
    float at(float value) const {
        const float position = clampUnit(value) * static_cast<float>(m_steps);
        const int i = static_cast<int>(position);
        if (i >= m_steps) return m_table[m_steps];
        const float f = position - toFloat(i);
        return m_table[i] + f * (m_table[i + 1] - m_table[i]);
    }

    std::vector<float> m_table;
    int m_steps;
};

class LumaCurveOp final : public PointOp {
public:
    explicit LumaCurveOp(std::vector<float> table) : m_table(std::move(table)) {}

    void apply(float* rgb, int width, int, int) const override {
        constexpr float wr = float(kLumaWeights[0]), wg = float(kLumaWeights[1]),
                        wb = float(kLumaWeights[2]);
        const float* table = m_table.data();
        for (int i = 0; i < width; ++i) {
            float* p = rgb + 3 * i;
            const float luma = wr * p[0] + wg * p[1] + wb * p[2];
            const float v = table[static_cast<int>(clampUnit(luma) * 65535.0f + 0.5f)];
            p[0] = p[1] = p[2] = v;
        }
    }

private:
    std::vector<float> m_table;
};

}  // namespace

PointProgram::PointProgram(const Image& image) {
    const Image rgb = threeBands(image);
    switch (rgb.format()) {
        case VIPS_FORMAT_FLOAT: m_base = rgb; break;
        case VIPS_FORMAT_DOUBLE: m_base = rgb.cast(VIPS_FORMAT_FLOAT); break;
        case VIPS_FORMAT_UCHAR: m_base = rgb; break;
        default: m_base = rgb.cast(VIPS_FORMAT_UCHAR); break;
    }
    if (m_base.format() == VIPS_FORMAT_UCHAR) {
        m_tables = decodeTables();
    } else if (m_base.interpretation() != VIPS_INTERPRETATION_scRGB) {
        m_base = m_base.copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
    }
}

void PointProgram::append(PointOpPtr op) {
    if (m_tables && m_ops.empty() && op->isPerChannel()) {
        auto tables = std::make_shared<ByteTables>(*m_tables);
        for (int band = 0; band < 3; ++band)
            for (float& value : (*tables)[band]) value = op->channel(band, value);
        m_tables = std::move(tables);
        return;
    }
    if (!m_ops.empty() && m_ops.back()->matrix() && op->matrix()) {
        m_ops.back() = matrixOp(m_ops.back()->matrix()->then(*op->matrix()));
        return;
    }
    m_ops.push_back(std::move(op));
}

Image PointProgram::image() const {
    if (!m_tables && m_ops.empty()) return m_base;
    return pointOperation(m_base, m_tables ? kByteRGB : kFloatRGB, kFloatRGB,
                          std::make_shared<ProgramKernel>(m_tables, m_ops));
}

Image applyPointOp(const Image& image, PointOpPtr op) {
    PointProgram program(toWorking(image));
    program.append(std::move(op));
    return program.image();
}

PointOpPtr matrixOp(const ColorMatrix& matrix) {
    return std::make_shared<MatrixOp>(matrix);
}

namespace point_program_detail {

PointOpPtr unitCurveOp(std::vector<float> table) {
    return std::make_shared<UnitCurveOp>(std::move(table));
}

PointOpPtr lumaCurveOp(std::vector<float> table) {
    return std::make_shared<LumaCurveOp>(std::move(table));
}

}  // namespace point_program_detail
