// The real daemon on every kind of switch it drives, seen from the far end
// of the port: a CH340 board and a Modbus board (their simulators), and a
// relay on DTR or RTS (a terminal whose lines the preloaded shim keeps).
// One table of kinds; each behaviour is one test across them.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "tests/service/boards.h"
#include "tests/service/program.h"

namespace {

struct TKindCase {
    std::string Name;
    std::vector<std::string> Args;  // the daemon's --device and --channels
    int Channels;
    std::function<std::unique_ptr<TDeviceStandIn>(const std::string& port, const std::vector<std::string>& extra)> Make;
    // Channel c's relay as the device last saw it; none before any word about it.
    std::function<std::optional<bool>(const std::vector<TDeviceEvent>&, int c)> Relay;
    std::string OnHexOfChannel2;  // the exact bytes that switch channel 2 on; empty: no bytes
};

void PrintTo(const TKindCase& kind, std::ostream* out) { *out << kind.Name; }

std::optional<bool> LastWord(const std::vector<TDeviceEvent>& events, const std::string& name) {
    std::optional<bool> state;
    for (const TDeviceEvent& e : events) {
        if (e.What == name + ":ON") state = true;
        if (e.What == name + ":OFF") state = false;
    }
    return state;
}

std::optional<bool> LineBit(const std::vector<TDeviceEvent>& events, const std::string& line) {
    if (events.empty()) return std::nullopt;
    return events.back().What.find(line + ":ON") != std::string::npos;
}

std::vector<TKindCase> Kinds() {
    const auto board = [](std::string program) {
        return [program](const std::string& port, const std::vector<std::string>& extra) -> std::unique_ptr<TDeviceStandIn> {
            return std::make_unique<TBoardStandIn>(program, port, extra);
        };
    };
    const auto lines = [](const std::string& port, const std::vector<std::string>&) -> std::unique_ptr<TDeviceStandIn> {
        return std::make_unique<TLineStandIn>(port);
    };
    return {
        {"lcus", {"--device", "lcus", "--channels", "3"}, 3, board("lcus_sim"),
         [](const auto& e, int c) { return LastWord(e, "CH" + std::to_string(c)); }, "a00201a3"},
        {"modbus", {"--device", "modbus", "--channels", "3"}, 3, board("modbus_sim"),
         [](const auto& e, int c) { return LastWord(e, "COIL" + std::to_string(c - 1)); }, "01050001ff00ddfa"},
        {"lines", {"--device", "lines"}, 2, lines,
         [](const auto& e, int c) { return LineBit(e, c == 1 ? "DTR" : "RTS"); }, ""},
        {"rts", {"--device", "rts"}, 1, lines, [](const auto& e, int) { return LineBit(e, "RTS"); }, ""},
    };
}

class KindsTest : public TServiceDirTest {
protected:
    // The device of `kind` on this test's port, and the daemon on it.
    void Start(const TKindCase& kind, std::vector<std::string> more = {}, std::vector<std::string> deviceArgs = {}) {
        device = kind.Make(port, deviceArgs);
        if (auto* l = dynamic_cast<TLineStandIn*>(device.get())) environment = std::make_unique<TScopedEnvironment>(LinesEnvironment(*l));
        std::vector<std::string> args = kind.Args;
        args.insert(args.end(), more.begin(), more.end());
        daemon = std::make_unique<TDaemon>(DaemonArgs(args), socket);
        ASSERT_TRUE(daemon->Running()) << daemon->Log();
    }
    void TearDown() override {
        daemon.reset();
        environment.reset();
        device.reset();
        TServiceDirTest::TearDown();
    }
    TRun On(int channel, Args verb) {
        verb.push_back("--switch");
        verb.push_back(std::to_string(channel));
        return Client(verb);
    }
    nlohmann::json StatusOf(int channel) {
        return nlohmann::json::parse(On(channel, {"status", "--json"}).Out, nullptr, false);
    }
    bool WaitForRelay(const TKindCase& kind, int channel, bool on, int ms = 3000) {
        const std::int64_t end = SteadyMs() + ms;
        while (kind.Relay(device->Events(), channel) != on) {
            if (SteadyMs() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::unique_ptr<TDeviceStandIn> device;
    std::unique_ptr<TScopedEnvironment> environment;
    std::unique_ptr<TDaemon> daemon;
};

// The behaviours every kind shares, one test of each per kind (they run side by side).
class EachKind : public KindsTest, public ::testing::WithParamInterface<TKindCase> {};
class EachKindOfChannels : public KindsTest, public ::testing::WithParamInterface<TKindCase> {};

std::vector<TKindCase> KindsOfChannels() {
    std::vector<TKindCase> kinds;
    for (const TKindCase& kind : Kinds())
        if (kind.Channels > 1) kinds.push_back(kind);
    return kinds;
}

std::string KindName(const ::testing::TestParamInfo<TKindCase>& info) { return info.param.Name; }

INSTANTIATE_TEST_SUITE_P(Kinds, EachKind, ::testing::ValuesIn(Kinds()), KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, EachKindOfChannels, ::testing::ValuesIn(KindsOfChannels()), KindName);

TEST_P(EachKind, EveryVerbOnEveryChannelReachesItsRelayAndIsConfirmed) {
    const TKindCase& kind = GetParam();
    {
        SCOPED_TRACE(kind.Name);
        Start(kind);
        // The start switches every channel off.
        for (int c = 1; c <= kind.Channels; ++c) ASSERT_TRUE(WaitForRelay(kind, c, false)) << c;
        for (int c = 1; c <= kind.Channels; ++c) {
            SCOPED_TRACE("switch " + std::to_string(c));
            EXPECT_EQ(On(c, {"on"}).Code, 0);
            EXPECT_EQ(kind.Relay(device->Events(), c), true);
            const nlohmann::json s = StatusOf(c);
            EXPECT_EQ(s["state"], "on");
            EXPECT_EQ(s["confirmed"], true);
            if (kind.Channels > 1) {
                EXPECT_EQ(s["switch"], c);
            }
            for (int other = 1; other <= kind.Channels; ++other)
                if (other != c) {
                    EXPECT_EQ(kind.Relay(device->Events(), other), false) << other;
                }
            EXPECT_EQ(On(c, {"toggle"}).Code, 0);
            EXPECT_EQ(kind.Relay(device->Events(), c), false);
            EXPECT_EQ(On(c, {"pulse", "1"}).Code, 0);
            EXPECT_EQ(kind.Relay(device->Events(), c), true);
            EXPECT_TRUE(WaitForRelay(kind, c, false));
            // The device is off before the daemon hears it is.
            for (int wait = 0; wait < 100 && On(c, {"is-on"}).Code != 3; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(On(c, {"is-on"}).Code, 3);
            EXPECT_EQ(On(c, {"toggle"}).Code, 0);
            EXPECT_EQ(kind.Relay(device->Events(), c), true);
            EXPECT_EQ(On(c, {"off"}).Code, 0);
            EXPECT_EQ(kind.Relay(device->Events(), c), false);
            EXPECT_EQ(On(c, {"off"}).Code, 0) << "off when off";
        }
        if (!kind.OnHexOfChannel2.empty() && kind.Channels >= 2) {
            bool seen = false;
            for (const TDeviceEvent& e : device->Events()) seen = seen || e.Hex == kind.OnHexOfChannel2;
            EXPECT_TRUE(seen) << "no " << kind.OnHexOfChannel2;
        }
        const TRun none = On(kind.Channels + 1, {"on"});
        EXPECT_EQ(none.Code, 64);
        EXPECT_NE(none.Err.find("there is no switch " + std::to_string(kind.Channels + 1)), std::string::npos) << none.Err;
    }
}

// A device that does not confirm: a board that never answers its query is
// unconfirmed, as a silent modem is; a Modbus board's silence or exception
// and a line that does not move are failed writes.
TEST_F(KindsTest, WithoutConfirmationASwitchIsUnconfirmedOrFailsAsTheKindSays) {
    struct TCase {
        std::string Kind;
        std::vector<std::string> DeviceArgs;
        int Code;
        std::string State, Error;
    };
    const TCase cases[] = {
        {"lcus", {"--silent"}, 0, "on", ""},
        {"modbus", {"--silent"}, 74, "unknown", "no answer from the board within 500 ms"},
        {"modbus", {"--coils", "1"}, 74, "unknown", "exception 2 (illegal data address)"},
        {"modbus", {"--unit", "7"}, 74, "unknown", "no answer from the board"},
        {"lines", {"stuck"}, 74, "unknown", "RTS reads lowered after it was raised"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Kind + " " + c.DeviceArgs[0]);
        for (const TKindCase& kind : Kinds())
            if (kind.Name == c.Kind) Start(kind, {"--on-start", "none"}, c.DeviceArgs[0] == "stuck" ? std::vector<std::string>{} : c.DeviceArgs);
        if (c.DeviceArgs[0] == "stuck") dynamic_cast<TLineStandIn&>(*device).Stick(true);
        const TRun run = On(2, {"on"});
        EXPECT_EQ(run.Code, c.Code) << run.Err;
        const nlohmann::json s = StatusOf(2);
        EXPECT_EQ(s["state"], c.State);
        EXPECT_EQ(s["confirmed"], false);
        if (!c.Error.empty()) {
            EXPECT_NE(run.Err.find(c.Error), std::string::npos) << run.Err;
        }
        TearDown();
        SetUp();
    }
}

// --on-start none: the board's own state, read at start, is the daemon's;
// nothing is switched for it.
TEST_F(KindsTest, TheStateIsReadAtStartWithoutASwitch) {
    struct TCase {
        std::string Kind;
        std::vector<std::string> DeviceArgs;
        std::vector<std::string> States;  // switch 1, 2, 3
    };
    const TCase cases[] = {
        {"lcus", {"--on", "2"}, {"off", "on", "off"}},
        {"modbus", {"--on", "0,2"}, {"on", "off", "on"}},
        {"lcus", {"--silent", "--on", "2"}, {"unknown", "unknown", "unknown"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Kind + " " + c.DeviceArgs[0]);
        for (const TKindCase& kind : Kinds())
            if (kind.Name == c.Kind) Start(kind, {"--on-start", "none"}, c.DeviceArgs);
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        const TRun all = Client({"status", "--all", "--json"});
        const nlohmann::json statuses = nlohmann::json::parse(all.Out, nullptr, false);
        ASSERT_TRUE(statuses.is_array()) << all.Out;
        ASSERT_EQ(statuses.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(statuses[i]["switch"], i + 1);
            EXPECT_EQ(statuses[i]["state"], c.States[i]) << i + 1;
        }
        EXPECT_EQ(device->Switches(), "") << "switched at start";
        TearDown();
        SetUp();
    }
}

// Unplugged: every channel is unknown and unavailable; plugged back, the
// next switch works without a restart.
TEST_P(EachKindOfChannels, ABoardUnpluggedAndPluggedBackIsServedAgain) {
    const TKindCase& kind = GetParam();
    {
        SCOPED_TRACE(kind.Name);
        Start(kind);
        ASSERT_EQ(On(2, {"on"}).Code, 0);
        device->Unplug();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int c = 1; c <= 2; ++c) {
            const nlohmann::json s = StatusOf(c);
            EXPECT_EQ(s["state"], "unknown") << c;
            EXPECT_EQ(s["available"], false) << c;
        }
        EXPECT_NE(On(1, {"on"}).Code, 0);
        device->Plug();
        EXPECT_EQ(On(1, {"on"}).Code, 0) << daemon->Log();
        EXPECT_EQ(On(2, {"off"}).Code, 0);
        EXPECT_TRUE(WaitForRelay(kind, 1, true));
        EXPECT_TRUE(WaitForRelay(kind, 2, false));
        EXPECT_EQ(StatusOf(1)["available"], true);
    }
}

// Two channels at once are both served; pulses on two channels overlap,
// each ending at its own time.
TEST_P(EachKindOfChannels, ChannelsAreServedTogetherAndTheirPulsesOverlap) {
    const TKindCase& kind = GetParam();
    {
        SCOPED_TRACE(kind.Name);
        Start(kind);
        for (int c = 1; c <= 2; ++c) ASSERT_TRUE(WaitForRelay(kind, c, false));
        TRun first, second;
        std::thread a([&] { first = On(1, {"on"}); });
        std::thread b([&] { second = On(2, {"on"}); });
        a.join();
        b.join();
        EXPECT_EQ(first.Code, 0) << first.Err;
        EXPECT_EQ(second.Code, 0) << second.Err;
        EXPECT_TRUE(WaitForRelay(kind, 1, true));
        EXPECT_TRUE(WaitForRelay(kind, 2, true));
        ASSERT_EQ(On(1, {"off"}).Code, 0);
        ASSERT_EQ(On(2, {"off"}).Code, 0);

        const std::int64_t start = SteadyMs();
        ASSERT_EQ(On(1, {"pulse", "4"}).Code, 0);
        ASSERT_EQ(On(2, {"pulse", "1"}).Code, 0);
        EXPECT_TRUE(WaitForRelay(kind, 2, false, 3000));
        const std::int64_t secondOff = SteadyMs() - start;
        EXPECT_EQ(kind.Relay(device->Events(), 1), true) << "the longer pulse ended first";
        EXPECT_TRUE(WaitForRelay(kind, 1, false, 5000));
        const std::int64_t firstOff = SteadyMs() - start;
        EXPECT_GT(firstOff, secondOff + 700);
        EXPECT_LT(firstOff, 5000);
    }
}

// A stop with --on-stop off switches every channel off, and a pulse running
// on one is ended: on a Modbus bus the offs wait their turns even so.
TEST_P(EachKind, AStopSwitchesEveryChannelOffWhenAsked) {
    const TKindCase& kind = GetParam();
    {
        SCOPED_TRACE(kind.Name);
        Start(kind, {"--on-stop", "off"});
        for (int c = 1; c <= kind.Channels; ++c) ASSERT_EQ(On(c, {"on"}).Code, 0) << c;
        EXPECT_EQ(daemon->Stop(SIGTERM), 0) << daemon->Log();
        for (int c = 1; c <= kind.Channels; ++c) EXPECT_TRUE(WaitForRelay(kind, c, false, 1000)) << c;
    }
}

// vr.ini: the request file's own section toggles switch 1, "znahN" switch N.
TEST_F(KindsTest, RequestsInVrIniToggleTheirOwnChannel) {
    const TKindCase kind = Kinds()[0];
    Start(kind);
    for (int c = 1; c <= 3; ++c) ASSERT_TRUE(WaitForRelay(kind, c, false));
    WriteFile("vr.ini", "[znah3]\r\np1=1\r\n");
    EXPECT_TRUE(WaitForRelay(kind, 3, true, 4000));
    EXPECT_EQ(kind.Relay(device->Events(), 1), false);
    // The answer (the key deleted) follows the switch's report; a request
    // written before it could be lost to the daemon's rewrite, as it could
    // for any program sharing the file.
    bool answered = false;
    for (int wait = 0; wait < 100 && !answered; ++wait) {
        answered = ReadFile("vr.ini").find("p1") == std::string::npos;
        if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_TRUE(answered) << ReadFile("vr.ini");
    WriteFile("vr.ini", "[znah]\r\np1=1\r\n");
    EXPECT_TRUE(WaitForRelay(kind, 1, true, 4000));
    EXPECT_EQ(kind.Relay(device->Events(), 3), true);
    // The relay moves before the board's answer tells the daemon.
    const std::string expected = "switch 1: on " + port + "\nswitch 2: off " + port + "\nswitch 3: on " + port + "\n";
    TRun all = Client({"status", "--all"});
    for (int wait = 0; wait < 100 && all.Out != expected; ++wait) all = Client({"status", "--all"});
    EXPECT_EQ(all.Out, expected);
}

// A daemon of one channel prints as before; --switch 1 and --all change nothing.
TEST_F(KindsTest, OneChannelPrintsAsAlways) {
    const TKindCase kind = Kinds()[0];
    device = kind.Make(port, {});
    daemon = std::make_unique<TDaemon>(DaemonArgs({"--device", "lcus"}), socket);
    ASSERT_TRUE(daemon->Running()) << daemon->Log();
    ASSERT_EQ(Client({"on"}).Code, 0);
    EXPECT_EQ(Client({"status"}).Out, "on " + port + "\n");
    EXPECT_EQ(Client({"status", "--switch", "1"}).Out, "on " + port + "\n");
    const nlohmann::json s = Status();
    EXPECT_FALSE(s.contains("switch"));
    const nlohmann::json all = nlohmann::json::parse(Client({"status", "--all", "--json"}).Out, nullptr, false);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0], s);
    EXPECT_EQ(device->Switches(), "CH1:OFF CH1:ON");
}

// A real adapter's DTR, when the machine has one to spare: name it in
// MODEMSWITCH_TEST_SERIAL (its DTR will be switched).
TEST_F(KindsTest, OnARealSerialPortDtrIsTheSwitch) {
    const char* device = std::getenv("MODEMSWITCH_TEST_SERIAL");
    if (device == nullptr || *device == '\0') GTEST_SKIP() << "no real serial port named in MODEMSWITCH_TEST_SERIAL";
    daemon = std::make_unique<TDaemon>(Args{"--port", device, "--dir", dir.string(), "--device", "dtr"}, socket);
    ASSERT_TRUE(daemon->Running()) << daemon->Log();
    EXPECT_EQ(Client({"on"}).Code, 0);
    EXPECT_EQ(Status()["confirmed"], true);
    EXPECT_EQ(Client({"off"}).Code, 0);
    EXPECT_EQ(Status()["state"], "off");
}

}  // namespace
