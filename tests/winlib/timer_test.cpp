#include "winlib/timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/virtual_clock.h"
#include "winlib/messageloop.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using Log = std::vector<std::string>;

// A timer that logs "name@time" on every tick and may act inside the tick.
struct Ticker {
    Ticker(const char* name, std::int32_t interval, Log* log = nullptr, VirtualClock* clock = nullptr)
        : Name(name), Entries(log), Clock(clock), Timer(NewObj<TTimer>(interval)) {
        Timer->SetTickHandler({[](void* self, TTimer* sender) { static_cast<Ticker*>(self)->OnTick(sender); }, this});
    }
    void OnTick(TTimer* sender) {
        EXPECT_EQ(sender, Timer.get());
        ++Ticks;
        if (Entries) Entries->push_back(Name + "@" + std::to_string(Clock->Now()));
        if (Action) Action();
    }

    std::string Name;
    Log* Entries;
    VirtualClock* Clock;
    TObjPtr<TTimer> Timer;
    int Ticks = 0;
    std::function<void()> Action;
};

TEST(TTimer, ConstructionIntervalRulesAndLiveCount) {
    const std::int32_t before = TTimer::LiveCount();
    {
        auto zero = NewObj<TTimer>(0);
        auto negative = NewObj<TTimer>(INT32_MIN);
        auto one = NewObj<TTimer>(1);
        EXPECT_EQ(TTimer::LiveCount(), before + 3);
        EXPECT_EQ(zero->Interval(), 1000);
        EXPECT_EQ(negative->Interval(), 1000);
        EXPECT_EQ(one->Interval(), 1);
        EXPECT_FALSE(one->Enabled());
        // Later settings are stored as given, even those the constructor refuses.
        one->SetInterval(-7);
        EXPECT_EQ(one->Interval(), -7);
    }
    EXPECT_EQ(TTimer::LiveCount(), before);
}

class TTimerOnClock : public ::testing::Test {
protected:
    VirtualClock clock;
    Log log;
};

TEST_F(TTimerOnClock, TicksAtWholeIntervalsFromItsStart) {
    clock.Advance(30);
    Ticker a("a", 100, &log, &clock);
    a.Timer->SetEnabled(true);
    clock.Advance(50);
    a.Timer->SetEnabled(true);  // twice: still one timer, same phase
    EXPECT_EQ(clock.RunningTimers(), 1u);
    clock.Advance(300);
    EXPECT_EQ(log, (Log{"a@130", "a@230", "a@330"}));
    EXPECT_EQ(clock.Now(), 380);
    clock.AdvanceTo(10);  // time never goes back
    clock.Advance(-5);
    EXPECT_EQ(clock.Now(), 380);
}

TEST_F(TTimerOnClock, StoppingDropsPendingTicksAndRestartsBeginANewPhase) {
    Ticker a("a", 100, &log, &clock);
    a.Timer->SetEnabled(true);
    clock.Advance(150);
    a.Timer->SetEnabled(false);
    EXPECT_EQ(a.Timer->TimerId(), 0u);
    clock.Advance(100);
    a.Timer->SetEnabled(true);  // at 250
    clock.Advance(110);
    a.Timer->SetInterval(30);  // at 360: restarts at once
    clock.Advance(25);
    a.Timer->SetInterval(30);  // equal: no restart
    clock.Advance(10);
    EXPECT_EQ(log, (Log{"a@100", "a@350", "a@390"}));
}

TEST_F(TTimerOnClock, IntervalsAreClampedAsOnWin32) {
    Ticker a("a", 100, &log, &clock);
    a.Timer->SetInterval(0);
    a.Timer->SetEnabled(true);
    clock.Advance(35);
    EXPECT_EQ(log, (Log{"a@10", "a@20", "a@30"}));
    a.Timer->SetInterval(-1);  // read as unsigned: about 24 days
    clock.Advance(24 * 3600 * 1000);
    EXPECT_EQ(a.Ticks, 3);
}

TEST_F(TTimerOnClock, EqualTimesTickInStartOrder) {
    Ticker a("a", 100, &log, &clock);
    Ticker b("b", 50, &log, &clock);
    a.Timer->SetEnabled(true);
    b.Timer->SetEnabled(true);
    clock.Advance(100);
    a.Timer->SetEnabled(false);
    a.Timer->SetEnabled(true);  // a restart counts as a later start
    clock.Advance(100);
    EXPECT_EQ(log, (Log{"b@50", "a@100", "b@100", "b@150", "b@200", "a@200"}));
}

TEST_F(TTimerOnClock, NestedAdvanceDeliversWhatFallsDueMeanwhile) {
    Ticker a("a", 100, &log, &clock);
    Ticker b("b", 120, &log, &clock);
    a.Action = [&] {
        if (a.Ticks != 1) return;
        clock.Advance(250);  // a modal loop inside the first tick
        log.push_back("modal-end@" + std::to_string(clock.Now()));
    };
    a.Timer->SetEnabled(true);
    b.Timer->SetEnabled(true);
    clock.Advance(150);
    // The running timer's own next ticks arrive inside its handler too, and
    // the outer call does not wind time back to its own target.
    EXPECT_EQ(log, (Log{"a@100", "b@120", "a@200", "b@240", "a@300", "modal-end@350"}));
    EXPECT_EQ(clock.Now(), 350);
}

TEST_F(TTimerOnClock, GoneOrStaleTimersGetNoTicks) {
    Ticker a("a", 100, &log, &clock);
    Ticker b("b", 100, &log, &clock);
    Ticker c("c", 100, &log, &clock);
    for (Ticker* t : {&a, &b, &c}) t->Timer->SetEnabled(true);
    const auto idB = b.Timer->TimerId();
    // a destroys its own timer and b's, due at the same moment, inside its tick.
    a.Action = [&] {
        b.Timer.reset();
        a.Timer.reset();
    };
    clock.Advance(250);
    EXPECT_EQ(log, (Log{"a@100", "c@100", "c@200"}));
    DeliverTimerTick(idB);  // a message left over for a destroyed timer
    DeliverTimerTick(0);
    c.Timer->SetEnabled(false);
    DeliverTimerTick(reinterpret_cast<std::uintptr_t>(c.Timer.get()));  // for a stopped one
    EXPECT_EQ(log.size(), 3u);
    auto silent = NewObj<TTimer>(100);  // no tick handler
    silent->SetEnabled(true);
    clock.Advance(100);
}

TEST(TTimerService, TimersStopOnTheServiceThatStartedThem) {
    VirtualClock outer;
    auto t = NewObj<TTimer>(100);
    t->SetEnabled(true);
    {
        VirtualClock inner;
        t->SetEnabled(false);
    }
    EXPECT_EQ(outer.RunningTimers(), 0u);
    EXPECT_EQ(&CurrentTimerService(), &outer);
    {
        VirtualClock shortLived;
        t->SetEnabled(true);
    }
    // Its service is gone: no id, and stopping must not reach the dead clock.
    EXPECT_EQ(t->TimerId(), 0u);
    t->SetEnabled(false);
    t->SetEnabled(true);
    EXPECT_EQ(outer.RunningTimers(), 1u);
}

TEST(TTimerQueue, ALateTimerTicksOnceAndKeepsItsPhase) {
    int dummy = 0;
    auto* timer = reinterpret_cast<TTimer*>(&dummy);  // only its identity is used
    TTimerQueue q;
    const std::uintptr_t id = q.Start(timer, 100, 0);
    EXPECT_EQ(q.TakeDue(99), 0u);
    EXPECT_EQ(q.TakeDue(350), id);
    EXPECT_EQ(q.TakeDue(350), 0u);
    std::int64_t due = 0;
    ASSERT_TRUE(q.NextDue(due));
    EXPECT_EQ(due, 400);
}

// Times near the end of the 64-bit range neither wrap into the past nor
// leave a timer due for ever.
TEST(TTimerQueue, TheEndOfTimeIsReachedNotWrapped) {
    int dummy = 0;
    auto* timer = reinterpret_cast<TTimer*>(&dummy);
    TTimerQueue q;
    const std::uintptr_t id = q.Start(timer, 100, INT64_MAX - 10);
    std::int64_t due = 0;
    ASSERT_TRUE(q.NextDue(due));
    EXPECT_EQ(due, INT64_MAX);
    EXPECT_EQ(q.TakeDue(INT64_MAX - 11), 0u);
    EXPECT_EQ(q.TakeDue(INT64_MAX), id);
    EXPECT_TRUE(q.Empty());

    VirtualClock clock;
    Log log;
    clock.AdvanceTo(INT64_MAX - 150);
    Ticker a("a", 100, &log, &clock);
    a.Timer->SetEnabled(true);
    clock.Advance(INT64_MAX);
    EXPECT_EQ(log, (Log{"a@" + std::to_string(INT64_MAX - 50)}));
    EXPECT_EQ(clock.Now(), INT64_MAX);
}

// Real time through the message-loop helpers: counts only, no timings.
TEST(RealMessageLoop, TimerTicksWhilePumpingAndStopsWhenDisabled) {
    ASSERT_EQ(TTimer::LiveCount(), 0);
    Ticker a("a", 50);
#ifdef _WIN32
    // Made with the first timer: its first start must not pay for the window.
    EXPECT_NE(TimerWindowHandle(), nullptr);
#else
    EXPECT_EQ(TimerWindowHandle(), nullptr);
#endif
    a.Timer->SetEnabled(true);
    EXPECT_TRUE(RunMessagesUntil([&] { return a.Ticks >= 3; }, 10000));
    a.Timer->SetEnabled(false);
    const int seen = a.Ticks;
    RunMessagesFor(200);
    EXPECT_EQ(a.Ticks, seen);
#ifdef _WIN32
    // The hidden window owns the Win32 timers and goes with the last TTimer.
    HWND window = static_cast<HWND>(TimerWindowHandle());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    a.Timer.reset();
    EXPECT_EQ(TimerWindowHandle(), nullptr);
    EXPECT_FALSE(IsWindow(window));

    PostQuitMessage(3);  // not the helper's to swallow
    EXPECT_FALSE(RunMessagesUntil([] { return false; }, 2000));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
#endif
}

#ifdef _WIN32
// A tick is the hidden window's timer message, handed to the timer by
// DispatchMessage; without pumping nothing ticks.
TEST(Win32Timer, TicksAreTimerMessagesOfTheHiddenWindow) {
    Ticker a("a", 20);
    a.Timer->SetEnabled(true);
    const HWND window = static_cast<HWND>(TimerWindowHandle());
    ASSERT_NE(window, nullptr);
    Sleep(100);
    EXPECT_EQ(a.Ticks, 0);

    int timerMessages = 0;
    MSG msg;
    // A running timer always produces a message, so GetMessage cannot hang.
    for (int guard = 0; timerMessages < 3 && guard < 1000 && GetMessageA(&msg, nullptr, 0, 0) > 0; ++guard) {
        const int before = a.Ticks;
        const bool ours = msg.message == WM_TIMER && msg.hwnd == window;
        if (ours) {
            ++timerMessages;
            EXPECT_EQ(msg.wParam, a.Timer->TimerId());
        }
        DispatchMessageA(&msg);
        EXPECT_EQ(a.Ticks, before + (ours ? 1 : 0));
    }
    EXPECT_EQ(timerMessages, 3);

    // Killing the timer removes any tick still queued.
    a.Timer->SetEnabled(false);
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_NOREMOVE));
}
#endif

}  // namespace
