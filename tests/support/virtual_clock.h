#pragma once
// A deterministic timer service for tests. While it lives it is the current
// service; its destructor puts the previous one back.
//
// Time starts at 0 and moves only in Advance/AdvanceTo. A timer started at
// time t with interval I ticks at t+I, t+2I, ... (intervals clamped as on
// Win32: at least 10 ms); ticks come in time order, equal times in the order
// the timers were started; stopping drops pending ticks, restarting starts a
// new phase. During a tick Now() is that tick's time. Ticks take the same
// path as Win32 ticks (DeliverTimerTick -> TTimer::Tick -> TickHandler).
// Advance may be called from inside a tick (a modal loop): the nested call
// delivers what falls due meanwhile, the running timer's next tick included.

#include <cstddef>
#include <cstdint>

#include "winlib/timer.h"

class VirtualClock : public TTimerService {
public:
    VirtualClock();
    ~VirtualClock() override;

    std::int64_t Now() const { return now_; }
    // Delivers every tick due up to Now() + ms; a negative ms does nothing.
    void Advance(std::int64_t ms);
    // Delivers every tick due up to t, then Now() = t; time never goes back.
    void AdvanceTo(std::int64_t t);
    // Timers running on this clock.
    std::size_t RunningTimers() const { return queue_.Size(); }

    std::uintptr_t Start(TTimer* timer, std::int32_t interval) override;
    void Stop(TTimer* timer, std::uintptr_t id) override;

private:
    TScopedOverride<TTimerSeam, TTimerService> installed_;
    TTimerQueue queue_;
    std::int64_t now_ = 0;
};
