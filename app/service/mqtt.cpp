#include "app/service/mqtt.h"

#include "app/service/log.h"
#include "app/service/mosquitto_api.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

using nlohmann::json;

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int Qos = 1;

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A payload as it may be shown in a log line: short, printable.
std::string Shown(const std::string& payload) {
    std::string s;
    for (char c : payload.substr(0, 40)) s += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return '"' + s + (payload.size() > 40 ? "…\"" : "\"");
}

// The password: the file's first line. stdio, not iostreams: these would
// bring the whole locale machinery into a small resident daemon.
bool ReadFirstLine(const std::string& path, std::string& line) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    line.clear();
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n';) line += static_cast<char>(c);
    std::fclose(file);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool ValidPort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

}  // namespace

bool ParseMqttAddress(const std::string& text, std::string& host, int& port) {
    port = 1883;
    if (text.starts_with('[')) {
        const std::size_t end = text.find(']');
        if (end == std::string::npos || end == 1) return false;
        host = text.substr(1, end - 1);
        const std::string rest = text.substr(end + 1);
        return rest.empty() || (rest[0] == ':' && ValidPort(rest.substr(1), port));
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
    return !host.empty() && ValidPort(text.substr(colon + 1), port);
}

std::string MqttIdFromPort(const std::string& devicePath) {
    std::string id = devicePath.substr(devicePath.rfind('/') + 1);
    for (char& c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return id.empty() ? "modem" : id;
}

TMqttBridge::TMqttBridge(TEventLoop& loop, TSwitchService& service, TMqttOptions options, std::string version,
                         std::string pulseLength)
    : service_(service),
      options_(std::move(options)),
      version_(std::move(version)),
      pulseLength_(std::move(pulseLength)) {
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wakeWatch_ = loop.Watch(wake_, EPOLLIN, [this](std::uint32_t) { Drain(); });
    tick_ = NewObj<TTimer>(1000);
    tick_->SetTickHandler({[](void* self, TTimer*) { static_cast<TMqttBridge*>(self)->Publish(); }, this});
    service_.Changed = [this] { Publish(); };
}

TMqttBridge::~TMqttBridge() {
    service_.Changed = nullptr;
    if (client_ != nullptr) {
        api_->loop_stop(client_, true);
        api_->destroy(client_);
        api_->lib_cleanup();
    }
    wakeWatch_.reset();
    if (wake_ >= 0) close(wake_);
}

bool TMqttBridge::Connect(std::string& error) {
    api_ = MosquittoApi(error);
    if (api_ == nullptr) return false;
    api_->lib_init();
    client_ = api_->create(("modemswitch-" + options_.Id).c_str(), true, this);
    if (client_ == nullptr) {
        error = "cannot make the MQTT client";
        return false;
    }
    api_->int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A command's acknowledgement goes out at once, not after Nagle's wait.
    api_->int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    const std::string availability = Topic("availability");
    api_->will_set(client_, availability.c_str(), 7, "offline", Qos, true);
    if (!options_.User.empty()) {
        std::string password;
        if (!options_.PasswordFile.empty() && !ReadFirstLine(options_.PasswordFile, password)) {
            error = "cannot read the MQTT password file " + options_.PasswordFile;
            return false;
        }
        api_->username_pw_set(client_, options_.User.c_str(),
                                  options_.PasswordFile.empty() ? nullptr : password.c_str());
    }
    if (!options_.TlsCa.empty()) {
        const int rc = api_->tls_set(client_, options_.TlsCa.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "MQTT TLS with " + options_.TlsCa + ": " + api_->strerror(rc);
            return false;
        }
    }
    // The network thread only hands things over; the loop does the rest.
    api_->connect_callback_set(client_, [](mosquitto*, void* self, int rc) {
        auto& bridge = *static_cast<TMqttBridge*>(self);
        if (rc == 0)
            bridge.Post({TEvent::Connected, {}, {}, false});
        else
            Log(std::string("the MQTT broker refused the connection: ") + bridge.api_->connack_string(rc));
    });
    api_->disconnect_callback_set(client_, [](mosquitto*, void* self, int) {
        static_cast<TMqttBridge*>(self)->Post({TEvent::Disconnected, {}, {}, false});
    });
    api_->message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
        std::string payload(static_cast<const char*>(m->payload), static_cast<std::size_t>(std::max(0, m->payloadlen)));
        static_cast<TMqttBridge*>(self)->Post({TEvent::Message, m->topic, std::move(payload), m->retain});
    });
    api_->publish_callback_set(client_, [](mosquitto*, void* self, int) { ++static_cast<TMqttBridge*>(self)->acknowledged_; });
    // A broker that goes away is tried again after 1, 2, 4 ... 30 s.
    api_->reconnect_delay_set(client_, 1, 30, true);
    const int rc = api_->connect_async(client_, options_.Host.c_str(), options_.Port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        Log("MQTT broker " + options_.Host + ": " + api_->strerror(rc) + "; trying again");
    if (api_->loop_start(client_) != MOSQ_ERR_SUCCESS) {
        error = "cannot start the MQTT client";
        return false;
    }
    return true;
}

bool TMqttBridge::Start(std::string& error) {
    if (!Connect(error)) return false;
    tick_->SetEnabled(true);
    return true;
}

void TMqttBridge::Post(TEvent event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
}

void TMqttBridge::Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
    std::deque<TEvent> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
    }
    for (const TEvent& event : events) Handle(event);
}

void TMqttBridge::Handle(const TEvent& event) {
    switch (event.Kind) {
        case TEvent::Connected:
            connected_ = true;
            Log("connected to the MQTT broker " + options_.Host + ":" + std::to_string(options_.Port));
            for (const std::string& topic :
                 {Topic("set"), Topic("pulse/set"), Topic("pulse_length/set"), options_.DiscoveryPrefix + "/status"})
                api_->subscribe(client_, nullptr, topic.c_str(), Qos);
            PublishDiscovery();
            Publish(true);
            return;
        case TEvent::Disconnected:
            if (connected_) Log("lost the MQTT broker; trying again");
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
                Log("ignored a retained command on " + event.Topic + ": " + Shown(event.Payload));
                return;
            }
            return Command(event.Topic, event.Payload);
    }
}

void TMqttBridge::Command(const std::string& topic, const std::string& payload) {
    const std::string word = Upper(Trimmed(payload));
    const auto refuse = [&](const char* why) { Log("refused " + Shown(payload) + " on " + topic + ": " + why); };
    const auto submit = [this](TRequest request) {
        service_.Submit(request, [this](const TReply& reply) {
            if (reply.Code != exitOk) Log("MQTT command: " + reply.Error);
            Publish();
        });
    };
    if (topic == Topic("set")) {
        if (word == "ON" || word == "1") return submit({TVerb::On, {}});
        if (word == "OFF" || word == "0") return submit({TVerb::Off, {}});
        if (word == "TOGGLE") return submit({TVerb::Toggle, {}});
        return refuse("ON, OFF or TOGGLE expected");
    }
    if (topic == Topic("pulse/set")) {
        std::string seconds = pulseLength_;
        if (!word.empty() && word != "PRESS" && !NormalizePulse(word, seconds)) return refuse("seconds or PRESS expected");
        if (seconds == "0") return refuse("no pulse length: set one first");
        return submit({TVerb::Pulse, seconds});
    }
    if (topic == Topic("pulse_length/set")) {
        std::string seconds;
        if (!NormalizePulse(word, seconds) || seconds == "0") return refuse("seconds above 0 expected");
        pulseLength_ = seconds;
        Send(Topic("pulse_length"), pulseLength_, true);
    }
}

void TMqttBridge::Send(const std::string& topic, const std::string& payload, bool retain) {
    api_->publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), Qos, retain);
}

void TMqttBridge::Publish(bool all) {
    if (!connected_) return;
    const TStatus s = service_.Status();
    const std::string state = s.State == TSwitchState::On ? "ON" : s.State == TSwitchState::Off ? "OFF" : "None";
    const std::string availability = s.Available ? "online" : "offline";
    json attributes;
    attributes["port"] = s.Port;
    attributes["since"] = s.Since;
    attributes["pulse_remaining_s"] = s.PulseRemainingS ? json(std::ceil(*s.PulseRemainingS)) : json(nullptr);
    attributes["confirmed"] = s.Confirmed;
    attributes["last_error"] = s.LastError ? json(*s.LastError) : json(nullptr);
    attributes["version"] = version_;
    const std::string attributesText = attributes.dump(-1, ' ', false, json::error_handler_t::replace);
    if (all || state != lastState_) Send(Topic("state"), lastState_ = state, true);
    if (all || availability != lastAvailability_) Send(Topic("availability"), lastAvailability_ = availability, true);
    if (all || attributesText != lastAttributes_) Send(Topic("attributes"), lastAttributes_ = attributesText, true);
    if (all && pulseLength_ != "0") Send(Topic("pulse_length"), pulseLength_, true);
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
    json sw = common("Device", base);
    sw["command_topic"] = Topic("set");
    sw["state_topic"] = Topic("state");
    sw["payload_on"] = "ON";
    sw["payload_off"] = "OFF";
    sw["state_on"] = "ON";
    sw["state_off"] = "OFF";
    sw["json_attributes_topic"] = Topic("attributes");
    sw["optimistic"] = false;
    json button = common("Pulse", base + "_pulse");
    button["command_topic"] = Topic("pulse/set");
    button["payload_press"] = "PRESS";
    json number = common("Pulse length", base + "_pulse_length");
    number["command_topic"] = Topic("pulse_length/set");
    number["state_topic"] = Topic("pulse_length");
    number["min"] = 1;
    number["max"] = 86400;
    number["step"] = 1;
    number["unit_of_measurement"] = "s";
    number["mode"] = "box";
    number["optimistic"] = false;
    Send(DiscoveryTopic("switch", base), sw.dump(), true);
    Send(DiscoveryTopic("button", base + "_pulse"), button.dump(), true);
    Send(DiscoveryTopic("number", base + "_pulse_length"), number.dump(), true);
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
    api_->disconnect(client_);
    api_->loop_stop(client_, false);
    connected_ = false;
}

void TMqttBridge::AwaitAcknowledged(int count, int ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (acknowledged_ < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

bool TMqttBridge::Forget(std::string& error) {
    if (!Connect(error)) return false;
    // Wait for the connection without the event loop: this is all the run does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!connected_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{wake_, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
            std::lock_guard lock(mutex_);
            for (const TEvent& event : events_) connected_ = connected_ || event.Kind == TEvent::Connected;
            events_.clear();
        }
    }
    if (!connected_) {
        error = "no MQTT broker at " + options_.Host + ":" + std::to_string(options_.Port);
        return false;
    }
    const std::string base = "modemswitch_" + options_.Id;
    const int before = acknowledged_;
    for (const std::string& topic : {DiscoveryTopic("switch", base), DiscoveryTopic("button", base + "_pulse"),
                                     DiscoveryTopic("number", base + "_pulse_length"), Topic("state"),
                                     Topic("availability"), Topic("attributes"), Topic("pulse_length")})
        Send(topic, "", true);
    AwaitAcknowledged(before + 7, 5000);
    api_->disconnect(client_);
    api_->loop_stop(client_, false);
    return true;
}
