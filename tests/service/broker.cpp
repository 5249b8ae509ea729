#include "tests/service/broker.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/service/program.h"

namespace {

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

struct TLibrary {
    TLibrary() { mosquitto_lib_init(); }
    ~TLibrary() { mosquitto_lib_cleanup(); }
};

}  // namespace

TBroker::TBroker() {
    Port = FreePort();
    config_ = "/tmp/modemswitch-broker-" + std::to_string(getpid()) + "-" + std::to_string(Port) + ".conf";
    std::ofstream(config_) << "listener " << Port << " 127.0.0.1\nallow_anonymous true\n";
    Start();
}

TBroker::~TBroker() {
    Stop();
    unlink(config_.c_str());
}

bool TBroker::Start() {
    if (pid_ > 0) return true;
    pid_ = fork();
    if (pid_ == 0) {
        // dup2, not freopen: freopen would flush the parent's buffered output twice.
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        // Debian puts the broker in /usr/sbin, which a normal user's PATH may lack.
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", config_.c_str(), nullptr);
        execlp("mosquitto", "mosquitto", "-c", config_.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
        if (Accepts(Port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void TBroker::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

TMqttPeer::TMqttPeer(int port, const std::string& subscription) {
    static TLibrary library;
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto& peer = *static_cast<TMqttPeer*>(self);
        std::lock_guard lock(peer.mutex_);
        peer.messages_.push_back(
            {m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
             m->retain});
    });
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int rc) {
        auto& peer = *static_cast<TMqttPeer*>(self);
        if (rc != 0) return;
        mosquitto_subscribe(client, nullptr, peer.subscription_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
        auto& peer = *static_cast<TMqttPeer*>(self);
        std::lock_guard lock(peer.mutex_);
        peer.connected_ = true;
    });
    subscription_ = subscription;
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
    const std::int64_t end = SteadyMs() + 3000;
    while (!Connected() && SteadyMs() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TMqttPeer::~TMqttPeer() {
    mosquitto_disconnect(client_);
    // Not cancelled: a thread cancelled while it reads a message leaks it,
    // and LeakSanitizer fails the test. After the disconnect it ends by itself.
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool TMqttPeer::Connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

void TMqttPeer::Publish(const std::string& topic, const std::string& payload, bool retain) {
    int id = 0;
    mosquitto_publish(client_, &id, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // out of our hands and into the broker's
}

std::vector<TMqttPeer::TMessage> TMqttPeer::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<TMqttPeer::TMessage> TMqttPeer::On(const std::string& topic) const {
    std::vector<TMessage> found;
    for (const TMessage& m : Messages())
        if (m.Topic == topic) found.push_back(m);
    return found;
}

std::string TMqttPeer::Last(const std::string& topic) const {
    const auto found = On(topic);
    return found.empty() ? "<none>" : found.back().Payload;
}

bool TMqttPeer::WaitFor(const std::string& topic, const std::string& payload, int ms) const {
    const std::int64_t end = SteadyMs() + ms;
    while (Last(topic) != payload) {
        if (SteadyMs() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void TMqttPeer::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}
