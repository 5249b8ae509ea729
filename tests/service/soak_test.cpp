// A day of the service on the virtual clock: client requests of every kind,
// pulses, modem answers missing or refused, the port gone and back, and
// requests through "vr.ini", through the real headless scheme. The state
// the service reports always matches the last command the modem took, and
// memory, descriptors and timers stay flat.
//
// CI runs a hundredth of the day; MODEMSWITCH_SOAK=day runs all of it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/service/service_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/usage.h"
#include "winlib/inifile.h"

namespace {

// The device as the modem left it: the last command it took.
std::optional<TSwitchState> Device(const std::string& output) {
    const std::size_t on = output.rfind("ATH1\r"), off = output.rfind("ATH\r");
    if (on == std::string::npos && off == std::string::npos) return std::nullopt;
    if (off == std::string::npos || (on != std::string::npos && on > off)) return TSwitchState::On;
    return TSwitchState::Off;
}

TEST(ServiceSoak, ADayOfRequestsLeavesNothingBehind) {
    const char* soak = std::getenv("MODEMSWITCH_SOAK");
    const int scale = soak != nullptr && std::string(soak) == "day" ? 1 : 100;
    const int actions = 12000 / scale;
    const std::int64_t window = 86'400'000 / 12000;  // 7.2 s each

    TTempDir dir;
    const std::optional<std::string> previousDirectory = OverrideProgramDirectory(dir.WithSeparator());
    {
        TServiceHost host;
        const long timers = TTimer::LiveCount();
        TUsage settled;
        int faults = 0, refused = 0;
        std::optional<TSwitchState> device;
        for (int k = 0; k < actions; ++k) {
            const std::int64_t start = host.Clock.Now();
            host.Serial.Mode = k % 50 == 12 ? TAnsweringSerial::Error : k % 50 == 24 ? TAnsweringSerial::Silent
                                                                                   : TAnsweringSerial::Ok;
            switch (k % 12) {
                case 3: host.Submit(TVerb::Pulse, "2"); break;
                case 5:  // unplugged for a while, then back
                    host.Serial.SetMissing(1, true);
                    host.Submit(TVerb::Toggle);
                    host.Until(start + 2000);
                    host.Serial.SetMissing(1, false);
                    ++faults;
                    break;
                case 9: host.Submit(TVerb::Status); break;
                case 11:
                    Spit(dir.File("vr.ini"), "[znah]\r\np1=1\r\n");
                    break;
                default: host.Submit(k % 3 == 0 ? TVerb::Toggle : k % 3 == 1 ? TVerb::On : TVerb::Off); break;
            }
            host.Until(start + window);
            for (const std::string& reply : host.Replies) refused += reply.find(" 74 ") != std::string::npos;
            if (const auto now = Device(host.Serial.Output(1))) device = now;
            host.Serial.Clear();

            ASSERT_EQ(host.Service->Waiting(), 0u) << "action " << k;
            const TStatus status = host.Service->Status();
            if (status.State != TSwitchState::Unknown) {
                ASSERT_EQ(device, status.State) << "action " << k << " at " << host.Clock.Now();
            }
            ASSERT_LE(host.Serial.OpenCount(), 1);
            ASSERT_EQ(TTimer::LiveCount(), timers);
            host.Replies.clear();
            if (k == actions / 10) settled = Usage();
            if (k % 12 == 11) {
                EXPECT_EQ(Slurp(dir.File("vr.ini")).find("p1"), std::string::npos) << "action " << k;
            }
        }
        const TUsage end = Usage();
        EXPECT_GT(faults, 0);
        EXPECT_GT(refused, 0);
        if (end.HeapBytes >= 0) {
            EXPECT_LE(end.HeapBytes - settled.HeapBytes, 16 * 1024) << "the heap grew";
            EXPECT_EQ(end.Descriptors, settled.Descriptors);
        }
    }
    OverrideProgramDirectory(previousDirectory);
}

}  // namespace
