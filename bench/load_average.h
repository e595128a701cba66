// The machine's load average, for the benchmarks to print beside their figures: on a machine shared
// with other work, wall times (and, less so, processor times) depend on it, so a figure means
// little without the load it was taken at.
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

namespace lfbench {

// The one-minute load average (/proc/loadavg's first figure); -1 where it cannot be read.
inline double load_average()
{
    std::ifstream in("/proc/loadavg");
    double one = -1;
    if (!(in >> one)) return -1;
    return one;
}

// The lowest and highest load average seen over the runs of one figure.
class LoadRange {
public:
    void sample()
    {
        const double now = load_average();
        if (now < 0) return;
        low_ = std::min(low_, now);
        high_ = std::max(high_, now);
    }
    // "3.2-5.8", "3.2" when it did not move, "?" when it was never read.
    std::string text() const
    {
        if (low_ > high_) return "?";
        char s[48];
        if (high_ - low_ < 0.05)
            std::snprintf(s, sizeof s, "%.1f", low_);
        else
            std::snprintf(s, sizeof s, "%.1f-%.1f", low_, high_);
        return s;
    }

private:
    double low_ = std::numeric_limits<double>::max();
    double high_ = std::numeric_limits<double>::lowest();
};

} // namespace lfbench
