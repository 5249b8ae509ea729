#pragma once
// The service's event loop: systemd's sd-event, with the scheme's timers
// running on it. While a TEventLoop lives it is the current timer service,
// so every TTimer of the scheme ticks from this loop; equal due times keep
// the order the timers were started, as on Windows.

#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "winlib/seam.h"
#include "winlib/timer.h"

class TEventLoop final : public TTimerService {
public:
    TEventLoop();
    ~TEventLoop() override;
    // False when the loop could not be made (no memory, no descriptors).
    bool Ready() const { return event_ != nullptr && timerSource_ != nullptr; }

    sd_event* Event() const { return event_; }
    // Runs until Exit; returns the code given to Exit.
    int Run();
    void Exit(int code);

    // Calls `handler` with the events (EPOLLIN, EPOLLHUP, ...) whenever `fd`
    // is ready; the watch ends when the returned object goes, which may be
    // inside its own handler. Null when the loop cannot watch `fd`.
    using TIoHandler = std::function<void(std::uint32_t events)>;
    class TWatch;
    std::unique_ptr<TWatch> Watch(int fd, std::uint32_t events, TIoHandler handler);
    // Runs `task` once, from the loop, after what is being handled now:
    // for work that would destroy the handler that asks for it. False when
    // it could not be queued.
    bool Post(std::function<void()> task);
    // Calls `handler` on each of the signals; they are blocked for the
    // process, so only the loop sees them. False when it cannot.
    bool OnSignal(int signal, std::function<void()> handler);
    // Tells systemd the loop is alive, when the unit asks for it
    // (WatchdogSec=): a stalled loop is then restarted.
    bool EnableWatchdog();

    std::uintptr_t Start(TTimer* timer, std::int32_t interval) override;
    void Stop(TTimer* timer, std::uintptr_t id) override;

private:
    void Rearm();
    static int OnTime(sd_event_source*, std::uint64_t, void* self);

    sd_event* event_ = nullptr;
    sd_event_source* timerSource_ = nullptr;  // one source, armed for the queue's next due time
    TTimerQueue queue_;
    std::vector<std::unique_ptr<std::function<void()>>> signalHandlers_;
    std::map<sd_event_source*, std::function<void()>> posted_;  // tasks waiting to run
    TScopedOverride<TTimerSeam, TTimerService> installed_;
};

class TEventLoop::TWatch {
public:
    // The handler lives while it runs, even when its watch goes meanwhile.
    struct THandler : std::enable_shared_from_this<THandler> {
        explicit THandler(TIoHandler call) : Call(std::move(call)) {}
        TIoHandler Call;
    };
    TWatch(sd_event_source* source, std::shared_ptr<THandler> handler)
        : source_(source), handler_(std::move(handler)) {}
    ~TWatch() { sd_event_source_disable_unref(source_); }
    // No more calls, the watch kept (safe from inside its own handler).
    void Disable() { sd_event_source_set_enabled(source_, SD_EVENT_OFF); }
    // Which events to wait for from now on (EPOLLIN, EPOLLOUT).
    bool Want(std::uint32_t events) {
        return sd_event_source_set_io_events(source_, events) >= 0 &&
               sd_event_source_set_enabled(source_, SD_EVENT_ON) >= 0;
    }
    TWatch(const TWatch&) = delete;
    TWatch& operator=(const TWatch&) = delete;

private:
    sd_event_source* source_;
    std::shared_ptr<THandler> handler_;
};
