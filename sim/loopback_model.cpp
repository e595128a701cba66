#include "loopback_model.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t kGetStatus = 0x00;

} // namespace

void LoopbackModel::push(uint8_t endpoint, InAction action)
{
    auto lock = guard();
    in_[endpoint].push_back(std::move(action));
    link().kick();
}

void LoopbackModel::reply(std::vector<uint8_t> bytes, uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::Data, .bytes = std::move(bytes)});
}

void LoopbackModel::reply_short(size_t n, uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::Short, .n = n});
}

void LoopbackModel::reply_zero_length(uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::ZeroLength});
}

void LoopbackModel::reply_stall(uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::Stall});
}

void LoopbackModel::reply_none(uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::NoAnswer});
}

void LoopbackModel::reply_late(std::chrono::milliseconds delay, uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::Late, .delay = delay});
}

void LoopbackModel::disconnect_after(size_t n, uint8_t endpoint)
{
    push(endpoint, {.kind = InKind::DisconnectAfter, .n = n});
}

void LoopbackModel::out_accept()
{
    auto lock = guard();
    out_.push_back(OutKind::Accept);
}

void LoopbackModel::out_stall()
{
    auto lock = guard();
    out_.push_back(OutKind::Stall);
}

void LoopbackModel::out_disconnect()
{
    auto lock = guard();
    out_.push_back(OutKind::Disconnect);
}

void LoopbackModel::set_echo(bool echo)
{
    auto lock = guard();
    echo_ = echo;
}

void LoopbackModel::refuse_claim(bool refuse)
{
    auto lock = guard();
    refuse_claim_ = refuse;
}

void LoopbackModel::refuse_set_configuration(bool refuse)
{
    auto lock = guard();
    refuse_set_configuration_ = refuse;
}

std::vector<uint8_t> LoopbackModel::received() const
{
    auto lock = const_cast<LoopbackModel*>(this)->guard();
    return received_;
}

size_t LoopbackModel::queued(uint8_t endpoint) const
{
    auto lock = const_cast<LoopbackModel*>(this)->guard();
    auto it = in_.find(endpoint);
    return it == in_.end() ? 0 : it->second.size();
}

int LoopbackModel::resets() const
{
    auto lock = const_cast<LoopbackModel*>(this)->guard();
    return resets_;
}

int LoopbackModel::out(uint8_t endpoint, std::span<const uint8_t> data)
{
    (void)endpoint;
    OutKind action = OutKind::Accept;
    if (!out_.empty()) {
        action = out_.front();
        out_.pop_front();
    }
    if (action == OutKind::Stall) return -EPIPE;
    if (action == OutKind::Disconnect) {
        link().disconnect();
        return 0;
    }
    received_.insert(received_.end(), data.begin(), data.end());
    if (echo_ && !data.empty()) {
        in_[0x81].push_back({.kind = InKind::Data, .bytes = {data.begin(), data.end()}});
        link().kick();
    }
    return static_cast<int>(data.size());
}

// Copies up to `limit` bytes of the first Data action into the buffer.
int LoopbackModel::take_data(std::deque<InAction>& queue, std::span<uint8_t> buffer, size_t limit)
{
    InAction& data = queue.front();
    const size_t n = std::min({buffer.size(), data.bytes.size() - data.offset, limit});
    if (n > 0) std::memcpy(buffer.data(), data.bytes.data() + data.offset, n);
    data.offset += n;
    if (data.offset == data.bytes.size()) queue.pop_front();
    return static_cast<int>(n);
}

int LoopbackModel::in(uint8_t endpoint, std::span<uint8_t> buffer)
{
    std::deque<InAction>& queue = in_[endpoint];
    while (!queue.empty()) {
        InAction& action = queue.front();
        switch (action.kind) {
        case InKind::Data: {
            auto budget = budget_.find(endpoint);
            if (budget == budget_.end()) return take_data(queue, buffer, buffer.size());
            const int n = take_data(queue, buffer, budget->second);
            budget->second -= static_cast<size_t>(n);
            if (budget->second == 0) {
                budget_.erase(budget);
                link().disconnect();
            }
            return n;
        }
        case InKind::Short: {
            const size_t n = action.n;
            queue.pop_front();
            if (queue.empty() || queue.front().kind != InKind::Data) return 0;
            const int moved = take_data(queue, buffer, n);
            // The rest of that reply is never sent.
            if (!queue.empty() && queue.front().kind == InKind::Data && queue.front().offset > 0) queue.pop_front();
            return moved;
        }
        case InKind::ZeroLength: queue.pop_front(); return 0;
        case InKind::Stall: queue.pop_front(); return -EPIPE;
        case InKind::NoAnswer: return kPending; // consumed when the client discards the URB
        case InKind::Late: {
            const auto now = std::chrono::steady_clock::now();
            if (!action.armed) {
                action.armed = true;
                action.due = now + action.delay;
            }
            if (now < action.due) return kPending;
            queue.pop_front();
            continue;
        }
        case InKind::DisconnectAfter: {
            const size_t n = action.n;
            queue.pop_front();
            if (n == 0) {
                link().disconnect();
                return 0;
            }
            budget_[endpoint] = n;
            continue;
        }
        }
    }
    return kPending;
}

void LoopbackModel::discarded(uint8_t endpoint)
{
    std::deque<InAction>& queue = in_[endpoint];
    if (!queue.empty() && queue.front().kind == InKind::NoAnswer) queue.pop_front();
}

int LoopbackModel::control(const ControlSetup& setup, std::span<uint8_t> data)
{
    // A device GET_STATUS: self-powered off, remote wake-up off.
    if (setup.request_type == 0x80 && setup.request == kGetStatus && data.size() >= 2) {
        data[0] = 0;
        data[1] = 0;
        return 2;
    }
    return -EPIPE;
}

int LoopbackModel::claim(int)
{
    return refuse_claim_ ? EBUSY : 0;
}

int LoopbackModel::set_configuration(int)
{
    return refuse_set_configuration_ ? EPIPE : 0;
}

void LoopbackModel::reset()
{
    ++resets_;
}

} // namespace sim
