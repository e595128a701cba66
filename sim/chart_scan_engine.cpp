#include "chart_scan_engine.h"

#include "bytes.h"
#include "calibration_page.h"
#include "scanner_model.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kLargestSide = 65535;
constexpr uint64_t kReadyLimit = 0xFFFFFFFF;
constexpr size_t kGammaTable = 256;

// Info reply offsets.
constexpr size_t kPageNumber = 4;
constexpr size_t kBytesReady = 8;
constexpr size_t kWidth = 16;
constexpr size_t kHeight = 20;
constexpr size_t kPageEnd = 24;
constexpr size_t kBackState = 26;
constexpr size_t kFrontState = 27;
constexpr size_t kDoubleFeed = 28;
constexpr size_t kJam = 29;
constexpr size_t kError = 30;
constexpr size_t kCancelPage = 34;
constexpr size_t kFeederReady = 35;

unsigned channels_of(uint8_t bits)
{
    switch (bits) {
    case 24:
    case 48: return 3;
    case 8:
    case 16: return 1;
    default: return 0;
    }
}

PageSetup decode(int side, std::span<const uint8_t, kParametersSize> p, std::span<const uint8_t, kWindowSize> w,
                 const ScannerRecords& records)
{
    PageSetup page;
    page.side = side;
    page.kind = w[0];
    page.width = le32(&p[32]);
    page.height = le32(&p[36]);
    page.bits = p[18];
    page.mono = p[19];
    page.channels = channels_of(page.bits);
    page.xres = le16(&p[20]);
    page.yres = le16(&p[22]);
    page.dot_x = le32(&p[24]);
    page.dot_y = le32(&p[28]);
    page.exposure_ratio = le16(&w[1]);
    page.media = w[6];
    page.mirrored = page.media < kMediaKinds && records.attributes[page.media][1] != 0;
    page.sensor_pixels = sensor_pixels(records, page.media, page.xres);
    return page;
}

// The chart through the sensor and the side's shading pair. Everything that depends only on the
// pixel's column is worked out at "SCAN", so a sample costs a few operations that the compiler
// turns into vector code: d = offset + round(gain × P), out16 = clamp(round(d × scale)), where the
// offset is the dark level less the shading's dark (or 0 for the ideal sensor) and the scale is
// 65535 / (white - dark) (1 without shading, 0 when white <= dark). Single precision is exact for
// the ideal sensor (gain and scale 1) and well within a count for the realistic one.
class ChartPage final : public PageGenerator {
public:
    ChartPage(std::shared_ptr<const Chart> chart, Sensor sensor) : chart_(std::move(chart)), sensor_(sensor) {}

    void begin(PageSetup& page, const ScannerRecords& records) override
    {
        page_ = page;
        const unsigned n = page.channels;
        const size_t samples = size_t{page.width} * n;
        rgb_.resize(size_t{page.width} * 3);
        reflectance_.resize(samples);
        offset_.resize(samples);
        gain_.resize(samples);
        scale_.resize(samples);

        // The side's shading pair: level 1 (dark) and level 0 (white) with the same value R,
        // depth and size, and as many channels as the scan.
        const auto& levels = page.side == 0 ? records.front_shading : records.back_shading;
        const ShadingUpload& white = levels[0];
        const ShadingUpload& dark = levels[1];
        const unsigned shading_channels = dark.deep == 4 ? 3 : 1;
        const size_t shading_pixels = dark.data.size() / (2 * shading_channels);
        const bool shaded = n > 0 && shading_channels == n && shading_pixels > 0 && !white.data.empty() &&
            white.data.size() == dark.data.size() && white.value == dark.value && white.deep == dark.deep;
        const uint64_t xres = std::max<uint16_t>(page.xres, 1);
        const bool ideal = sensor_ == Sensor::Ideal;

        for (uint32_t i = 0; i < page.width; ++i) {
            const uint64_t s = uint64_t{page.dot_x} + i;
            const double u = sensor_position(s, page.sensor_pixels);
            const size_t column = shaded ? std::min<uint64_t>(s * dark.value / xres, shading_pixels - 1) : 0;
            for (unsigned c = 0; c < n; ++c) {
                const int channel = n == 1 ? 1 : static_cast<int>(c);
                const size_t k = size_t{i} * n + c;
                int offset = ideal ? 0 : sensor_dark(channel, u);
                gain_[k] = ideal
                    ? 1.0f
                    : static_cast<float>(sensor_gain(channel, u) * sensor_white(page.exposure_ratio) / 65535.0);
                scale_[k] = 1.0f;
                if (shaded) {
                    const size_t at = 2 * (column * n + c);
                    const int d = le16(&dark.data[at]);
                    const int w = le16(&white.data[at]);
                    offset -= d;
                    scale_[k] = w > d ? static_cast<float>(65535.0 / (w - d)) : 0.0f;
                }
                offset_[k] = static_cast<float>(offset);
            }
        }
    }

    void line(uint64_t line, std::span<uint16_t> samples) override
    {
        const PageSetup& p = page_;
        const int64_t s0 = p.dot_x;
        const int64_t x0 = p.mirrored ? static_cast<int64_t>(p.sensor_pixels) - 1 - s0 : s0;
        chart_->row(static_cast<int64_t>(p.dot_y + line), x0, p.mirrored ? -1 : 1, p.width, p.xres, p.yres,
                    rgb_.data());
        // The back side sees 65535 - P.
        const uint16_t invert = p.side != 0 ? 0xFFFF : 0;
        const size_t count = samples.size();
        uint16_t* reflectance = reflectance_.data();
        if (p.channels == 3) {
            for (size_t k = 0; k < count; ++k) reflectance[k] = rgb_[k] ^ invert;
        } else {
            for (size_t i = 0; i < count; ++i) reflectance[i] = mono(&rgb_[3 * i], invert);
        }
        const float* offset = offset_.data();
        const float* gain = gain_.data();
        const float* scale = scale_.data();
        uint16_t* out = samples.data();
        for (size_t k = 0; k < count; ++k) {
            const float d = offset[k] + static_cast<float>(static_cast<int32_t>(gain[k] * reflectance[k] + 0.5f));
            out[k] = static_cast<uint16_t>(static_cast<int32_t>(std::clamp(d * scale[k] + 0.5f, 0.0f, 65535.0f)));
        }
    }

private:
    // The single channel the mono code picks, of the side's reflectances.
    uint16_t mono(const uint16_t* rgb, uint16_t invert) const
    {
        const uint32_t r = rgb[0] ^ invert, g = rgb[1] ^ invert, b = rgb[2] ^ invert;
        switch (page_.mono) {
        case 2: return static_cast<uint16_t>(g);
        case 3: return static_cast<uint16_t>(b);
        default: return static_cast<uint16_t>((299u * r + 587u * g + 114u * b) / 1000u);
        }
    }

    std::shared_ptr<const Chart> chart_;
    Sensor sensor_;
    PageSetup page_;
    std::vector<uint16_t> rgb_;
    std::vector<uint16_t> reflectance_;
    std::vector<float> offset_;
    std::vector<float> gain_;
    std::vector<float> scale_;
};

} // namespace

std::unique_ptr<PageGenerator> chart_page(std::shared_ptr<const Chart> chart, Sensor sensor)
{
    return std::make_unique<ChartPage>(std::move(chart), sensor);
}

uint64_t sensor_pixels(const ScannerRecords& records, uint8_t media, uint16_t xres)
{
    static const std::array<uint8_t, kAttributesSize> none{};
    const auto& attributes = media < kMediaKinds ? records.attributes[media] : none;
    const uint64_t max_width = le32(&attributes[16]);
    const uint64_t max_xres = le32(&attributes[4]) != 0 ? le32(&attributes[4]) : 3200;
    return std::max<uint64_t>(1, max_width * xres / max_xres);
}

struct ChartScanEngine::Page {
    bool open = false;
    PageSetup setup;
    std::unique_ptr<PageGenerator> generator; // null for the formula formats
    uint64_t line_bytes = 0;
    uint64_t lines = 0; // lines the page produces in all
    uint64_t produced_lines = 0;
    uint64_t consumed = 0;
    bool producing = false;
    bool never_ready = false;
    uint16_t reported_width = 0;
    uint16_t reported_height = 0;
    // The output conversion: 8-bit and 16-bit sample tables per channel (gamma or identity).
    unsigned gamma_tables = 0;
    std::vector<uint8_t> out8;   // gamma_tables × 256
    std::vector<uint16_t> out16; // gamma_tables × 256
    // The line being taken.
    uint64_t cached_line = UINT64_MAX;
    std::vector<uint8_t> line_buffer;
    std::vector<uint16_t> samples;

    uint64_t produced() const { return produced_lines * line_bytes; }
    uint64_t ready() const { return produced() - consumed; }
    bool page_end() const { return !never_ready && produced_lines == lines; }

    void render(uint64_t line, uint8_t* out);
};

namespace {

// The 8-bit sample nearest a 16-bit one, v × 255 / 65535 rounded: 257 16-bit steps to each 8-bit
// one, and no ties, since 257 is odd. Cutting the low byte off instead would make every sample
// darker by half a level on average, which in the shadows is a large share of the light.
inline uint8_t to_8_bits(uint16_t v)
{
    return static_cast<uint8_t>((uint32_t{v} + 128) / 257);
}

} // namespace

void ChartScanEngine::Page::render(uint64_t line, uint8_t* out)
{
    if (generator == nullptr) {
        const auto base = static_cast<uint8_t>(13 * line);
        for (uint64_t k = 0; k < line_bytes; ++k) out[k] = static_cast<uint8_t>(7 * k + base);
        return;
    }
    generator->line(line, samples);
    // Plain pointers: stores through a byte pointer could otherwise alias the vectors' own fields.
    const uint16_t* in = samples.data();
    const size_t count = samples.size();
    const unsigned n = setup.channels;
    if (gamma_tables == 0) {
        if (setup.bits == 8 || setup.bits == 24) {
            for (size_t k = 0; k < count; ++k) out[k] = to_8_bits(in[k]);
        } else {
            for (size_t k = 0; k < count; ++k) {
                out[2 * k] = static_cast<uint8_t>(in[k]);
                out[2 * k + 1] = static_cast<uint8_t>(in[k] >> 8);
            }
        }
        return;
    }
    // With one table per channel a single-channel scan reads the green one.
    const auto table = [&](size_t k) -> size_t {
        if (gamma_tables == 1) return 0;
        return n == 1 ? kGammaTable : (k % n) * kGammaTable;
    };
    for (size_t k = 0; k < count; ++k) {
        const size_t at = table(k) + to_8_bits(in[k]);
        if (setup.bits == 8 || setup.bits == 24)
            out[k] = out8[at];
        else
            set_le16(out + 2 * k, out16[at]);
    }
}

ChartScanEngine::ChartScanEngine() : chart_(pattern_chart())
{
    for (auto& p : pages_) p = std::make_unique<Page>();
}

ChartScanEngine::~ChartScanEngine() = default;

void ChartScanEngine::set_chart(std::shared_ptr<const Chart> chart)
{
    chart_ = chart ? std::move(chart) : pattern_chart();
}

void ChartScanEngine::set_sensor(Sensor sensor)
{
    sensor_ = sensor;
}

void ChartScanEngine::set_production(const Production& production)
{
    production_ = production;
}

void ChartScanEngine::set_page_generator(uint8_t kind, PageGeneratorFactory factory)
{
    if (factory)
        generators_[kind] = std::move(factory);
    else
        generators_.erase(kind);
}

void ChartScanEngine::set_calibration_noise(bool noisy)
{
    noisy_ = noisy;
}

void ChartScanEngine::set_geometry_fault(const GeometryFault& fault)
{
    geometry_ = fault;
}

void ChartScanEngine::add_status_fault(const StatusFault& fault)
{
    status_faults_.push_back(fault);
}

uint64_t ChartScanEngine::produced(int side) const
{
    return page(side).open ? page(side).produced() : 0;
}

uint64_t ChartScanEngine::consumed(int side) const
{
    return page(side).open ? page(side).consumed : 0;
}

Sense ChartScanEngine::scan(std::span<const uint8_t, kParametersSize> parameters,
                            std::span<const uint8_t, kWindowSize> window, const ScannerRecords& records)
{
    if (le32(&parameters[32]) > kLargestSide || le32(&parameters[36]) > kLargestSide) return sense::kInvalidParameter;
    polls_ = 0;
    const uint8_t sides = parameters[10];
    for (int side = 0; side < 2; ++side) {
        Page& p = page(side);
        p.open = (sides & (1 << side)) != 0;
        p.generator.reset();
        p.cached_line = UINT64_MAX;
        if (!p.open) continue;
        p.setup = decode(side, parameters, window, records);
        if (p.setup.kind == 0) p.setup.width += geometry_.wider_by;
        if (p.setup.channels > 0) {
            const auto it = generators_.find(p.setup.kind);
            const bool calibration = p.setup.kind == 1 || p.setup.kind == 2;
            p.generator = it != generators_.end() ? it->second()
                : calibration                     ? calibration_page(sensor_, noisy_)
                                                  : chart_page(chart_, sensor_);
            p.generator->begin(p.setup, records);
            p.setup.width = std::min(p.setup.width, kLargestSide);
            p.setup.height = std::min(p.setup.height, kLargestSide);
            p.samples.assign(size_t{p.setup.width} * p.setup.channels, 0);
        }
        p.line_bytes = uint64_t{p.setup.width} * p.setup.bits / 8;
        p.line_buffer.resize(p.line_bytes);
        p.lines = geometry_.end_without_data
            ? 0
            : std::min<uint64_t>(p.setup.height, geometry_.end_after.value_or(UINT32_MAX));
        p.never_ready = geometry_.never_ready;
        p.producing = !p.never_ready;
        p.produced_lines = production_.mode == Production::Mode::Instant && p.producing ? p.lines : 0;
        p.consumed = 0;
        p.reported_width = geometry_.width.value_or(static_cast<uint16_t>(p.setup.width));
        p.reported_height = geometry_.height.value_or(static_cast<uint16_t>(p.setup.height));

        // Gamma: window byte 51 with a received set; control byte 0 = 4 means one table per channel.
        const bool per_channel = records.gamma_control[0] == 4 && records.gamma_tables.size() >= kGammaSizePerChannel;
        p.gamma_tables = window[11] == 1 && records.gamma_tables.size() >= kGammaSize ? (per_channel ? 3 : 1) : 0;
        p.out8.resize(p.gamma_tables * kGammaTable);
        p.out16.resize(p.gamma_tables * kGammaTable);
        for (size_t v = 0; v < p.out8.size(); ++v) {
            const uint32_t t = le32(&records.gamma_tables[4 * v]);
            p.out8[v] = static_cast<uint8_t>(std::min<uint32_t>(t >> 8, 255));
            p.out16[v] = static_cast<uint16_t>(std::min<uint32_t>(t, 65535));
        }
    }
    return {};
}

void ChartScanEngine::stop()
{
    for (auto& p : pages_) p->producing = false;
}

void ChartScanEngine::cancel(uint8_t how)
{
    if (how == 0) {
        flags_.clear();
        return;
    }
    if (how != 1) return;
    for (auto& p : pages_) {
        p->consumed = p->produced();
        p->producing = false;
    }
}

void ChartScanEngine::produce()
{
    if (production_.mode != Production::Mode::PerPoll) return;
    for (int side = 0; side < 2; ++side) {
        Page& p = page(side);
        const uint64_t start = uint64_t{production_.idle_polls} + (side == 1 ? production_.back_delay : 0);
        if (!p.open || !p.producing || polls_ <= start) continue;
        uint64_t add = std::min<uint64_t>(production_.lines_per_poll, p.lines - p.produced_lines);
        if (production_.buffer_bytes != std::numeric_limits<uint64_t>::max() && p.line_bytes > 0) {
            const uint64_t room = production_.buffer_bytes > p.ready() ? production_.buffer_bytes - p.ready() : 0;
            add = std::min(add, room / p.line_bytes);
        }
        p.produced_lines += add;
    }
}

void ChartScanEngine::info(std::span<uint8_t, kInfoSize> reply, const ScannerRecords& records)
{
    ++polls_;
    produce();
    for (auto it = status_faults_.begin(); it != status_faults_.end();) {
        if (it->poll != polls_) {
            ++it;
            continue;
        }
        switch (it->kind) {
        case StatusFault::Kind::Error: flags_[kError] = it->error; break;
        case StatusFault::Kind::Jam:
            flags_[kJam] = 'J';
            flags_[kCancelPage] = it->cancel_page;
            flags_[kBackState] = it->back_state;
            flags_[kFrontState] = it->front_state;
            break;
        case StatusFault::Kind::DoubleFeed:
            flags_[kDoubleFeed] = 'U';
            flags_[kBackState] = it->back_state;
            flags_[kFrontState] = it->front_state;
            break;
        }
        it = status_faults_.erase(it);
    }

    std::fill(reply.begin(), reply.end(), 0);
    for (int side = 0; side < 2; ++side) {
        const Page& p = page(side);
        if (!p.open) continue;
        set_le16(&reply[kPageNumber + 2 * side], 1);
        set_le32(&reply[kBytesReady + 4 * side], static_cast<uint32_t>(std::min(p.ready(), kReadyLimit)));
        set_le16(&reply[kWidth + 2 * side], p.reported_width);
        set_le16(&reply[kHeight + 2 * side], p.reported_height);
        reply[kPageEnd + side] = p.page_end() ? 1 : 0;
    }
    for (const auto& [offset, value] : flags_) reply[offset] = value;
    if (records.system_status[0] != 0) reply[kFeederReady] = 'D';
}

uint64_t ChartScanEngine::ready(int side) const
{
    return page(side).open ? page(side).ready() : 0;
}

void ChartScanEngine::read(int side, std::span<uint8_t> out)
{
    Page& p = page(side);
    if (!p.open || p.line_bytes == 0) return;
    uint8_t* to = out.data();
    uint64_t left = std::min<uint64_t>(out.size(), p.ready());
    while (left > 0) {
        const uint64_t line = p.consumed / p.line_bytes;
        const uint64_t at = p.consumed % p.line_bytes;
        if (at == 0 && left >= p.line_bytes) {
            // Whole lines go straight to the transfer.
            p.render(line, to);
            to += p.line_bytes;
            p.consumed += p.line_bytes;
            left -= p.line_bytes;
            continue;
        }
        if (line != p.cached_line) {
            p.render(line, p.line_buffer.data());
            p.cached_line = line;
        }
        const uint64_t n = std::min(left, p.line_bytes - at);
        std::memcpy(to, p.line_buffer.data() + at, n);
        to += n;
        p.consumed += n;
        left -= n;
    }
}

void ChartScanEngine::end()
{
    for (auto& p : pages_) {
        p->open = false;
        p->generator.reset();
    }
    flags_.clear();
    polls_ = 0;
}

} // namespace sim
