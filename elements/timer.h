#pragma once
// Time and counting: TQXTimer fires onTimer periodically, TQXCounter steps
// an integer between two bounds and wraps around.

#include <cstdint>

#include "framework/events.h"
#include "winlib/timer.h"

class TQXTimer {
public:
    TQXTimer();
    ~TQXTimer();
    TQXTimer(const TQXTimer&) = delete;
    TQXTimer& operator=(const TQXTimer&) = delete;

    // 0: idle; 1: a tick is being handled; above 1: kept ticks are pending.
    std::int32_t Busy = 0;
    TObjPtr<TTimer> Timer;
    // Ticks left before the automatic stop; -1 when counting is off.
    std::int32_t Remaining = 0;
    // Ticks after which the timer stops by itself; 0 = never.
    std::int32_t AutoStop = 0;
    // A tick arriving while one is handled: false drops it, true keeps it.
    bool KeepTicks = false;
    TQX_Event onTimer;
    TQX_Event onStop;

    void SetInterval(std::int32_t milliseconds);
    void SetEnabled(bool flag);
    void SetAutoStop(std::int32_t ticks);
    std::int32_t Interval() const;
    bool Enabled() const;

    void doStart(TData& value, std::uint16_t index);
    void doStop(TData& value, std::uint16_t index);

    // The TTimer's tick handler.
    void Tick();

private:
    void Stop();
};

class TQXCounter {
public:
    std::int32_t Count = 0;
    std::int32_t Min = 0;
    std::int32_t Max = 0;
    std::int32_t Step = 0;
    std::uint8_t Direction = 0;  // 0 counts up, anything else down
    TQX_Event onCount;

    void doNext(TData& value, std::uint16_t index);
    // Back to the start value; fires nothing.
    void doReset(TData& value, std::uint16_t index);
    void readCount(TData& value, std::uint16_t index);
};
