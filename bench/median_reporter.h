// The console table as usual, and each benchmark's median handed on for the summary a benchmark
// prints after its runs.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <utility>
#include <vector>

namespace lfbench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    using Collect = std::function<void(const Run&)>;

    explicit MedianReporter(Collect collect) : collect_(std::move(collect)) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") collect_(r);
    }

private:
    Collect collect_;
};

} // namespace lfbench
