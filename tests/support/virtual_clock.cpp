#include "tests/support/virtual_clock.h"

#include <algorithm>
#include <cstdint>

VirtualClock::VirtualClock() : installed_(this) {}

VirtualClock::~VirtualClock() = default;

void VirtualClock::Advance(std::int64_t ms) {
    if (ms < 0) return;
    AdvanceTo(ms > INT64_MAX - now_ ? INT64_MAX : now_ + ms);  // the end of time, not a wrap
}

void VirtualClock::AdvanceTo(std::int64_t t) {
    // One tick at a time, the clock standing at its due time, so no timer
    // ever looks late; a tick's chain may start, stop or advance anything.
    std::int64_t due = 0;
    while (queue_.NextDue(due) && due <= t) {
        now_ = std::max(now_, due);
        DeliverTimerTick(queue_.TakeDue(due));
    }
    now_ = std::max(now_, t);
}

std::uintptr_t VirtualClock::Start(TTimer* timer, std::int32_t interval) { return queue_.Start(timer, interval, now_); }

void VirtualClock::Stop(TTimer*, std::uintptr_t id) { queue_.Stop(id); }
