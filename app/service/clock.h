#pragma once
// The daemon's two clocks, in milliseconds: the monotonic one for waits and
// deadlines (CLOCK_MONOTONIC, the clock of sd-event's timers), and the wall
// clock for times a person reads or a restart must keep.

#include <chrono>
#include <cstdint>

inline std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// With a fraction: a round trip on the loopback takes well under 1 ms.
inline double SteadyMsFine() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

inline std::int64_t WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
