#include "elements/timer.h"

#include <cstdint>

TQXTimer::TQXTimer() : Timer(NewObj<TTimer>(1000)) {
    Timer->SetEnabled(false);
    Timer->SetTickHandler({[](void* self, TTimer*) { static_cast<TQXTimer*>(self)->Tick(); }, this});
}

TQXTimer::~TQXTimer() { Timer.reset(); }  // stops it before the rest goes

void TQXTimer::SetInterval(std::int32_t milliseconds) { Timer->SetInterval(milliseconds); }
void TQXTimer::SetEnabled(bool flag) { Timer->SetEnabled(flag); }
std::int32_t TQXTimer::Interval() const { return Timer->Interval(); }
bool TQXTimer::Enabled() const { return Timer->Enabled(); }

void TQXTimer::SetAutoStop(std::int32_t ticks) {
    Remaining = ticks;
    AutoStop = ticks;
}

void TQXTimer::doStart(TData&, std::uint16_t) {
    Remaining = AutoStop;
    Timer->SetEnabled(true);  // no effect on a running timer: its phase stays
}

void TQXTimer::doStop(TData&, std::uint16_t) { Stop(); }

void TQXTimer::Stop() {
    Timer->SetEnabled(false);
    FireNull(onStop);
}

void TQXTimer::Tick() {
    if (Busy < 0) Busy = 0;  // a foreign value must not make the loop below endless
    if (Busy > 0) {
        // A tick is already being handled further up: its chain pumps
        // messages. Keep this one for later, or drop it.
        if (KeepTicks && Busy < INT32_MAX) ++Busy;
        return;
    }
    Busy = 1;
    do {
        bool lastTick = false;
        if (Remaining >= 0) {
            --Remaining;
            lastTick = Remaining == 0;
        }
        // Decided before firing: a doStart inside this tick's chain cannot undo the stop.
        FireNull(onTimer);
        if (lastTick) {
            Busy = 0;
            Stop();
        }
        if (Busy > 0) --Busy;
    } while (Busy > 0);
}

void TQXCounter::doNext(TData& value, std::uint16_t) {
    // Wraps as 32-bit two's complement: unsigned arithmetic, no overflow.
    const auto c = static_cast<std::uint32_t>(Count);
    const auto s = static_cast<std::uint32_t>(Step);
    if (Direction == 0) {
        Count = static_cast<std::int32_t>(c + s);
        if (Count > Max) Count = Min;
    } else {
        Count = static_cast<std::int32_t>(c - s);
        if (Count < Min) Count = Max;
    }
    ForwardInteger(value, onCount, Count);
}

void TQXCounter::doReset(TData&, std::uint16_t) { Count = Direction == 0 ? Min : Max; }

void TQXCounter::readCount(TData& value, std::uint16_t) { SetInteger(value, Count); }
