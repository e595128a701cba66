// The process's own resident memory, for the scanner benchmarks that report it.
#pragma once

#include <fstream>
#include <string>

// A value of /proc/self/status in bytes ("VmHWM", "VmRSS").
inline double statusBytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) * 1024.0;
    return 0;
}

// Sets the high-water mark back to the memory held now; false where the kernel does not allow it.
inline bool resetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}
