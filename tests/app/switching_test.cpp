// The modem switching sub-scheme and its pulse countdown, driven by the
// virtual clock and an in-memory port; every expectation is a timeline.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/app/switching_host.h"

namespace {

using Lines = std::vector<std::string>;

class SwitchingTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = std::make_unique<TSwitchingHost>(timeline);
        StartFramework();
        host->Reset();  // as the main window's start-up does
        timeline.Lines.clear();
    }
    void TearDown() override {
        host.reset();
        StopFramework();
    }

    // Runs the clock to `t` and hands over what happened since the last call.
    Lines Until(std::int64_t t) {
        clock.AdvanceTo(t);
        Lines seen;
        seen.swap(timeline.Lines);
        return seen;
    }
    void ToggleAt(std::int64_t t) {
        Until(t);
        host->Toggle();
    }
    // Switches on at time 0 and lets the sequencer stop at step 5.
    void SwitchOn() {
        host->Toggle();
        ASSERT_EQ(Until(500), (Lines{"100 open \\\\.\\Com6", "200 write ATH1\\r", "400 SwitchedOn"}));
    }

    VirtualClock clock;
    TTimeline timeline{clock};
    TTimedSerial serial{timeline};
    std::unique_ptr<TSwitchingHost> host;
};

TEST_F(SwitchingTest, PulseOfFiveSecondsSwitchesOnThenOffByItself) {
    host->SetPulse("5");
    host->Toggle();
    EXPECT_EQ(Until(499), (Lines{"100 open \\\\.\\Com6", "200 write ATH1\\r", "400 SwitchedOn"}));
    EXPECT_FALSE(host->CountdownRunning());
    Until(500);
    EXPECT_TRUE(host->CountdownRunning());
    EXPECT_FALSE(host->SequencerRunning());

    // The host answers the expiry with a toggle, which runs steps 6 to 9.
    EXPECT_EQ(Until(10000), (Lines{"4500 PulseExpired", "4700 write ATH\\r", "4800 SwitchedOff"}));
    EXPECT_FALSE(host->CountdownRunning());
    EXPECT_FALSE(host->SequencerRunning());
    EXPECT_EQ(clock.RunningTimers(), 0u);
    EXPECT_TRUE(serial.IsOpen(6)) << "only reset closes the port";
    EXPECT_EQ(serial.Definition(6), "baud=2400 parity=N data=8 stop=1 octs=off");
    EXPECT_EQ(serial.Timeout(6), 1u);
}

TEST_F(SwitchingTest, LaterSwitchOnPassesTenAndZeroFirst) {
    SwitchOn();
    ToggleAt(1000);
    EXPECT_EQ(Until(2000), (Lines{"1200 write ATH\\r", "1300 SwitchedOff"}));
    ToggleAt(3000);
    EXPECT_EQ(Until(4000), (Lines{"3300 close", "3300 open \\\\.\\Com6", "3400 write ATH1\\r", "3600 SwitchedOn"}));
    EXPECT_FALSE(host->SequencerRunning());
}

TEST_F(SwitchingTest, PulseTextZeroKeepsTheDeviceOn) {
    SwitchOn();
    EXPECT_FALSE(host->CountdownRunning());
    EXPECT_EQ(Until(3600 * 1000), Lines{});
    EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST_F(SwitchingTest, PulseTextsBelowTwoExpireAfterOneSecond) {
    for (const char* pulse : {"00", " 0", "abc", "1", "", "-7", "0.5"}) {
        SCOPED_TRACE(std::string("pulse \"") + pulse + "\"");
        host->Reset();
        Until(clock.Now());
        host->SetPulse(pulse);
        const std::int64_t t0 = clock.Now();
        host->Toggle();
        Until(t0 + 500);
        EXPECT_EQ(Until(t0 + 1499), Lines{});
        EXPECT_EQ(Until(t0 + 1500), Lines{std::to_string(t0 + 1500) + " PulseExpired"});
        Until(t0 + 5000);
    }
}

TEST_F(SwitchingTest, LongPulsesExpireOnTheLastSecond) {
    host->SetPulse("3600");
    SwitchOn();
    // Expiry on tick P - 1 after step 5, past the counter's old bound of 1000.
    EXPECT_EQ(Until(500 + 3598 * 1000), Lines{});
    EXPECT_EQ(Until(500 + 3599 * 1000), Lines{std::to_string(500 + 3599 * 1000) + " PulseExpired"});
}

TEST_F(SwitchingTest, WrongPortIsReportedAndRetriedUntilCorrected) {
    serial.SetMissing(9);
    serial.SetWriteFails(5);
    const struct {
        const char* Port;
        Lines First;  // up to 300 ms after the toggle
    } cases[] = {
        {"0", {"+100 open \\\\.\\Com0 failed", "+300 PortError"}},
        {"", {"+100 open \\\\.\\Com0 failed", "+300 PortError"}},
        {"9", {"+100 open \\\\.\\Com9 failed", "+300 PortError"}},
        {"5", {"+100 open \\\\.\\Com5", "+200 write ATH1\\r failed", "+300 PortError"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("port \"") + c.Port + "\"");
        host->Reset();
        Until(clock.Now());
        host->SetPort(c.Port);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const std::int64_t t0 = clock.Now();
            host->Toggle();
            Lines expected;
            for (const std::string& line : c.First) {
                const auto space = line.find(' ');
                expected.push_back(std::to_string(t0 + std::stoll(line.substr(1, space))) + line.substr(space));
            }
            Lines seen = Until(t0 + 2000);
            // The retry closes what the failed attempt left open.
            if (attempt == 1 && !seen.empty() && seen.front().ends_with(" close")) seen.erase(seen.begin());
            EXPECT_EQ(seen, expected) << "attempt " << attempt;
            EXPECT_FALSE(host->SequencerRunning());
            EXPECT_FALSE(host->CountdownRunning());
        }
    }
    host->SetPort("6");
    const std::int64_t t0 = clock.Now();
    host->Toggle();
    const Lines seen = Until(t0 + 1000);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], std::to_string(t0 + 200) + " write ATH1\\r");
    EXPECT_EQ(seen.back(), std::to_string(t0 + 400) + " SwitchedOn");
}

TEST_F(SwitchingTest, APortThatFailsAfterAGoodWriteIsAPortError) {
    SwitchOn();
    ToggleAt(1000);
    Until(2000);
    serial.SetMissing(6);  // unplugged: nothing is written, nothing reported
    ToggleAt(3000);
    EXPECT_EQ(Until(4000), (Lines{"3300 close", "3300 open \\\\.\\Com6 failed", "3500 PortError"}));
}

TEST_F(SwitchingTest, ResetWhileOnClosesThePortAndCancelsTheCountdown) {
    host->SetPulse("5");
    SwitchOn();
    ASSERT_TRUE(host->CountdownRunning());
    Until(1000);
    host->Reset();
    EXPECT_EQ(Until(1000), Lines{"1000 close"});
    EXPECT_FALSE(serial.IsOpen(6));
    EXPECT_FALSE(host->CountdownRunning());
    EXPECT_EQ(host->Switching().StepCounter->Count, 0);
    EXPECT_EQ(Until(60000), Lines{}) << "a cancelled countdown must not switch on again";
    EXPECT_EQ(serial.Output(6), "ATH1\r");

    // From 0 again: the on-command 200 ms after the toggle.
    ToggleAt(61000);
    EXPECT_EQ(Until(61400), (Lines{"61100 open \\\\.\\Com6", "61200 write ATH1\\r", "61400 SwitchedOn"}));
}

TEST_F(SwitchingTest, InputsOneAndTwoDoNothing) {
    SwitchOn();
    host->Fire(host->Switcher, 1);
    host->Fire(host->Switcher, 2);
    host->Fire(host->Switcher, 4);  // beyond the boundary's inputs
    EXPECT_EQ(Until(10000), Lines{});
    EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST_F(SwitchingTest, ToggleWhileRunningNeitherRepeatsNorSkipsSteps) {
    host->Toggle();
    clock.AdvanceTo(150);
    host->Toggle();
    clock.AdvanceTo(250);
    host->Toggle();
    EXPECT_EQ(Until(1000), (Lines{"100 open \\\\.\\Com6", "200 write ATH1\\r", "400 SwitchedOn"}));
    EXPECT_EQ(host->Switching().StepCounter->Count, 5);
}

TEST_F(SwitchingTest, DestroyingTheHostFreesEveryTimerAndClosesThePort) {
    SwitchOn();
    host.reset();
    EXPECT_EQ(TTimer::LiveCount(), 0);
    EXPECT_EQ(serial.OpenCount(), 0);
}

}  // namespace
