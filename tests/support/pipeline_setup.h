// Pipelines built by hand for the pipeline's tests and benchmark: a scan setting filled as the
// scan set-up would fill it (geometry, gamma tables, halftone record, magnification model), and a
// stand-in line source that the scan stage reads instead of the device.
#pragma once

#include "device_status.h"
#include "gl_scanner.h"
#include "scan_setting.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace lftest {

enum class Gamma {
    None,       // no gamma stage
    Identity,   // 256 one-byte entries (65536 two-byte at depth 16) mapping every value to itself
    PerChannel, // a different non-identity table per channel, same shape
    Wide,       // 65536 entries per channel (one-byte at depth 8), non-identity
};

struct PipelineConfig {
    uint32_t image_type = IMAGE_TYPE_COLOUR;
    uint32_t depth = 8;
    uint32_t scan_width = 64; // ignored with the correction: the corrected range decides
    uint32_t scan_lines = 32;
    uint32_t output_width = 64;
    uint32_t output_lines = 32;
    Gamma gamma = Gamma::None;
    bool mirror = false;
    bool correction = false; // a model with a bent middle and RGB alignment at both ends
    int halftone = -1;       // line art: -1 plain threshold, 0-11 a built-in pattern
};

// A setting for the front side, owning everything the scan set-up would allocate. The
// destructor releases the pipeline first.
class PipelineSetting {
public:
    explicit PipelineSetting(const PipelineConfig& config);
    ~PipelineSetting();
    PipelineSetting(const PipelineSetting&) = delete;
    PipelineSetting& operator=(const PipelineSetting&) = delete;

    SCAN_SETTING* get() { return setting_.get(); }
    IMAGE_SETTING& front() { return setting_->front_side; }
    const PipelineConfig& config() const { return config_; }
    // Bytes of one scan line and of the whole scan.
    uint64_t scan_bytes() const;

private:
    PipelineConfig config_;
    std::unique_ptr<SCAN_SETTING> setting_;
    std::vector<uint8_t> tables_;
};

// The gamma tables a configuration uses, channel after channel (empty for none).
std::vector<uint8_t> gamma_tables(const PipelineConfig& config);

// A magnification model over `width` output pixels at `resolution` (coordinates at four times
// that), built into the setting with its corrected range and a frame `width` pixels wide.
void add_correction(SCAN_SETTING* s, uint8_t depth, uint8_t channels, uint32_t width, uint32_t resolution);

// The stand-in line source: serves `image` (row after row, repeated when a read runs past its
// end) to the scan stage. A read that would pass `end_after` bytes delivers up to there, zeroes
// the rest and answers 17; one that would pass `fail_after` answers `failure` and delivers
// nothing. One source at a time; the destructor restores the device read.
class LineSource {
public:
    explicit LineSource(std::vector<uint8_t> image);
    ~LineSource();
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;

    uint64_t end_after = UINT64_MAX;
    uint64_t fail_after = UINT64_MAX;
    eStatus failure = STATUS_TRANSFER_FAILED;
    uint64_t served = 0; // bytes handed out so far
    uint32_t reads = 0;
    std::vector<uint32_t> lengths; // of every read, when `record` is set
    bool record = false;
    const std::vector<uint8_t>& image() const { return image_; }

private:
    static eStatus read(GLScanner*, ScanJob*, int, uint8_t* buffer, uint32_t* length, uint8_t* end);
    std::vector<uint8_t> image_;
};

// The lines of `count` bytes of a deterministic test image: byte k of line y depends on both.
std::vector<uint8_t> test_image(uint64_t count, uint32_t seed);

// The stage kernels chained over a whole scan of one side, in the pipeline's order (correction,
// resize, gamma, mirror, single-bit with a fresh halftone record of `halftone`), with the side's
// geometry, switches and tables: what the pipeline must deliver for `scan`.
std::vector<uint8_t> reference_chain(SCAN_SETTING* s, const IMAGE_SETTING& side, int halftone,
                                     const std::vector<uint8_t>& scan);

} // namespace lftest
