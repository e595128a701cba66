#include "scanner_transcript.h"

#include <cstdio>

namespace sim {

std::string Transaction::brief() const
{
    char params[48] = "";
    if (tag == "JOB") {
        std::snprintf(params, sizeof params, " %c", code >= 0x20 && code < 0x7F ? static_cast<char>(code) : '?');
    } else if (tag == "RES" || tag == "ATTR" || tag == "CANC") {
        std::snprintf(params, sizeof params, " %u", index);
    } else if (tag == "CALI") {
        std::snprintf(params, sizeof params, " %u %u", value, index);
    } else if (tag == "SHAD") {
        std::snprintf(params, sizeof params, " %u %u", index, level);
    } else if (tag == "IMG") {
        std::snprintf(params, sizeof params, " %u %u", index, length);
    } else if (tag == "MOTO") {
        std::snprintf(params, sizeof params, " %02X %u", sub, kind == TxKind::Job ? value : length);
    }
    return tag + (kind == TxKind::Write ? " send" : "") + params;
}

Injection Injection::refuse(Target t, uint8_t key, uint8_t code)
{
    return {.target = std::move(t), .action = Action::Refuse, .key = key, .code = code};
}

Injection Injection::refuse_header_only(Target t)
{
    return {.target = std::move(t), .action = Action::RefuseHeaderOnly, .key = 5, .code = 0x20};
}

Injection Injection::job_reply_id(Target t, uint8_t byte7)
{
    return {.target = std::move(t), .action = Action::JobReplyId, .byte7 = byte7};
}

Injection Injection::info_bytes(Target t, std::vector<std::pair<size_t, uint8_t>> bytes)
{
    return {.target = std::move(t), .action = Action::InfoBytes, .bytes = std::move(bytes)};
}

Injection Injection::short_reply(Target t, size_t keep)
{
    return {.target = std::move(t), .action = Action::ShortReply, .keep = keep};
}

Injection Injection::stall(Target t, Phase phase)
{
    return {.target = std::move(t), .action = Action::Stall, .phase = phase};
}

Injection Injection::disconnect(Target t, Phase phase)
{
    return {.target = std::move(t), .action = Action::Disconnect, .phase = phase};
}

Injection Injection::silence(Target t)
{
    return {.target = std::move(t), .action = Action::Silence, .phase = Phase::Reply};
}

Injection Injection::no_answer(Target t)
{
    return {.target = std::move(t), .action = Action::NoAnswer};
}

Injection Injection::image_bytes(Target t, std::vector<std::pair<size_t, uint8_t>> xors)
{
    return {.target = std::move(t), .action = Action::ImageBytes, .bytes = std::move(xors)};
}

} // namespace sim
