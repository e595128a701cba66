// The simulated scanner's scan engine: pages generated on the fly from a chart.
//
// "SCAN" opens one page per side in the parameter block's sides mask (byte 10), W = para width
// (32) by H = para height (36); a width or height above 65535 is refused (5/0x24). Nothing is
// allocated per page: bytes are generated when "IMG" takes them, line by line, from 64-bit
// produced and consumed counters.
//
// Line formats by para bits (18), lines contiguous: 24 R, G, B bytes; 48 R, G, B u16 LE; 8 one
// byte; 16 one u16 LE; any other: byte k of page line y is (7k + 13y) mod 256, W × bits / 8 bytes.
// Single-channel samples are picked by the mono code (19): 2 green, 3 blue, otherwise luma
// (299R + 587G + 114B) / 1000 of the chart's reflectances.
//
// Positions: pixel i of a line lies at sensor position s = dot_x + i and chart row y = dot_y +
// line. The sensor is Wpx(X) = max(1, media width pixels × X / media x resolution) pixels wide
// (media = window byte 46); the chart column is Wpx(X) - 1 - s when the media is mirrored
// (attribute byte 1), else s. The back side sees 65535 - P.
//
// Image data (window kind 0): the sensor reading (sensor_model.h) goes through the side's shading pair when one matches
// the scan, out16 = clamp(round((raw - dark) × 65535 / (white - dark))), 0 when white <= dark; without one out16 = raw,
// so a missing calibration shows. 8-bit samples are out16 rounded to 8 bits, round(out16 / 257). With window byte 51
// set and a "GAMA" set received, samples go through it, indexed by the 8-bit sample v8 (T[v8] >> 8 for 8 bits, T[v8]
// for 16).
//
// Calibration windows (kinds 1 and 2) scan the whole sensor (calibration_page.h).
//
// "INFO" per side: page number 1 while the side has a page, bytes ready (at most 0xFFFFFFFF),
// width and height, page end once the whole page is produced; injected status flags; byte 35 'D'
// while the feeder has paper (system status byte 0).
#pragma once

#include "scan_chart.h"
#include "scan_engine.h"
#include "sensor_model.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace sim {

// How the device fills its pages.
struct Production {
    enum class Mode {
        Instant, // each page is produced whole at "SCAN": data are ready at the first poll
        PerPoll, // each "INFO" adds lines_per_poll lines per page
    } mode = Mode::Instant;
    uint32_t lines_per_poll = 0;
    uint64_t buffer_bytes = std::numeric_limits<uint64_t>::max(); // the most a side holds ready
    uint32_t idle_polls = 0;                                      // the first polls after "SCAN" add nothing
    uint32_t back_delay = 0;                                      // the back side starts this many polls later
};

// Status flags raised at the n-th "INFO" after "SCAN" (1 = the first); they stay until "CANC" 0.
struct StatusFault {
    enum class Kind {
        Error,      // byte 30 = error
        Jam,        // byte 29 'J', with bytes 34, 26 and 27
        DoubleFeed, // byte 28 'U', with bytes 26 and 27
    } kind = Kind::Error;
    uint32_t poll = 1;
    uint8_t error = 1;
    uint8_t cancel_page = 0; // byte 34
    uint8_t back_state = 0;  // byte 26
    uint8_t front_state = 0; // byte 27
};

// What the device reports and delivers other than the page it was asked for (both sides).
struct GeometryFault {
    std::optional<uint16_t> width{};     // reported in "INFO"; the data keep the real width
    std::optional<uint16_t> height{};    // likewise
    std::optional<uint32_t> end_after{}; // the page ends after this many lines
    bool end_without_data = false;       // page end at once, nothing ever ready
    bool never_ready = false;            // nothing ever ready, no page end
    // Image pages only: the device scans and reports lines this many pixels wider than the window
    // (as one that rounds its width up); the extra pixels go on along the sensor.
    uint16_t wider_by = 0;
};

// One side's page as a page generator sees it, decoded from the parameter block and window.
struct PageSetup {
    int side = 0;     // 0 front, 1 back
    uint8_t kind = 0; // window byte 40: 0 image, 1 dark, 2 white calibration scan
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bits = 0;
    uint8_t mono = 0;
    unsigned channels = 0; // 3 for 24 and 48 bits, 1 for 8 and 16, 0 for the other formats
    uint16_t xres = 0;
    uint16_t yres = 0;
    uint32_t dot_x = 0;
    uint32_t dot_y = 0;
    uint16_t exposure_ratio = 0;
    uint8_t media = 0;
    bool mirrored = false;
    uint64_t sensor_pixels = 1; // Wpx(X)
};

// What a page of one window kind holds: 16-bit samples before the output conversion (8-bit
// reduction, gamma, packing), which the engine does. Used for pages with 1 or 3 channels.
class PageGenerator {
public:
    virtual ~PageGenerator() = default;
    // At "SCAN", once per page: may change the page's width and height (the format stays).
    virtual void begin(PageSetup& page, const ScannerRecords& records) = 0;
    // Page line `line`: channels × width samples, pixel by pixel.
    virtual void line(uint64_t line, std::span<uint16_t> samples) = 0;
};
using PageGeneratorFactory = std::function<std::unique_ptr<PageGenerator>()>;

// Kind 0's page: the chart through the sensor and the side's shading pair.
std::unique_ptr<PageGenerator> chart_page(std::shared_ptr<const Chart> chart, Sensor sensor);

// Wpx(X): the sensor's width in pixels at x resolution X for a media (window byte 46), at least 1.
uint64_t sensor_pixels(const ScannerRecords& records, uint8_t media, uint16_t xres);

class ChartScanEngine final : public ScanEngine {
public:
    ChartScanEngine();
    ~ChartScanEngine() override;

    // Settings, taken by the next "SCAN": the chart ("pattern" by default), the sensor
    // (realistic by default) and the production (instant by default).
    void set_chart(std::shared_ptr<const Chart> chart);
    void set_sensor(Sensor sensor);
    void set_production(const Production& production);
    // A window kind's page generator; null gives the kind its own page again (the chart for
    // kind 0, a calibration page for kinds 1 and 2).
    void set_page_generator(uint8_t kind, PageGeneratorFactory factory);
    // Calibration pages with noise of at most 1 % (off by default).
    void set_calibration_noise(bool noisy);
    // Faults: geometry for the next pages (until replaced), status flags for the next scan.
    void set_geometry_fault(const GeometryFault& fault);
    void add_status_fault(const StatusFault& fault);

    // Page state: bytes produced and taken so far, 0 without a page.
    uint64_t produced(int side) const;
    uint64_t consumed(int side) const;

    Sense scan(std::span<const uint8_t, kParametersSize> parameters, std::span<const uint8_t, kWindowSize> window,
               const ScannerRecords& records) override;
    void stop() override;
    void cancel(uint8_t how) override;
    void info(std::span<uint8_t, kInfoSize> reply, const ScannerRecords& records) override;
    uint64_t ready(int side) const override;
    void read(int side, std::span<uint8_t> out) override;
    void end() override;

private:
    struct Page;
    Page& page(int side) { return *pages_[side != 0 ? 1 : 0]; }
    const Page& page(int side) const { return *pages_[side != 0 ? 1 : 0]; }
    void produce();

    std::shared_ptr<const Chart> chart_;
    Sensor sensor_ = Sensor::Realistic;
    bool noisy_ = false;
    Production production_;
    GeometryFault geometry_;
    std::vector<StatusFault> status_faults_;
    std::map<uint8_t, PageGeneratorFactory> generators_;
    std::array<std::unique_ptr<Page>, 2> pages_;
    uint32_t polls_ = 0;              // "INFO" replies since "SCAN"
    std::map<size_t, uint8_t> flags_; // raised status bytes by offset
};

} // namespace sim
