// Without Win32 the platform's timers are a real-time schedule that the
// message-loop helpers run: nothing ticks unless someone pumps.
#include <chrono>
#include <thread>

#include "winlib/messageloop.h"
#include "winlib/timer.h"

namespace {

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class TRealTimeService : public TTimerService {
public:
    std::uintptr_t Start(TTimer* timer, std::int32_t interval) override { return Queue.Start(timer, interval, NowMs()); }
    void Stop(TTimer*, std::uintptr_t id) override { Queue.Stop(id); }

    TTimerQueue Queue;
};

TRealTimeService& RealTime() {
    static auto* service = new TRealTimeService;  // never destroyed: timers may outlive statics
    return *service;
}

}  // namespace

TTimerService& PlatformTimerService() { return RealTime(); }

void* TimerWindowHandle() { return nullptr; }

void RunMessagesFor(std::int32_t milliseconds) { RunMessagesUntil(nullptr, milliseconds); }

bool RunMessagesUntil(const std::function<bool()>& done, std::int32_t timeoutMs) {
    const auto finished = [&done] { return done && done(); };
    TTimerQueue& queue = RealTime().Queue;
    const std::int64_t deadline = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    while (true) {
        if (finished()) return true;
        const std::int64_t now = NowMs();
        // Checked before delivering, so a stream of late ticks cannot hold the pump.
        if (now > deadline) return false;
        if (const std::uintptr_t id = queue.TakeDue(now)) {
            DeliverTimerTick(id);
            continue;
        }
        if (now == deadline) return false;
        std::int64_t wake = deadline;
        std::int64_t due = 0;
        if (queue.NextDue(due) && due < wake) wake = due;
        std::this_thread::sleep_for(std::chrono::milliseconds(wake - now));
    }
}
