#pragma once

// Timing steps in the windows, each with the repaint it causes.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace vorelta::bench {

inline double Milliseconds(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    QCoreApplication::processEvents();  // the repaint belongs to the step
    return double(timer.nsecsElapsed()) / 1e6;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median of `runs` timings of the step, each after `prepare` and its repaint.
inline double MedianOf(int runs, const std::function<void()>& prepare,
                       const std::function<void()>& step) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QCoreApplication::processEvents();
        times.push_back(Milliseconds(step));
    }
    return Median(times);
}

// The medians of `runs` timings of a step and of the floor it is measured against, taken in
// turn, so that a burst of load on a shared machine falls on both alike.
struct Timed {
    std::function<void()> prepare;
    std::function<void()> step;
};
inline std::pair<double, double> MediansInTurn(int runs, const Timed& step, const Timed& floor) {
    std::vector<double> stepTimes;
    std::vector<double> floorTimes;
    for (int i = 0; i < runs; ++i) {
        stepTimes.push_back(MedianOf(1, step.prepare, step.step));
        floorTimes.push_back(MedianOf(1, floor.prepare, floor.step));
    }
    return {Median(stepTimes), Median(floorTimes)};
}

}  // namespace vorelta::bench
