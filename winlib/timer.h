#pragma once
// Periodic timers of the window layer. A TTimer asks the current timer
// service for a system timer; the service delivers ticks back through
// DeliverTimerTick, which calls the timer's TickHandler.

#include <cstdint>
#include <vector>

#include "winlib/obj.h"
#include "winlib/seam.h"

class TTimerService;

class TTimer : public TObj {
public:
    // Method record: called on every tick with the timer as sender.
    struct TTickHandler {
        void (*Code)(void* object, TTimer* sender) = nullptr;
        void* Object = nullptr;
    };

    // An interval below 1 becomes 1000. Not enabled.
    explicit TTimer(std::int32_t interval);

    std::uintptr_t TimerId() const { return timerId_; }
    bool Enabled() const { return enabled_; }
    std::int32_t Interval() const { return interval_; }

    // Stored as given; a running timer restarts so the new interval applies at once.
    void SetInterval(std::int32_t milliseconds);
    // Enabling twice starts one system timer only.
    void SetEnabled(bool flag);
    void SetTickHandler(TTickHandler handler) { TickHandler = handler; }

    // The tick callback: runs TickHandler when it is set.
    void Tick();

    // Number of TTimer objects alive now.
    static std::int32_t LiveCount();

    TTickHandler TickHandler;

protected:
    ~TTimer() override;

private:
    friend class TTimerService;

    std::uintptr_t timerId_ = 0;  // 0 when no system timer runs
    bool enabled_ = false;
    std::int32_t interval_ = 1000;
    TTimerService* service_ = nullptr;  // the service that holds timerId_
};

// Where system timers come from. The platform's own service is the default;
// tests install a deterministic one (see VirtualClock).
class TTimerService {
public:
    TTimerService() = default;
    TTimerService(const TTimerService&) = delete;
    TTimerService& operator=(const TTimerService&) = delete;
    // Timers still running on this service lose their system timer (id 0).
    virtual ~TTimerService();

    // Starts a periodic timer for `timer` with its identity as the id; returns
    // that id, or 0 when no timer could be made.
    virtual std::uintptr_t Start(TTimer* timer, std::int32_t interval) = 0;
    virtual void Stop(TTimer* timer, std::uintptr_t id) = 0;
    // The first TTimer is made: shared resources (the hidden window) are
    // made now, so that no timer's first start pays for them and comes late.
    virtual void FirstTimerMade() {}
    // The last TTimer is gone: shared resources (the hidden window) may go too.
    virtual void LastTimerGone() {}
};

// The platform's own service: Win32 timers on Windows, a real-time
// scheduler driven by the message-loop helpers elsewhere.
TTimerService& PlatformTimerService();

// The service in use now: the platform's own, or a test's stand-in.
using TTimerSeam = TSeam<TTimerService, PlatformTimerService>;
inline TTimerService& CurrentTimerService() { return TTimerSeam::Current(); }
// nullptr selects the platform's own; gives back the stand-in that was in
// force (nullptr: none).
inline TTimerService* SetTimerService(TTimerService* service) { return TTimerSeam::Set(service); }

// A service reports a tick here. Ticks for an id that is no longer live
// (a killed or destroyed timer) are ignored.
void DeliverTimerTick(std::uintptr_t id);

// The hidden window that owns the Win32 timers, or nullptr while there is
// none (always nullptr off Windows).
void* TimerWindowHandle();

// Due-time bookkeeping for services that deliver ticks themselves. A timer
// started at time t with interval I is due at t+I, t+2I, ...; equal due
// times go in the order the timers were started. Intervals are clamped as
// Win32 clamps them (10 ms .. 0x7FFFFFFF ms, a negative value reads as huge).
class TTimerQueue {
public:
    std::uintptr_t Start(TTimer* timer, std::int32_t interval, std::int64_t now);
    void Stop(std::uintptr_t id);
    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    // Earliest due time; false when no timer runs.
    bool NextDue(std::int64_t& due) const;
    // Takes the earliest tick due at or before `now`, schedules that timer's
    // next one and returns the id to deliver, or 0 when nothing is due. A
    // timer that fell behind ticks once and resumes at its next period after
    // `now`, as a Win32 timer does.
    std::uintptr_t TakeDue(std::int64_t now);

    static std::int64_t EffectiveInterval(std::int32_t interval);

private:
    struct Entry {
        std::uintptr_t Id;
        std::int64_t Interval;
        std::int64_t Due;
        std::uint64_t Order;
    };
    std::vector<Entry> entries_;
    std::uint64_t nextOrder_ = 0;
};
