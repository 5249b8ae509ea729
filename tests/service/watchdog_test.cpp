// The watchdog's policy as the device sees it: which commands reach the
// modem, and when, while the targets answer or not; on the virtual clock,
// with the real switching and a network that answers as the test says.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/service/files.h"
#include "app/service/watchdog.h"
#include "tests/service/service_host.h"

namespace {

// Every target answers, or none does, 100 ms after it is asked.
class TScriptedProber final : public TWatchProber {
public:
    TScriptedProber() : timer_(NewObj<TTimer>(100)) {
        timer_->SetTickHandler({[](void* self, TTimer* timer) {
                                    timer->SetEnabled(false);
                                    auto& prober = *static_cast<TScriptedProber*>(self);
                                    TDone done = std::move(prober.done_);
                                    prober.done_ = nullptr;
                                    if (done) done({prober.Up ? TProbeResult{true, 1.5, {}} : TProbeResult{false, 0, "no answer within 2 seconds"}});
                                },
                                this});
    }
    void Round(TDone done) override {
        ++Rounds;
        done_ = std::move(done);
        timer_->SetEnabled(true);
    }
    void Cancel() override {
        timer_->SetEnabled(false);
        done_ = nullptr;
    }
    bool Up = true;
    int Rounds = 0;

private:
    TObjPtr<TTimer> timer_;
    TDone done_;
};

constexpr std::int64_t S = 1000;
constexpr std::int64_t Day = 24 * 60 * 60 * S;

struct Step {
    std::int64_t At;
    std::string Do;  // down, up, pause, resume, on, off, restart, a day passes
};

struct Case {
    const char* Name;
    TWatchAction Action;
    bool StartOff;  // the device's switch off at start ("ATH" at 0)
    int MaxActions;
    std::vector<Step> Steps;
    std::int64_t Until;
    std::string Writes;  // "ATH@0 ATH1@400 ..."
    std::string State;
    int Actions;
};

class Watchdog : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("watchdog-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir;
};

TEST_F(Watchdog, ActsOnlyWhenEveryTargetHasFailedLongEnoughAndNobodyObjects) {
    // Rounds every 10 s, answered 100 ms later: 3 failed rounds, a 60 s
    // grace, 10 s off.
    const Case cases[] = {
        {"three failed rounds after the grace: off, and on again 10 s later", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}}, 100 * S, "ATH1@200 ATH@80300 ATH1@90800", "grace", 1},
        {"a round that succeeds starts the count again", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}, {75 * S, "up"}, {85 * S, "down"}}, 120 * S, "ATH1@200 ATH@110300", "acting", 1},
        {"after an action failures wait for the grace again", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}}, 200 * S, "ATH1@200 ATH@80300 ATH1@90800 ATH@180300 ATH1@190800", "grace", 2},
        {"the cap in 24 hours: it gives up until a target answers, a day later too", TWatchAction::Cycle, false, 1,
         {{0, "on"}, {0, "down"}, {200 * S, "a day passes"}}, Day + 300 * S, "ATH1@200 ATH@80300 ATH1@90800",
         "gave-up", 0},
        {"gave up, then a target answers: armed again, the cap still holds", TWatchAction::Cycle, false, 1,
         {{0, "on"}, {0, "down"}, {200 * S, "up"}}, 300 * S, "ATH1@200 ATH@80300 ATH1@90800", "ok", 1},
        {"paused: nothing probed and nothing done; resumed: a grace first", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}, {5 * S, "pause"}, {200 * S, "resume"}}, 300 * S, "ATH1@200 ATH@280300 ATH1@290800",
         "grace", 1},
        {"a switch by hand during the off period wins", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}, {85 * S, "off"}}, 100 * S, "ATH1@200 ATH@80300", "device-off", 1},
        {"switched on by hand during the off period: left on", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {0, "down"}, {85 * S, "on"}}, 100 * S, "ATH1@200 ATH@80300 ATH1@85400", "grace", 1},
        {"a device switched off by hand is never switched on", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {5 * S, "off"}, {5 * S, "down"}}, 200 * S, "ATH1@200 ATH@5200", "device-off", 0},
        {"switched on by hand again: a grace, then it watches", TWatchAction::Cycle, false, 3,
         {{0, "on"}, {5 * S, "off"}, {5 * S, "down"}, {100 * S, "on"}}, 210 * S,
         "ATH1@200 ATH@5200 ATH1@100400 ATH@190300 ATH1@200800", "grace", 1},
        {"pulse: the device loses its power while the switch is on", TWatchAction::Pulse, true, 3,
         {{0, "down"}}, 100 * S, "ATH@0 ATH1@80300 ATH@89800", "grace", 1},
        {"pulse from an unknown state: made known first", TWatchAction::Pulse, false, 3,
         {{0, "down"}}, 100 * S, "ATH@80100 ATH1@80300 ATH@89800", "grace", 1},
        {"pulse: a switch that is on was switched by hand, and is left", TWatchAction::Pulse, true, 3,
         {{0, "on"}, {0, "down"}}, 200 * S, "ATH@0 ATH1@200", "device-off", 0},
        {"a restart keeps the count of the last 24 hours", TWatchAction::Cycle, false, 2,
         {{0, "on"}, {0, "down"}, {95 * S, "restart"}}, 400 * S,
         "ATH1@200 ATH@80300 ATH1@90800 ATH@175300 ATH1@185800", "gave-up", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        TServiceHost host(c.StartOff);
        std::string writes;
        host.Serial.Wrote = [&](const std::string& bytes) {
            std::string command = bytes;
            if (!command.empty() && command.back() == '\r') command.pop_back();
            writes += (writes.empty() ? "" : " ") + command + "@" + std::to_string(host.Clock.Now());
        };
        if (c.StartOff) writes = "ATH@0";  // written before the hook, at the start
        std::int64_t wallOffset = 1'800'000'000'000;
        TDaemonFiles files(nullptr);
        const TWatchHistory history(files, (dir / "watchdog.actions").string());
        TScriptedProber prober;
        TWatchOptions options;
        options.Targets = {TWatchTarget{"192.0.2.1", "192.0.2.1", 0}};
        options.EverySeconds = 10;
        options.Fails = 3;
        options.Action = c.Action;
        options.OffSeconds = 10;
        options.GraceSeconds = 60;
        options.MaxActions = c.MaxActions;
        std::unique_ptr<TWatchdog> watchdog;
        const auto start = [&] {
            watchdog = std::make_unique<TWatchdog>(
                *host.Service, prober, options, history, nullptr,
                TWatchdog::TClock{[&] { return host.Clock.Now(); }, [&] { return wallOffset + host.Clock.Now(); }});
            watchdog->Start();
        };
        host.Service->Requested = [&](const TRequest& request) { watchdog->Requested(request); };
        host.Service->WatchControl = [&](TVerb verb) {
            return verb == TVerb::WatchPause ? watchdog->Pause() : watchdog->Resume();
        };
        host.Service->Changed = [&] { watchdog->StateChanged(); };
        start();
        for (const Step& step : c.Steps) {
            host.Until(step.At);
            if (step.Do == "down") prober.Up = false;
            else if (step.Do == "up") prober.Up = true;
            else if (step.Do == "pause") host.Submit(TVerb::WatchPause);
            else if (step.Do == "resume") host.Submit(TVerb::WatchResume);
            else if (step.Do == "on") host.Submit(TVerb::On);
            else if (step.Do == "off") host.Submit(TVerb::Off);
            else if (step.Do == "restart") start();
            else if (step.Do == "a day passes") host.Clock.AdvanceTo(host.Clock.Now() + Day);
            else FAIL() << step.Do;
        }
        host.Until(c.Until);
        EXPECT_EQ(writes, c.Writes);
        const TWatchStatus status = watchdog->Status();
        EXPECT_EQ(status.State, c.State);
        EXPECT_EQ(status.Actions24h, c.Actions);
        EXPECT_EQ(status.LastAction.empty(), c.Actions == 0 && status.State != "gave-up");
    }
}

}  // namespace
