// The switching sequence through the platform's own serial device into a
// pseudo-terminal standing in for the modem, on the virtual clock.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/app/switching_host.h"
#include "tests/support/serial_pty.h"

namespace {

TEST(SwitchingOnAPty, CommandsArriveInOrderByteForByte) {
    TSerialPty pty;
    std::string whyNot;
    ASSERT_TRUE(pty.Start(whyNot)) << whyNot;
    pty.Drain();
    ASSERT_EQ(&CurrentSerialDevice(), &PlatformSerialDevice());

    VirtualClock clock;
    TTimeline timeline(clock);
    {
        TSwitchingHost host(timeline);
        StartFramework();
        host.SetPort(std::to_string(TSerialPty::Port));
        host.SetPulse("3");
        host.Reset();
        host.Toggle();
        clock.AdvanceTo(500);
        EXPECT_EQ(pty.Read(5), "ATH1\r");
        clock.AdvanceTo(5000);  // countdown from 500, expiry at 2500, off at 2700
        EXPECT_EQ(pty.Read(4), "ATH\r");
        EXPECT_EQ(timeline.Lines, (std::vector<std::string>{"400 SwitchedOn", "2500 PulseExpired", "2800 SwitchedOff"}));

        // Switched on again, then reset: the port closes without "ATH\r".
        host.Toggle();
        clock.AdvanceTo(6000);
        host.Reset();
        clock.AdvanceTo(20000);
        EXPECT_EQ(pty.Read(5), "ATH1\r");
        EXPECT_EQ(pty.Read(1, 200), "") << "nothing after the reset";
    }
    StopFramework();
}

}  // namespace
