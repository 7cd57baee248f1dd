#pragma once

// Runs the registered benchmarks and then prints, for each pair given, how many times faster the
// first one ran than the second in this same run. Pass --benchmark_repetitions=N with
// --benchmark_enable_random_interleaving=true to compare medians measured side by side, which
// keeps a busy machine from favouring one side.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace gardivo::bench {

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // With repetitions the median of each benchmark counts; otherwise its one run.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !m_medians.count(run.run_name.str()))
                m_seconds[run.run_name.str()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_medians.insert(run.run_name.str());
                m_seconds[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::map<std::string, double>& times() const { return m_seconds; }

private:
    std::map<std::string, double> m_seconds;
    std::set<std::string> m_medians;
};

// pairs: (ours, baseline) benchmark names
inline int runAndPrintRatios(int argc, char** argv,
                             const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-44s %-44s %s\n", "ours", "baseline", "speed-up");
    for (const auto& [ours, baseline] : pairs) {
        const auto a = reporter.times().find(ours);
        const auto b = reporter.times().find(baseline);
        if (a == reporter.times().end() || b == reporter.times().end())
            continue;
        std::printf("%-44s %-44s %.2fx\n", ours.c_str(), baseline.c_str(), b->second / a->second);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace gardivo::bench
