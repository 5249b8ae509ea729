// The service's requests as a client sees them: the reply's time, code and
// state, and the bytes at the modem; on the virtual clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/service/service_host.h"

namespace {

using Lines = std::vector<std::string>;

struct Step {
    std::int64_t At;
    std::string Do;  // a verb ("pulse 5"), or what the port does next
};

struct Case {
    const char* Name;
    bool StartOff;
    std::vector<Step> Steps;
    Lines Replies;
    std::string Output;  // every byte the port took
};

void Apply(TServiceHost& host, const std::string& what) {
    if (what == "ok") host.Serial.Mode = TAnsweringSerial::Ok;
    else if (what == "error") host.Serial.Mode = TAnsweringSerial::Error;
    else if (what == "silent") host.Serial.Mode = TAnsweringSerial::Silent;
    else if (what == "missing") host.Serial.SetMissing(1, true);
    else if (what == "present") host.Serial.SetMissing(1, false);
    else if (what == "write fails") host.Serial.SetWriteFails(1, true);
    else if (what == "write works") host.Serial.SetWriteFails(1, false);
    else if (what == "lost") host.Service->LineLost("gone");
    else if (what == "on") host.Submit(TVerb::On);
    else if (what == "off") host.Submit(TVerb::Off);
    else if (what == "toggle") host.Submit(TVerb::Toggle);
    else if (what == "status") host.Submit(TVerb::Status);
    else if (what.starts_with("pulse ")) host.Submit(TVerb::Pulse, what.substr(6));
    else FAIL() << "unknown step " << what;
}

TEST(ServiceRequests, EachIsAnsweredWhenItsOutcomeIsKnown) {
    const Case cases[] = {
        {"the start writes the off command", true, {{10, "status"}}, {"10 0 off"}, "ATH\r"},
        {"no start command", false, {{10, "status"}}, {"10 0 unknown unconfirmed"}, ""},
        {"on when off: after the switch-on report", true, {{0, "on"}}, {"400 0 on"}, "ATH\rATH1\r"},
        {"on when on writes nothing", true, {{0, "on"}, {1000, "on"}}, {"400 0 on", "1000 0 on"}, "ATH\rATH1\r"},
        {"off when on: a toggle", true, {{0, "on"}, {1000, "off"}}, {"400 0 on", "1300 0 off"}, "ATH\rATH1\rATH\r"},
        {"off when off writes nothing", true, {{0, "off"}}, {"0 0 off"}, "ATH\r"},
        {"off when unknown writes the off command at once", false, {{0, "off"}}, {"1 0 off"}, "ATH\r"},
        {"toggle is the button", true, {{0, "toggle"}, {1000, "toggle"}}, {"400 0 on", "1300 0 off"},
         "ATH\rATH1\rATH\r"},
        {"a later switch-on passes ten and zero first", true, {{0, "on"}, {1000, "off"}, {2000, "on"}},
         {"400 0 on", "1300 0 off", "2600 0 on"}, "ATH\rATH1\rATH\rATH1\r"},
        {"requests at once are served in order", true, {{0, "on"}, {0, "status"}, {0, "off"}},
         {"400 0 on", "400 0 on", "800 0 off"}, "ATH\rATH1\rATH\r"},
        {"no answer: the write counts, unconfirmed, after 1 s", true, {{0, "silent"}, {0, "on"}},
         {"1200 0 on unconfirmed"}, "ATH\rATH1\r"},
        {"ERROR fails the command and the state is unknown", true, {{0, "error"}, {0, "on"}},
         {"400 74 unknown unconfirmed"}, "ATH\rATH1\r"},
        {"after ERROR the next request starts from a reset", true,
         {{0, "error"}, {0, "on"}, {1000, "ok"}, {1000, "on"}}, {"400 74 unknown unconfirmed", "1400 0 on"},
         "ATH\rATH1\rATH1\r"},
        {"a missing port is the wrong-port outcome", true, {{0, "missing"}, {0, "on"}},
         {"300 69 off"}, "ATH\r"},
        {"plugged in again it works without a restart", true,
         {{0, "missing"}, {0, "on"}, {1000, "present"}, {1000, "on"}}, {"300 69 off", "1400 0 on"},
         "ATH\rATH1\r"},
        {"off is never claimed when nothing was written", true, {{0, "on"}, {1000, "write fails"}, {1000, "off"}},
         {"400 0 on", "1300 74 unknown unconfirmed"}, "ATH\rATH1\r"},
        {"off after that writes the off command again", true,
         {{0, "on"}, {1000, "write fails"}, {1000, "off"}, {2000, "write works"}, {2000, "off"}},
         {"400 0 on", "1300 74 unknown unconfirmed", "2001 0 off"}, "ATH\rATH1\rATH\r"},
        {"the port lost while on: unknown, then usable again", true, {{0, "on"}, {1000, "lost"}, {1000, "status"}, {1000, "on"}},
         {"400 0 on", "1000 0 unknown unconfirmed", "1400 0 on"}, "ATH\rATH1\rATH1\r"},
        {"the port lost while an on waits for its answer: the next requests start from a reset", true,
         {{0, "silent"}, {0, "on"}, {600, "lost"}, {2000, "ok"}, {2000, "on"}, {3000, "off"}},
         {"1200 0 on unconfirmed", "2400 0 on", "3300 0 off"}, "ATH\rATH1\rATH1\rATH\r"},
        {"pulse while on changes nothing", true, {{0, "on"}, {1000, "pulse 5"}}, {"400 0 on", "1000 75 on"},
         "ATH\rATH1\r"},
        {"a pulse switches off by itself N - 0.5 s after the on command", true, {{0, "pulse 5"}, {6000, "status"}},
         {"400 0 on", "6000 0 off"}, "ATH\rATH1\rATH\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TServiceHost host(c.StartOff);
        host.Serial.Clear();
        for (const Step& step : c.Steps) {
            host.Until(step.At);
            Apply(host, step.Do);
        }
        host.Until(8000);
        EXPECT_EQ(host.Replies, c.Replies);
        EXPECT_EQ(host.Serial.Output(1), c.Output.substr(c.StartOff ? 4 : 0)) << "the start's ATH is not counted";
        EXPECT_EQ(host.Service->Waiting(), 0u);
    }
}

// status while a pulse runs: the seconds until "ATH\r" goes out.
TEST(ServiceRequests, PulseTimeLeftEndsWhenTheOffCommandIsWritten) {
    for (const char* pulse : {"1", "2.5", "3.5", "4.7", "5", "12"}) {
        SCOPED_TRACE(pulse);
        TServiceHost host;
        host.Serial.Clear();
        host.Submit(TVerb::Pulse, pulse);
        host.Until(400);
        ASSERT_EQ(host.Replies, Lines{"400 0 on"});
        ASSERT_TRUE(host.Last.Status.PulseRemainingS.has_value());
        const auto offAt = 400 + static_cast<std::int64_t>(*host.Last.Status.PulseRemainingS * 1000 + 0.5);
        host.Until(offAt - 1);
        EXPECT_EQ(host.Serial.Output(1), "ATH1\r");
        host.Until(offAt);
        EXPECT_EQ(host.Serial.Output(1), "ATH1\rATH\r");
        host.Until(offAt + 1000);
        host.Submit(TVerb::Status);
        EXPECT_EQ(host.Last.Status.State, TSwitchState::Off);
        EXPECT_FALSE(host.Last.Status.PulseRemainingS.has_value());
    }
}

TEST(ServiceRequests, FaultsSayWhatHappenedInUtf8) {
    TServiceHost host;
    host.Serial.SetMissing(1);
    host.Submit(TVerb::On);
    host.Until(1000);
    ASSERT_EQ(host.Last.Code, exitUnavailable);
    EXPECT_TRUE(host.Last.Error.starts_with("COM-порт указан неверно. Нажмите \"Сброс\" и введите другой порт."))
        << host.Last.Error;
    EXPECT_EQ(host.Last.Status.LastError, host.Last.Error);
    EXPECT_FALSE(host.Last.Status.Available);
}

}  // namespace
