#pragma once

// The table the window benchmarks print: each timing beside its floor from the same run.

#include <QString>
#include <cstdio>
#include <string>
#include <vector>

namespace vorelta::bench {

struct Row {
    std::string what;
    double time;
    std::string floor;
    double floorTime;  // 0: no floor
    std::string goal;
};

inline void PrintFloorTable(const std::vector<Row>& rows) {
    std::printf("\nMedians in ms from this run; ratio = time / floor.\n\n");
    std::printf(
        "| what | time | floor | floor time | ratio | goal |\n|---|---:|---|---:|---:|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %.2f | %s | %.2f | %s | %s |\n", row.what.c_str(), row.time,
                    row.floor.c_str(), row.floorTime,
                    row.floorTime > 0
                        ? QString::number(row.time / row.floorTime, 'f', 2).toStdString().c_str()
                        : "-",
                    row.goal.c_str());
    }
}

}  // namespace vorelta::bench
