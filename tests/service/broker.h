#pragma once
// A real MQTT broker for tests (Debian's mosquitto on 127.0.0.1, a free
// port), and a peer on it that sees every message and can publish.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;

class TBroker {
public:
    TBroker();  // started; Port stays the same across Stop and Start
    ~TBroker();
    bool Start();
    void Stop();
    bool Running() const { return pid_ > 0; }
    int Port = 0;

private:
    std::string config_;
    pid_t pid_ = -1;
};

class TMqttPeer {
public:
    struct TMessage {
        std::string Topic, Payload;
        bool Retained = false;
    };
    explicit TMqttPeer(int port, const std::string& subscription = "#");
    ~TMqttPeer();
    bool Connected() const;
    void Publish(const std::string& topic, const std::string& payload, bool retain = false);
    std::vector<TMessage> Messages() const;
    std::vector<TMessage> On(const std::string& topic) const;  // in order
    // The last payload on `topic`; "<none>" before any.
    std::string Last(const std::string& topic) const;
    // Waits up to `ms` for the last payload on `topic` to be `payload`.
    bool WaitFor(const std::string& topic, const std::string& payload, int ms = 5000) const;
    void Clear();

private:
    mosquitto* client_ = nullptr;
    std::string subscription_;
    mutable std::mutex mutex_;
    std::vector<TMessage> messages_;
    bool connected_ = false;
};
