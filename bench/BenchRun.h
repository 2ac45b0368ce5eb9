#pragma once

// What every benchmark program of ours does around its benchmarks: its own flags, then Google
// Benchmark with the rest, then the summary table.

#include <benchmark/benchmark.h>

#include <QtGlobal>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace vorelta::bench {

struct Arguments {
    int repetitions = 5;        // --repetitions=N, at least 2 so that a median exists
    bool skipSlow = false;      // --skip-slow
    std::vector<char*> passOn;  // everything else, the program's name first
};

// The windows are timed offscreen unless a platform is named (QT_QPA_PLATFORM=xcb, say).
inline void OffscreenUnlessTold() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

inline Arguments ParseArguments(int argc, char* argv[]) {
    Arguments arguments;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--repetitions=", 0) == 0) {
            arguments.repetitions = std::max(2, std::stoi(arg.substr(14)));
        } else if (arg == "--skip-slow") {
            arguments.skipSlow = true;
        } else {
            arguments.passOn.push_back(argv[i]);
        }
    }
    return arguments;
}

// Keeps the median of each benchmark for the summary table, by its name and, where it has any,
// its arguments: "insert", or "check/100000/70".
class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                const std::string& args = run.run_name.args;
                medians_[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
                    run.GetAdjustedRealTime();
            }
        }
    }

    // -1 for a benchmark that did not run.
    double operator[](const std::string& name) const {
        const auto it = medians_.find(name);
        return it == medians_.end() ? -1 : it->second;
    }

    double median(std::string name, const std::vector<int>& args) const {
        for (const int arg : args) {
            name.append("/").append(std::to_string(arg));
        }
        return (*this)[name];
    }

private:
    std::map<std::string, double> medians_;
};

// Runs what `registerAll` registers, each run reported to `collector`, then prints the table.
template <class Collector>
int RunBenchmarks(Arguments& arguments, void (*registerAll)(),
                  void (*summarise)(const Collector&)) {
    int passOnCount = int(arguments.passOn.size());
    benchmark::Initialize(&passOnCount, arguments.passOn.data());
    registerAll();
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    summarise(collector);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vorelta::bench
