// The scan data flow: starts a device scan from a filled ScanJob, waits until the device has
// image data, hands each side's bytes (0 front, 1 back) to the caller in the amounts it asks for,
// and stops the scan. Between the device and the caller sits a 1 MiB byte cache per side holding
// what the last device read delivered beyond the request. All waiting is 100 ms polls through
// driver_sleep_ms, and every wait is bounded: SCAN_POLL_LIMIT polls in a row without progress, or
// the host giving up (driver_cancel_requested), end it with STATUS_TRANSFER_FAILED.
#pragma once

#include "device_status.h"
#include "gl_scanner.h"

#include <cstdint>

constexpr uint32_t SCAN_CACHE_SIZE = 0x100000; // per side; also the largest device read
constexpr uint32_t SCAN_POLL_MS = 100;
constexpr uint32_t SCAN_POLL_LIMIT = 1800;  // 3 minutes of 100 ms polls
constexpr uint32_t MOTOR_STOP_TICKS = 5000; // sixtieths of a second

// Starts the scan (first call: job, gamma, calibration action, window, ISP blocks, parameters,
// "SCAN"), then polls until data is ready and chooses the read function. While the scan is
// started a call only clears the job's bookkeeping and polls. A failed start, or one that never
// gets data, sends STOP and JOB E and clears scan-started. STATUS_GOOD, or: 10 device error, 11
// jam, 12 double feed, 13 feeder without paper, 17 an image page that ended without data, 18
// refused, 4 transfer failure or time-out.
eStatus scanner_start_scan(GLScanner* g, ScanJob* job);
// Bits per pixel 8, 16, 24 or 48 read through the cache, anything else straight through.
void set_scanner_read_function(GLScanner* g, const ScanJob* job);

// Fill `*length` bytes of the buffer with the side's next bytes; the length is not changed. *end
// becomes 1 when the call delivers the last bytes of the side's page. A page that ends before the
// request is filled gives what it had, the rest of the buffer zeroed, *end 1 and STATUS_GOOD;
// once a side's end is reported, later calls give zeros and STATUS_GOOD. While fewer bytes than
// asked are ready the device is asked again at once as long as their count grows, and after a
// 100 ms pause once it stops growing. Other results: 3 no memory for the cache, 4 transfer
// failure, bad line size or time-out, 20 a device that left the bus, 10, 11, 12 as for the start,
// 17 a page that ended without any data, or an image side that reports a width below its window's
// or other than it first reported, or another height than its window's.
eStatus scanner_read(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end);
// The two read functions behind scanner_read: whole lines of at most 1 MiB per device read,
// through the side's cache; or straight into the buffer in reads of at most 1 MiB.
eStatus read_cache(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end);
eStatus read_direct(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end);

// After a status reply with the jam or double-feed flag: the first time in a scan, cancel the page
// when the device asks for it ("CANC" 0; the double feed always cancels, after a 100 ms pause).
// Then STATUS_GOOD when the sides still scanning may go on, else 11 (jam) or 12 (double feed).
eStatus handle_paper_jam(GLScanner* g, ScanJob* job);
eStatus handle_double_feed(GLScanner* g, ScanJob* job);

// Drops both caches; when the scan is started polls, cancels pending data ("CANC" 1, then polls
// again) and sends STOP; clears scan-started; ends the device job when one is open. A refused
// step does not keep the next ones from being tried; the first failure is returned (4 for the
// poll, cancel or stop). A device that does not answer a step (a failed transfer, or one that
// left the bus) is asked nothing more: 4 (or 20) at once, the scan no longer started, and the job
// it may still hold marked unsure for the next create to end.
eStatus scanner_stop_scan(GLScanner* g, ScanJob* job);
// The side's page number from the scan job's last status reply; 0 without a record.
uint16_t scanner_get_page_number(const GLScanner* g, int side);

// Polls the feeder every 100 ms until the status shows paper ('D') or image data: STATUS_GOOD. A
// jam or double feed waits for the motor, then gives 11 or 12; a device error 10; no paper within
// the poll limit 13.
eStatus scanner_is_paper_ready(GLScanner* g, ScanJob* job);
// Polls every 100 ms until the motor-running byte is clear: STATUS_GOOD, or 14 after
// MOTOR_STOP_TICKS ticks, or 4 when a poll fails.
eStatus wait_motor_stop(GLScanner* g, ScanJob* job);
// Sixtieths of a second of the driver's monotonic clock.
uint32_t GetTickCount();
