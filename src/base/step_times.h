#pragma once

// Times of the start-up's steps for the window benchmark. Only a build that defines
// VARNHOLD_STEP_TIMES (the benchmark's own copy of the launcher) records them; everywhere else
// TIMED_STEP is empty and the launcher carries no timer.
#ifdef VARNHOLD_STEP_TIMES

#include <chrono>
#include <mutex>
#include <vector>

namespace step_times {

struct Step {
    const char* name;
    double beginMs;  // since the program's static initialisation
    double endMs;
};

inline const std::chrono::steady_clock::time_point kOrigin = std::chrono::steady_clock::now();

inline double sinceOriginMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kOrigin).count();
}

struct Recorded {
    std::mutex lock;
    std::vector<Step> steps;
};

inline Recorded& recorded() {
    static Recorded record;
    return record;
}

// Records the time from its construction to the end of its scope; steps of several threads may
// overlap.
class Timer {
public:
    explicit Timer(const char* name) : name(name), beginMs(sinceOriginMs()) {}
    ~Timer() {
        const double endMs = sinceOriginMs();
        std::lock_guard<std::mutex> hold(recorded().lock);
        recorded().steps.push_back({name, beginMs, endMs});
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

private:
    const char* name;
    double beginMs;
};

inline std::vector<Step> steps() {
    std::lock_guard<std::mutex> hold(recorded().lock);
    return recorded().steps;
}

}  // namespace step_times

#define STEP_TIMES_JOIN2(a, b) a##b
#define STEP_TIMES_JOIN(a, b) STEP_TIMES_JOIN2(a, b)
#define TIMED_STEP(name) const step_times::Timer STEP_TIMES_JOIN(stepTimer, __LINE__)(name)

#else

#define TIMED_STEP(name) static_cast<void>(0)

#endif
