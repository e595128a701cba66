// The processor's model name, for the benchmark's context: figures mean little without it.
#pragma once

#include <fstream>
#include <string>

namespace lfbench {

inline std::string cpu_model()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace lfbench
