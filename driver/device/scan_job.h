// The device job record: what a scan sends to the device (parameter block and window), the
// device's last status reply, and the driver's per-side read bookkeeping. The first three parts
// are one byte record laid out as the device sees them; every field has a named accessor.
#pragma once

#include "le_bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Packed source texts of the parameter block (up to three characters, little-endian).
constexpr uint32_t SCAN_SOURCE_ADF = 0x464441; // "ADF"

struct ScanJob {
    static constexpr size_t kParaSize = 40;
    static constexpr size_t kWindowOffset = 40;
    static constexpr size_t kWindowSize = 32;
    static constexpr size_t kInfoOffset = 72;
    static constexpr size_t kInfoSize = 48;
    static constexpr size_t kImageInformationSize = 40;

    // Parameter block (0-39), window (40-71) and status reply (72-119).
    std::array<uint8_t, kInfoOffset + kInfoSize> record{};
    // Payload of the image-information request.
    std::array<uint8_t, kImageInformationSize> image_information{};
    // Per side (0 front, 1 back); all cleared by every scan start. A full page at the highest
    // resolution exceeds 32 bits, so the byte counts are 64-bit.
    uint64_t page_total[2]{};
    uint64_t bytes_read[2]{};
    uint8_t end_reported[2]{};
    uint8_t all_fetched[2]{};
    uint8_t polled[2]{}; // the last status reply is still fresh for this side
    // The width the side's lines have, from the first status reply that reported one; at least
    // the window's width, since a device may round it up.
    uint32_t line_width[2]{};

    std::span<uint8_t, kParaSize> para() { return std::span<uint8_t, kParaSize>(record.data(), kParaSize); }
    std::span<uint8_t, kWindowSize> window()
    {
        return std::span<uint8_t, kWindowSize>(record.data() + kWindowOffset, kWindowSize);
    }
    std::span<uint8_t, kInfoSize> info()
    {
        return std::span<uint8_t, kInfoSize>(record.data() + kInfoOffset, kInfoSize);
    }
    std::span<const uint8_t, kInfoSize> info() const
    {
        return std::span<const uint8_t, kInfoSize>(record.data() + kInfoOffset, kInfoSize);
    }

    // Parameter block.
    uint32_t source() const { return u32(0); }
    void set_source(uint32_t v) { put32(0, v); }
    uint32_t flags() const { return u32(4); }
    void set_flags(uint32_t v) { put32(4, v); }
    uint8_t sides() const { return record[10]; } // bit 0 front, bit 1 back
    void set_sides(uint8_t v) { record[10] = v; }
    uint8_t mode_flag() const { return record[11]; }
    void set_mode_flag(uint8_t v) { record[11] = v; }
    uint32_t format() const { return u32(12); }
    void set_format(uint32_t v) { put32(12, v); }
    uint8_t bits_per_pixel() const { return record[18]; }
    void set_bits_per_pixel(uint8_t v) { record[18] = v; }
    uint8_t mono_code() const { return record[19]; }
    void set_mono_code(uint8_t v) { record[19] = v; }
    uint16_t x_resolution() const { return u16(20); }
    void set_x_resolution(uint16_t v) { put16(20, v); }
    uint16_t y_resolution() const { return u16(22); }
    void set_y_resolution(uint16_t v) { put16(22, v); }
    uint32_t dot_x() const { return u32(24); }
    void set_dot_x(uint32_t v) { put32(24, v); }
    uint32_t dot_y() const { return u32(28); }
    void set_dot_y(uint32_t v) { put32(28, v); }
    uint32_t width() const { return u32(32); } // raised to a multiple of 8 by the filler
    void set_width(uint32_t v) { put32(32, v); }
    uint32_t height() const { return u32(36); }
    void set_height(uint32_t v) { put32(36, v); }

    // Window.
    uint8_t window_kind() const { return record[40]; } // 0 image, 1 dark, 2 white calibration scan
    void set_window_kind(uint8_t v) { record[40] = v; }
    uint16_t exposure_ratio() const { return u16(41); }
    void set_exposure_ratio(uint16_t v) { put16(41, v); }
    uint8_t scan_mode_bit2() const { return record[44]; }
    void set_scan_mode_bit2(uint8_t v) { record[44] = v; }
    uint8_t quality() const { return record[45]; }
    void set_quality(uint8_t v) { record[45] = v; }
    uint8_t media() const { return record[46]; }
    void set_media(uint8_t v) { record[46] = v; }
    uint8_t sampling_lines() const { return record[47]; }
    void set_sampling_lines(uint8_t v) { record[47] = v; }
    uint8_t ultrasound_double_feed() const { return record[48]; }
    void set_ultrasound_double_feed(uint8_t v) { record[48] = v; }
    uint8_t scan_mode_bit5() const { return record[49]; }
    void set_scan_mode_bit5(uint8_t v) { record[49] = v; }
    uint8_t paper_type() const { return record[50]; }
    void set_paper_type(uint8_t v) { record[50] = v; }
    uint8_t send_gamma() const { return record[51]; }
    void set_send_gamma(uint8_t v) { record[51] = v; }
    uint8_t fixed_one() const { return record[53]; } // always 1 in a filled window
    void set_fixed_one(uint8_t v) { record[53] = v; }
    uint16_t light_channels() const { return u16(54); }
    void set_light_channels(uint16_t v) { put16(54, v); }
    uint8_t preview() const { return record[56]; }
    void set_preview(uint8_t v) { record[56] = v; }
    uint8_t colour_consistency() const { return record[57]; }
    void set_colour_consistency(uint8_t v) { record[57] = v; }
    uint16_t exposure() const { return u16(58); }
    void set_exposure(uint16_t v) { put16(58, v); }
    uint8_t scan_from_home() const { return record[60]; }
    void set_scan_from_home(uint8_t v) { record[60] = v; }

    // Status reply, per side (0 front, 1 back).
    uint16_t page_number(int side) const { return u16(kInfoOffset + 4 + 2 * s(side)); }
    uint32_t bytes_ready(int side) const { return u32(kInfoOffset + 8 + 4 * s(side)); }
    uint16_t image_width(int side) const { return u16(kInfoOffset + 16 + 2 * s(side)); }
    uint16_t image_height(int side) const { return u16(kInfoOffset + 20 + 2 * s(side)); }
    uint8_t page_end(int side) const { return record[kInfoOffset + 24 + s(side)]; }
    // Consulted after a jam or double feed: byte 27 for the front, byte 26 for the back.
    uint8_t side_state(int side) const { return record[kInfoOffset + 27 - s(side)]; }
    uint8_t double_feed() const { return record[kInfoOffset + 28]; } // 'U' when detected
    uint8_t paper_jam() const { return record[kInfoOffset + 29]; }
    uint8_t device_error() const { return record[kInfoOffset + 30]; }
    uint8_t motor_running() const { return record[kInfoOffset + 33]; }
    uint8_t jam_cancels_page() const { return record[kInfoOffset + 34]; }
    uint8_t feeder_ready() const { return record[kInfoOffset + 35]; } // 'D' when ready

private:
    static size_t s(int side) { return side != 0 ? 1 : 0; }
    uint16_t u16(size_t at) const { return get_u16le(record.data() + at); }
    uint32_t u32(size_t at) const { return get_u32le(record.data() + at); }
    void put16(size_t at, uint16_t v) { put_u16le(record.data() + at, v); }
    void put32(size_t at, uint32_t v) { put_u32le(record.data() + at, v); }
};
