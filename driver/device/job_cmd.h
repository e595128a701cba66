// The job commands. A device job is opened with "JOB" 'C' and closed with "JOB" 'E'; in between,
// scanning, status polls and image reads are 8-byte job frames (tag, operand in bytes 4-6, the
// job id or side in byte 7), each followed by an 8-byte job reply or by data. A reply is good when
// its byte 4 is not 'E' and its byte 7 is the current job id.
//
// Every command answers STATUS_TRANSFER_FAILED when a frame, parameter or reply transfer fails,
// STATUS_REFUSED_REQUEST for a reply that is not good (STATUS_UNEXPECTED_JOB_REPLY for the motor
// commands), and changes no state then.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>

struct GLScanner;
struct ScanJob;

constexpr size_t JOB_FRAME_SIZE = 8;
constexpr size_t JOB_REPLY_SIZE = 8;

// Good when the reply's byte 7 is 1; the job id becomes 1. A refused create gives 18 and changes
// nothing, except after a create or end whose transfer was cut off: the device may then still hold
// a job, so it is ended ("JOB" E) and the create asked once more.
eStatus cmd_job_create(GLScanner* g);
// On a good reply the job id becomes 0; otherwise it stays.
eStatus cmd_job_end(GLScanner* g);
// True when the device holds the driver's job for certain: the job id is set and no create or end
// has been cut off since. After a lost end reply the device may well have ended the job; frames
// sent into it would all be refused, so a new one is created instead.
bool job_surely_open(const GLScanner* g);
// The frame, then the job's 40-byte parameter block, then the reply.
eStatus cmd_set_parameters(GLScanner* g, ScanJob* job);
// Both pause 100 ms after a good reply.
eStatus cmd_scan(GLScanner* g, ScanJob* job);
eStatus cmd_stop(GLScanner* g, ScanJob* job);
// how: 0 drops the current page (jam, double feed), 1 drops pending data (stop).
eStatus cmd_cancel(GLScanner* g, ScanJob* job, uint8_t how);
// The 48-byte reply is copied whole into the job's status, whatever it holds. A failed read keeps
// the previous status.
eStatus cmd_information(GLScanner* g, ScanJob* job);
// Reads `count` image bytes of `side` straight into the buffer; count 0 sends the frame only.
// STATUS_GOOD with *got = count; a failed or short data read answers STATUS_UNEXPECTED_JOB_REPLY
// (STATUS_DEVICE_GONE when the device left the bus) with *got = 0, and the buffer must not be
// used. A count above 24 bits or a null buffer answers STATUS_TRANSFER_FAILED before anything is
// sent.
eStatus cmd_read(GLScanner* g, ScanJob* job, int side, uint8_t* buffer, uint32_t count, uint32_t* got);
// Good when the reply is "STA\0" with 'A' in byte 4. `source` is packed as in the parameter block;
// byte 6 is 1 (load) or 2 (eject) for "ADF", else 5 or 6.
eStatus cmd_motor_load_paper(GLScanner* g, uint32_t source, uint16_t value);
eStatus cmd_motor_eject_paper(GLScanner* g, uint32_t source, uint16_t value);
