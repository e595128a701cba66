#include "job_cmd.h"

#include "dbg_log.h"
#include "driver_sleep.h"
#include "gl_scanner.h"
#include "le_bytes.h"
#include "vek_request.h"

#include <array>
#include <cstring>

namespace {

constexpr uint32_t kPauseMs = 100;

using Frame = std::array<uint8_t, JOB_FRAME_SIZE>;
using Reply = std::array<uint8_t, JOB_REPLY_SIZE>;

Frame frame(const char* tag, uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    Frame f{};
    std::memcpy(f.data(), tag, strnlen(tag, 4));
    f[4] = b4;
    f[5] = b5;
    f[6] = b6;
    f[7] = b7;
    return f;
}

uint8_t job_byte(const GLScanner* g)
{
    return static_cast<uint8_t>(g->job_id);
}

bool usable(const GLScanner* g)
{
    return g != nullptr && g->device != nullptr;
}

// Writes the frame and reads the 8-byte reply.
eStatus exchange(GLScanner* g, const Frame& f, Reply& reply)
{
    if (const eStatus s = device_BulkWriteEx(g->device, f.data(), f.size()); !s.ok()) return s;
    return device_BulkReadEx(g->device, reply.data(), reply.size());
}

bool good_reply(const GLScanner* g, const Reply& reply)
{
    return reply[4] != VEK_REPLY_REFUSED && reply[7] == job_byte(g);
}

// A frame whose good reply is the whole result.
eStatus simple_command(GLScanner* g, const Frame& f)
{
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    Reply reply{};
    if (const eStatus s = exchange(g, f, reply); !s.ok()) return s;
    return good_reply(g, reply) ? STATUS_GOOD : STATUS_REFUSED_REQUEST;
}

eStatus pausing_command(GLScanner* g, const char* tag)
{
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    if (const eStatus s = simple_command(g, frame(tag, 0, 0, 0, job_byte(g))); !s.ok()) return s;
    driver_sleep_ms(kPauseMs);
    return STATUS_GOOD;
}

eStatus motor_command(GLScanner* g, uint16_t value, uint8_t operation)
{
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    Reply reply{};
    if (const eStatus s = exchange(
            g, frame("MOTO", static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), operation, job_byte(g)),
            reply);
        !s.ok())
        return s;
    const bool good = std::memcmp(reply.data(), "STA\0", 4) == 0 && reply[4] == 'A';
    return good ? STATUS_GOOD : STATUS_UNEXPECTED_JOB_REPLY;
}

} // namespace

eStatus cmd_job_create(GLScanner* g)
{
    DBG_LOG(kLogCommands, "cmd_job_create\n");
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    Reply reply{};
    if (const eStatus s = exchange(g, frame("JOB", 'C', 0, 0, 0), reply); !s.ok()) {
        g->job_unsure = true;
        return s;
    }
    if (reply[4] == VEK_REPLY_REFUSED && g->job_unsure) {
        // The last create or end was cut off by a broken transfer, so the device may still hold a
        // job and then refuses every new one: end that job and ask once more.
        Reply ended{};
        if (const eStatus s = exchange(g, frame("JOB", 'E', 0, 0, 1), ended); !s.ok()) return s;
        if (const eStatus s = exchange(g, frame("JOB", 'C', 0, 0, 0), reply); !s.ok()) return s;
    }
    // A plain refusal changes nothing. An acceptance for another job than 1 may still have opened
    // one on the device, which the next create then ends first.
    if (reply[4] == VEK_REPLY_REFUSED) return STATUS_REFUSED_REQUEST;
    if (reply[7] != 1) {
        g->job_unsure = true;
        return STATUS_REFUSED_REQUEST;
    }
    g->job_unsure = false;
    g->job_id = 1;
    return STATUS_GOOD;
}

eStatus cmd_job_end(GLScanner* g)
{
    DBG_LOG(kLogCommands, "cmd_job_end\n");
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    Reply reply{};
    if (const eStatus s = exchange(g, frame("JOB", 'E', 0, 0, job_byte(g)), reply); !s.ok()) {
        if (s == STATUS_TRANSFER_FAILED) g->job_unsure = true;
        return s;
    }
    if (!good_reply(g, reply)) {
        // An acceptance for another job may have ended this one: the next start creates a job
        // rather than sending frames into none.
        if (reply[4] != VEK_REPLY_REFUSED) g->job_unsure = true;
        return STATUS_REFUSED_REQUEST;
    }
    g->job_id = 0;
    return STATUS_GOOD;
}

bool job_surely_open(const GLScanner* g)
{
    return g->job_id != 0 && !g->job_unsure;
}

eStatus cmd_set_parameters(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogCommands, "cmd_set_parameters: %zu bytes\n", ScanJob::kParaSize);
    if (!usable(g) || job == nullptr) return STATUS_TRANSFER_FAILED;
    const Frame f = frame("PAR", static_cast<uint8_t>(ScanJob::kParaSize), 0, 0, job_byte(g));
    if (const eStatus s = device_BulkWriteEx(g->device, f.data(), f.size()); !s.ok()) return s;
    if (const eStatus s = device_BulkWriteEx(g->device, job->para().data(), ScanJob::kParaSize); !s.ok()) return s;
    Reply reply{};
    if (const eStatus s = device_BulkReadEx(g->device, reply.data(), reply.size()); !s.ok()) return s;
    return good_reply(g, reply) ? STATUS_GOOD : STATUS_REFUSED_REQUEST;
}

eStatus cmd_scan(GLScanner* g, ScanJob*)
{
    DBG_LOG(kLogCommands, "cmd_scan\n");
    return pausing_command(g, "SCAN");
}

eStatus cmd_stop(GLScanner* g, ScanJob*)
{
    DBG_LOG(kLogCommands, "cmd_stop\n");
    return pausing_command(g, "STOP");
}

eStatus cmd_cancel(GLScanner* g, ScanJob*, uint8_t how)
{
    DBG_LOG(kLogCommands, "cmd_cancel: %u\n", how);
    if (!usable(g)) return STATUS_TRANSFER_FAILED;
    return simple_command(g, frame("CANC", 0, 0, how, job_byte(g)));
}

eStatus cmd_information(GLScanner* g, ScanJob* job)
{
    DBG_LOG(kLogCommands, "cmd_information: %zu bytes\n", ScanJob::kInfoSize);
    if (!usable(g) || job == nullptr) return STATUS_TRANSFER_FAILED;
    const Frame f = frame("INFO", static_cast<uint8_t>(ScanJob::kInfoSize), 0, 0, job_byte(g));
    if (const eStatus s = device_BulkWriteEx(g->device, f.data(), f.size()); !s.ok()) return s;
    std::array<uint8_t, ScanJob::kInfoSize> reply{};
    if (const eStatus s = device_BulkReadEx(g->device, reply.data(), reply.size()); !s.ok()) return s;
    std::memcpy(job->info().data(), reply.data(), reply.size());
    return STATUS_GOOD;
}

eStatus cmd_read(GLScanner* g, ScanJob*, int side, uint8_t* buffer, uint32_t count, uint32_t* got)
{
    DBG_LOG(kLogCommands, "cmd_read: side %d, %u bytes\n", side, count);
    if (got != nullptr) *got = 0;
    if (!usable(g) || count > U24_MAX || (buffer == nullptr && count > 0)) return STATUS_TRANSFER_FAILED;
    Frame f = frame("IMG", 0, 0, 0, static_cast<uint8_t>(side));
    put_u24le(f.data() + 4, count);
    if (const eStatus s = device_BulkWriteEx(g->device, f.data(), f.size()); !s.ok()) return s;
    // A 0-byte bulk read would be taken for the end of the data; nothing is asked for.
    if (count == 0) return STATUS_GOOD;
    if (const eStatus s = device_BulkReadEx(g->device, buffer, count); !s.ok())
        return s == STATUS_DEVICE_GONE ? s : STATUS_UNEXPECTED_JOB_REPLY;
    if (got != nullptr) *got = count;
    return STATUS_GOOD;
}

eStatus cmd_motor_load_paper(GLScanner* g, uint32_t source, uint16_t value)
{
    DBG_LOG(kLogCommands, "cmd_motor_load_paper\n");
    return motor_command(g, value, source == SCAN_SOURCE_ADF ? 1 : 5);
}

eStatus cmd_motor_eject_paper(GLScanner* g, uint32_t source, uint16_t value)
{
    DBG_LOG(kLogCommands, "cmd_motor_eject_paper\n");
    return motor_command(g, value, source == SCAN_SOURCE_ADF ? 2 : 6);
}
