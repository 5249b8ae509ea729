// The service's figures beside the floor, in one run:
//   - a client command to "ATH1\r" at the modem, against a plain write()
//     of the same bytes to the same pseudo-terminal;
//   - the daemon's idle CPU over a minute and its memory;
//   - 1,000 requests in a row and 100 real switch cycles through the
//     daemon, and 10,000 switch cycles of the same scheme on the virtual
//     clock, with memory and descriptors before and after;
//   - on MQTT (a broker on 127.0.0.1): "ON" published to "ATH1\r" at the
//     modem, 1,000 commands in a row, idle CPU with the broker connected;
//   - with a watchdog: idle CPU with three targets every 30 s, and a
//     command's "ATH1\r" while probe rounds run every second, beside the
//     same command without one;
//   - on relay boards (a CH340 board, a Modbus board): a command to the
//     board's bytes, beside a plain write() of the same bytes, and the
//     daemon's memory with 8 channels against 1.
//
//   measure_service [--idle SECONDS] [--watchdog | --kinds]   (their figures alone)

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/service/kinds/modbus_frame.h"
#include "tests/service/boards.h"
#include "tests/service/broker.h"
#include "tests/service/program.h"
#include "tests/service/service_host.h"

namespace {

namespace fs = std::filesystem;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string ProcField(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(name)) return line.substr(line.find_first_not_of(" \t", std::strlen(name)));
    return "?";
}

long Descriptors(pid_t pid) {
    long n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++n;
    return n;
}

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
        if (i == 14) utime = std::stol(f);
        if (i == 15) {
            stime = std::stol(f);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Waits for the modem's line count to reach n; the time it came, or -1.
std::int64_t LineAt(const TModemStandIn& modem, std::size_t n) {
    if (!modem.WaitForLines(n, 3000)) return -1;
    return modem.Lines()[n - 1].AtMs;
}

// A TCP service on 127.0.0.1 that accepts and closes every connection.
class TAcceptor {
public:
    TAcceptor() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 64) != 0) return;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        Port = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int c = accept(fd_, nullptr, nullptr);
                if (c < 0) return;
                close(c);
            }
        });
    }
    ~TAcceptor() {
        shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    int Port = 0;

private:
    int fd_;
    std::thread thread_;
};

struct TSpread {
    double Median, P95, Max;
};

TSpread Spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return {0, 0, 0};
    return {v[v.size() / 2], v[v.size() * 95 / 100], v.back()};
}

// "on" to "ATH1\r" at the modem, `cycles` times (later switch-ons alone).
std::vector<double> SwitchOnTimes(const TModemStandIn& modem, const std::string& socket, int cycles) {
    std::vector<double> times;
    for (int i = 0; i <= cycles; ++i) {
        const std::size_t before = modem.Lines().size();
        const std::int64_t t0 = SteadyMs();
        RunProgram({"on", "--socket", socket});
        if (i > 0) times.push_back(static_cast<double>(LineAt(modem, before + 1) - t0));
        RunProgram({"off", "--socket", socket});
    }
    return times;
}

// The process's share of one CPU over the next `seconds`, in per cent.
double IdleCpu(pid_t pid, int seconds) {
    const double cpu0 = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return (CpuSeconds(pid) - cpu0) / seconds * 100;
}

void Usage(const char* what, pid_t pid) {
    std::printf("  %-34s VmRSS %s, descriptors %ld\n", what, ProcField(pid, "VmRSS:").c_str(), Descriptors(pid));
}

// With a watchdog: a command's "ATH1\r" while probe rounds run every two
// seconds (the shortest the timeout of a second allows), beside the same command without one; idle CPU and memory with
// three targets every 30 s.
int MeasureWatchdog(const TModemStandIn& modem, const std::string& port, const std::string& socket,
                    const fs::path& dir, int idleSeconds) {
    TAcceptor service;
    const std::string tcp = "127.0.0.1:" + std::to_string(service.Port),
                      named = "localhost:" + std::to_string(service.Port);
    std::printf("with a watchdog (127.0.0.1 by ICMP, %s and %s by TCP):\n", tcp.c_str(), named.c_str());
    constexpr int Cycles = 60;
    const std::vector<double> alone = [&] {
        TDaemon plain({"--port", port, "--dir", dir.string()}, socket);
        return plain.Running() ? SwitchOnTimes(modem, socket, Cycles) : std::vector<double>();
    }();
    std::vector<double> watched;
    {
        TDaemon watching({"--port", port, "--dir", dir.string(), "--watch", "127.0.0.1", "--watch", tcp, "--watch",
                          named, "--watch-every", "2", "--watch-timeout", "1"},
                         socket);
        if (!watching.Running()) {
            std::fprintf(stderr, "measure_service: the watching daemon did not start:\n%s", watching.Log().c_str());
            return 1;
        }
        watched = SwitchOnTimes(modem, socket, Cycles);
    }
    const TSpread a = Spread(alone), w = Spread(watched);
    std::printf("  \"ATH1\\r\" after \"on\" (%d each)      median / 95th / max\n", Cycles);
    std::printf("    without --watch                  %.1f / %.1f / %.1f ms\n", a.Median, a.P95, a.Max);
    std::printf("    rounds every 2 s                 %.1f / %.1f / %.1f ms (target: within 5 ms)\n", w.Median,
                w.P95, w.Max);
    TDaemon idle({"--port", port, "--dir", dir.string(), "--watch", "127.0.0.1", "--watch", tcp, "--watch", named},
                 socket);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    Usage("three targets, every 30 s", idle.Pid);
    std::printf("  idle CPU over %d s, every 30 s    %.3f %% (target <= 0.05 %%)\n", idleSeconds,
                IdleCpu(idle.Pid, idleSeconds));
    Usage("after the idle time", idle.Pid);
    idle.Stop(SIGTERM);
    return 0;
}

std::int64_t WallNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// When the board's `n`-th switch came (wall clock, as its log keeps it), or -1.
std::int64_t SwitchAt(const TBoardStandIn& board, std::size_t n) {
    if (!board.WaitForSwitches(n, 3000)) return -1;
    std::size_t seen = 0;
    for (const TDeviceEvent& e : board.Events())
        if (e.What != "READ" && e.What != "STATUS" && e.What != "-" && ++seen == n) return e.AtMs;
    return -1;
}

// On each board: its bytes written straight to the terminal, then a
// daemon's "on" to the same bytes at the board; memory with 8 channels and 1.
int MeasureKinds(const fs::path& dir, const std::string& socket) {
    struct TKind {
        const char* Name;
        const char* Simulator;
        std::string OnBytes;
    };
    const TKind kinds[] = {{"lcus", "lcus_sim", std::string("\xA0\x01\x01\xA2", 4)},
                           {"modbus", "modbus_sim", WriteCoilFrame(1, 0, true)}};
    constexpr int Cycles = 20;
    std::printf("client command to the board's bytes (median of %d; the simulators count whole ms):\n", Cycles);
    for (const TKind& kind : kinds) {
        const std::string port = (dir / kind.Name).string();
        TBoardStandIn board(kind.Simulator, port, {});
        std::vector<double> floor;
        for (int i = 0; i < Cycles; ++i) {
            const int fd = open(port.c_str(), O_WRONLY | O_NOCTTY);
            const std::size_t before = board.Events().size();
            const std::int64_t t0 = WallNowMs();
            [[maybe_unused]] const ssize_t n = write(fd, kind.OnBytes.data(), kind.OnBytes.size());
            board.WaitForSwitches(before + 1, 3000);
            floor.push_back(static_cast<double>(board.Events().back().AtMs - t0));
            close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        TDaemon daemon({"--port", port, "--dir", dir.string(), "--device", kind.Name}, socket);
        if (!daemon.Running()) {
            std::fprintf(stderr, "measure_service: the %s daemon did not start:\n%s", kind.Name, daemon.Log().c_str());
            return 1;
        }
        std::size_t switches = static_cast<std::size_t>(Cycles) + 1;  // the floor's and the start's off
        board.WaitForSwitches(switches, 2000);
        std::vector<double> first, later;
        for (int i = 0; i < Cycles; ++i) {
            const std::int64_t t0 = WallNowMs();
            RunProgram({"on", "--socket", socket});
            (i == 0 ? first : later).push_back(static_cast<double>(SwitchAt(board, ++switches) - t0));
            RunProgram({"off", "--socket", socket});
            ++switches;
        }
        std::printf("  %-6s plain write() to the pty       %.1f ms\n", kind.Name, Median(floor));
        std::printf("  %-6s modemswitch on, first          %.1f ms (design: 200 ms from the toggle)\n", kind.Name,
                    Median(first));
        std::printf("  %-6s modemswitch on, later          %.1f ms (design: 400 ms, the counter passes 10 and 0)\n",
                    kind.Name, Median(later));
        daemon.Stop(SIGTERM);
    }
    std::printf("memory with channels (lcus, after a switch of every channel):\n");
    const std::string port = (dir / "lcus").string();
    TBoardStandIn board("lcus_sim", port, {"--channels", "8"});
    for (const int channels : {1, 8}) {
        TDaemon daemon({"--port", port, "--dir", dir.string(), "--device", "lcus", "--channels", std::to_string(channels)},
                       socket);
        for (int c = 1; c <= channels; ++c) RunProgram({"on", "--switch", std::to_string(c), "--socket", socket});
        const std::string what = std::to_string(channels) + (channels == 1 ? " channel" : " channels");
        Usage(what.c_str(), daemon.Pid);
        daemon.Stop(SIGTERM);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int idleSeconds = 60;
    bool watchdogOnly = false, kindsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--idle" && i + 1 < argc) idleSeconds = std::atoi(argv[++i]);
        else if (arg == "--watchdog") watchdogOnly = true;
        else if (arg == "--kinds") kindsOnly = true;
        else {
            std::fprintf(stderr, "usage: measure_service [--idle SECONDS] [--watchdog | --kinds]\n");
            return 64;
        }
    }
    const fs::path dir = fs::temp_directory_path() / ("modemswitch-measure-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string port = (dir / "modem").string(), socket = (dir / "sock").string();
    if (kindsOnly) {
        const int code = MeasureKinds(dir, socket);
        fs::remove_all(dir);
        return code;
    }
    TModemStandIn modem(port);

    if (watchdogOnly) {
        const int code = MeasureWatchdog(modem, port, socket, dir, idleSeconds);
        fs::remove_all(dir);
        return code;
    }
    // The floor: the same bytes written straight to the terminal.
    std::vector<double> floor;
    for (int i = 0; i < 20; ++i) {
        const int fd = open(port.c_str(), O_WRONLY | O_NOCTTY);
        const std::size_t before = modem.Lines().size();
        const std::int64_t t0 = SteadyMs();
        [[maybe_unused]] const ssize_t n = write(fd, "ATH1\r", 5);
        const std::int64_t at = LineAt(modem, before + 1);
        close(fd);
        floor.push_back(static_cast<double>(at - t0));
    }

    TDaemon daemon({"--port", port, "--dir", dir.string()}, socket);
    if (!daemon.Running()) {
        std::fprintf(stderr, "measure_service: the daemon did not start:\n%s", daemon.Log().c_str());
        return 1;
    }
    modem.WaitForLines(modem.Lines().size() + 1, 1000);  // the start's "ATH\r"
    std::vector<double> first, later;
    for (int i = 0; i < 20; ++i) {
        const std::size_t before = modem.Lines().size();
        const std::int64_t t0 = SteadyMs();
        RunProgram({"on", "--socket", socket});
        (i == 0 ? first : later).push_back(static_cast<double>(LineAt(modem, before + 1) - t0));
        RunProgram({"off", "--socket", socket});
    }
    std::printf("client command to \"ATH1\\r\" at the modem (median of 20):\n");
    std::printf("  plain write() to the pty           %.1f ms (the stand-in counts whole ms)\n", Median(floor));
    std::printf("  modemswitch on, first switch-on    %.1f ms (design: 200 ms from the toggle)\n", Median(first));
    std::printf("  modemswitch on, later switch-ons   %.1f ms (design: 400 ms, the counter passes 10 and 0)\n",
                Median(later));

    std::printf("daemon at rest:\n");
    Usage("after start and 20 cycles", daemon.Pid);
    const double cpu = IdleCpu(daemon.Pid, idleSeconds);
    std::printf("  idle CPU over %d s                  %.3f %% (target <= 0.05 %%)\n", idleSeconds, cpu);
    Usage("after the idle time", daemon.Pid);

    std::printf("in a row:\n");
    const std::int64_t t1 = SteadyMs();
    for (int i = 0; i < 1000; ++i) RunProgram({i % 2 ? "status" : "off", "--socket", socket});
    std::printf("  1,000 requests                     %.1f s\n", static_cast<double>(SteadyMs() - t1) / 1000);
    Usage("after 1,000 requests", daemon.Pid);
    const std::int64_t t2 = SteadyMs();
    for (int i = 0; i < 100; ++i) {
        RunProgram({"on", "--socket", socket});
        RunProgram({"off", "--socket", socket});
    }
    std::printf("  100 real switch cycles             %.1f s\n", static_cast<double>(SteadyMs() - t2) / 1000);
    Usage("after 100 cycles", daemon.Pid);
    daemon.Stop(SIGTERM);

    {
        TBroker broker;
        TMqttPeer peer(broker.Port, "modemswitch/#");
        TDaemon mqtt({"--port", port, "--dir", dir.string(), "--mqtt", "127.0.0.1:" + std::to_string(broker.Port),
                      "--name", "modem"},
                     socket);
        const std::string topic = "modemswitch/modem/";
        peer.WaitFor(topic + "state", "OFF");
        std::vector<double> mqttFirst, mqttLater;
        for (int i = 0; i < 20; ++i) {
            const std::size_t before = modem.Lines().size();
            const std::int64_t t0 = SteadyMs();
            peer.Publish(topic + "set", "ON");
            (i == 0 ? mqttFirst : mqttLater).push_back(static_cast<double>(LineAt(modem, before + 1) - t0));
            peer.WaitFor(topic + "state", "ON");
            peer.Publish(topic + "set", "OFF");
            peer.WaitFor(topic + "state", "OFF");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        std::printf("on MQTT (a broker on 127.0.0.1):\n");
        std::printf("  \"ON\" published to \"ATH1\\r\", first        %.1f ms (design: 200 ms)\n", Median(mqttFirst));
        std::printf("  \"ON\" published to \"ATH1\\r\", later        %.1f ms (design: 400 ms)\n", Median(mqttLater));
        Usage("after 20 cycles", mqtt.Pid);
        const std::int64_t t3 = SteadyMs();
        for (int i = 0; i < 1000; ++i) peer.Publish(topic + "set", "OFF");  // already off: each answered at once
        std::printf("  1,000 commands in a row            %.1f s\n", static_cast<double>(SteadyMs() - t3) / 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Usage("after 1,000 commands", mqtt.Pid);
        std::printf("  idle CPU over %d s, broker connected %.3f %% (target <= 0.05 %%)\n", idleSeconds,
                    IdleCpu(mqtt.Pid, idleSeconds));
        Usage("after the idle time", mqtt.Pid);
        mqtt.Stop(SIGTERM);
    }

    if (const int code = MeasureWatchdog(modem, port, socket, dir, idleSeconds); code != 0) return code;
    if (const int code = MeasureKinds(dir, socket); code != 0) return code;

    // The same scheme and service, in this process on the virtual clock.
    {
        TServiceHost host;
        auto heap = [] { return static_cast<long>(mallinfo2().uordblks); };
        long heap0 = 0, fds0 = 0;
        for (int i = 0; i < 10000; ++i) {
            host.Submit(TVerb::On);
            host.Until(host.Clock.Now() + 1000);
            host.Submit(TVerb::Off);
            host.Until(host.Clock.Now() + 1000);
            host.Serial.Clear();
            host.Replies.clear();
            if (i == 99) heap0 = heap(), fds0 = Descriptors(getpid());
        }
        std::printf("10,000 switch cycles on the virtual clock:\n");
        std::printf("  heap after 100 cycles %ld B, after 10,000 %ld B; descriptors %ld and %ld\n", heap0, heap(), fds0,
                    Descriptors(getpid()));
    }
    fs::remove_all(dir);
    return 0;
}
