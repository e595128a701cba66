// The host's command blocks as a script: each command block, with its record, goes to the root
// object's Entry as a host would send it, on whatever transport is installed (replay_usb.h).
// Fields that the host contract makes pointers (records, tables, line buffers, the callback
// block) always point at memory of the size the command implies; everything else is the
// script's. Broken promises abort (fuzz_check.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// One command of a script: code, verb, value, flags, and the record's first bytes.
struct HostCommand {
    int16_t code;
    uint16_t verb;
    uint32_t value;
    uint8_t flags; // kNoRecord, kEffectiveCode
    std::vector<uint8_t> record;
};
constexpr uint8_t kNoRecord = 1;
constexpr uint8_t kEffectiveCode = 2;

// A script's bytes: a little-endian u16 length, then that many bytes of commands; the rest of an
// input is the device's replies.
std::string encode_script(const std::vector<HostCommand>& commands);
// The commands of an input and where the device's replies begin.
std::vector<HostCommand> decode_script(const uint8_t* data, size_t size, size_t* replies_at);

// Runs the commands on a new root object, then ends it as a host would.
void run_host_session(const std::vector<HostCommand>& commands);

} // namespace fuzz
