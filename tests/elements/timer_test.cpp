#include "elements/timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/virtual_clock.h"
#include "winlib/messageloop.h"

namespace {

using Log = std::vector<std::string>;

class TimerElement : public ::testing::Test {
protected:
    // Logs "timer@t" / "stop@t"; onTick runs inside the n-th tick's chain.
    void doEvent(TData&, std::uint16_t index) {
        log.push_back((index == 0 ? "timer@" : "stop@") + std::to_string(clock.Now()));
        if (index == 0 && onTick) onTick(++ticks);
    }
    void SetUp() override {
        StartFramework();
        timer.SetInterval(100);
        timer.onTimer = QX_LINK(this, doEvent, 0);
        timer.onStop = QX_LINK(this, doEvent, 1);
    }
    void TearDown() override { StopFramework(); }

    void Start() { FireNull(QX_LINK(&timer, doStart, 0)); }
    void Stop() { FireNull(QX_LINK(&timer, doStop, 1)); }
    // A modal message box inside the n-th tick's chain, pumping for ms.
    void ModalBoxOnTick(int n, std::int64_t ms) {
        onTick = [this, n, ms](int tick) {
            if (tick == n) clock.Advance(ms);
        };
    }

    VirtualClock clock;
    Log log;
    int ticks = 0;
    std::function<void(int)> onTick;
    TQXTimer timer;
};

TEST_F(TimerElement, StartsStoppedAndItsTimerGoesWithIt) {
    {
        TQXTimer fresh;
        EXPECT_EQ(fresh.Interval(), 1000);
        EXPECT_FALSE(fresh.Enabled());
        fresh.SetEnabled(true);  // ticks without doStart
        EXPECT_EQ(clock.RunningTimers(), 1u);
    }
    EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST_F(TimerElement, AutoStopFiresNTicksThenStopEachStart) {
    timer.SetAutoStop(3);
    EXPECT_EQ(timer.Remaining, 3);
    Start();
    clock.Advance(1000);
    Start();
    clock.Advance(1000);
    EXPECT_EQ(log, (Log{"timer@100", "timer@200", "timer@300", "stop@300", "timer@1100", "timer@1200",
                        "timer@1300", "stop@1300"}));
    EXPECT_FALSE(timer.Enabled());
}

TEST_F(TimerElement, StartWhileRunningOnlyResetsRemaining) {
    timer.SetAutoStop(3);
    Start();
    clock.Advance(250);
    Start();  // the phase stays: the next tick is still at 300
    EXPECT_EQ(timer.Remaining, 3);
    clock.Advance(1000);
    EXPECT_EQ(log, (Log{"timer@100", "timer@200", "timer@300", "timer@400", "timer@500", "stop@500"}));
}

TEST_F(TimerElement, WithoutAutoStopRunsUntilStopAndStopAlwaysFires) {
    Stop();  // on a stopped timer
    Start();
    clock.Advance(200);
    EXPECT_EQ(timer.Remaining, -1);
    Stop();
    clock.Advance(500);
    EXPECT_EQ(log, (Log{"stop@0", "timer@100", "timer@200", "stop@200"}));
}

TEST_F(TimerElement, TicksDuringAModalBoxAreDroppedOrKept) {
    ModalBoxOnTick(1, 250);  // ticks at 200 and 300 arrive inside
    Start();
    clock.Advance(400);
    EXPECT_EQ(log, (Log{"timer@100", "timer@400"}));
    EXPECT_EQ(timer.Busy, 0);

    Stop();
    log.clear();
    ticks = 0;
    timer.KeepTicks = true;
    Start();  // at 400
    clock.Advance(400);
    // Both kept ticks run as soon as the box closes, at 750.
    EXPECT_EQ(log, (Log{"timer@500", "timer@750", "timer@750", "timer@800"}));
    EXPECT_EQ(timer.Busy, 0);
}

TEST_F(TimerElement, AutoStopDiscardsKeptTicksBeyondTheLast) {
    timer.KeepTicks = true;
    timer.SetAutoStop(2);
    ModalBoxOnTick(1, 350);  // three ticks kept
    Start();
    clock.Advance(1000);
    EXPECT_EQ(log, (Log{"timer@100", "timer@450", "stop@450"}));
    EXPECT_EQ(timer.Busy, 0);
}

TEST_F(TimerElement, StopInsideATickActsAtOnceButKeptTicksStillRun) {
    timer.KeepTicks = true;
    onTick = [this](int tick) {
        if (tick != 1) return;
        clock.Advance(150);  // one tick kept
        Stop();
    };
    Start();
    clock.Advance(1000);
    EXPECT_EQ(log, (Log{"timer@100", "stop@250", "timer@250"}));
    EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST_F(TimerElement, StartInsideTheLastTickDoesNotPreventTheStop) {
    timer.SetAutoStop(2);
    onTick = [this](int tick) {
        if (tick == 2) Start();
    };
    Start();
    clock.Advance(1000);
    EXPECT_EQ(log, (Log{"timer@100", "timer@200", "stop@200"}));
    EXPECT_FALSE(timer.Enabled());
}

TEST_F(TimerElement, ForeignBusyValuesCannotHangOrOverflow) {
    timer.Busy = -5;
    timer.SetEnabled(true);
    clock.Advance(100);
    EXPECT_EQ(timer.Busy, 0);
    timer.Busy = INT32_MAX;  // "a tick is running": this one is dropped
    timer.KeepTicks = true;
    clock.Advance(100);
    EXPECT_EQ(timer.Busy, INT32_MAX);
    EXPECT_EQ(log, (Log{"timer@100"}));
}

class CounterElement : public ::testing::Test {
protected:
    void SetUp() override {
        StartFramework();
        counter.onCount = QX_LINK(this, doCount, 0);
    }
    void TearDown() override { StopFramework(); }
    void doCount(TData& value, std::uint16_t) {
        EXPECT_EQ(value.Kind, dtInteger);
        fired.push_back(value.IntValue);
    }
    std::vector<std::int32_t> Next(int times) {
        fired.clear();
        for (int i = 0; i < times; ++i) FireNull(QX_LINK(&counter, doNext, 0));
        return fired;
    }
    std::int32_t ReadCount() {
        TData v;
        counter.readCount(v, 0);
        return AsInteger(v);
    }

    TQXCounter counter;
    std::vector<std::int32_t> fired;
};

using Values = std::vector<std::int32_t>;

TEST_F(CounterElement, WrapsToTheOppositeBoundItself) {
    counter.Max = 10;
    counter.Step = 1;
    EXPECT_EQ(Next(12), (Values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}));
    counter.Count = 9;
    counter.Step = 3;
    EXPECT_EQ(Next(2), (Values{0, 3}));  // 12 > 10 goes to Min, not to 1

    counter.Count = 0;
    counter.Max = 1000;
    counter.Step = 1;
    counter.Direction = 7;  // any non-zero value counts down
    EXPECT_EQ(Next(2), (Values{1000, 999}));
    EXPECT_EQ(ReadCount(), 999);
}

TEST_F(CounterElement, ResetGoesToTheStartValueSilently) {
    counter.Min = 2;
    counter.Max = 8;
    counter.Count = 5;
    TData v;
    counter.doReset(v, 2);
    EXPECT_EQ(ReadCount(), 2);
    counter.Direction = 1;
    counter.doReset(v, 2);
    EXPECT_EQ(ReadCount(), 8);
    EXPECT_TRUE(fired.empty());
}

TEST_F(CounterElement, ExtremeValuesWrapAsTwosComplement) {
    counter.Min = 5;
    counter.Max = INT32_MAX;
    counter.Count = INT32_MAX;
    counter.Step = 1;
    EXPECT_EQ(Next(1), (Values{INT32_MIN}));  // not above Max: kept

    counter.Direction = 1;
    counter.Min = INT32_MIN;
    counter.Max = 7;
    EXPECT_EQ(Next(1), (Values{INT32_MAX}));  // not below Min: kept
    counter.Count = 0;
    counter.Step = INT32_MIN;
    EXPECT_EQ(Next(1), (Values{INT32_MIN}));

    counter.onCount = TQX_Event{};  // unlinked: counts quietly
    EXPECT_EQ(Next(1), Values{});
    EXPECT_EQ(ReadCount(), 0);
}

// The platform's own timer (Win32 timer messages on Windows) with a modal
// loop inside the first tick's chain: counts and order only, no timings.
TEST(TimerElementRealTime, TicksDuringAModalLoopAreDroppedThenTickingGoesOn) {
    StartFramework();
    struct TSink {
        void doEvent(TData&, std::uint16_t index) {
            events.push_back(index == 0 ? "timer" : "stop");
            if (index == 0 && events.size() == 1) {
                RunMessagesFor(150);  // the timer keeps ticking in here
                events.push_back("modal-end");
            }
        }
        std::vector<std::string> events;
    } sink;
    TQXTimer timer;
    timer.SetInterval(20);
    timer.SetAutoStop(3);
    timer.onTimer = QX_LINK(&sink, doEvent, 0);
    timer.onStop = QX_LINK(&sink, doEvent, 1);
    FireNull(QX_LINK(&timer, doStart, 0));
    EXPECT_TRUE(RunMessagesUntil([&] { return !timer.Enabled(); }, 10000));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"timer", "modal-end", "timer", "timer", "stop"}));
    EXPECT_EQ(timer.Busy, 0);
    StopFramework();
}

}  // namespace
