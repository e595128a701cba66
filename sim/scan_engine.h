// What produces the simulated scanner's image data and status replies. The job state machine of
// ScannerModel calls these hooks, on umockdev's worker thread with the device lock held, once a
// job frame has been accepted; they must not block.
//
// ChartScanEngine (chart_scan_engine.h), the default, generates pages from a chart. FedScanEngine
// serves what a test hands it: a fixed status reply and queued bytes per side.
#pragma once

#include "scanner_records.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

// A device refusal: sense key and code (key 0 means none).
struct Sense {
    uint8_t key = 0;
    uint8_t code = 0;
    bool refused() const { return key != 0; }
};

class ScanEngine {
public:
    virtual ~ScanEngine() = default;
    // "SCAN" on an open job that holds a window and a parameter block; a refusal answers 'E'.
    virtual Sense scan(std::span<const uint8_t, kParametersSize> parameters,
                       std::span<const uint8_t, kWindowSize> window, const ScannerRecords& records) = 0;
    virtual void stop() = 0;
    virtual void cancel(uint8_t how) = 0;
    // The 48-byte "INFO" reply, zeroed on entry.
    virtual void info(std::span<uint8_t, kInfoSize> reply, const ScannerRecords& records) = 0;
    // Bytes an "IMG" for this side may take now.
    virtual uint64_t ready(int side) const = 0;
    // Delivers (and consumes) the side's next out.size() bytes; out.size() <= ready(side).
    virtual void read(int side, std::span<uint8_t> out) = 0;
    // The job was closed, or dropped when the interface was released: pages and scan state go.
    virtual void end() = 0;
};

class FedScanEngine final : public ScanEngine {
public:
    void set_info(const std::array<uint8_t, kInfoSize>& info) { info_ = info; }
    void feed(int side, std::span<const uint8_t> bytes);

    int scans() const { return scans_; }
    int stops() const { return stops_; }
    const std::vector<uint8_t>& cancels() const { return cancels_; }

    Sense scan(std::span<const uint8_t, kParametersSize>, std::span<const uint8_t, kWindowSize>,
               const ScannerRecords&) override;
    void stop() override { ++stops_; }
    void cancel(uint8_t how) override { cancels_.push_back(how); }
    void info(std::span<uint8_t, kInfoSize> reply, const ScannerRecords&) override;
    uint64_t ready(int side) const override;
    void read(int side, std::span<uint8_t> out) override;
    void end() override;

private:
    struct Side {
        std::vector<uint8_t> bytes;
        size_t taken = 0;
    };
    Side& side(int s) { return sides_[s != 0 ? 1 : 0]; }

    std::array<uint8_t, kInfoSize> info_{};
    std::array<Side, 2> sides_;
    int scans_ = 0;
    int stops_ = 0;
    std::vector<uint8_t> cancels_;
};

} // namespace sim
