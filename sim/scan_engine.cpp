#include "scan_engine.h"

#include <algorithm>
#include <cstring>

namespace sim {

void FedScanEngine::feed(int s, std::span<const uint8_t> bytes)
{
    Side& q = side(s);
    q.bytes.insert(q.bytes.end(), bytes.begin(), bytes.end());
}

Sense FedScanEngine::scan(std::span<const uint8_t, kParametersSize>, std::span<const uint8_t, kWindowSize>,
                          const ScannerRecords&)
{
    ++scans_;
    return {};
}

void FedScanEngine::info(std::span<uint8_t, kInfoSize> reply, const ScannerRecords&)
{
    std::copy(info_.begin(), info_.end(), reply.begin());
}

uint64_t FedScanEngine::ready(int s) const
{
    const Side& q = sides_[s != 0 ? 1 : 0];
    return q.bytes.size() - q.taken;
}

void FedScanEngine::read(int s, std::span<uint8_t> out)
{
    Side& q = side(s);
    const size_t n = std::min(out.size(), q.bytes.size() - q.taken);
    if (n > 0) std::memcpy(out.data(), q.bytes.data() + q.taken, n);
    q.taken += n;
}

void FedScanEngine::end()
{
    for (Side& q : sides_) q = {};
}

} // namespace sim
