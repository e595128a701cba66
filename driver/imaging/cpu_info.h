// Process-wide processor-feature probe. The resize engine has no path of its own for particular
// processors, so the probe records no feature and nothing consults it: it answers false for
// every feature number.
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
