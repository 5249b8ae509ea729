#pragma once
// The daemon on MQTT: the state, availability and attributes published as
// they change, commands taken from the set topics, and Home Assistant's
// discovery. libmosquitto runs its network loop on a thread of its own, so
// a slow or vanished broker never holds up the switching; everything it
// receives is handed to the event loop through an eventfd, and all
// switching happens there.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/service/switchboard.h"
#include "app/service/loop.h"
#include "app/service/result.h"

struct mosquitto;
struct TMosquittoApi;

struct TMqttOptions {
    std::string Host;  // empty: no MQTT
    int Port = 1883;
    std::string User;
    std::string PasswordFile;
    std::string TlsCa;
    std::string Id;                          // the device's name in the topics
    std::string Prefix = "modemswitch";
    std::string DiscoveryPrefix = "homeassistant";
};

// "host", "host:1884", "[::1]:1884"; false for a bad port.
bool ParseMqttAddress(const std::string& text, std::string& host, int& port);
// The longest device name in topics and the client id.
inline constexpr std::size_t MaxMqttId = 48;
// The device's name from the host and its port: "/dev/ttyUSB0" on host
// "pi" gives "pi_ttyUSB0", so two hosts with a ttyUSB0 each do not share
// topics. Anything but letters, digits, '_' and '-' becomes '_'; a name
// longer than MaxMqttId keeps its start and ends in a hash of the whole.
std::string MqttIdFromPort(const std::string& devicePath, const std::string& hostName);

class TMqttBridge {
public:
    TMqttBridge(TEventLoop& loop, TSwitchboard& board, TMqttOptions options, std::string version,
                std::string pulseLength);
    ~TMqttBridge();
    TMqttBridge(const TMqttBridge&) = delete;
    TMqttBridge& operator=(const TMqttBridge&) = delete;

    // Connects in the background, and keeps trying whatever goes wrong;
    // fails when the options cannot work (a password file that cannot be
    // read, bad TLS files).
    TResult Start();
    // Publishes what changed since the last time (all of it when `all`).
    void Publish(bool all = false);
    // Before the daemon ends: "offline", then a clean disconnect.
    void Stop();
    // Removes the discovery entries and the retained topics; returns when
    // the broker has them, or after a few seconds.
    TResult Forget();
    TBrokerStatus Broker() const;

    std::string Topic(const std::string& leaf) const { return options_.Prefix + "/" + options_.Id + "/" + leaf; }
    // A switch's own topics: the device's with one switch, P/ID/N/... with several.
    std::string SwitchTopic(int channel, const std::string& leaf) const {
        return board_.Channels() == 1 ? Topic(leaf) : Topic(std::to_string(channel) + "/" + leaf);
    }

private:
    struct TEvent {
        enum TKind { Connected, Disconnected, Message } Kind = Message;
        std::uint64_t Client = 0;  // which of the clients made over time
        std::string Topic, Payload;
        bool Retained = false;
    };
    // What the network thread's callbacks know of their client.
    struct TTag {
        TMqttBridge* Bridge;
        std::uint64_t Client;
    };
    TResult Load();
    bool Connect();
    void Disconnect(bool graceful);
    void Supervise();
    void Post(TEvent event);
    void Drain();
    void Handle(const TEvent& event);
    void Command(const std::string& topic, const std::string& payload);
    void Run(int channel, const TRequest& request);
    void Send(const std::string& topic, const std::string& payload, bool retain);
    // Waits (at most `ms`) until the broker has taken `count` publications.
    void AwaitAcknowledged(int count, int ms) const;
    void PublishDiscovery();
    std::string DiscoveryTopic(const char* component, const std::string& object) const;

    // What each switch has on the broker.
    struct TSwitchTopics {
        std::string PulseLength;  // the button's, as the number entity shows it
        std::string LastState, LastAttributes;
        // One MQTT command runs, at most one waits (the newest): a flood of
        // them neither queues without end nor starves the other doors.
        bool CommandRunning = false;
        std::optional<TRequest> CommandWaiting;
    };
    TSwitchTopics& Switch(int channel) { return switches_.at(static_cast<std::size_t>(channel - 1)); }
    void PublishSwitch(int channel, bool all);
    std::string UniqueId(int channel, const std::string& suffix) const;

    TSwitchboard& board_;
    TMqttOptions options_;
    std::string version_;
    std::vector<TSwitchTopics> switches_;
    std::string password_;
    const TMosquittoApi* api_ = nullptr;
    mosquitto* client_ = nullptr;
    std::unique_ptr<TTag> tag_;
    std::uint64_t clients_ = 0;
    int wake_ = -1;  // eventfd: the network thread has something for the loop
    std::unique_ptr<TEventLoop::TWatch> wakeWatch_;
    TObjPtr<TTimer> tick_;  // once a second: the connection kept, availability and the pulse time left
    std::mutex mutex_;
    std::deque<TEvent> events_;
    bool connected_ = false;
    std::int64_t retryAtMs_ = 0;      // when a client that has not connected is made anew
    std::int64_t backoffMs_ = 1000;   // 1, 2, 4 ... 30 s
    std::int64_t connectedSinceMs_ = 0, lastReachedMs_ = 0;  // wall clock; 0: never
    std::atomic<int> acknowledged_{0};  // publications the broker has taken
    std::string lastAvailability_, lastConnectivity_, lastWatchdog_;
};
