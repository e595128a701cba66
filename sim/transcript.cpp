#include "transcript.h"

namespace sim {

size_t Transcript::count(EventKind kind) const
{
    size_t n = 0;
    for (const Event& e : events) n += e.kind == kind;
    return n;
}

std::vector<Event> Transcript::select(const std::function<bool(const Event&)>& pred) const
{
    std::vector<Event> out;
    for (const Event& e : events)
        if (pred(e)) out.push_back(e);
    return out;
}

std::vector<Event> Transcript::urbs(uint8_t endpoint) const
{
    return select([endpoint](const Event& e) { return e.kind == EventKind::Urb && e.endpoint == endpoint; });
}

} // namespace sim
