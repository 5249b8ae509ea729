// A day of the program's switching on the virtual clock: request polls every
// second, toggles by the button (some with a pulse), wrong-port episodes
// recovered with a reset, and requests through "vr.ini", all through the
// real switching and request sub-schemes. Memory, descriptors and timers
// stay flat, and the device is always in the state last reported.
//
// CI runs a hundredth of the day; MODEMSWITCH_SOAK=day runs all of it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "tests/app/switching_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/usage.h"
#include "winlib/inifile.h"
#include "winlib/profile.h"

namespace {

// Counts the request polls on their way to the real store.
class TCountingStore : public TProfileStore {
public:
    std::string GetString(const char* s, const char* k, const char* d, const char* f) override {
        return NativeProfileStore().GetString(s, k, d, f);
    }
    std::int32_t GetInt(const char* s, const char* k, std::int32_t d, const char* f) override {
        ++Polls;
        return NativeProfileStore().GetInt(s, k, d, f);
    }
    bool WriteString(const char* s, const char* k, const char* v, const char* f) override {
        return NativeProfileStore().WriteString(s, k, v, f);
    }
    long Polls = 0;
};

// The device as the modem leaves it, and the state the scheme last
// reported, both read off the timeline.
struct TStates {
    std::optional<bool> Device, Reported;
    int Ons = 0, Offs = 0, PortErrors = 0, Requests = 0;

    void Read(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            const std::string what = line.substr(line.find(' ') + 1);
            if (what == "write ATH1\\r") Device = true;
            if (what == "write ATH\\r") Device = false;
            if (what == "SwitchedOn") Reported = true, ++Ons;
            if (what == "SwitchedOff") Reported = false, ++Offs;
            if (what == "PortError") ++PortErrors;
            if (what == "Request") ++Requests;
        }
    }
};

TEST(Soak, ADayOfSwitchingLeavesNothingBehind) {
    const bool wholeDay = [] {
        const char* soak = std::getenv("MODEMSWITCH_SOAK");
        return soak != nullptr && std::string(soak) == "day";
    }();
    const int scale = wholeDay ? 1 : 100;
    const int actions = 12000 / scale;             // 10 toggles, 1 wrong port, 1 request in every 12
    const std::int64_t window = 86'400'000 / 12000;  // 7.2 s each: the day in polls of one second

    TTempDir dir;
    const std::optional<std::string> previousDirectory = OverrideProgramDirectory(dir.WithSeparator());
    TCountingStore store;
    TProfileStore* previousStore = SetProfileStore(&store);
    VirtualClock clock;
    TTimeline timeline(clock);
    TTimedSerial serial(timeline);
    serial.SetMissing(9);
    {
        TSwitchingHost host(timeline);
        StartFramework();
        host.Reset();
        host.StartPolling();

        TStates states;
        TUsage settled;
        const long timers = TTimer::LiveCount();
        const std::size_t runningTimers = clock.RunningTimers();
        int toggles = 0, wrongPorts = 0, requests = 0;
        for (int k = 0; k < actions; ++k) {
            const std::int64_t start = clock.Now();
            const bool on = states.Reported.value_or(false);
            if (k % 12 == 5) {
                // A wrong port typed while off; "Сброс" and the right one again.
                if (on) host.Toggle(), clock.AdvanceTo(start + 1000);
                host.SetPort("9");
                host.Toggle();
                clock.AdvanceTo(clock.Now() + 1000);
                host.Reset();
                host.SetPort("6");
                ++wrongPorts;
            } else if (k % 12 == 11) {
                Spit(dir.File("vr.ini"), "[znah]\r\np1=1\r\n");
                ++requests;
            } else {
                host.SetPulse(toggles % 20 == 0 && !on ? "1" : "0");  // now and then a pulse that ends by itself
                host.Toggle();
                ++toggles;
            }
            clock.AdvanceTo(start + window);

            states.Read(timeline.Lines);
            timeline.Lines.clear();
            serial.Clear();
            ASSERT_EQ(states.Device, states.Reported) << "action " << k << " at " << clock.Now() << " ms";
            ASSERT_LE(serial.OpenCount(), 1);
            ASSERT_EQ(TTimer::LiveCount(), timers);
            ASSERT_LE(clock.RunningTimers(), runningTimers + 1) << "action " << k;
            if (k == actions / 10) settled = Usage();
        }
        const TUsage end = Usage();
        EXPECT_EQ(store.Polls, 86'400 / scale);
        EXPECT_EQ(toggles, 10000 / scale);
        EXPECT_EQ(wrongPorts, 1000 / scale);
        EXPECT_EQ(states.PortErrors, wrongPorts);
        EXPECT_EQ(states.Requests, requests);
        EXPECT_GE(states.Ons + states.Offs, toggles + requests);
        if (end.HeapBytes >= 0) {
            EXPECT_LE(end.HeapBytes - settled.HeapBytes, 16 * 1024) << "the heap grew";
            EXPECT_EQ(end.Descriptors, settled.Descriptors);
        }
        StopFramework();
    }
    SetProfileStore(previousStore);
    OverrideProgramDirectory(previousDirectory);
}

}  // namespace
