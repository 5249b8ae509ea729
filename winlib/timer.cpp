#include "winlib/timer.h"

#include <algorithm>
#include <cstdint>

namespace {

// Never destroyed: services and timers may outlive static destruction order.
std::vector<TTimer*>& LiveTimers() {
    static auto* live = new std::vector<TTimer*>;
    return *live;
}

// Compares identities as integers: a stale id must not be used as a pointer.
TTimer* FindLive(std::uintptr_t id) {
    for (TTimer* timer : LiveTimers())
        if (reinterpret_cast<std::uintptr_t>(timer) == id) return timer;
    return nullptr;
}

// Due times are worked out wide and clamped, so no input makes them wrap.
std::int64_t Clamped(__int128 v) {
    return v > INT64_MAX ? INT64_MAX : v < INT64_MIN ? INT64_MIN : static_cast<std::int64_t>(v);
}

}  // namespace

TTimer::TTimer(std::int32_t interval) : interval_(interval < 1 ? 1000 : interval) {
    LiveTimers().push_back(this);
    if (LiveTimers().size() == 1) PlatformTimerService().FirstTimerMade();
}

TTimer::~TTimer() {
    SetEnabled(false);
    auto& live = LiveTimers();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    if (live.empty()) PlatformTimerService().LastTimerGone();
}

std::int32_t TTimer::LiveCount() { return static_cast<std::int32_t>(LiveTimers().size()); }

void TTimer::SetInterval(std::int32_t milliseconds) {
    if (milliseconds == interval_) return;
    interval_ = milliseconds;
    if (enabled_) {
        SetEnabled(false);
        SetEnabled(true);
    }
}

void TTimer::SetEnabled(bool flag) {
    if (flag == enabled_) return;
    enabled_ = flag;
    if (flag) {
        TTimerService& service = CurrentTimerService();
        timerId_ = service.Start(this, interval_);
        service_ = timerId_ != 0 ? &service : nullptr;
    } else {
        // Stopped on the service that started it, even if another one is current now.
        if (timerId_ != 0 && service_ != nullptr) service_->Stop(this, timerId_);
        timerId_ = 0;
        service_ = nullptr;
    }
}

void TTimer::Tick() {
    if (TickHandler.Code != nullptr) TickHandler.Code(TickHandler.Object, this);
}

TTimerService::~TTimerService() {
    for (TTimer* timer : LiveTimers()) {
        if (timer->service_ == this) {
            timer->timerId_ = 0;
            timer->service_ = nullptr;
        }
    }
    if (&CurrentTimerService() == this) SetTimerService(nullptr);
}

void DeliverTimerTick(std::uintptr_t id) {
    // The id is the timer's identity; a stale tick of a destroyed timer must
    // not touch freed memory, so look it up among the live ones first.
    TTimer* timer = id != 0 ? FindLive(id) : nullptr;
    if (timer == nullptr || timer->TimerId() != id) return;
    timer->Tick();
}

std::int64_t TTimerQueue::EffectiveInterval(std::int32_t interval) {
    // Win32 takes the interval as unsigned and clamps it.
    const std::uint32_t u = static_cast<std::uint32_t>(interval);
    return std::clamp<std::int64_t>(u, 10, 0x7FFFFFFF);
}

std::uintptr_t TTimerQueue::Start(TTimer* timer, std::int32_t interval, std::int64_t now) {
    const auto id = reinterpret_cast<std::uintptr_t>(timer);
    if (id == 0) return 0;
    Stop(id);  // restarting begins a new phase
    const std::int64_t period = EffectiveInterval(interval);
    entries_.push_back(Entry{id, period, Clamped(static_cast<__int128>(now) + period), nextOrder_++});
    return id;
}

void TTimerQueue::Stop(std::uintptr_t id) {
    std::erase_if(entries_, [id](const Entry& e) { return e.Id == id; });
}

bool TTimerQueue::NextDue(std::int64_t& due) const {
    if (entries_.empty()) return false;
    due = std::min_element(entries_.begin(), entries_.end(),
                           [](const Entry& a, const Entry& b) { return a.Due < b.Due; })
              ->Due;
    return true;
}

std::uintptr_t TTimerQueue::TakeDue(std::int64_t now) {
    Entry* first = nullptr;
    for (Entry& e : entries_) {
        if (e.Due > now) continue;
        if (first == nullptr || e.Due < first->Due || (e.Due == first->Due && e.Order < first->Order)) first = &e;
    }
    if (first == nullptr) return 0;
    const std::uintptr_t id = first->Id;
    // The next period after `now`; the periods missed meanwhile are skipped.
    const __int128 due = first->Due, interval = first->Interval;
    const __int128 next = due + ((now - due) / interval + 1) * interval;
    if (next > INT64_MAX)
        entries_.erase(entries_.begin() + (first - entries_.data()));  // no period left before the end of time
    else
        first->Due = static_cast<std::int64_t>(next);
    return id;
}
