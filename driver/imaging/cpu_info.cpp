#include "cpu_info.h"

#include <cstddef>

CpuInfo::CpuInfo() = default;

bool CpuInfo::checkHardwareSupport(int feature) const
{
    if (feature < 0 || feature >= static_cast<int>(features_.size())) return false;
    return features_[static_cast<size_t>(feature)];
}

namespace {
const CpuInfo g_cpu_info;
}

const CpuInfo& GetCpuInfo()
{
    return g_cpu_info;
}
