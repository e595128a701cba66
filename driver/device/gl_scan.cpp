#include "gl_scan.h"

#include "scan_side_cache.h"
#include "dbg_log.h"
#include "driver_sleep.h"
#include "job_cmd.h"
#include "vek_cmd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();

eStatus finish(const char* name, eStatus s)
{
    if (!s.ok()) DBG_LOG(kLogErrors, "%s failed with %u\n", name, s.code());
    DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", static_cast<int>(s.code()));
    return s;
}

// Counts the 100 ms waits of one loop. Progress is a change of the snapshot the loop passes in;
// SCAN_POLL_LIMIT waits in a row without it end the loop, and so does the host giving up.
class PollWatch {
public:
    // Sleeps one poll interval; false, without sleeping, once the limit is reached or the host
    // has given up.
    bool wait(uint64_t a, uint64_t b = 0, uint64_t c = 0)
    {
        const std::array<uint64_t, 3> now{a, b, c};
        if (!seen_ || now != last_) {
            seen_ = true;
            last_ = now;
            idle_ = 0;
        }
        if (driver_cancel_requested()) {
            DBG_LOG(kLogErrors, "the host gave the wait up\n");
            return false;
        }
        if (idle_ >= SCAN_POLL_LIMIT) return false;
        ++idle_;
        driver_sleep_ms(SCAN_POLL_MS);
        return true;
    }

private:
    std::array<uint64_t, 3> last_{};
    bool seen_ = false;
    uint32_t idle_ = 0;
};

// How a read or poll reports a transfer that failed: a device that left the bus as gone, any
// other failure (a time-out, a stall, a short transfer) as 4.
eStatus transfer_failure(eStatus s)
{
    return s == STATUS_DEVICE_GONE ? s : STATUS_TRANSFER_FAILED;
}

// Whether a status means the device did not answer at all, so that asking it anything more would
// only wait again.
bool unanswered(eStatus s)
{
    return s == STATUS_TRANSFER_FAILED || s == STATUS_DEVICE_GONE;
}

void clear_bookkeeping(ScanJob* job)
{
    for (int s = 0; s < 2; ++s) {
        job->page_total[s] = 0;
        job->bytes_read[s] = 0;
        job->end_reported[s] = 0;
        job->all_fetched[s] = 0;
        job->polled[s] = 0;
        job->line_width[s] = 0;
    }
}

// The error, jam and double-feed tests of every status reply.
eStatus check_status(GLScanner* g, ScanJob* job)
{
    if (job->device_error() != 0) return STATUS_DEVICE_ERROR;
    if (job->paper_jam() != 0) {
        if (const eStatus s = handle_paper_jam(g, job); !s.ok()) return s;
    }
    if (job->double_feed() == 'U') {
        if (const eStatus s = handle_double_feed(g, job); !s.ok()) return s;
    }
    return STATUS_GOOD;
}

// The side test after a jam or double feed: the front goes on while its state is clear; a scan
// without the back stops; the back goes on while its state is clear.
eStatus side_test(const ScanJob* job, eStatus stop)
{
    if ((job->sides() & 1) != 0 && job->side_state(0) == 0) return STATUS_GOOD;
    if ((job->sides() & 2) == 0) return stop;
    return job->side_state(1) == 0 ? STATUS_GOOD : stop;
}

bool data_ready(const ScanJob* job)
{
    if (job->window_kind() != 0) return job->image_height(0) != 0 || job->image_height(1) != 0;
    if (job->sides() == 3) return job->bytes_ready(0) != 0 && job->bytes_ready(1) != 0;
    return job->bytes_ready(0) != 0 || job->bytes_ready(1) != 0;
}

// An image scan's side whose page ended before any of it was ready: it never will be.
bool page_ended_empty(const ScanJob* job)
{
    if (job->window_kind() != 0) return false;
    for (int s = 0; s < 2; ++s)
        if ((job->sides() >> s & 1) != 0 && job->page_end(s) != 0 && job->bytes_ready(s) == 0 &&
            job->bytes_read[s] == 0)
            return true;
    return false;
}

// An image scan's side whose lines cannot be told apart: narrower than its window, or of another
// width than the side first reported, or of another height than the window. A device may make
// its lines wider than the window (rounding the width up); the caller takes the window's columns
// of them. A side may report 0 while it does not know yet.
void note_line_width(ScanJob* job, int s)
{
    if (job->line_width[s] == 0) job->line_width[s] = job->image_width(s);
}

bool geometry_differs(ScanJob* job, int s)
{
    if (job->window_kind() != 0) return false;
    const uint32_t width = job->image_width(s), height = job->image_height(s);
    if (height != 0 && height != job->height()) return true;
    if (width == 0) return false;
    note_line_width(job, s);
    return width < job->width() || width != job->line_width[s];
}

eStatus begin_scan(GLScanner* g, ScanJob* job)
{
    if (!job_surely_open(g)) {
        if (const eStatus s = cmd_job_create(g); !s.ok()) return s;
    }
    if (job->source() == SCAN_SOURCE_ADF) {
        if (const eStatus s = vek_cmd_read_system_status(g); !s.ok()) return s;
        if (g->system_status[0] == 0) return STATUS_NO_PAPER;
    }
    if (job->send_gamma() != 0) {
        if (const eStatus s = vek_cmd_send_gamma(g); !s.ok()) return s;
    }
    if (g->calibration_action[8] != 0) {
        if (const eStatus s = vek_cmd_send_calibration_action_data(g); !s.ok()) return s;
    }
    if (const eStatus s = vek_cmd_set_window(g, job); !s.ok()) return s;
    if (const eStatus s = vek_cmd_send_isp_parameter_a(g); !s.ok()) return s;
    if (job->sides() == 3) {
        if (const eStatus s = vek_cmd_send_isp_parameter_b(g); !s.ok()) return s;
    }
    if (const eStatus s = cmd_set_parameters(g, job); !s.ok()) return s;
    return cmd_scan(g, job);
}

// A start that cannot go on stops the device and ends the job; the scan is no longer started.
eStatus failed_start(GLScanner* g, ScanJob* job, eStatus s)
{
    if (g->job_id != 0) {
        cmd_stop(g, job);
        cmd_job_end(g);
    }
    g->scan_started = 0;
    return s;
}

int side_index(int side)
{
    return side != 0 ? 1 : 0;
}

// One side's read in progress: the caller's buffer and what is still to be filled.
struct Request {
    uint8_t* out;
    uint64_t left;

    void advance(uint64_t n)
    {
        out += n;
        left -= n;
    }
};

// After a status poll: the page total, once the side's geometry is known.
void note_page_total(ScanJob* job, int s, bool need_ready)
{
    if (job->page_total[s] != 0) return;
    const uint64_t lines = job->image_height(s);
    const uint64_t width = job->image_width(s);
    if (lines == 0 || width == 0 || (need_ready && job->bytes_ready(s) == 0)) return;
    job->page_total[s] = lines * width * (job->bits_per_pixel() / 8);
}

// Bytes of the page not yet read; kUnknown before the total is known.
uint64_t page_left(const ScanJob* job, int s)
{
    if (job->page_total[s] == 0) return kUnknown;
    return job->page_total[s] > job->bytes_read[s] ? job->page_total[s] - job->bytes_read[s] : 0;
}

uint64_t line_bytes(const ScanJob* job, int s)
{
    return uint64_t{job->image_width(s)} * job->bits_per_pixel() / 8;
}

void report_end(ScanJob* job, int s, uint8_t* end)
{
    *end = 1;
    job->end_reported[s] = 1;
}

// The page ended before the request was filled: the caller gets what was scanned and the end, and
// the rest of the buffer is zeroed, so no stale bytes pass for image data.
eStatus end_short(ScanJob* job, int s, Request& request, uint8_t* end)
{
    if (request.left > 0) std::memset(request.out, 0, request.left);
    request.left = 0;
    report_end(job, s, end);
    DBG_LOG(kLogDetails, "side %d: the page ended short after %llu bytes\n", s,
            static_cast<unsigned long long>(job->bytes_read[s]));
    return STATUS_GOOD;
}

// The page ended with nothing read: there is nothing to deliver and nothing will come.
eStatus ended_empty(int s)
{
    DBG_LOG(kLogErrors, "side %d: the page ended without data\n", s);
    return STATUS_UNEXPECTED_JOB_REPLY;
}

// The answer of after_idle_pass that lets the read loop poll again.
constexpr eStatus kPollAgain = static_cast<eStatus>(~0u);

// After a read pass that took nothing: on a page that ended with nothing more ready, the end (or a
// failure when nothing ever came); while fewer bytes than asked are ready and their count grows,
// a poll at once; otherwise a 100 ms pause, until the wait runs out.
eStatus after_idle_pass(ScanJob* job, int s, Request& request, uint8_t* end, uint32_t ready, uint32_t& last_ready,
                        PollWatch& watch)
{
    const bool page_end = job->page_end(s) != 0;
    if (ready == 0 && page_end) return job->bytes_read[s] > 0 ? end_short(job, s, request, end) : ended_empty(s);
    const bool grew = ready > last_ready;
    last_ready = ready;
    if (grew || watch.wait(ready, page_end, job->bytes_read[s])) return kPollAgain;
    DBG_LOG(kLogErrors, "side %d: no progress in %u polls, or the host gave the wait up\n", s, SCAN_POLL_LIMIT);
    return STATUS_TRANSFER_FAILED;
}

// The status poll of a read pass.
eStatus poll_for_read(GLScanner* g, ScanJob* job, int s)
{
    if (const eStatus st = cmd_information(g, job); !st.ok()) return transfer_failure(st);
    if (const eStatus st = check_status(g, job); !st.ok()) return st;
    if (geometry_differs(job, s)) {
        DBG_LOG(kLogErrors, "side %d now reports %u x %u for a window of %u x %u\n", s, job->image_width(s),
                job->image_height(s), job->width(), job->height());
        return STATUS_UNEXPECTED_JOB_REPLY;
    }
    return STATUS_GOOD;
}

// Reads `n` bytes of the side straight into `out`, in device reads of at most 1 MiB.
eStatus read_pieces(GLScanner* g, ScanJob* job, int s, uint8_t* out, uint64_t n)
{
    while (n > 0) {
        const auto piece = static_cast<uint32_t>(std::min<uint64_t>(n, SCAN_CACHE_SIZE));
        uint32_t got = 0;
        if (const eStatus st = cmd_read(g, job, s, out, piece, &got); !st.ok()) return transfer_failure(st);
        if (got != piece) return STATUS_TRANSFER_FAILED;
        job->bytes_read[s] += piece;
        out += piece;
        n -= piece;
    }
    return STATUS_GOOD;
}

} // namespace

eStatus scanner_start_scan(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogParameters, "scanner_start_scan\n");
    if (g == nullptr || job == nullptr) return finish("scanner_start_scan", STATUS_TRANSFER_FAILED);
    clear_bookkeeping(job);
    if (g->scan_started == 0) {
        g->scan_started = 1;
        g->double_feed_handled = 0;
        g->jam_handled = 0;
        g->handled_spare = 0;
        if (const eStatus s = begin_scan(g, job); !s.ok()) return finish("scanner_start_scan", failed_start(g, job, s));
    }
    PollWatch watch;
    for (;;) {
        if (const eStatus s = cmd_information(g, job); !s.ok())
            return finish("scanner_start_scan", failed_start(g, job, s));
        if (const eStatus s = check_status(g, job); !s.ok()) return finish("scanner_start_scan", s);
        if (page_ended_empty(job)) {
            DBG_LOG(kLogErrors, "scanner_start_scan: the page ended without data\n");
            return finish("scanner_start_scan", failed_start(g, job, STATUS_UNEXPECTED_JOB_REPLY));
        }
        if (data_ready(job)) {
            // The widths the caller sets its lines up for: later replies must keep them.
            for (int s = 0; s < 2; ++s) note_line_width(job, s);
            set_scanner_read_function(g, job);
            return finish("scanner_start_scan", STATUS_GOOD);
        }
        const uint64_t seen = (job->bytes_ready(0) != 0) | (job->bytes_ready(1) != 0) << 1 |
            (job->image_height(0) != 0) << 2 | (job->image_height(1) != 0) << 3;
        if (!watch.wait(seen)) {
            DBG_LOG(kLogErrors, "scanner_start_scan: no data after %u polls\n", SCAN_POLL_LIMIT);
            return finish("scanner_start_scan", failed_start(g, job, STATUS_TRANSFER_FAILED));
        }
    }
}

void set_scanner_read_function(GLScanner* g, const ScanJob* job)
{
    if (g == nullptr || job == nullptr) return;
    switch (job->bits_per_pixel()) {
    case 8:
    case 16:
    case 24:
    case 48: g->read_function = read_cache; break;
    default: g->read_function = read_direct; break;
    }
}

eStatus scanner_read(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end)
{
    if (end != nullptr) *end = 0;
    if (g == nullptr || job == nullptr || length == nullptr || end == nullptr || (side != 0 && side != 1) ||
        (buffer == nullptr && *length > 0))
        return STATUS_TRANSFER_FAILED;
    if (job->end_reported[side] != 0) {
        if (*length > 0) std::memset(buffer, 0, *length);
        return STATUS_GOOD;
    }
    if (g->read_function == nullptr) set_scanner_read_function(g, job);
    return g->read_function(g, job, side, buffer, length, end);
}

eStatus read_cache(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end)
{
    const int s = side_index(side);
    cache_t*& cache = g->caches[s];
    if (cache == nullptr && (cache = cache_new(SCAN_CACHE_SIZE)) == nullptr) return STATUS_NO_MEMORY;

    const uint32_t held = cache_remain_data(cache);
    if (*length <= held) {
        if (job->all_fetched[s] != 0 && held == *length) report_end(job, s, end);
        cache_read(cache, buffer, *length);
        return STATUS_GOOD;
    }
    Request request{buffer, *length};
    cache_read(cache, request.out, held);
    request.advance(held);
    if (job->all_fetched[s] != 0) return end_short(job, s, request, end);

    PollWatch watch;
    uint32_t last_ready = 0; // bytes ready at the pass before, to tell a growing count
    for (;;) {
        if (job->polled[s] == 0) {
            if (const eStatus st = poll_for_read(g, job, s); !st.ok()) return st;
            job->polled[0] = job->polled[1] = 1;
            note_page_total(job, s, true);
        }
        job->polled[s] = 0;
        const uint32_t ready = job->bytes_ready(s);
        const bool page_end = job->page_end(s) != 0;

        if (ready != 0) {
            const uint64_t line = line_bytes(job, s);
            // A line of 0 bytes or one the cache cannot hold can never be read.
            if (line == 0 || line > SCAN_CACHE_SIZE) {
                DBG_LOG(kLogErrors, "read_cache: side %d has a line of %llu bytes\n", s,
                        static_cast<unsigned long long>(line));
                return STATUS_TRANSFER_FAILED;
            }
            const uint64_t left = page_left(job, s);
            if (left == 0) return end_short(job, s, request, end);
            uint64_t n = std::min({uint64_t{ready}, uint64_t{SCAN_CACHE_SIZE}, left});
            n -= n % line;
            const bool enough = ready >= std::min(request.left, left);
            if (n > 0 && (enough || page_end)) {
                uint32_t got = 0;
                if (const eStatus st = cmd_read(g, job, s, cache_get_ptr(cache), static_cast<uint32_t>(n), &got);
                    !st.ok())
                    return transfer_failure(st);
                if (got != n) return STATUS_TRANSFER_FAILED;
                cache_update_ptr(cache, cache_get_ptr(cache) + got);
                job->bytes_read[s] += got;
                if ((page_end && got == ready) || job->bytes_read[s] == job->page_total[s]) job->all_fetched[s] = 1;
                const auto take = static_cast<uint32_t>(std::min<uint64_t>(request.left, got));
                cache_read(cache, request.out, take);
                request.advance(take);
                if (request.left == 0) {
                    if (job->all_fetched[s] != 0 && cache_remain_data(cache) == 0) report_end(job, s, end);
                    return STATUS_GOOD;
                }
                if (job->all_fetched[s] != 0) return end_short(job, s, request, end);
                last_ready = 0;
                continue;
            }
            // Only part of a line is left of a finished page.
            if (page_end) return end_short(job, s, request, end);
        }
        if (const eStatus next = after_idle_pass(job, s, request, end, ready, last_ready, watch); next != kPollAgain)
            return next;
    }
}

eStatus read_direct(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t* length, uint8_t* end)
{
    const int s = side_index(side);
    Request request{buffer, *length};
    PollWatch watch;
    uint32_t last_ready = 0; // bytes ready at the pass before, to tell a growing count
    for (;;) {
        if (const eStatus st = poll_for_read(g, job, s); !st.ok()) return st;
        note_page_total(job, s, false);
        const uint32_t ready = job->bytes_ready(s);
        const bool page_end = job->page_end(s) != 0;

        if (ready != 0) {
            if (line_bytes(job, s) == 0) {
                DBG_LOG(kLogErrors, "read_direct: side %d has lines of 0 bytes\n", s);
                return STATUS_TRANSFER_FAILED;
            }
            const uint64_t left = page_left(job, s);
            if (left == 0) return end_short(job, s, request, end);
            const uint64_t want = std::min(request.left, left);
            if (ready >= want || page_end) {
                const uint64_t n = std::min<uint64_t>(want, ready);
                if (const eStatus st = read_pieces(g, job, s, request.out, n); !st.ok()) return st;
                request.advance(n);
                const bool page_done = (page_end && n == ready) || job->bytes_read[s] == job->page_total[s];
                if (request.left == 0) {
                    if (page_done) report_end(job, s, end);
                    return STATUS_GOOD;
                }
                if (page_done) return end_short(job, s, request, end);
                last_ready = 0;
                continue;
            }
        }
        if (const eStatus next = after_idle_pass(job, s, request, end, ready, last_ready, watch); next != kPollAgain)
            return next;
    }
}

eStatus handle_paper_jam(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogDetails, "handle_paper_jam\n");
    if (g->jam_handled == 0) {
        const bool nothing = job->page_number(0) == 0 && job->page_number(1) == 0 && job->bytes_ready(0) == 0 &&
            job->bytes_ready(1) == 0;
        if (job->jam_cancels_page() != 0 || nothing) {
            if (const eStatus s = cmd_cancel(g, job, 0); !s.ok()) return s;
        }
        g->jam_handled = 1;
    }
    return side_test(job, STATUS_PAPER_JAM);
}

eStatus handle_double_feed(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogDetails, "handle_double_feed\n");
    if (g->double_feed_handled == 0) {
        driver_sleep_ms(SCAN_POLL_MS);
        if (const eStatus s = cmd_cancel(g, job, 0); !s.ok()) return s;
        g->double_feed_handled = 1;
    }
    return side_test(job, STATUS_DOUBLE_FEED);
}

eStatus scanner_stop_scan(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogParameters, "scanner_stop_scan\n");
    if (g == nullptr || job == nullptr) return finish("scanner_stop_scan", STATUS_TRANSFER_FAILED);
    for (cache_t* c : g->caches) cache_reset(c);
    eStatus first = STATUS_GOOD;
    if (g->scan_started != 0) {
        // A device that does not answer is asked nothing more: every further request would wait
        // out its own time-out. The scan is over for the driver; the job the device may still
        // hold is left for the next create, which ends a job it is unsure of.
        eStatus s = cmd_information(g, job);
        if (s.ok() && (job->bytes_ready(0) != 0 || job->bytes_ready(1) != 0)) {
            s = cmd_cancel(g, job, 1);
            if (s.ok()) s = cmd_information(g, job);
        }
        if (!s.ok()) first = transfer_failure(s);
        if (!unanswered(s)) {
            s = cmd_stop(g, job);
            if (!s.ok() && first.ok()) first = transfer_failure(s);
        }
        if (unanswered(s)) {
            g->scan_started = 0;
            g->job_unsure = true;
            return finish("scanner_stop_scan", first);
        }
    }
    g->scan_started = 0;
    if (g->job_id != 0) {
        const eStatus s = cmd_job_end(g);
        if (first.ok()) first = s;
    }
    return finish("scanner_stop_scan", first);
}

uint16_t scanner_get_page_number(const GLScanner* g, int side)
{
    if (g == nullptr || g->scan_job == nullptr) return 0;
    return g->scan_job->page_number(side);
}

uint32_t GetTickCount()
{
    const uint64_t t = driver_monotonic_ns();
    constexpr uint64_t kScale = 0x80D9594E; // 2^55 / (10^9 / 60), so that >> 55 gives sixtieths
    const uint64_t scaled = (t >> 32) * kScale + (((t & 0xFFFFFFFFu) * kScale) >> 32);
    return static_cast<uint32_t>(scaled >> 23);
}

eStatus wait_motor_stop(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogParameters, "wait_motor_stop\n");
    if (g == nullptr || job == nullptr) return finish("wait_motor_stop", STATUS_TRANSFER_FAILED);
    const uint32_t start = GetTickCount();
    for (;;) {
        if (const eStatus s = cmd_information(g, job); !s.ok()) return finish("wait_motor_stop", transfer_failure(s));
        if (job->motor_running() == 0) return finish("wait_motor_stop", STATUS_GOOD);
        if (GetTickCount() - start >= MOTOR_STOP_TICKS) return finish("wait_motor_stop", STATUS_MOTOR_NOT_STOPPED);
        driver_sleep_ms(SCAN_POLL_MS);
    }
}

eStatus scanner_is_paper_ready(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogParameters, "scanner_is_paper_ready\n");
    if (g == nullptr || job == nullptr) return finish("scanner_is_paper_ready", STATUS_TRANSFER_FAILED);
    PollWatch watch;
    for (;;) {
        if (const eStatus s = cmd_information(g, job); !s.ok())
            return finish("scanner_is_paper_ready", transfer_failure(s));
        if (job->device_error() != 0) return finish("scanner_is_paper_ready", STATUS_DEVICE_ERROR);
        const bool jam = job->paper_jam() != 0;
        if (jam || job->double_feed() == 'U') {
            if (const eStatus s = wait_motor_stop(g, job); !s.ok()) return finish("scanner_is_paper_ready", s);
            return finish("scanner_is_paper_ready", jam ? STATUS_PAPER_JAM : STATUS_DOUBLE_FEED);
        }
        if (job->feeder_ready() == 'D' || job->bytes_ready(0) != 0 || job->bytes_ready(1) != 0)
            return finish("scanner_is_paper_ready", STATUS_GOOD);
        if (!watch.wait(0)) return finish("scanner_is_paper_ready", STATUS_NO_PAPER);
    }
}
