// The scanner's request protocol over the bulk endpoints. A request is an 8-byte header ("VEKR"
// read, "VEKW" write, "VEKC" control; a 24-bit length), a 16-byte command block and, for a write,
// the payload; the device answers with an 8-byte reply header (byte 4 'E' refuses) followed, for a
// read, by the payload. Each transaction is a fixed sequence of whole transfers and stops at the
// first that fails.
//
// Results: STATUS_GOOD; STATUS_NO_MEMORY when the transfer buffer cannot be had (nothing sent);
// STATUS_TRANSFER_FAILED for a failed or short transfer, a length a 24-bit field cannot carry or a
// null buffer with a non-zero size (the last two before anything is sent); STATUS_REFUSED_REQUEST
// for a refusal. Only a good read copies anything into its destination.
#pragma once

#include "device_status.h"

#include <array>
#include <cstddef>
#include <cstdint>

struct GLScanner;

constexpr size_t VEK_HEADER_SIZE = 8;
constexpr size_t VEK_BLOCK_SIZE = 16;
constexpr size_t VEK_REPLY_HEADER_SIZE = 8;
constexpr uint8_t VEK_REPLY_REFUSED = 0x45; // 'E' in reply byte 4

using VekBlock = std::array<uint8_t, VEK_BLOCK_SIZE>;

// The three forms of the command block. Tags are up to four characters, padded with zero bytes.
// Read form: "READ" 0x28, subject tag at 8-11, subject code at 12.
VekBlock vek_read_block(const char* subject, uint8_t code);
// Send form: "SEND" 0x2A, subject tag at 8-11, subject code at 12.
VekBlock vek_send_block(const char* subject, uint8_t code);
// Own opcode: tag at 0-3, code at 4.
VekBlock vek_own_block(const char* tag, uint8_t code);

// "VEKR", length 8 + size: the reply's payload goes to `dest`.
eStatus vek_read_request(GLScanner* g, const VekBlock& block, uint8_t* dest, size_t size);
// "VEKW", length 16 + size: block and payload go out as one transfer.
eStatus vek_write_request(GLScanner* g, const VekBlock& block, const uint8_t* payload, size_t size);
// "VEKC", the length field carrying the command's operand.
eStatus vek_control_request(GLScanner* g, const VekBlock& block, uint64_t operand);
