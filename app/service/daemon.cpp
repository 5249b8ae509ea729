// The daemon: the scheme on the event loop, the port watched, clients
// served over a Unix socket, systemd told when it is ready and stopping.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/hosting.h"
#include "app/service/core.h"
#include "app/service/files.h"
#include "app/service/log.h"
#include "app/service/loop.h"
#include "app/service/mqtt.h"
#include "app/service/run.h"
#include "app/service/server.h"
#include "app/service/switch_port.h"
#include "app/service/switchboard.h"
#include "app/service/watchdog.h"
#include "app/service/web.h"
#include "framework/events.h"
#include "winlib/codepage.h"
#include "winlib/inifile.h"

#ifndef MODEMSWITCH_VERSION
#define MODEMSWITCH_VERSION "0"
#endif

namespace {

// The default pulse: --pulse, else "p2" of "com i dlit.ini" in the
// directory, as the Windows program keeps it; else "0". Nothing when the
// file holds something else.
std::optional<std::string> DefaultPulse(const TCommandLine& line) {
    if (!line.Pulse.empty()) return line.Pulse;
    const std::string file = ResolveFileName(SettingsFileName);
    TObjPtr<TIniFile> ini = NewObj<TIniFile>(file);
    ini->Section = SettingsSection;
    const std::string missing(1, '\x01');
    const std::string value = ini->AccessString("p2", missing);
    if (value == missing || value.empty()) return std::string(1, '0');
    std::string pulse;
    if (NormalizePulse(value, pulse)) return pulse;
    Log("\"p2\" of " + file + " is \"" + Utf8From1251(value) + "\": the pulse must be a number of 0 or more");
    return std::nullopt;
}

// The fallback socket's directory is the user's alone: made 0700, and
// used only when nobody else owns it or may enter it.
TResult PrivateDirectory(const std::string& socket) {
    const std::string dir = PrivateSocketDirectory();
    if (socket.rfind(dir + "/", 0) != 0) return TResult::Ok();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return TResult::Fail(exitUnavailable, "cannot make " + dir + ": " + std::strerror(errno));
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0)
        return TResult::Fail(exitDenied, dir + " is not a directory of this user's alone (0700): not used; give --socket");
    return TResult::Ok();
}

// ICMP targets need a way to send echoes; without one the watchdog could
// only ever fail, and cycle the device for nothing.
TResult IcmpUsable(const TWatchOptions& watch) {
    for (const TWatchTarget& target : watch.Targets) {
        if (!target.Icmp()) continue;
        const int family = target.Host.find(':') != std::string::npos ? AF_INET6 : AF_INET;
        const TIcmpAccess access = IcmpAccess(family);
        if (access == TIcmpAccess::Datagram) Log("watchdog: ICMP echoes to " + target.Text + " on an unprivileged datagram socket");
        if (access == TIcmpAccess::Raw) Log("watchdog: ICMP echoes to " + target.Text + " on a raw socket (CAP_NET_RAW)");
        if (access != TIcmpAccess::None) continue;
        return TResult::Fail(exitConfig,
                             "cannot send ICMP echoes (to " + target.Text + "): allow the daemon's group unprivileged ones "
                             "(sysctl net.ipv4.ping_group_range=\"GID GID\"), give the daemon CAP_NET_RAW, or watch "
                             "HOST:PORT (a TCP connection) instead");
    }
    return TResult::Ok();
}

// What outlives the daemon (the watchdog's actions, the web token):
// systemd's state directory, else the daemon's folder.
std::string StateDirectory(const std::string& dir) {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state == '/')
        return std::string(state).substr(0, std::string(state).find(':'));
    return dir;
}

// The watchdog's actions: a file for every port.
std::string WatchHistoryPath(const std::string& dir, const std::string& device) {
    return StateDirectory(dir) + "/watchdog-" + MqttIdFromPort(device, "") + ".actions";
}

// What the device sends is read as it comes, so nothing piles up unread; a
// hang-up or a vanished device is reported once, to every channel, and the
// port let go.
class TPortWatch {
public:
    TPortWatch(TEventLoop& loop, TSwitchPort& port, TSwitchboard& board) : loop_(loop), port_(port), board_(board) {
        port_.Opened = [this](TPortHandle handle) {
            const int fd = static_cast<int>(handle);
            tcflush(fd, TCIFLUSH);  // what came while nobody listened answers nothing now
            ++generation_;
            watch_ = loop_.Watch(fd, EPOLLIN, [this, fd, generation = generation_](std::uint32_t events) {
                Ready(fd, generation, events);
            });
            if (!watch_) Log("cannot watch " + port_.DevicePath + ": the device's answers go unread");
        };
        port_.Closing = [this](TPortHandle) {
            ++generation_;
            watch_.reset();
        };
    }
    ~TPortWatch() {
        port_.Opened = nullptr;
        port_.Closing = nullptr;
    }
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

private:
    void Ready(int fd, std::uint64_t generation, std::uint32_t events) {
        char buffer[256];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                // What the answer sets going may close this very port.
                port_.Received(std::string_view(buffer, static_cast<std::size_t>(n)));
                if (generation != generation_) return;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // A raw terminal with no bytes waiting reads 0 (VMIN 0), not end of file.
            const bool drained = n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
            if (drained && !(events & (EPOLLHUP | EPOLLERR))) return;
            break;
        }
        watch_->Disable();
        const std::string why = port_.DevicePath + " went away (unplugged or hung up)";
        const auto lost = [this, why] {
            port_.Lost();
            for (int c = 1; c <= board_.Channels(); ++c) board_.Channel(c).LineLost(why);
        };
        if (!loop_.Post(lost)) lost();
    }

    TEventLoop& loop_;
    TSwitchPort& port_;
    TSwitchboard& board_;
    std::unique_ptr<TEventLoop::TWatch> watch_;
    std::uint64_t generation_ = 0;  // which opening of the port a handler serves
};

// " (switch 2)" where the daemon has several.
std::string Naming(const TSwitchboard& board, int channel) {
    return board.Channels() > 1 ? " (switch " + std::to_string(channel) + ")" : std::string();
}

// A stop leaves the device as it is, unless asked otherwise; but a pulse
// is a promise to switch off, and it is kept.
int Stop(const TCommandLine& line, TSwitchboard& board, TSwitchPort& port, std::optional<TMqttBridge>& bridge,
         std::optional<TWebDoor>& web) {
    if (sd_notify(0, "STOPPING=1") < 0) Log("cannot tell systemd the daemon stops");
    int code = exitOk;
    for (int c = 1; c <= board.Channels(); ++c) {
        TSwitchService& service = board.Channel(c);
        const bool pulse = service.PulseRunning();
        if (!line.StopOff && !pulse) continue;
        if (pulse) Log("stopping during a pulse: switching off first" + Naming(board, c));
        if (const TResult off = service.SwitchOffNow(); !off) {
            Log(off.Message);
            code = off.Code;
        }
    }
    // A bus of one request at a time may still hold some of them.
    port.Finish();
    if (bridge) bridge->Stop();
    if (web) web->Stop();
    return code;
}

// The daemon's parts, alive from the start of the loop to its end.
TResult Serve(const TCommandLine& line, const std::string& pulse, TEventLoop& loop, TSwitchPort& port,
              TDaemonFiles& files, const std::string& dir) {
    std::vector<std::unique_ptr<TSwitchService>> services;
    for (int c = 1; c <= port.Channels(); ++c) {
        const std::string naming = port.Channels() > 1 ? "switch " + std::to_string(c) + ": " : std::string();
        services.push_back(std::make_unique<TSwitchService>(
            port.Line(c), TServiceOptions{pulse, line.StartOff, nullptr, [naming](const std::string& text) { Log(naming + text); },
                                          [&loop](std::function<void()> task) { return loop.Post(std::move(task)); },
                                          port.Channels() > 1}));
    }
    TSwitchboard board(std::move(services));
    // The watchdog and the other doors' single switch: channel 1.
    TSwitchService& service = board.Channel(1);
    TPortWatch watch(loop, port, board);
    TServer server(loop, board);
    std::optional<TMqttBridge> bridge;
    std::optional<TWebDoor> web;
    // The doors that show the state to others hear of every change.
    const auto publish = [&bridge, &web] {
        if (bridge) bridge->Publish();
        if (web) web->Publish();
    };
    const TWatchHistory history(files, WatchHistoryPath(dir, line.Device));
    std::optional<TNetworkProber> prober;
    std::optional<TWatchdog> watchdog;
    if (!line.Watch.Targets.empty()) {
        if (TResult icmp = IcmpUsable(line.Watch); !icmp) return icmp;
        prober.emplace(loop, line.Watch.Targets, line.Watch.TimeoutSeconds * 1000);
        watchdog.emplace(service, *prober, line.Watch, history, Log);
        service.Requested = [&watchdog](const TRequest& request) { watchdog->Requested(request); };
        service.WatchControl = [&watchdog](TVerb verb) {
            return verb == TVerb::WatchPause ? watchdog->Pause() : watchdog->Resume();
        };
        watchdog->Changed = publish;
        if (line.StartOff && line.Watch.Action == TWatchAction::Cycle)
            Log("watchdog: --on-start off switches the device off, and the cycle never powers a device it did not "
                "switch off: with the device on the normally open contact, start with --on-start none");
    }
    for (int c = 1; c <= board.Channels(); ++c) {
        board.Channel(c).Decorate = [&files, &bridge, &watchdog, c](TStatus& status) {
            if (!status.LastError)
                if (std::string problem = files.Problem(); !problem.empty()) status.LastError = std::move(problem);
            if (bridge) status.Broker = bridge->Broker();
            if (watchdog && c == 1) status.Watch = watchdog->Status();
        };
        board.Channel(c).Changed = [&watchdog, &publish, c] {
            if (watchdog && c == 1) watchdog->StateChanged();
            publish();
        };
    }
    bool stopping = false;
    const auto stop = [&] {
        if (stopping) return;
        stopping = true;
        // The watchdog's cut is a promise to restore the power, as a pulse is to end.
        if (watchdog && watchdog->Cutting()) {
            Log("stopping during the watchdog's off period: switching the device on first");
            watchdog->Stop();
            service.Submit({TVerb::On, {}}, [&](const TReply& on) {
                if (on.Code != exitOk) Log(on.Error);
                const int code = Stop(line, board, port, bridge, web);
                loop.Exit(on.Code != exitOk ? on.Code : code);
            });
            return;
        }
        if (watchdog) watchdog->Stop();
        loop.Exit(Stop(line, board, port, bridge, web));
    };
    // Before any thread starts: a thread made earlier would take the
    // signals the loop waits for.
    if (!loop.OnSignal(SIGTERM, stop) || !loop.OnSignal(SIGINT, stop) ||
        !loop.OnSignal(SIGHUP, [] { Log("SIGHUP: nothing to reload"); }))
        return TResult::Fail(exitIoError, "cannot watch the signals");
    if (TResult own = PrivateDirectory(line.Socket); !own) return own;
    if (TResult listening = server.Listen(line.Socket); !listening) return listening;
    if (!line.Mqtt.Host.empty()) {
        bridge.emplace(loop, board, line.Mqtt, MODEMSWITCH_VERSION, pulse);
        if (TResult started = bridge->Start(); !started) return started;
    }
    if (line.Http.Address.Port != 0) {
        web.emplace(loop, board, line.Http, StateDirectory(dir));
        if (TResult started = web->Start(); !started) return started;
    }
    // Under WatchdogSec= systemd restarts a loop that stops turning.
    if (!loop.EnableWatchdog()) Log("cannot tell systemd's watchdog the loop is alive");
    for (int c = 1; c <= board.Channels(); ++c) board.Channel(c).Start();
    // Without a switch at start, the device says where it stands, if it can.
    if (!line.StartOff && port.AskStates()) Log("asking " + std::string(port.Kind().Answerer()) + " for its state");
    if (watchdog) watchdog->Start();
    Log("serving " + line.Device + (line.Kind.Name != TKindName::Modem ? " (" + std::string(KindText(line.Kind.Name)) + ")" : "") +
        " on " + line.Socket);
    if (sd_notify(0, "READY=1") < 0) Log("cannot tell systemd the daemon is ready");
    const int code = loop.Run();
    if (code < 0) return TResult::Fail(exitIoError, std::string("the event loop failed: ") + std::strerror(-code));
    return TResult{code, {}};  // a failed stop has said why
}

int Daemon(const TCommandLine& line) {
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) Log("cannot ignore SIGPIPE");
    char dir[PATH_MAX];
    if (realpath(line.Dir.empty() ? "." : line.Dir.c_str(), dir) == nullptr) {
        Log("--dir " + line.Dir + ": " + std::strerror(errno));
        return exitUsage;
    }
    // vr.ini and com i dlit.ini live where the program's files would, and
    // are read on the daemon's rules.
    OverrideProgramDirectory(std::string(dir) + "/");
    TDaemonFiles files(Log);
    const std::unique_ptr<TProfileStore> store = MakeNativeProfileStore(1251, files);
    TScopedOverride<TProfileSeam, TProfileStore> useStore(store.get());
    const std::optional<std::string> pulse = DefaultPulse(line);
    if (!pulse) return exitConfig;

    TEventLoop loop;
    if (!loop.Ready()) {
        Log("cannot make the event loop");
        return exitIoError;
    }
    if (line.Forget) {
        // Nothing of the port: only what the daemon left on the broker.
        TSwitchPort idle(PlatformSerialDevice(), line.Device, MakeDeviceKind(line.Kind), line.Kind.Channels);
        std::vector<std::unique_ptr<TSwitchService>> services;
        for (int c = 1; c <= idle.Channels(); ++c)
            services.push_back(std::make_unique<TSwitchService>(idle.Line(c), TServiceOptions{*pulse, false, nullptr, nullptr, nullptr}));
        TSwitchboard board(std::move(services));
        TMqttBridge bridge(loop, board, line.Mqtt, MODEMSWITCH_VERSION, *pulse);
        const TResult forgotten = bridge.Forget();
        if (!forgotten) Log(forgotten.Message);
        return forgotten.Code;
    }
    StartFramework();
    TResult served;
    {
        TSwitchPort port(PlatformSerialDevice(), line.Device, MakeDeviceKind(line.Kind), line.Kind.Channels);
        TScopedOverride<TSerialSeam, TSerialDevice> usePort(&port);
        served = Serve(line, *pulse, loop, port, files, dir);
    }
    StopFramework();
    if (!served.Message.empty()) Log(served.Message);
    return served.Code;
}

}  // namespace

int RunDaemon(const TCommandLine& line) {
    try {
        return Daemon(line);
    } catch (const std::exception& e) {
        Log(std::string("the daemon ends: ") + e.what());
        return exitIoError;
    }
}
