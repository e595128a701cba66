// The simulated scanner's own record of the protocol: one entry per transaction (request or job
// frame) with its decoded fields and its raw bytes, and the faults a test can inject into chosen
// transactions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class TxKind {
    Read,
    Write,
    Control,
    Job
};

enum class TxOutcome {
    Accepted,
    Refused,   // answered 'E'; the sense key and code are recorded
    Violation, // the driver broke the protocol (see ScannerModel::violations)
    Broken,    // an injected stall or disconnect ended it
};

struct Transaction {
    uint64_t number = 0; // 1 for the model's first transaction
    TxKind kind = TxKind::Job;
    std::string tag;  // command tag without padding ("INQU", "RES", "JOB", "IMG"); empty until known
    uint8_t code = 0; // subject code of a request; byte 4 of a job frame
    // Decoded parameters: media index (RES, ATTR), value and index (CALI), value, deep, level and
    // kind in index (SHAD), the control bytes in value (GAMA), byte 6 in sub (MOTO), side (IMG)
    // or how (CANC) in index.
    uint16_t value = 0;
    uint8_t index = 0;
    uint8_t level = 0;
    uint8_t deep = 0;
    uint8_t sub = 0;
    uint32_t length = 0; // a request's header length, or a job frame's 24-bit operand
    size_t payload = 0;  // payload bytes sent (write, "PAR") or answered (read, "INFO", "IMG")
    uint32_t job_id = 0; // the device's job id when the transaction began
    TxOutcome outcome = TxOutcome::Accepted;
    uint8_t sense_key = 0;
    uint8_t sense_code = 0;
    // Raw bytes: the header or job frame; the command block; the data phase of a write (block and
    // payload) or of "PAR"; the reply (not kept for image data).
    std::vector<uint8_t> header;
    std::vector<uint8_t> block;
    std::vector<uint8_t> data;
    std::vector<uint8_t> reply;

    // A short name for sequence checks: "JOB C", "INQU", "RES 2", "SYS send", "CALI 1600 0",
    // "SHAD send 1 0" (kind, level), "IMG 0 4096" (side, count), "CANC 1", "MOTO A2 4095".
    std::string brief() const;
};

// Which transaction an injection hits: the n-th transaction with this tag counted from when the
// injection is added, or a transaction number. A tag is a command tag ("ATTR", "JOB", "IMG") or,
// to aim at a request's header before its block names the command, "VEKR", "VEKW" or "VEKC".
struct Target {
    std::string tag;
    int occurrence = 1;
    uint64_t number = 0;

    static Target next(std::string tag, int occurrence = 1) { return {std::move(tag), occurrence, 0}; }
    static Target transaction(uint64_t number) { return {{}, 0, number}; }
};

// Where a transport fault strikes: the header or job frame, the data phase (a request's block or
// write data, the "PAR" block), or the reply.
enum class Phase {
    Header,
    Data,
    Reply
};

struct Injection {
    enum class Action {
        Refuse,           // 'E' with this key and code; nothing is done (bare replies stall)
        RefuseHeaderOnly, // a read answered with the 8-byte 'E' header only
        JobReplyId,       // byte 7 of a job reply
        InfoBytes,        // overwrite bytes of an "INFO" reply
        ShortReply,       // deliver `keep` bytes of the reply and drop the rest
        Stall,
        Disconnect,
        Silence,    // from this reply on the device answers nothing (ScannerModel::wake ends it)
        NoAnswer,   // the reply never comes; dropped when the client gives up on it
        ImageBytes, // XOR bytes of an "IMG" reply, at offsets taken modulo its length
    };
    Target target;
    Action action = Action::Refuse;
    Phase phase = Phase::Reply;
    uint8_t key = 0;
    uint8_t code = 0;
    uint8_t byte7 = 0;
    size_t keep = 0;
    std::vector<std::pair<size_t, uint8_t>> bytes = {};

    static Injection refuse(Target t, uint8_t key, uint8_t code);
    static Injection refuse_header_only(Target t);
    static Injection job_reply_id(Target t, uint8_t byte7);
    static Injection info_bytes(Target t, std::vector<std::pair<size_t, uint8_t>> bytes);
    static Injection short_reply(Target t, size_t keep);
    static Injection stall(Target t, Phase phase);
    static Injection disconnect(Target t, Phase phase);
    static Injection silence(Target t);
    static Injection no_answer(Target t);
    static Injection image_bytes(Target t, std::vector<std::pair<size_t, uint8_t>> xors);
};

} // namespace sim
