#include "app/service/loop.h"

#include <signal.h>
#include <sys/epoll.h>

#include <exception>
#include <string>

#include "app/service/clock.h"
#include "app/service/log.h"
#include "app/service/protocol.h"

namespace {

// Timers are kept in milliseconds; sd-event counts microseconds.
constexpr std::uint64_t UsecPerMs = 1000;

// Every handler runs under this: nothing may unwind through sd-event's C
// frames. What escapes (memory exhausted) ends the loop with a log line.
template <typename F>
int Guarded(sd_event* event, F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        Log(std::string("the event loop ends: ") + e.what());
        sd_event_exit(event, exitIoError);
    }
    return 0;
}

}  // namespace

TEventLoop::TEventLoop() : installed_(this) {
    if (sd_event_new(&event_) < 0) {
        event_ = nullptr;
        return;
    }
    // Accuracy 1 ms: the default would let the 100 ms steps slip by up to 250 ms.
    if (sd_event_add_time(event_, &timerSource_, CLOCK_MONOTONIC, UINT64_MAX, UsecPerMs, &TEventLoop::OnTime, this) < 0 ||
        sd_event_source_set_enabled(timerSource_, SD_EVENT_OFF) < 0)
        timerSource_ = sd_event_source_disable_unref(timerSource_);
}

TEventLoop::~TEventLoop() {
    for (auto& [source, task] : posted_) sd_event_source_disable_unref(source);
    posted_.clear();
    sd_event_source_disable_unref(timerSource_);
    sd_event_unref(event_);
}

int TEventLoop::Run() { return sd_event_loop(event_); }

bool TEventLoop::EnableWatchdog() { return sd_event_set_watchdog(event_, 1) >= 0; }

void TEventLoop::Exit(int code) { sd_event_exit(event_, code); }

std::unique_ptr<TEventLoop::TWatch> TEventLoop::Watch(int fd, std::uint32_t events, TIoHandler handler) {
    auto owned = std::make_shared<TWatch::THandler>(std::move(handler));
    sd_event_source* source = nullptr;
    const auto call = [](sd_event_source* source, int, std::uint32_t revents, void* h) {
        // Kept alive through the call: the handler may end its own watch.
        const std::shared_ptr<TWatch::THandler> running = static_cast<TWatch::THandler*>(h)->shared_from_this();
        return Guarded(sd_event_source_get_event(source), [&] { running->Call(revents); });
    };
    if (sd_event_add_io(event_, &source, fd, events, call, owned.get()) < 0) return nullptr;
    return std::make_unique<TWatch>(source, std::move(owned));
}

bool TEventLoop::OnSignal(int signal, std::function<void()> handler) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    signalHandlers_.push_back(std::make_unique<std::function<void()>>(std::move(handler)));
    const auto call = [](sd_event_source* source, const signalfd_siginfo*, void* h) {
        return Guarded(sd_event_source_get_event(source), *static_cast<std::function<void()>*>(h));
    };
    // The source lives as long as the loop (floating: owned by the event).
    return sd_event_add_signal(event_, nullptr, signal, call, signalHandlers_.back().get()) >= 0;
}

bool TEventLoop::Post(std::function<void()> task) {
    const auto call = [](sd_event_source* source, void* self) {
        auto& loop = *static_cast<TEventLoop*>(self);
        const auto it = loop.posted_.find(source);
        if (it == loop.posted_.end()) return 0;
        const std::function<void()> run = std::move(it->second);
        loop.posted_.erase(it);
        sd_event_source_disable_unref(source);
        return Guarded(loop.event_, run);
    };
    // Not floating: the loop keeps the reference, and drops what never ran
    // when it goes, so an event that ends with tasks waiting leaks nothing.
    sd_event_source* source = nullptr;
    if (sd_event_add_defer(event_, &source, call, this) < 0) return false;
    posted_.emplace(source, std::move(task));
    return true;
}

std::uintptr_t TEventLoop::Start(TTimer* timer, std::int32_t interval) {
    const std::uintptr_t id = queue_.Start(timer, interval, SteadyMs());
    Rearm();
    return id;
}

void TEventLoop::Stop(TTimer*, std::uintptr_t id) {
    queue_.Stop(id);
    Rearm();
}

void TEventLoop::Rearm() {
    std::int64_t due = 0;
    if (!queue_.NextDue(due)) {
        sd_event_source_set_enabled(timerSource_, SD_EVENT_OFF);
        return;
    }
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock of the source.
    sd_event_source_set_time(timerSource_, static_cast<std::uint64_t>(due) * UsecPerMs);
    sd_event_source_set_enabled(timerSource_, SD_EVENT_ONESHOT);
}

int TEventLoop::OnTime(sd_event_source* source, std::uint64_t, void* self) {
    auto& loop = *static_cast<TEventLoop*>(self);
    // One tick per wake-up, then back to the loop, so sockets and the port
    // are served between the ticks of a busy second.
    Guarded(sd_event_source_get_event(source), [&] {
        if (const std::uintptr_t id = loop.queue_.TakeDue(SteadyMs())) DeliverTimerTick(id);
    });
    loop.Rearm();
    return 0;
}
