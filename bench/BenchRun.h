#pragma once

// What every benchmark program of ours does around its benchmarks: its own flags, then Google
// Benchmark with the rest, then the summary table.

#include <benchmark/benchmark.h>

#include <QtGlobal>
#include <algorithm>
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
