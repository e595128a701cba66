// The process's processor time, for the benchmarks that print it beside wall time.
#pragma once

#include <sys/resource.h>

namespace lfbench {

// Processor seconds of the whole process (all threads, user and system) since it started.
inline double process_cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace lfbench
