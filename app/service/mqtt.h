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
#include <string>

#include "app/service/core.h"
#include "app/service/loop.h"

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
// The device's name from its port: "/dev/ttyUSB0" gives "ttyUSB0"; anything
// but letters, digits, '_' and '-' becomes '_'.
std::string MqttIdFromPort(const std::string& devicePath);

class TMqttBridge {
public:
    TMqttBridge(TEventLoop& loop, TSwitchService& service, TMqttOptions options, std::string version,
                std::string pulseLength);
    ~TMqttBridge();
    TMqttBridge(const TMqttBridge&) = delete;
    TMqttBridge& operator=(const TMqttBridge&) = delete;

    // Connects in the background; false with a reason when the options
    // cannot work (a password file that cannot be read, bad TLS files).
    bool Start(std::string& error);
    // Publishes what changed since the last time (all of it when `all`).
    void Publish(bool all = false);
    // Before the daemon ends: "offline", then a clean disconnect.
    void Stop();
    // Removes the discovery entries and the retained topics; returns when
    // the broker has them, or after a few seconds.
    bool Forget(std::string& error);

    std::string Topic(const std::string& leaf) const { return options_.Prefix + "/" + options_.Id + "/" + leaf; }

private:
    struct TEvent {
        enum TKind { Connected, Disconnected, Message } Kind = Message;
        std::string Topic, Payload;
        bool Retained = false;
    };
    bool Connect(std::string& error);
    void Post(TEvent event);
    void Drain();
    void Handle(const TEvent& event);
    void Command(const std::string& topic, const std::string& payload);
    void Send(const std::string& topic, const std::string& payload, bool retain);
    // Waits (at most `ms`) until the broker has taken `count` publications.
    void AwaitAcknowledged(int count, int ms) const;
    void PublishDiscovery();
    std::string DiscoveryTopic(const char* component, const std::string& object) const;

    TSwitchService& service_;
    TMqttOptions options_;
    std::string version_;
    std::string pulseLength_;
    const TMosquittoApi* api_ = nullptr;
    mosquitto* client_ = nullptr;
    int wake_ = -1;  // eventfd: the network thread has something for the loop
    std::unique_ptr<TEventLoop::TWatch> wakeWatch_;
    TObjPtr<TTimer> tick_;  // once a second: availability and the pulse time left
    std::mutex mutex_;
    std::deque<TEvent> events_;
    bool connected_ = false;
    std::atomic<int> acknowledged_{0};  // publications the broker has taken
    std::string lastState_, lastAvailability_, lastAttributes_;
};
