// A chart of thin black lines on white at known positions in inches, scanned through SE_main as a
// host may ask: at every resolution the model lists and at resolutions the driver resizes to, in
// colour, grey and line art, on the reflective source and both film sources, with frames that start
// away from the origin (on whole pixels and between them) and whose sizes in pixels are not
// multiples of 8. Every line must lie where a scan at the image's resolution puts it (the image's
// first pixel is the frame edge's pixel at that resolution): on the same pixels at a resolution
// the device scans, within half a pixel at one the driver resizes to. The image must have the size
// code 113 announced, and the device window must stay on the glass. The worst distance found at
// each resolution is printed.
#include "chart_scan_engine.h"
#include "entry_fixture.h"
#include "scan_chart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace lftest;
namespace fs = std::filesystem;

// The chart: 1.5 × 2 inches at 600 dpi (the film's width), white, with vertical and horizontal
// lines 8 chart pixels (1/75 inch, one pixel at the lowest resolution) thick.
constexpr uint32_t kChartDpi = 600;
constexpr uint32_t kChartWidth = 900;
constexpr uint32_t kChartHeight = 1200;
constexpr uint32_t kLineWidth = 8;

// Left (top) edges of the lines in chart pixels, spaced unevenly so that no shift by whole spacings
// could pass for the right place.
std::vector<uint32_t> line_edges(uint32_t first, uint32_t limit)
{
    std::vector<uint32_t> edges;
    const uint32_t steps[] = {55, 67};
    for (uint32_t at = first, k = 0; at + kLineWidth <= limit; at += steps[k++ % 2]) edges.push_back(at);
    return edges;
}

const std::vector<uint32_t>& column_lines()
{
    static const std::vector<uint32_t> edges = line_edges(137, kChartWidth);
    return edges;
}

const std::vector<uint32_t>& row_lines()
{
    static const std::vector<uint32_t> edges = line_edges(251, kChartHeight);
    return edges;
}

void write_chart(const fs::path& path)
{
    std::vector<uint8_t> pixels(size_t{kChartWidth} * kChartHeight, 255);
    for (uint32_t x : column_lines())
        for (uint32_t y = 0; y < kChartHeight; ++y) std::fill_n(&pixels[size_t{y} * kChartWidth + x], kLineWidth, 0);
    for (uint32_t y : row_lines()) std::fill_n(&pixels[size_t{y} * kChartWidth], size_t{kLineWidth} * kChartWidth, 0);
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << kChartWidth << ' ' << kChartHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
}

constexpr uint32_t kOptical = 4800; // the frame's pixels (code 69)
// Where frames start, in thousandths of an inch from the left and the top of the media, and how
// much longer than the usual sides they are: 0.2 and 0.4 inch are whole pixels at every resolution
// scanned here; the others put the image's first pixel between two of the device's at resolutions
// the driver resizes to, and their sides make sizes in pixels whose ratio is not the resolutions'
// (so that a resize by the sizes from the device's first pixel would misplace lines).
struct Offset {
    uint32_t left;
    uint32_t top;
    uint32_t longer; // thousandths of an inch added to the frame's sides
};
constexpr Offset kOffsets[] = {{200, 400, 0}, {204, 413, 4}, {211, 406, 1}};

struct Source {
    const char* name;
    uint16_t code;        // code 66
    uint32_t glass_width; // pixels at 4800 dpi
    uint32_t glass_length;
    bool inverted; // the application's tone tables for negative film
};

void PrintTo(const Source& source, std::ostream* out)
{
    *out << source.name;
}

struct Mode {
    const char* name;
    uint32_t type;
    uint16_t depth;
};

constexpr Mode kModes[] = {
    {"colour", SE_IMAGE_COLOR, SE_DEPTH_8_BITS},
    {"grey", SE_IMAGE_GRAY, SE_DEPTH_8_BITS},
    {"line art", SE_IMAGE_LINE_ART, SE_DEPTH_1_BIT},
};

// The resolutions of the model's list, and resolutions the driver makes by resizing the next one
// up (1000 dpi is scanned at 1200 across and at 1000 down).
constexpr uint32_t kListed[] = {75, 150, 300, 600, 1200, 2400, 4800};
constexpr uint32_t kResolutions[] = {75, 150, 300, 600, 1200, 2400, 4800, 100, 200, 400, 1000, 3000};

uint32_t device_x_resolution(uint32_t dpi)
{
    return *std::find_if(std::begin(kListed), std::end(kListed), [dpi](uint32_t r) { return r >= dpi; });
}

uint32_t device_y_resolution(uint32_t dpi)
{
    return dpi == 1000 ? dpi : device_x_resolution(dpi);
}

// Thousandths of an inch from the frame's near edge to its far one (inclusive) giving a side of at
// least `inches` whose pixel count at `dpi` is not a multiple of 8.
uint32_t odd_span(double inches, uint32_t dpi)
{
    auto n = static_cast<uint32_t>(inches * 1000);
    while (n * dpi / 1000 % 8 == 0) ++n;
    return n;
}

// One line's place in a scan, in image pixels from the image's first pixel (the pixel of the
// frame's edge at the image's resolution): the first and last pixels a device scanning at that
// resolution sees the chart pixels [edge, edge + kLineWidth) in (each pixel shows the chart where
// it starts).
struct Expected {
    int64_t first;
    int64_t last;
};

Expected expected(uint32_t edge, uint32_t dpi, uint32_t frame_start)
{
    const double u = double(edge) * dpi / kChartDpi;
    const double v = double(edge + kLineWidth) * dpi / kChartDpi;
    const auto start = int64_t{frame_start} * dpi / 1000;
    return {int64_t(std::ceil(u - 1e-9)) - start, int64_t(std::ceil(v - 1e-9)) - 1 - start};
}

// The centres of the runs of `ink` that neither touch the first nor the last place.
std::vector<double> runs(const std::vector<bool>& ink)
{
    std::vector<double> centres;
    const auto n = static_cast<int64_t>(ink.size());
    for (int64_t i = 0; i < n;) {
        if (!ink[static_cast<size_t>(i)]) {
            ++i;
            continue;
        }
        int64_t j = i;
        while (j + 1 < n && ink[static_cast<size_t>(j + 1)]) ++j;
        if (i > 0 && j < n - 1) centres.push_back(double(i + j) / 2);
        i = j + 1;
    }
    return centres;
}

// Where a scan at `dpi` puts the lines the chart has fully inside a side of `size` pixels, not
// touching its edge pixels: the centres of their runs of pixels.
std::vector<double> lines_inside(const std::vector<uint32_t>& edges, uint32_t dpi, uint32_t frame_start, uint32_t size)
{
    std::vector<double> centres;
    for (uint32_t edge : edges) {
        const Expected e = expected(edge, dpi, frame_start);
        if (e.first >= 1 && e.last <= int64_t(size) - 2) centres.push_back(double(e.first + e.last) / 2);
    }
    return centres;
}

class LineChart : public EntryTest, public testing::WithParamInterface<Source> {
protected:
    void SetUp() override
    {
        EntryTest::SetUp();
        if (HasFatalFailure()) return;
        const fs::path chart = fs::path(folder().path()) / "lines.pgm";
        write_chart(chart);
        add_scanner();
        std::string error;
        auto loaded = sim::file_chart(chart.string(), kChartDpi, &error);
        ASSERT_NE(loaded, nullptr) << error;
        model().with_chart_engine([&](sim::ChartScanEngine& e) {
            e.set_chart(loaded);
            e.set_sensor(sim::Sensor::Ideal);
        });
        open_first();
        ASSERT_EQ(command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_SET_MODE, nullptr), 1);
        ASSERT_EQ(command(SE_CMD_SOURCE, 3, GetParam().code), 1);
    }

    // The tone tables the application sends: identity, or inverted for negative film.
    void send_tone_tables()
    {
        std::vector<uint8_t> table(256);
        for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(GetParam().inverted ? 255 - i : i);
        SEGammaDescriptor d{{address(table.data()), address(table.data()), address(table.data())}, 256, 1, {}};
        ASSERT_EQ(command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
    }

    // Scans the frame and checks every line in both directions; the worst distance goes to `worst`.
    void scan(const Mode& mode, uint32_t dpi, const Offset& at, double& worst)
    {
        SCOPED_TRACE(testing::Message() << GetParam().name << ", " << mode.name << ", " << dpi << " dpi, from "
                                        << at.left << ", " << at.top);
        const uint32_t right = at.left + odd_span(std::min(1.25, 1250.0 / dpi) + at.longer / 1000.0, dpi) - 1;
        const uint32_t bottom = at.top + odd_span(std::min(1.5, 1000.0 / dpi) + at.longer / 1000.0, dpi) - 1;
        // Frame edges in optical pixels whose thousandths are exactly the ones above.
        const auto pixel = [](uint32_t thousandths) {
            return static_cast<uint16_t>((thousandths * kOptical + 999) / 1000);
        };
        SEFrame frame{pixel(at.left), pixel(at.top), pixel(right), pixel(bottom)};
        ASSERT_EQ(command(SE_CMD_DEPTH, 3, mode.depth), 1);
        SEImageType type{mode.type, 0, {}};
        ASSERT_EQ(command(SE_CMD_IMAGE_TYPE, 3, 0, &type), 1);
        send_tone_tables();
        ASSERT_EQ(command(SE_CMD_RESOLUTION, 3, dpi), 1);
        ASSERT_EQ(command(SE_CMD_SCAN_FRAME, 3, 0, &frame), 1);

        SEImageInfo announced{};
        ASSERT_EQ(command(SE_CMD_IMAGE_INFO, 1, 0, &announced), 1);
        const uint32_t width = (right - at.left + 1) * dpi / 1000;
        const uint32_t height = (bottom - at.top + 1) * dpi / 1000;
        EXPECT_EQ(announced.width, width);
        EXPECT_EQ(announced.height, height);
        ASSERT_NE(width % 8, 0u);
        ASSERT_NE(height % 8, 0u);
        SEImageInfo started{};
        ASSERT_EQ(command(SE_CMD_START_SCAN, 0, 0, &started), 1);
        EXPECT_EQ(std::memcmp(&started, &announced, sizeof started), 0);
        check_window(dpi);

        std::vector<uint8_t> image(size_t{announced.bytesPerLine} * announced.height);
        uint32_t lines = 0;
        int16_t last = 1;
        while (last == 1 && lines < announced.height) {
            SELineTransfer t{};
            t.buffer = address(image.data() + size_t{lines} * announced.bytesPerLine);
            t.wanted = std::min<uint32_t>(256, announced.height - lines);
            last = command(SE_CMD_READ_LINES, 0, 0, &t);
            lines += t.delivered;
        }
        EXPECT_EQ(last, SE_END_OF_IMAGE);
        EXPECT_EQ(lines, announced.height);
        EXPECT_EQ(command(SE_CMD_STOP_SCAN), 1);
        if (lines != announced.height) return;

        // Ink: a pixel that is not the background (the majority), dark or, on negative film, light.
        const auto dark = [&](uint32_t x, uint32_t y) {
            const uint8_t* row = image.data() + size_t{y} * announced.bytesPerLine;
            if (mode.type == SE_IMAGE_LINE_ART) return ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
            if (mode.type == SE_IMAGE_GRAY) return row[x] < 128;
            return row[3 * x] + row[3 * x + 1] + row[3 * x + 2] < 3 * 128;
        };
        std::vector<uint32_t> column_count(width), row_count(height);
        uint64_t darks = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                if (dark(x, y)) {
                    ++column_count[x];
                    ++row_count[y];
                    ++darks;
                }
        const bool ink_is_dark = darks * 2 < uint64_t{width} * height;
        std::vector<bool> column_ink(width), row_ink(height);
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t n = ink_is_dark ? column_count[x] : height - column_count[x];
            column_ink[x] = n * 2 > height;
        }
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t n = ink_is_dark ? row_count[y] : width - row_count[y];
            row_ink[y] = n * 2 > width;
        }
        compare("columns", runs(column_ink), lines_inside(column_lines(), dpi, at.left, width),
                bound(device_x_resolution(dpi), dpi), worst);
        compare("rows", runs(row_ink), lines_inside(row_lines(), dpi, at.top, height),
                bound(device_y_resolution(dpi), dpi), worst);
    }

    // How far a line may lie from where a scan at the image's resolution puts it: nowhere else
    // when the device scans that resolution; half a pixel when the driver resizes, since the
    // device's pixels show the line's edges only to within one of theirs.
    static double bound(uint32_t device, uint32_t dpi) { return device == dpi ? 0 : 0.5; }

    static void compare(const char* what, const std::vector<double>& found, const std::vector<double>& want,
                        double bound, double& worst)
    {
        ASSERT_FALSE(want.empty()) << what << ": the frame holds no whole line";
        ASSERT_EQ(found.size(), want.size()) << what;
        for (size_t i = 0; i < want.size(); ++i) {
            worst = std::max(worst, std::abs(found[i] - want[i]));
            EXPECT_LE(std::abs(found[i] - want[i]), bound + 1e-9)
                << what << " line " << i << ": at " << found[i] << ", expected at " << want[i];
        }
    }

    // The window the device was asked for lies on the glass at its own resolution.
    void check_window(uint32_t dpi)
    {
        const auto par = model().parameters();
        ASSERT_TRUE(par.has_value());
        const auto u16 = [&](size_t at) { return uint32_t((*par)[at] | (*par)[at + 1] << 8); };
        const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
        const uint32_t x = device_x_resolution(dpi), y = device_y_resolution(dpi);
        EXPECT_EQ(u16(20), x);
        EXPECT_EQ(u16(22), y);
        EXPECT_LE(u32(24) + u32(32), GetParam().glass_width * x / kOptical) << "the window passes the glass's side";
        EXPECT_LE(u32(28) + u32(36), GetParam().glass_length * y / kOptical) << "the window passes the glass's end";
    }
};

TEST_P(LineChart, EveryLineLandsWhereTheFramePutsIt)
{
    for (const uint32_t dpi : kResolutions) {
        std::printf("%s, %u dpi, worst line:", GetParam().name, dpi);
        for (const Mode& mode : kModes) {
            double worst = 0;
            for (const Offset& at : kOffsets) {
                scan(mode, dpi, at, worst);
                if (HasFatalFailure()) return;
            }
            std::printf(" %s %.3f px", mode.name, worst);
        }
        std::printf("\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, LineChart,
                         testing::Values(Source{"reflective", SE_SOURCE_REFLECTIVE, 40800, 56160, false},
                                         Source{"positive film", SE_SOURCE_POSITIVE_FILM, 7200, 43200, false},
                                         Source{"negative film", SE_SOURCE_NEGATIVE_FILM, 7200, 43200, true}),
                         [](const testing::TestParamInfo<Source>& source) {
                             std::string name = source.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

} // namespace
