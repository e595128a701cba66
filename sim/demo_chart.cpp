// varnoth-demo-chart PATH: writes the demonstration page that the simulated scanner shows in
// demonstrations and end-to-end runs: 8.5 × 11.7 inches at 100 dpi (850 × 1170 pixels), white, with
// a row of colour patches, a grey ramp and blocks of dark bars that read like lines of text. The
// format follows PATH's extension (PNG, TIFF, ...); the resolution is stored with it.
#include <vips/vips8>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

namespace {

constexpr int kWidth = 850;
constexpr int kHeight = 1170;
constexpr int kDpi = 100;

struct Page {
    std::vector<uint8_t> rgb = std::vector<uint8_t>(std::size_t(kWidth) * kHeight * 3, 255);

    void fill(int x, int y, int w, int h, std::array<uint8_t, 3> colour)
    {
        const int x0 = std::clamp(x, 0, kWidth), x1 = std::clamp(x + w, 0, kWidth);
        const int y0 = std::clamp(y, 0, kHeight), y1 = std::clamp(y + h, 0, kHeight);
        for (int row = y0; row < y1; ++row)
            for (int col = x0; col < x1; ++col) {
                uint8_t* pixel = &rgb[(std::size_t(row) * kWidth + col) * 3];
                std::copy(colour.begin(), colour.end(), pixel);
            }
    }
};

void drawPage(Page& page)
{
    constexpr int margin = 75;
    constexpr int usable = kWidth - 2 * margin;

    // A title line: one heavy bar.
    page.fill(margin, 70, 420, 28, {20, 20, 24});

    // Colour patches: primaries, secondaries and two skin-like tones.
    const std::array<std::array<uint8_t, 3>, 8> patches = {{{200, 30, 40},
                                                            {40, 160, 60},
                                                            {30, 60, 190},
                                                            {240, 210, 40},
                                                            {30, 170, 190},
                                                            {180, 50, 160},
                                                            {225, 170, 140},
                                                            {150, 100, 70}}};
    const int patch = usable / int(patches.size());
    for (std::size_t i = 0; i < patches.size(); ++i)
        page.fill(margin + int(i) * patch + 4, 140, patch - 8, 110, patches[i]);

    // A grey ramp from black to white in 16 steps.
    constexpr int steps = 16;
    const int step = usable / steps;
    for (int i = 0; i < steps; ++i) {
        const auto level = uint8_t(i * 255 / (steps - 1));
        page.fill(margin + i * step, 290, step, 70, {level, level, level});
    }

    // Paragraphs of "text": bars of word-like lengths, a short last line per paragraph.
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    int y = 410;
    for (int paragraph = 0; paragraph < 7 && y < kHeight - margin; ++paragraph) {
        for (int line = 0; line < 6 && y < kHeight - margin; ++line, y += 22) {
            const int end = margin + (line == 5 ? usable / 2 : usable);
            for (int x = margin; x < end;) {
                const int word = 18 + int(next() % 60);
                if (end - x < 12) break;
                page.fill(x, y, std::min(word, end - x), 10, {35, 35, 40});
                x += word + 9;
            }
        }
        y += 26;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnoth-demo-chart PATH\n");
        return 2;
    }
    if (VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "varnoth-demo-chart: cannot start libvips\n");
        return 1;
    }
    int status = 0;
    try {
        Page page;
        drawPage(page);
        const double pixelsPerMm = kDpi / 25.4;
        vips::VImage::new_from_memory(page.rgb.data(), page.rgb.size(), kWidth, kHeight, 3, VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()
                      ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                      ->set("xres", pixelsPerMm)
                      ->set("yres", pixelsPerMm))
            .write_to_file(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnoth-demo-chart: %s\n", e.what());
        status = 1;
    }
    vips_shutdown();
    return status;
}
