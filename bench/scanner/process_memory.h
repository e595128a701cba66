// The resident memory of this process, or of another one (its parent), for the scanner benchmarks
// that report it.
#pragma once

#include <fstream>
#include <string>

// A value of /proc/PROCESS/status in bytes ("VmHWM", "VmRSS"); 0 when it cannot be read.
inline double statusBytes(const char* key, const std::string& process = "self")
{
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) * 1024.0;
    return 0;
}

// Sets the high-water mark back to the memory held now; false where the kernel does not allow it.
inline bool resetPeak(const std::string& process = "self")
{
    std::ofstream clear("/proc/" + process + "/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}
