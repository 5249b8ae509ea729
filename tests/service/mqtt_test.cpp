// The daemon as an MQTT switch, against a real broker: commands and the
// bytes they make at the modem, what is published and when, and what Home
// Assistant's MQTT integrations need of the discovery messages.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/boards.h"
#include "tests/service/broker.h"
#include "tests/service/program.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Args = std::vector<std::string>;

class MqttTest : public TServiceDirTest {
protected:
    void SetUp() override {
        TServiceDirTest::SetUp();
        ASSERT_TRUE(broker.Running());
    }
    Args DaemonArgs(Args more = {}) {
        more.insert(more.begin(), {"--mqtt", "127.0.0.1:" + std::to_string(broker.Port)});
        return TServiceDirTest::DaemonArgs(more);
    }
    // The default device name: the host's, then the port's.
    static std::string DefaultId() {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        std::string id = std::string(host).substr(0, std::string(host).find('.')) + "_modem";
        for (char& c : id)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
        return id;
    }
    std::string T(const std::string& leaf) const { return "modemswitch/" + id + "/" + leaf; }
    // Waits until the modem has had `count` lines; gives all of them.
    std::string ModemAfter(const TModemStandIn& modem, std::size_t count) {
        modem.WaitForLines(count, 3000);
        return modem.Commands();
    }

    TBroker broker;
    std::string id = DefaultId();
};

TEST_F(MqttTest, CommandsSwitchAndBadOnesAreRefused) {
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("state"), "OFF")) << daemon.Log();
    ASSERT_EQ(ModemAfter(modem, 1), "ATH");

    const struct {
        const char* Topic;
        const char* Payload;
        const char* State;     // published afterwards
        const char* Commands;  // at the modem so far
    } steps[] = {
        {"set", "ON", "ON", "ATH ATH1"},
        {"set", "off", "OFF", "ATH ATH1 ATH"},
        {"set", "1", "ON", "ATH ATH1 ATH ATH1"},
        {"set", "0", "OFF", "ATH ATH1 ATH ATH1 ATH"},
        {"set", "Toggle", "ON", "ATH ATH1 ATH ATH1 ATH ATH1"},
        {"set", "TOGGLE", "OFF", "ATH ATH1 ATH ATH1 ATH ATH1 ATH"},
    };
    for (const auto& s : steps) {
        const std::size_t lines = modem.Lines().size();
        peer.Publish(T(s.Topic), s.Payload);
        EXPECT_TRUE(peer.WaitFor(T("state"), s.State)) << s.Payload;
        EXPECT_EQ(ModemAfter(modem, lines + 1), s.Commands) << s.Payload;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the switching's last step
    }
    for (const char* bad : {"", "ONN", "yes", "2", "{\"state\":\"ON\"}"}) peer.Publish(T("set"), bad);
    for (const char* bad : {"-1", "abc", "0"}) peer.Publish(T("pulse/set"), bad);
    peer.Publish(T("pulse_length/set"), "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(modem.Lines().size(), 7u) << "refused payloads switch nothing";
    EXPECT_EQ(peer.Last(T("state")), "OFF");
    const std::string log = daemon.Log();
    EXPECT_NE(log.find("refused \"ONN\""), std::string::npos) << log;
    EXPECT_NE(log.find("refused \"abc\""), std::string::npos) << log;

    // A pulse by seconds, then by the button with the length set by the number.
    peer.Publish(T("pulse/set"), "2");
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON"));
    EXPECT_TRUE(peer.WaitFor(T("state"), "OFF", 4000)) << "the pulse ends by itself";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    peer.Publish(T("pulse_length/set"), "3");
    EXPECT_TRUE(peer.WaitFor(T("pulse_length"), "3"));
    peer.Publish(T("pulse/set"), "PRESS");
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the attributes follow the state
    const auto attributes = json::parse(peer.Last(T("attributes")));
    EXPECT_TRUE(attributes["pulse_remaining_s"].is_number()) << attributes.dump();
    EXPECT_TRUE(peer.WaitFor(T("state"), "OFF", 5000));
    const auto lines = modem.Lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_NEAR(static_cast<double>(lines[8].AtMs - lines[7].AtMs), 1500, 150) << "pulse 2: on for 1.5 s";
    EXPECT_NEAR(static_cast<double>(lines[10].AtMs - lines[9].AtMs), 2500, 150) << "pulse 3: on for 2.5 s";
}

TEST_F(MqttTest, ARetainedCommandNeverSwitchesTheDevice) {
    TModemStandIn modem(port);
    {
        TMqttPeer setter(broker.Port, "nothing");
        setter.Publish(T("set"), "ON", true);
    }
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("state"), "OFF")) << daemon.Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(modem.Commands(), "ATH");
    EXPECT_EQ(peer.Last(T("state")), "OFF");
    EXPECT_NE(daemon.Log().find("ignored a retained command"), std::string::npos) << daemon.Log();
    peer.Publish(T("set"), "", true);  // leave the broker clean
}

TEST_F(MqttTest, EveryDoorShowsOnTheOthers) {
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("state"), "OFF"));
    ASSERT_EQ(Client({"on"}).Code, 0);
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON")) << "the command line";
    std::ofstream(dir / "vr.ini") << "[znah]\r\np1=1\r\n";
    EXPECT_TRUE(peer.WaitFor(T("state"), "OFF", 3000)) << "vr.ini";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    peer.Publish(T("set"), "ON");
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON"));
    EXPECT_EQ(Client({"is-on"}).Code, 0) << "MQTT shows in status";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the attributes follow the state
    const auto attributes = json::parse(peer.Last(T("attributes")));
    EXPECT_EQ(attributes["port"], port);
    EXPECT_EQ(attributes["confirmed"], true);
    EXPECT_EQ(attributes["version"], "1.0.0");
    EXPECT_TRUE(attributes["last_error"].is_null());
    EXPECT_EQ(modem.Commands(), "ATH ATH1 ATH ATH1");
}

TEST_F(MqttTest, AvailabilityFollowsTheDaemonAndThePort) {
    TMqttPeer peer(broker.Port);
    {
        TDaemon daemon(DaemonArgs(), socket);
        ASSERT_TRUE(peer.WaitFor(T("availability"), "offline")) << "no port: offline, the session up";
        EXPECT_EQ(peer.Last(T("state")), "None");
        TModemStandIn modem(port);
        EXPECT_TRUE(peer.WaitFor(T("availability"), "online", 3000)) << "the port is back";
        peer.Publish(T("set"), "ON");
        EXPECT_TRUE(peer.WaitFor(T("state"), "ON"));
        kill(daemon.Pid, SIGKILL);
        EXPECT_TRUE(peer.WaitFor(T("availability"), "offline", 60000)) << "the last will";
    }
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("availability"), "online"));
    EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    EXPECT_TRUE(peer.WaitFor(T("availability"), "offline", 2000)) << "a clean stop says so itself";
    TMqttPeer late(broker.Port, T("availability"));
    EXPECT_TRUE(late.WaitFor(T("availability"), "offline", 2000)) << "retained";
}

TEST_F(MqttTest, TheDaemonOutlivesTheBroker) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    {
        TMqttPeer peer(broker.Port);
        ASSERT_TRUE(peer.WaitFor(T("state"), "OFF"));
    }
    broker.Stop();
    ASSERT_EQ(Client({"on"}).Code, 0) << "switching goes on without a broker";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(broker.Start());
    TMqttPeer peer(broker.Port);
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON", 35000)) << "reconnected and published again\n" << daemon.Log();
    EXPECT_TRUE(peer.WaitFor(T("availability"), "online"));
    peer.Publish(T("set"), "OFF");
    EXPECT_TRUE(peer.WaitFor(T("state"), "OFF"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(modem.Commands(), "ATH ATH1 ATH") << "no switch lost or doubled";
    EXPECT_TRUE(daemon.Running());
}

TEST_F(MqttTest, DiscoveryGivesHomeAssistantWhatItNeeds) {
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs({"--name", "porch", "--pulse", "4"}), socket);
    const std::string sw = "homeassistant/switch/modemswitch_porch/config";
    const std::string button = "homeassistant/button/modemswitch_porch_pulse/config";
    const std::string number = "homeassistant/number/modemswitch_porch_pulse_length/config";
    ASSERT_TRUE(peer.WaitFor("modemswitch/porch/state", "OFF")) << daemon.Log();
    const auto config = [&](const std::string& topic) {
        const auto found = peer.On(topic);
        EXPECT_FALSE(found.empty()) << topic;
        return found.empty() ? json() : json::parse(found.back().Payload);
    };
    const json s = config(sw), b = config(button), n = config(number);
    EXPECT_EQ(s["command_topic"], "modemswitch/porch/set");
    EXPECT_EQ(s["state_topic"], "modemswitch/porch/state");
    EXPECT_EQ(s["payload_on"], "ON");
    EXPECT_EQ(s["payload_off"], "OFF");
    EXPECT_EQ(s["state_on"], "ON");
    EXPECT_EQ(s["state_off"], "OFF");
    EXPECT_EQ(s["optimistic"], false);
    EXPECT_EQ(s["retain"], false);
    EXPECT_EQ(s["json_attributes_topic"], "modemswitch/porch/attributes");
    EXPECT_EQ(b["command_topic"], "modemswitch/porch/pulse/set");
    EXPECT_EQ(b["payload_press"], "PRESS");
    EXPECT_EQ(n["command_topic"], "modemswitch/porch/pulse_length/set");
    EXPECT_EQ(n["state_topic"], "modemswitch/porch/pulse_length");
    EXPECT_LT(n["min"].get<double>(), n["max"].get<double>());
    EXPECT_GT(n["step"].get<double>(), 0);
    EXPECT_EQ(peer.Last("modemswitch/porch/pulse_length"), "4") << "the configured pulse";
    std::vector<std::string> ids;
    for (const json& c : {s, b, n}) {
        EXPECT_EQ(c["availability_topic"], "modemswitch/porch/availability");
        EXPECT_EQ(c["payload_available"], "online");
        EXPECT_EQ(c["payload_not_available"], "offline");
        EXPECT_EQ(c["device"]["identifiers"], json::array({"modemswitch_porch"})) << "one device block";
        EXPECT_TRUE(c["name"].is_string());
        ids.push_back(c["unique_id"]);
    }
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 3u) << "unique ids";
    for (const auto& m : peer.Messages()) {
        if (m.Topic.starts_with("homeassistant/")) {
            EXPECT_FALSE(m.Payload.empty()) << m.Topic;
        }
    }

    // Home Assistant restarted: the entities come again.
    const std::size_t before = peer.On(sw).size();
    peer.Publish("homeassistant/status", "online");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(peer.On(sw).size(), before + 1);

    // Retained, so a Home Assistant that starts later finds them.
    {
        TMqttPeer late(broker.Port, "homeassistant/#");
        EXPECT_TRUE(late.WaitFor(sw, peer.Last(sw), 2000));
        for (const auto& m : late.Messages()) EXPECT_TRUE(m.Retained) << m.Topic;
    }
    // --forget takes them away.
    EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    const TRun forget = RunProgram({"daemon", "--port", port, "--name", "porch", "--mqtt",
                                    "127.0.0.1:" + std::to_string(broker.Port), "--forget"});
    EXPECT_EQ(forget.Code, 0) << forget.Err;
    EXPECT_TRUE(peer.WaitFor(sw, ""));
    EXPECT_TRUE(peer.WaitFor(button, ""));
    EXPECT_TRUE(peer.WaitFor(number, ""));
    TMqttPeer late(broker.Port, "#");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(late.Messages().empty()) << late.Messages().front().Topic;
}

TEST_F(MqttTest, BadMqttSettingsAreUsageErrors) {
    const struct {
        Args Line;
        int Code;
    } cases[] = {
        {{"daemon", "--port", "1", "--mqtt", "host:0"}, 64},
        {{"daemon", "--port", "1", "--mqtt", "host:99999"}, 64},
        {{"daemon", "--port", "1", "--mqtt", ":1883"}, 64},
        {{"daemon", "--port", "1", "--mqtt", "h", "--name", "a/b"}, 64},
        {{"daemon", "--port", "1", "--mqtt", "h", "--mqtt-prefix", "#"}, 64},
        {{"daemon", "--port", "1", "--forget"}, 64},
        {{"daemon", "--port", "1", "--mqtt", "h", "--mqtt-password-file", "/etc/passwd"}, 64},
        {{"on", "--mqtt", "h"}, 64},
    };
    for (const auto& c : cases) EXPECT_EQ(RunProgram(c.Line).Code, c.Code) << c.Line.back();
    // A password file that cannot be read is a bad setting.
    const TRun run = RunProgram({"daemon", "--port", port, "--dir", dir.string(), "--socket", socket, "--mqtt",
                                 "127.0.0.1:" + std::to_string(broker.Port), "--mqtt-user", "u",
                                 "--mqtt-password-file", (dir / "missing").string()});
    EXPECT_EQ(run.Code, 78) << run.Err;
}

}  // namespace

namespace {

// Named, so the same tests run on a build from before the default name changed.
class MqttHostileTest : public MqttTest {
protected:
    void SetUp() override {
        MqttTest::SetUp();
        id = "hostile";
    }
    Args DaemonArgs(Args more = {}) {
        more.insert(more.begin(), {"--name", id});
        return MqttTest::DaemonArgs(more);
    }
};

TEST_F(MqttHostileTest, AOneOffPulseLeavesTheButtonsLength) {
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("state"), "OFF")) << daemon.Log();
    peer.Publish(T("pulse_length/set"), "4");
    ASSERT_TRUE(peer.WaitFor(T("pulse_length"), "4"));
    for (const char* payload : {"2", "PRESS"}) {
        peer.Publish(T("pulse/set"), payload);
        EXPECT_TRUE(peer.WaitFor(T("state"), "ON")) << payload;
        EXPECT_TRUE(peer.WaitFor(T("state"), "OFF", 5000)) << payload;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    EXPECT_EQ(peer.Last(T("pulse_length")), "4");
    const auto lines = modem.Lines();
    ASSERT_EQ(lines.size(), 5u) << modem.Commands();
    EXPECT_NEAR(static_cast<double>(lines[2].AtMs - lines[1].AtMs), 1500, 150) << "pulse 2: on for 1.5 s";
    EXPECT_NEAR(static_cast<double>(lines[4].AtMs - lines[3].AtMs), 3500, 150) << "the button: on for 3.5 s";
}

TEST_F(MqttHostileTest, AFloodOfCommandsKeepsOneWaitingAndStarvesNobody) {
    TModemStandIn modem(port);
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(peer.WaitFor(T("state"), "OFF")) << daemon.Log();
    for (int i = 0; i < 100; ++i) peer.Publish(T("set"), "TOGGLE");
    // The broker hands them over as the daemon acknowledges them; once it
    // has them all, one runs and at most one waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t published = modem.Lines().size();
    const std::int64_t asked = SteadyMs();
    EXPECT_EQ(Client({"off"}).Code, 0);
    EXPECT_LT(SteadyMs() - asked, 2500) << "the command line waits behind at most two MQTT commands";
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_LE(modem.Lines().size() - published, 3u) << modem.Commands();
    EXPECT_NE(daemon.Log().find("dropped the MQTT command"), std::string::npos);
    const std::size_t settled = modem.Lines().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(modem.Lines().size(), settled) << "nothing more queued";
}

TEST_F(MqttHostileTest, StartedBeforeItsBrokerItJoinsIt) {
    broker.Stop();
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    EXPECT_EQ(Client({"on"}).Code, 0) << "it switches without a broker";
    auto status = json::parse(Client({"status", "--json"}).Out);
    EXPECT_EQ(status["mqtt"]["connected"], false) << status.dump();
    EXPECT_TRUE(status["mqtt"]["last_reached"].is_null()) << status.dump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ASSERT_TRUE(broker.Start());
    TMqttPeer peer(broker.Port);
    EXPECT_TRUE(peer.WaitFor(T("availability"), "online", 20000)) << daemon.Log();
    EXPECT_TRUE(peer.WaitFor(T("state"), "ON"));
    status = json::parse(Client({"status", "--json"}).Out);
    EXPECT_EQ(status["mqtt"]["connected"], true) << status.dump();
    EXPECT_TRUE(status["mqtt"]["last_reached"].is_string()) << status.dump();
}

}  // namespace

namespace {

// Three channels of a relay board: three switches, pulse buttons and pulse
// lengths in the one device, each on topics of its own.
TEST_F(MqttTest, ChannelsAreSwitchesOfOneDeviceWithTopicsOfTheirOwn) {
    TBoardStandIn board("lcus_sim", port, {"--channels", "3"});
    TMqttPeer peer(broker.Port);
    TDaemon daemon(DaemonArgs({"--device", "lcus", "--channels", "3", "--name", "relays"}), socket);
    id = "relays";
    for (int c = 1; c <= 3; ++c) ASSERT_TRUE(peer.WaitFor(T(std::to_string(c) + "/state"), "OFF")) << daemon.Log();
    EXPECT_EQ(peer.Last(T("availability")), "online");

    std::set<std::string> identifiers, uniqueIds, commandTopics;
    int switches = 0, buttons = 0, numbers = 0;
    for (const auto& m : peer.Messages()) {
        if (m.Topic.rfind("homeassistant/", 0) != 0 || m.Payload.empty()) continue;
        const json config = json::parse(m.Payload, nullptr, false);
        ASSERT_TRUE(config.is_object()) << m.Topic;
        identifiers.insert(config["device"]["identifiers"][0].get<std::string>());
        uniqueIds.insert(config["unique_id"].get<std::string>());
        if (config.contains("command_topic")) commandTopics.insert(config["command_topic"].get<std::string>());
        EXPECT_EQ(config["availability_topic"], T("availability"));
        switches += m.Topic.rfind("homeassistant/switch/", 0) == 0;
        buttons += m.Topic.rfind("homeassistant/button/", 0) == 0;
        numbers += m.Topic.rfind("homeassistant/number/", 0) == 0;
    }
    EXPECT_EQ(switches, 3);
    EXPECT_EQ(buttons, 3);
    EXPECT_EQ(numbers, 3);
    EXPECT_EQ(identifiers, std::set<std::string>{"modemswitch_relays"});
    EXPECT_EQ(uniqueIds.size(), 9u);
    for (int c = 1; c <= 3; ++c)
        for (const char* leaf : {"set", "pulse/set", "pulse_length/set"})
            EXPECT_EQ(commandTopics.count(T(std::to_string(c) + "/" + leaf)), 1u) << c << leaf;

    peer.Publish(T("2/set"), "ON");
    EXPECT_TRUE(peer.WaitFor(T("2/state"), "ON"));
    EXPECT_EQ(peer.Last(T("1/state")), "OFF");
    EXPECT_EQ(peer.Last(T("3/state")), "OFF");
    EXPECT_TRUE(board.WaitForSwitches(4, 2000));
    EXPECT_EQ(board.Switches(), "CH1:OFF CH2:OFF CH3:OFF CH2:ON");
    const json attributes = json::parse(peer.Last(T("2/attributes")), nullptr, false);
    EXPECT_EQ(attributes["switch"], 2);
    EXPECT_EQ(attributes["confirmed"], true);

    peer.Publish(T("3/pulse_length/set"), "1");
    EXPECT_TRUE(peer.WaitFor(T("3/pulse_length"), "1"));
    peer.Publish(T("3/pulse/set"), "PRESS");
    EXPECT_TRUE(peer.WaitFor(T("3/state"), "ON"));
    EXPECT_TRUE(peer.WaitFor(T("3/state"), "OFF", 4000));
    EXPECT_EQ(peer.Last(T("2/state")), "ON");
    EXPECT_EQ(Client({"status", "--switch", "3"}).Out, "switch 3: off " + port + "\n");
}

}  // namespace
