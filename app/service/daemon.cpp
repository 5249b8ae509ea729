// The daemon: the scheme on the event loop, the port watched, clients
// served over a Unix socket, systemd told when it is ready and stopping.
#include <fcntl.h>
#include <grp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/service/core.h"
#include "app/service/log.h"
#include "app/service/loop.h"
#include "app/service/mqtt.h"
#include "app/service/run.h"
#include "framework/events.h"
#include "winlib/codepage.h"
#include "winlib/inifile.h"

#ifndef MODEMSWITCH_VERSION
#define MODEMSWITCH_VERSION "0"
#endif

namespace {

// A request is one short line; anything longer is not one.
constexpr std::size_t MaxRequest = 4096;
constexpr std::size_t MaxClients = 64;

// The default pulse: --pulse, else "p2" of "com i dlit.ini" in the
// directory, as the Windows program keeps it; else "0". Nothing when the
// file holds something else.
std::optional<std::string> DefaultPulse(const TCommandLine& line) {
    if (!line.Pulse.empty()) return line.Pulse;
    const std::string file = ResolveFileName("com i dlit.ini");
    TObjPtr<TIniFile> ini = NewObj<TIniFile>(file);
    ini->Section = "params";
    const std::string missing(1, '\x01');
    const std::string value = ini->AccessString("p2", missing);
    if (value == missing || value.empty()) return std::string(1, '0');
    std::string pulse;
    if (NormalizePulse(value, pulse)) return pulse;
    Log("\"p2\" of " + file + " is \"" + Utf8From1251(value) + "\": the pulse must be a number of 0 or more");
    return std::nullopt;
}

class TServer {
public:
    TServer(TEventLoop& loop, TSwitchService& service) : loop_(loop), service_(service) {}
    ~TServer() {
        connections_.clear();
        listening_.reset();
        if (fd_ >= 0) {
            close(fd_);
            unlink(path_.c_str());
        }
    }

    // 0, or the exit code of why not.
    int Listen(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            Log("socket path too long: " + path);
            return exitUsage;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const auto* a = reinterpret_cast<const sockaddr*>(&address);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) return exitIoError;
        int bound = bind(fd_, a, sizeof address);
        if (bound != 0 && errno == EADDRINUSE) {
            // A socket file is there: a daemon that answers, or one that died.
            const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool alive = probe >= 0 && connect(probe, a, sizeof address) == 0;
            if (probe >= 0) close(probe);
            if (alive) {
                Log("another daemon serves " + path);
                return Abandon(exitBusy);
            }
            unlink(path.c_str());
            bound = bind(fd_, a, sizeof address);
        }
        if (bound != 0) {
            const int e = errno;
            Log("cannot make the socket " + path + ": " + std::strerror(e));
            return Abandon(e == EACCES ? exitDenied : exitUnavailable);
        }
        path_ = path;
        // Who may use the modem's port may switch it: the dialout group.
        chmod(path.c_str(), 0660);
        if (const group* g = getgrnam("dialout"); g != nullptr) chown(path.c_str(), static_cast<uid_t>(-1), g->gr_gid);
        if (listen(fd_, 16) != 0) return Abandon(exitIoError);
        listening_ = loop_.Watch(fd_, EPOLLIN, [this](std::uint32_t) { Accept(); });
        return exitOk;
    }

private:
    int Abandon(int code) {
        close(fd_);
        fd_ = -1;
        return code;
    }

    struct TConnection {
        int Fd = -1;
        std::string Input;
        bool Asked = false;
        std::unique_ptr<TEventLoop::TWatch> Watch;
        ~TConnection() {
            Watch.reset();
            if (Fd >= 0) close(Fd);
        }
    };

    void Accept() {
        for (;;) {
            const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            if (connections_.size() >= MaxClients) {
                close(fd);
                continue;
            }
            const std::uint64_t id = nextId_++;
            auto connection = std::make_unique<TConnection>();
            connection->Fd = fd;
            connection->Watch = loop_.Watch(fd, EPOLLIN, [this, id](std::uint32_t) { Read(id); });
            connections_[id] = std::move(connection);
        }
    }

    void Read(std::uint64_t id) {
        TConnection& c = *connections_.at(id);
        char buffer[1024];
        for (;;) {
            const ssize_t n = read(c.Fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n <= 0) return Drop(id);  // gone before its answer: nobody to tell
            if (c.Asked) continue;        // one request per connection
            c.Input.append(buffer, static_cast<std::size_t>(n));
            if (c.Input.size() > MaxRequest) return Answer(id, Refusal("request too long"));
            const std::size_t end = c.Input.find('\n');
            if (end == std::string::npos) continue;
            c.Asked = true;
            TRequest request;
            if (!ParseRequestLine(std::string_view(c.Input).substr(0, end), request))
                return Answer(id, Refusal("malformed request"));
            return service_.Submit(request, [this, id](const TReply& reply) { Answer(id, reply); });
        }
    }

    TReply Refusal(const std::string& why) const {
        TReply reply{exitUsage, why, service_.Status()};
        return reply;
    }

    void Answer(std::uint64_t id, const TReply& reply) {
        const auto it = connections_.find(id);
        if (it == connections_.end()) return;
        const std::string line = ReplyLine(reply);
        // A reply is small and the socket's buffer empty: it goes at once.
        send(it->second->Fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        Drop(id);
    }

    // Later, from the loop: this may run inside the connection's own handler.
    void Drop(std::uint64_t id) {
        const auto it = connections_.find(id);
        if (it == connections_.end()) return;
        it->second->Watch->Disable();
        loop_.Post([this, id] { connections_.erase(id); });
    }

    TEventLoop& loop_;
    TSwitchService& service_;
    int fd_ = -1;
    std::string path_;
    std::unique_ptr<TEventLoop::TWatch> listening_;
    std::map<std::uint64_t, std::unique_ptr<TConnection>> connections_;
    std::uint64_t nextId_ = 1;
};

// What the modem sends is read as it comes, so nothing piles up unread; a
// hang-up or a vanished device is reported once and the port let go.
class TPortWatch {
public:
    TPortWatch(TEventLoop& loop, TModemLine& line, TSwitchService& service) : loop_(loop), line_(line), service_(service) {
        line_.Opened = [this](TPortHandle port) {
            const int fd = static_cast<int>(port);
            tcflush(fd, TCIFLUSH);  // what came while nobody listened answers nothing now
            watch_ = loop_.Watch(fd, EPOLLIN, [this, fd](std::uint32_t events) { Ready(fd, events); });
        };
        line_.Closing = [this](TPortHandle) { watch_.reset(); };
    }
    ~TPortWatch() {
        line_.Opened = nullptr;
        line_.Closing = nullptr;
    }

private:
    void Ready(int fd, std::uint32_t events) {
        char buffer[256];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                line_.Received(std::string_view(buffer, static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // A raw terminal with no bytes waiting reads 0 (VMIN 0), not end of file.
            const bool drained = n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
            if (drained && !(events & (EPOLLHUP | EPOLLERR))) return;
            break;
        }
        watch_->Disable();
        const std::string why = line_.DevicePath + " went away (unplugged or hung up)";
        loop_.Post([this, why] { service_.LineLost(why); });
    }

    TEventLoop& loop_;
    TModemLine& line_;
    TSwitchService& service_;
    std::unique_ptr<TEventLoop::TWatch> watch_;
};

void Stop(const TCommandLine& line, TSwitchService& service, std::optional<TMqttBridge>& bridge, TEventLoop& loop) {
    sd_notify(0, "STOPPING=1");
    // The off command goes out at once; the device is left as it was
    // otherwise.
    if (line.StopOff) service.Scheme().Requests->SwitchOff();
    if (bridge) bridge->Stop();
    loop.Exit(exitOk);
}

}  // namespace

int RunDaemon(const TCommandLine& line) {
    signal(SIGPIPE, SIG_IGN);
    char dir[PATH_MAX];
    if (realpath(line.Dir.empty() ? "." : line.Dir.c_str(), dir) == nullptr) {
        Log("--dir " + line.Dir + ": " + std::strerror(errno));
        return exitUsage;
    }
    // vr.ini and com i dlit.ini live where the program's files would.
    OverrideProgramDirectory(std::string(dir) + "/");
    const std::optional<std::string> pulse = DefaultPulse(line);
    if (!pulse) return exitConfig;

    TEventLoop loop;
    if (line.Forget) {
        // Nothing of the port: only what the daemon left on the broker.
        TModemLine idle(PlatformSerialDevice(), line.Device);
        TSwitchService service(idle, TServiceOptions{*pulse, false, nullptr, nullptr});
        TMqttBridge bridge(loop, service, line.Mqtt, MODEMSWITCH_VERSION, *pulse);
        std::string error;
        if (bridge.Forget(error)) return exitOk;
        Log(error);
        return exitUnavailable;
    }
    TModemLine modem(PlatformSerialDevice(), line.Device);
    TScopedOverride<TSerialSeam, TSerialDevice> useModem(&modem);
    StartFramework();
    int code = exitOk;
    {
        TSwitchService service(modem, TServiceOptions{*pulse, line.StartOff, nullptr, Log});
        TPortWatch watch(loop, modem, service);
        TServer server(loop, service);
        std::optional<TMqttBridge> bridge;
        // Before any thread starts: a thread made earlier would take the
        // signals the loop waits for.
        loop.OnSignal(SIGTERM, [&] { Stop(line, service, bridge, loop); });
        loop.OnSignal(SIGINT, [&] { Stop(line, service, bridge, loop); });
        loop.OnSignal(SIGHUP, [] { Log("SIGHUP: nothing to reload"); });
        code = server.Listen(line.Socket);
        if (code == exitOk && !line.Mqtt.Host.empty()) {
            bridge.emplace(loop, service, line.Mqtt, MODEMSWITCH_VERSION, *pulse);
            std::string error;
            if (!bridge->Start(error)) {
                Log(error);
                code = exitConfig;
            }
        }
        if (code == exitOk) {
            service.Start();
            Log("serving " + line.Device + " on " + line.Socket);
            sd_notify(0, "READY=1");
            code = loop.Run();
        }
    }
    StopFramework();
    return code;
}
