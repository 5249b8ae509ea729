#include "app/service/mqtt.h"

#include "app/service/log.h"
#include "app/service/clock.h"
#include "app/service/mosquitto_api.h"
#include "app/service/mqtt_payload.h"
#include "app/service/port_number.h"
#include "app/service/secret_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

using nlohmann::json;

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int Qos = 1;

constexpr std::int64_t MaxBackoffMs = 30000;

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Sanitized(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return text;
}

}  // namespace

bool ParseMqttAddress(const std::string& text, std::string& host, int& port) {
    port = 1883;
    if (text.starts_with('[')) {
        const std::size_t end = text.find(']');
        if (end == std::string::npos || end == 1) return false;
        host = text.substr(1, end - 1);
        const std::string rest = text.substr(end + 1);
        return rest.empty() || (rest[0] == ':' && ParsePortNumber(rest.substr(1), port));
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        host = text;
        return !host.empty();
    }
    if (text.find(':', colon + 1) != std::string::npos) {  // a bare IPv6 address
        host = text;
        return true;
    }
    host = text.substr(0, colon);
    return !host.empty() && ParsePortNumber(text.substr(colon + 1), port);
}

std::string MqttIdFromPort(const std::string& devicePath, const std::string& hostName) {
    std::string port = devicePath.substr(devicePath.rfind('/') + 1);
    if (port.empty()) port = "modem";
    const std::string host = hostName.substr(0, hostName.find('.'));
    const std::string id = Sanitized(host.empty() ? port : host + "_" + port);
    if (id.size() <= MaxMqttId) return id;
    // FNV-1a of the whole name: stable across restarts and hosts.
    std::uint32_t hash = 2166136261u;
    for (const char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char tail[10];
    std::snprintf(tail, sizeof tail, "_%08x", hash);
    return id.substr(0, MaxMqttId - 9) + tail;
}

TMqttBridge::TMqttBridge(TEventLoop& loop, TSwitchboard& board, TMqttOptions options, std::string version,
                         std::string pulseLength)
    : board_(board), options_(std::move(options)), version_(std::move(version)) {
    switches_.resize(static_cast<std::size_t>(board_.Channels()));
    for (TSwitchTopics& topics : switches_) topics.PulseLength = pulseLength;
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ >= 0) wakeWatch_ = loop.Watch(wake_, EPOLLIN, [this](std::uint32_t) { Drain(); });
    tick_ = NewObj<TTimer>(1000);
    tick_->SetTickHandler({[](void* self, TTimer*) {
                               auto& bridge = *static_cast<TMqttBridge*>(self);
                               bridge.Supervise();
                               bridge.Publish();
                           },
                           this});
}

TMqttBridge::~TMqttBridge() {
    tick_->SetEnabled(false);
    if (client_ != nullptr) {
        api_->loop_stop(client_, true);
        api_->destroy(client_);
    }
    if (api_ != nullptr) api_->lib_cleanup();
    wakeWatch_.reset();
    if (wake_ >= 0) close(wake_);
}

TResult TMqttBridge::Load() {
    if (wake_ < 0 || !wakeWatch_) return TResult::Fail(exitIoError, "cannot make the MQTT client's wake-up descriptor");
    std::string error;
    api_ = MosquittoApi(error);
    if (api_ == nullptr) return TResult::Fail(exitConfig, error);
    api_->lib_init();
    if (!options_.PasswordFile.empty() && !ReadSecretLine(options_.PasswordFile, password_))
        return TResult::Fail(exitConfig, "cannot read the MQTT password file " + options_.PasswordFile);
    // The TLS files are checked now, once: a client made later cannot fail on them.
    if (!options_.TlsCa.empty()) {
        mosquitto* probe = api_->create(nullptr, true, nullptr);
        const int rc = probe == nullptr ? MOSQ_ERR_NOMEM
                                        : api_->tls_set(probe, options_.TlsCa.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (probe != nullptr) api_->destroy(probe);
        if (rc != MOSQ_ERR_SUCCESS)
            return TResult::Fail(exitConfig, "MQTT TLS with " + options_.TlsCa + ": " + api_->strerror(rc));
    }
    return TResult::Ok();
}

// A client of its own for every attempt, its network loop on a thread of
// its own: the thread only hands things over, the loop does the rest.
bool TMqttBridge::Connect() {
    tag_ = std::make_unique<TTag>(TTag{this, ++clients_});
    client_ = api_->create(("modemswitch-" + options_.Id).c_str(), true, tag_.get());
    if (client_ == nullptr) {
        Log("cannot make the MQTT client");
        return false;
    }
    api_->int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A command's acknowledgement goes out at once, not after Nagle's wait.
    api_->int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    const std::string availability = Topic("availability");
    api_->will_set(client_, availability.c_str(), 7, "offline", Qos, true);
    if (!options_.User.empty())
        api_->username_pw_set(client_, options_.User.c_str(), options_.PasswordFile.empty() ? nullptr : password_.c_str());
    if (!options_.TlsCa.empty()) api_->tls_set(client_, options_.TlsCa.c_str(), nullptr, nullptr, nullptr, nullptr);
    api_->connect_callback_set(client_, [](mosquitto*, void* t, int rc) {
        const auto& tag = *static_cast<TTag*>(t);
        if (rc == 0)
            tag.Bridge->Post({TEvent::Connected, tag.Client, {}, {}, false});
        else
            Log(std::string("the MQTT broker refused the connection: ") + tag.Bridge->api_->connack_string(rc));
    });
    api_->disconnect_callback_set(client_, [](mosquitto*, void* t, int) {
        const auto& tag = *static_cast<TTag*>(t);
        tag.Bridge->Post({TEvent::Disconnected, tag.Client, {}, {}, false});
    });
    api_->message_callback_set(client_, [](mosquitto*, void* t, const mosquitto_message* m) {
        const auto& tag = *static_cast<TTag*>(t);
        std::string payload(static_cast<const char*>(m->payload), static_cast<std::size_t>(std::max(0, m->payloadlen)));
        tag.Bridge->Post({TEvent::Message, tag.Client, m->topic, std::move(payload), m->retain});
    });
    api_->publish_callback_set(client_, [](mosquitto*, void* t, int) { ++static_cast<TTag*>(t)->Bridge->acknowledged_; });
    api_->reconnect_delay_set(client_, 1, 30, true);
    const int rc = api_->connect_async(client_, options_.Host.c_str(), options_.Port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        Log("MQTT broker " + options_.Host + ":" + std::to_string(options_.Port) + ": " + api_->strerror(rc) +
            "; trying again");
    if (api_->loop_start(client_) != MOSQ_ERR_SUCCESS) {
        Log("cannot start the MQTT client's thread; trying again");
        return false;
    }
    return true;
}

void TMqttBridge::Disconnect(bool graceful) {
    if (client_ == nullptr) return;
    api_->disconnect(client_);
    // Joins the thread, which then calls nothing more: after it has sent
    // the disconnect, or at once (a thread stuck in a name lookup).
    api_->loop_stop(client_, !graceful);
    api_->destroy(client_);
    client_ = nullptr;
    connected_ = false;
}

TResult TMqttBridge::Start() {
    if (TResult loaded = Load(); !loaded) return loaded;
    Connect();
    retryAtMs_ = SteadyMs() + backoffMs_;
    tick_->SetEnabled(true);
    return TResult::Ok();
}

// libmosquitto tries again by itself after most faults, but not after all
// (a first connection that failed, a protocol or TLS error, its thread
// ended): a client that has not connected within the back-off is made anew.
void TMqttBridge::Supervise() {
    if (connected_) return;
    const std::int64_t now = SteadyMs();
    if (now < retryAtMs_) return;
    Disconnect(false);
    Connect();
    retryAtMs_ = now + backoffMs_;
    backoffMs_ = std::min(backoffMs_ * 2, MaxBackoffMs);
}

TBrokerStatus TMqttBridge::Broker() const {
    const std::int64_t reached = connected_ ? WallMs() : lastReachedMs_;
    return TBrokerStatus{connected_, reached == 0 ? std::string() : IsoTime(reached)};
}

void TMqttBridge::Post(TEvent event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses, and then the loop wakes anyway.
    if (write(wake_, &one, sizeof one) != sizeof one && errno != EAGAIN) Log("cannot wake the loop for MQTT");
}

void TMqttBridge::Drain() {
    std::uint64_t count = 0;
    // Nothing to read is no fault: the events are taken below either way.
    if (read(wake_, &count, sizeof count) < 0 && errno != EAGAIN) Log(std::string("MQTT wake-up: ") + std::strerror(errno));
    std::deque<TEvent> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
    }
    for (const TEvent& event : events)
        if (event.Client == clients_) Handle(event);  // an earlier client's words are stale
}

void TMqttBridge::Handle(const TEvent& event) {
    switch (event.Kind) {
        case TEvent::Connected:
            connected_ = true;
            backoffMs_ = 1000;
            connectedSinceMs_ = lastReachedMs_ = WallMs();
            Log("connected to the MQTT broker " + options_.Host + ":" + std::to_string(options_.Port));
            for (int c = 1; c <= board_.Channels(); ++c)
                for (const char* leaf : {"set", "pulse/set", "pulse_length/set"})
                    api_->subscribe(client_, nullptr, SwitchTopic(c, leaf).c_str(), Qos);
            for (const std::string& topic : {Topic("watchdog/set"), options_.DiscoveryPrefix + "/status"})
                api_->subscribe(client_, nullptr, topic.c_str(), Qos);
            PublishDiscovery();
            Publish(true);
            return;
        case TEvent::Disconnected:
            if (connected_) {
                Log("lost the MQTT broker; trying again");
                lastReachedMs_ = WallMs();
                retryAtMs_ = SteadyMs() + backoffMs_;
            }
            connected_ = false;
            return;
        case TEvent::Message:
            if (event.Topic == options_.DiscoveryPrefix + "/status") {
                // Home Assistant started again: it needs the entities anew.
                if (Trimmed(event.Payload) == "online") {
                    PublishDiscovery();
                    Publish(true);
                }
                return;
            }
            if (event.Retained) {
                Log("ignored a retained command on " + event.Topic + ": " + ShownPayload(event.Payload));
                return;
            }
            return Command(event.Topic, event.Payload);
    }
}

void TMqttBridge::Command(const std::string& topic, const std::string& payload) {
    const auto refuse = [&](const std::string& why) { Log("refused " + ShownPayload(payload) + " on " + topic + ": " + why); };
    if (topic == Topic("watchdog/set")) {
        // The watchdog's switch: off pauses it.
        TVerb verb;
        if (!ParseMqttSwitch(payload, verb) || verb == TVerb::Toggle) return refuse("ON or OFF expected");
        return Run(1, {verb == TVerb::On ? TVerb::WatchResume : TVerb::WatchPause, {}});
    }
    for (int c = 1; c <= board_.Channels(); ++c) {
        TSwitchTopics& mine = Switch(c);
        if (topic == SwitchTopic(c, "set")) {
            TVerb verb;
            if (!ParseMqttSwitch(payload, verb)) return refuse("ON, OFF or TOGGLE expected");
            return Run(c, {verb, {}});
        }
        if (topic == SwitchTopic(c, "pulse/set")) {
            // A one-off length is for this pulse alone; the button keeps its own.
            std::string seconds, why;
            if (!ParseMqttPulse(payload, mine.PulseLength, seconds, why)) return refuse(why);
            return Run(c, {TVerb::Pulse, seconds});
        }
        if (topic == SwitchTopic(c, "pulse_length/set")) {
            std::string seconds;
            if (!ParseMqttPulseLength(payload, seconds)) return refuse("seconds above 0 expected");
            mine.PulseLength = seconds;
            return Send(SwitchTopic(c, "pulse_length"), mine.PulseLength, true);
        }
    }
}

void TMqttBridge::Run(int channel, const TRequest& request) {
    TSwitchTopics& mine = Switch(channel);
    if (mine.CommandRunning) {
        if (mine.CommandWaiting)
            Log("dropped the MQTT command " + std::string(VerbName(mine.CommandWaiting->Verb)) + ": a newer one replaces it");
        mine.CommandWaiting = request;
        return;
    }
    mine.CommandRunning = true;
    TRequest routed = request;
    routed.Switch = channel;
    board_.Submit(routed, [this, channel](const TReply& reply) {
        TSwitchTopics& done = Switch(channel);
        if (reply.Code != exitOk) Log("MQTT command: " + reply.Error);
        done.CommandRunning = false;
        Publish();
        if (done.CommandWaiting) {
            const TRequest next = *done.CommandWaiting;
            done.CommandWaiting.reset();
            Run(channel, next);
        }
    });
}

void TMqttBridge::Send(const std::string& topic, const std::string& payload, bool retain) {
    if (client_ == nullptr) return;
    // Refused only without a connection: everything is published again on the next.
    api_->publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), Qos, retain);
}

void TMqttBridge::Publish(bool all) {
    if (!connected_) return;
    const TStatus s = board_.Status();
    const std::string availability = s.Available ? "online" : "offline";
    if (all || availability != lastAvailability_) Send(Topic("availability"), lastAvailability_ = availability, true);
    for (int c = 1; c <= board_.Channels(); ++c) PublishSwitch(c, all);
    if (!s.Watch) return;
    const std::string connectivity = !s.Watch->Connected ? "None" : *s.Watch->Connected ? "ON" : "OFF";
    const std::string watchdog = s.Watch->State == "paused" ? "OFF" : "ON";
    if (all || connectivity != lastConnectivity_) Send(Topic("connectivity"), lastConnectivity_ = connectivity, true);
    if (all || watchdog != lastWatchdog_) Send(Topic("watchdog"), lastWatchdog_ = watchdog, true);
}

void TMqttBridge::PublishSwitch(int channel, bool all) {
    TSwitchTopics& mine = Switch(channel);
    const TStatus s = board_.Channel(channel).Status();
    const std::string state = s.State == TSwitchState::On ? "ON" : s.State == TSwitchState::Off ? "OFF" : "None";
    json attributes;
    if (s.Channel > 0) attributes["switch"] = s.Channel;
    attributes["port"] = s.Port;
    attributes["since"] = s.Since;
    attributes["pulse_remaining_s"] = s.PulseRemainingS ? json(std::ceil(*s.PulseRemainingS)) : json(nullptr);
    attributes["confirmed"] = s.Confirmed;
    attributes["last_error"] = s.LastError ? json(*s.LastError) : json(nullptr);
    attributes["version"] = version_;
    attributes["broker_connected_since"] = IsoTime(connectedSinceMs_);
    // Without the seconds to the next probe: they would change the attributes every second.
    if (s.Watch) attributes["watch"] = json::parse(WatchJson(*s.Watch, false), nullptr, false);
    const std::string attributesText = attributes.dump(-1, ' ', false, json::error_handler_t::replace);
    if (all || state != mine.LastState) Send(SwitchTopic(channel, "state"), mine.LastState = state, true);
    if (all || attributesText != mine.LastAttributes)
        Send(SwitchTopic(channel, "attributes"), mine.LastAttributes = attributesText, true);
    if (all && mine.PulseLength != "0") Send(SwitchTopic(channel, "pulse_length"), mine.PulseLength, true);
}

std::string TMqttBridge::UniqueId(int channel, const std::string& suffix) const {
    const std::string base = "modemswitch_" + options_.Id;
    return board_.Channels() == 1 ? base + suffix : base + "_" + std::to_string(channel) + suffix;
}

std::string TMqttBridge::DiscoveryTopic(const char* component, const std::string& object) const {
    return options_.DiscoveryPrefix + "/" + component + "/" + object + "/config";
}

void TMqttBridge::PublishDiscovery() {
    const std::string base = "modemswitch_" + options_.Id;
    const json device = {{"identifiers", json::array({base})},
                         {"name", "Modem switch " + options_.Id},
                         {"model", "modemswitch"},
                         {"sw_version", version_}};
    const auto common = [&](const std::string& name, const std::string& uniqueId) {
        return json{{"name", name},
                    {"unique_id", uniqueId},
                    {"availability_topic", Topic("availability")},
                    {"payload_available", "online"},
                    {"payload_not_available", "offline"},
                    {"qos", Qos},
                    {"retain", false},
                    {"device", device}};
    };
    // A switch that shows what the daemon published, never what it was told.
    const auto onOff = [&](const std::string& name, const std::string& uniqueId, const std::string& leaf) {
        json entity = common(name, uniqueId);
        entity["command_topic"] = Topic(leaf + "/set");
        entity["state_topic"] = Topic(leaf);
        entity["payload_on"] = entity["state_on"] = "ON";
        entity["payload_off"] = entity["state_off"] = "OFF";
        entity["optimistic"] = false;
        return entity;
    };
    // One switch, pulse button and pulse length for every channel, all in the one device.
    for (int c = 1; c <= board_.Channels(); ++c) {
        // Built step by step: GCC 12 at -O3 takes " " + to_string() for an overlapping copy.
        std::string n;
        if (board_.Channels() > 1) n.append(1, ' ').append(std::to_string(c));
        json sw = onOff((board_.Channels() == 1 ? "Device" : "Switch") + n, UniqueId(c, ""), "");
        sw["command_topic"] = SwitchTopic(c, "set");
        sw["state_topic"] = SwitchTopic(c, "state");
        sw["json_attributes_topic"] = SwitchTopic(c, "attributes");
        json button = common("Pulse" + n, UniqueId(c, "_pulse"));
        button["command_topic"] = SwitchTopic(c, "pulse/set");
        button["payload_press"] = "PRESS";
        json number = common("Pulse length" + n, UniqueId(c, "_pulse_length"));
        number["command_topic"] = SwitchTopic(c, "pulse_length/set");
        number["state_topic"] = SwitchTopic(c, "pulse_length");
        number["min"] = 1;
        number["max"] = 86400;
        number["step"] = 1;
        number["unit_of_measurement"] = "s";
        number["mode"] = "box";
        number["optimistic"] = false;
        Send(DiscoveryTopic("switch", UniqueId(c, "")), sw.dump(), true);
        Send(DiscoveryTopic("button", UniqueId(c, "_pulse")), button.dump(), true);
        Send(DiscoveryTopic("number", UniqueId(c, "_pulse_length")), number.dump(), true);
    }
    if (!board_.Status().Watch) return;
    json connectivity = common("Connectivity", base + "_connectivity");
    connectivity["state_topic"] = Topic("connectivity");
    connectivity["device_class"] = "connectivity";
    connectivity["payload_on"] = "ON";
    connectivity["payload_off"] = "OFF";
    json watchdog = onOff("Watchdog", base + "_watchdog", "watchdog");
    watchdog["icon"] = "mdi:restart-alert";
    Send(DiscoveryTopic("binary_sensor", base + "_connectivity"), connectivity.dump(), true);
    Send(DiscoveryTopic("switch", base + "_watchdog"), watchdog.dump(), true);
}

void TMqttBridge::Stop() {
    if (client_ == nullptr) return;
    tick_->SetEnabled(false);
    // The broker has "offline" before the disconnect; the stop stays well
    // within its second.
    if (connected_) {
        const int before = acknowledged_;
        Send(Topic("availability"), "offline", true);
        AwaitAcknowledged(before + 1, 500);
    }
    Disconnect(connected_);
}

void TMqttBridge::AwaitAcknowledged(int count, int ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (acknowledged_ < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TResult TMqttBridge::Forget() {
    if (TResult loaded = Load(); !loaded) return loaded;
    if (!Connect()) return TResult::Fail(exitUnavailable, "cannot start the MQTT client");
    // Wait for the connection without the event loop: this is all the run does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!connected_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{wake_, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            std::uint64_t count = 0;
            if (read(wake_, &count, sizeof count) < 0 && errno != EAGAIN) break;
            std::lock_guard lock(mutex_);
            for (const TEvent& event : events_) connected_ = connected_ || event.Kind == TEvent::Connected;
            events_.clear();
        }
    }
    if (!connected_) {
        Disconnect(false);
        return TResult::Fail(exitUnavailable, "no MQTT broker at " + options_.Host + ":" + std::to_string(options_.Port));
    }
    const std::string base = "modemswitch_" + options_.Id;
    const int before = acknowledged_;
    std::vector<std::string> topics = {DiscoveryTopic("binary_sensor", base + "_connectivity"),
                                       DiscoveryTopic("switch", base + "_watchdog"), Topic("availability"),
                                       Topic("connectivity"), Topic("watchdog")};
    for (int c = 1; c <= board_.Channels(); ++c)
        for (const std::string& topic :
             {DiscoveryTopic("switch", UniqueId(c, "")), DiscoveryTopic("button", UniqueId(c, "_pulse")),
              DiscoveryTopic("number", UniqueId(c, "_pulse_length")), SwitchTopic(c, "state"),
              SwitchTopic(c, "attributes"), SwitchTopic(c, "pulse_length")})
            topics.push_back(topic);
    for (const std::string& topic : topics) Send(topic, "", true);
    AwaitAcknowledged(before + static_cast<int>(topics.size()), 5000);
    Disconnect(true);
    return TResult::Ok();
}
