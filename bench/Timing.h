#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

// The clocks every benchmark reads.
namespace Timing {

// Wall time of one call, in milliseconds.
inline double timedMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// A clock (CLOCK_MONOTONIC, CLOCK_PROCESS_CPUTIME_ID, ...) in milliseconds.
inline double clockMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The median wall time of `work` over `runs` runs, each after `prepare` (untimed).
inline double medianMs(int runs, const std::function<void()>& prepare,
                       const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (prepare)
            prepare();
        times.push_back(timedMs(work));
    }
    return median(times);
}

} // namespace Timing
