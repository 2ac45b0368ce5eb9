#pragma once

// The flags every benchmark program of ours takes before Google Benchmark sees the rest.

#include <algorithm>
#include <string>
#include <vector>

namespace vorelta::bench {

struct Arguments {
    int repetitions = 5;        // --repetitions=N, at least 2 so that a median exists
    bool skipSlow = false;      // --skip-slow
    std::vector<char*> passOn;  // everything else, the program's name first
};

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

}  // namespace vorelta::bench
