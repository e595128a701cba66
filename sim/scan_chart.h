// The charts the simulated scanner scans: a reflectance P (0-65535) per channel (0 R, 1 G, 2 B)
// at each chart pixel (x, y). A chart is built once and shared; scanning only reads it.
//
//   pattern           P = ((7x + 13y + 85c) mod 256) × 257
//   pattern16         P = ((7x + 13y + 85c) × 263) mod 65536: both bytes differ and vary
//   flat:F            P = round(F × 65535), F in 0..1
//   file:PATH[@DPI]   an image file read with libvips as 16-bit sRGB, lying at the media's top-left
//                     corner at DPI (default: the file's resolution, else 300); device pixel (x, y)
//                     at X × Y dpi takes file pixel (⌊x·DPI/X⌋, ⌊y·DPI/Y⌋); outside it P = 65535.
//                     The file's values are sRGB-encoded and the sensor is linear in light, so each
//                     value v is decoded first: P = round(65535 D(v / 65535)), D the sRGB curve
//                     (u / 12.92 up to 0.04045, else ((u + 0.055) / 1.055)^2.4). On film the
//                     same P is the film's transmittance.
//
// The pattern and flat charts are given as reflectances and are not decoded.
//
// A program that may load a file chart calls VIPS_INIT once in its main().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

class Chart {
public:
    virtual ~Chart() = default;
    // The reflectances of `count` device pixels of chart row y, at chart columns x0, x0 + step,
    // x0 + 2 step, ... (step 1 or -1), for a scan at xres × yres dpi: R, G, B per pixel.
    virtual void row(int64_t y, int64_t x0, int step, uint32_t count, uint32_t xres, uint32_t yres,
                     uint16_t* rgb) const = 0;
};

std::shared_ptr<const Chart> pattern_chart();
std::shared_ptr<const Chart> pattern16_chart();
std::shared_ptr<const Chart> flat_chart(double f);
// Null, with the reason in *error, when the file cannot be read.
std::shared_ptr<const Chart> file_chart(const std::string& path, uint32_t dpi, std::string* error);
// A chart from its text form (above); null, with the reason in *error, for a bad one.
std::shared_ptr<const Chart> parse_chart(const std::string& text, std::string* error);

} // namespace sim
