// The watchdog in the real program, against real hosts on this machine:
// TCP ports on 127.0.0.1 that the test opens, refuses and silences, ICMP
// echoes of the loopback, and a network namespace of the test's own where
// nothing answers. Nothing is sent beyond this machine.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/broker.h"
#include "tests/service/program.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Args = std::vector<std::string>;

int Listener(int port, int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int PortOf(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// A service on 127.0.0.1 that accepts every connection, counted; it can be
// closed (then the port refuses) and opened again on the same port.
class TAcceptingPort {
public:
    TAcceptingPort() { Open(); }
    ~TAcceptingPort() { Close(); }
    void Open() {
        fd_ = Listener(Port, 16);
        Port = PortOf(fd_);
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                const int c = accept(fd_, nullptr, nullptr);
                if (c >= 0) close(c), ++Accepted;
            }
        });
    }
    void Close() {
        if (fd_ < 0) return;
        stop_ = true;
        thread_.join();
        close(fd_);
        fd_ = -1;
    }
    int Port = 0;
    std::atomic<int> Accepted{0};

private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A port whose queue is full: its SYNs are dropped, and a connection
// neither succeeds nor fails until the timeout.
class TSilentPort {
public:
    TSilentPort() : fd_(Listener(0, 0)), Port(PortOf(fd_)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(Port));
        for (int& c : fill_) {
            c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(c, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~TSilentPort() {
        for (const int c : fill_) close(c);
        close(fd_);
    }

private:
    int fd_;
    int fill_[3] = {};

public:
    const int Port;
};

int RefusingPort() {
    const int fd = Listener(0, 1);
    const int port = PortOf(fd);
    close(fd);
    return port;
}

class WatchTest : public TServiceDirTest {
protected:
    json Watch() {
        const json status = Status();
        return status.is_object() && status.contains("watch") ? status["watch"] : json();
    }
    // Waits up to `ms` until `ready` holds of the watch object.
    template <typename F>
    json WatchUntil(F ready, int ms = 6000) {
        const std::int64_t end = SteadyMs() + ms;
        json w = Watch();
        while (!ready(w) && SteadyMs() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            w = Watch();
        }
        return w;
    }
    static bool Probed(const json& w) {
        if (!w.is_object() || !w.contains("targets")) return false;
        for (const json& t : w["targets"])
            if (t["ok"].is_null()) return false;
        return true;
    }
    // A program that runs the real one in a network namespace of its own,
    // after `setup` (commands run there as root).
    std::string InNamespace(const std::string& name, const std::string& setup, const std::string& runAs = {}) {
        const fs::path script = dir / name;
        std::ofstream(script) << "#!/bin/sh\nexec unshare -n sh -c '" << setup << " exec " << runAs << " \"$0\" \"$@\"' "
                              << ProgramPath() << " \"$@\"\n";
        fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        return script.string();
    }
};

TEST_F(WatchTest, CyclesThePowerWhenNoTargetAnswersWaitsWhilePausedAndRestoresItAtAStop) {
    TModemStandIn modem(port);
    TAcceptingPort up;
    TSilentPort silent;
    const int refusing = RefusingPort();
    const std::string a = "127.0.0.1:" + std::to_string(up.Port), r = "127.0.0.1:" + std::to_string(refusing),
                      n = "127.0.0.1:" + std::to_string(silent.Port);
    TDaemon daemon(DaemonArgs({"--on-start", "none", "--watch", a, "--watch", r, "--watch", n, "--watch-every", "2",
                               "--watch-timeout", "1", "--watch-fails", "2", "--watch-grace", "0", "--watch-off", "2"}),
                   socket);
    ASSERT_EQ(Client({"on"}).Code, 0) << daemon.Log();
    json w = WatchUntil(Probed);
    ASSERT_TRUE(Probed(w)) << w.dump() << daemon.Log();
    EXPECT_EQ(w["state"], "ok");
    EXPECT_EQ(w["connected"], true);
    EXPECT_EQ(w["actions_24h"], 0);
    EXPECT_TRUE(w["last_action"].is_null());
    EXPECT_GE(w["next_probe_s"].get<double>(), 0.0);
    EXPECT_LE(w["next_probe_s"].get<double>(), 2.0);
    const struct {
        const std::string& Target;
        bool Ok;
        std::string Error;
    } targets[] = {{a, true, ""}, {r, false, "Connection refused"}, {n, false, "no answer within 1 second"}};
    for (std::size_t i = 0; i < std::size(targets); ++i) {
        SCOPED_TRACE(targets[i].Target);
        EXPECT_EQ(w["targets"][i]["target"], targets[i].Target);
        EXPECT_EQ(w["targets"][i]["ok"], targets[i].Ok);
        EXPECT_EQ(w["targets"][i]["rtt_ms"].is_number(), targets[i].Ok);
        EXPECT_EQ(w["targets"][i]["error"].is_null() ? "" : w["targets"][i]["error"].get<std::string>(), targets[i].Error);
    }
    const TRun lines = Client({"watch"});
    EXPECT_EQ(lines.Code, 0);
    EXPECT_NE(lines.Out.find(a + ": answers in "), std::string::npos) << lines.Out;
    EXPECT_NE(lines.Out.find(r + ": no answer (Connection refused)"), std::string::npos) << lines.Out;
    EXPECT_NE(lines.Out.find("watchdog: ok, 0 actions in 24 h"), std::string::npos) << lines.Out;

    // None answers: two failed rounds, then off, and on again 2 s later.
    up.Close();
    ASSERT_TRUE(modem.WaitForLines(3, 12000)) << modem.Commands() << daemon.Log();
    up.Open();
    const auto seen = modem.Lines();
    EXPECT_EQ(modem.Commands(), "ATH1 ATH ATH1");
    const std::int64_t off = seen[2].AtMs - seen[1].AtMs;
    EXPECT_GE(off, 2000);
    EXPECT_LE(off, 2800) << "the off period and the switching's own steps";
    EXPECT_NE(daemon.Log().find("no target answered in 2 rounds (" + a + ": Connection refused; " + r +
                                ": Connection refused; " + n + ": no answer within 1 second): switching the device "
                                "off for 2 seconds"),
              std::string::npos)
        << daemon.Log();
    w = WatchUntil([](const json& w) { return w["state"] == "ok"; });
    EXPECT_EQ(w["state"], "ok") << w.dump();
    EXPECT_EQ(w["actions_24h"], 1);
    EXPECT_TRUE(w["last_action"].is_string());

    // Paused: nothing is asked, nothing is done.
    EXPECT_EQ(Client({"watch", "pause"}).Code, 0);
    EXPECT_EQ(Watch()["state"], "paused");
    EXPECT_TRUE(Watch()["next_probe_s"].is_null());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a round under way ends
    const int accepted = up.Accepted;
    up.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));  // two rounds and more
    EXPECT_EQ(up.Accepted, accepted);
    EXPECT_EQ(modem.Commands(), "ATH1 ATH ATH1") << "nothing done while paused";
    up.Open();
    EXPECT_EQ(Client({"watch", "resume"}).Code, 0);
    EXPECT_EQ(WatchUntil([](const json& w) { return w["state"] == "ok" && w["connected"] == true; })["state"], "ok");
    EXPECT_GT(up.Accepted, accepted);

    // A stop during the off period restores the power first.
    up.Close();
    ASSERT_TRUE(modem.WaitForLines(4, 12000)) << daemon.Log();
    const std::int64_t stopAt = SteadyMs();
    EXPECT_EQ(daemon.Stop(SIGTERM), 0) << daemon.Log();
    ASSERT_TRUE(modem.WaitForLines(5, 1000));
    EXPECT_EQ(modem.Commands(), "ATH1 ATH ATH1 ATH ATH1");
    EXPECT_LT(modem.Lines()[4].AtMs - stopAt, 1000);
}

TEST_F(WatchTest, IcmpEchoesAnswerOnTheLoopbackAndFailWhereNothingDoes) {
    const struct {
        const char* Name;
        std::string Setup;  // in a namespace of the test's own; empty: none
        bool Ok;
        const char* Socket;
    } cases[] = {
        {"the loopback answers (root here: a raw socket)", "", true, "raw socket"},
        {"an unprivileged echo where the group may send one",
         "ip link set lo up && sysctl -qw net.ipv4.ping_group_range=\"0 2147483647\" &&", true, "datagram socket"},
        {"a namespace whose loopback is down answers nothing", "", false, "raw socket"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TModemStandIn modem(port);
        const std::string program =
            c.Setup.empty() && c.Ok ? ProgramPath() : InNamespace("netns", c.Setup);
        TDaemon daemon(DaemonArgs({"--on-start", "none", "--watch", "127.0.0.1", "--watch-every", "2", "--watch-timeout", "1"}), socket, 0,
                       program);
        const json w = WatchUntil(Probed);
        ASSERT_TRUE(Probed(w)) << w.dump() << daemon.Log();
        EXPECT_EQ(w["targets"][0]["ok"], c.Ok) << w.dump();
        EXPECT_EQ(w["targets"][0]["rtt_ms"].is_number(), c.Ok);
        EXPECT_EQ(w["targets"][0]["error"].is_string(), !c.Ok);
        EXPECT_EQ(w["state"], "grace");
        EXPECT_NE(daemon.Log().find(c.Socket), std::string::npos) << daemon.Log();
        EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    }
}

TEST_F(WatchTest, WithoutAWayToSendEchoesItSaysHowToGetOne) {
    // Not root, no CAP_NET_RAW, and the namespace's default: no group may
    // send unprivileged echoes.
    TModemStandIn modem(port);
    const std::string program =
        InNamespace("netns", "", "setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all");
    TDaemon daemon(DaemonArgs({"--watch", "127.0.0.1"}), socket, 0, program);
    EXPECT_EQ(daemon.WaitExit(5000), 78) << daemon.Log();
    EXPECT_NE(daemon.Log().find("net.ipv4.ping_group_range"), std::string::npos) << daemon.Log();
    EXPECT_NE(daemon.Log().find("HOST:PORT"), std::string::npos);
    EXPECT_EQ(modem.Commands(), "") << "the port is never touched";
}

TEST_F(WatchTest, BadSettingsAreRefusedAndADaemonWithoutOneSaysSo) {
    const struct {
        Args Line;
        int Code;
        const char* Says;
    } cases[] = {
        {{"--watch", "host:99999"}, 64, "--watch is HOST"},
        {{"--watch", "[::1"}, 64, "--watch is HOST"},
        {{"--watch", "a b:x"}, 64, "--watch is HOST"},
        {{"--watch-every", "5"}, 64, "need --watch TARGET"},
        {{"--watch", "127.0.0.1:1", "--watch-every", "2", "--watch-timeout", "2"}, 64, "shorter than --watch-every"},
        {{"--watch", "127.0.0.1:1", "--watch-action", "reboot"}, 64, "cycle or pulse"},
        {{"--watch", "127.0.0.1:1", "--watch-fails", "0"}, 64, "from 1 to 1000"},
    };
    for (const auto& c : cases) {
        Args line{"daemon", "--port", port};
        line.insert(line.end(), c.Line.begin(), c.Line.end());
        const TRun run = RunProgram(line);
        EXPECT_EQ(run.Code, c.Code) << c.Line[1];
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    }
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    EXPECT_TRUE(Status()["watch"].is_null());
    for (const char* verb : {"status", "pause", "resume"}) {
        const TRun run = Client({"watch", verb});
        EXPECT_EQ(run.Code, 69) << verb;
        EXPECT_NE(run.Err.find("--watch TARGET"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(Client({"watch", "restart"}).Code, 64);
}

TEST_F(WatchTest, OnMqttItIsAConnectivitySensorAndASwitchOfTheSameDevice) {
    TBroker broker;
    ASSERT_TRUE(broker.Running());
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs({"--mqtt", "127.0.0.1:" + std::to_string(broker.Port), "--name", "watched", "--watch",
                               "127.0.0.1", "--watch-every", "2", "--watch-timeout", "1", "--watch-action", "pulse"}),
                   socket);
    const auto T = [](const std::string& leaf) { return "modemswitch/watched/" + leaf; };
    ASSERT_TRUE(peer.WaitFor(T("connectivity"), "ON")) << daemon.Log();
    EXPECT_EQ(peer.Last(T("watchdog")), "ON");
    const json sensor = json::parse(peer.Last("homeassistant/binary_sensor/modemswitch_watched_connectivity/config"),
                                    nullptr, false);
    const json sw = json::parse(peer.Last("homeassistant/switch/modemswitch_watched_watchdog/config"), nullptr, false);
    const json device = json::parse(peer.Last("homeassistant/switch/modemswitch_watched/config"), nullptr, false);
    ASSERT_TRUE(sensor.is_object() && sw.is_object() && device.is_object());
    EXPECT_EQ(sensor["device_class"], "connectivity");
    EXPECT_EQ(sensor["state_topic"], T("connectivity"));
    EXPECT_EQ(sw["command_topic"], T("watchdog/set"));
    EXPECT_EQ(sw["state_topic"], T("watchdog"));
    for (const json* entity : {&sensor, &sw}) {
        EXPECT_EQ((*entity)["device"]["identifiers"], device["device"]["identifiers"]);
        EXPECT_EQ((*entity)["availability_topic"], T("availability"));
    }
    const json attributes = json::parse(peer.Last(T("attributes")), nullptr, false);
    EXPECT_EQ(attributes["watch"]["targets"][0]["target"], "127.0.0.1") << attributes.dump();
    EXPECT_FALSE(attributes["watch"].contains("next_probe_s")) << "it would change every second";

    peer.Publish(T("watchdog/set"), "OFF");
    EXPECT_TRUE(peer.WaitFor(T("watchdog"), "OFF"));
    EXPECT_EQ(Watch()["state"], "paused");
    peer.Publish(T("watchdog/set"), "ON");
    EXPECT_TRUE(peer.WaitFor(T("watchdog"), "ON"));
    EXPECT_EQ(Watch()["state"], "grace");
    EXPECT_EQ(modem.Commands(), "ATH");
}

}  // namespace
