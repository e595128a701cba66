// Process-wide processor-feature probe. It records no feature and nothing consults it: it
// answers false for every feature number. (The resize engine's vector forms ask the processor
// themselves, and give the same bytes as the plain forms.)
#pragma once

#include <array>

class CpuInfo {
public:
    CpuInfo();
    virtual ~CpuInfo() = default;
    virtual bool checkHardwareSupport(int feature) const;

private:
    std::array<bool, 256> features_{};
};

// The one instance, built when the driver is loaded.
const CpuInfo& GetCpuInfo();
