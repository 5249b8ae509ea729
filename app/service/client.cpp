// The client: one request over the daemon's socket, one reply, printed as
// the user asked; the reply's code is the exit code.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/service/run.h"
#include "app/service/server.h"

namespace {

// Longer than the longest switch, queued behind a few others.
constexpr int ReplyWaitMs = 30000;
constexpr int ConnectAttempts = 50;
constexpr useconds_t ConnectPauseUs = 20000;

int Connect(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + path;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return -1;
    }
    // A full backlog is a busy daemon, not a missing one: wait a little.
    int connected = -1;
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt) {
        connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (connected == 0 || (errno != EAGAIN && errno != EINTR)) break;
        usleep(ConnectPauseUs);
    }
    if (connected != 0) {
        error = "no daemon at " + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    // Whoever took the path first could answer in the daemon's place.
    if (!TrustedPeer(fd, path, error)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Exchange(int fd, const std::string& request, std::string& reply) {
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE) break;  // refused before it read: its reply waits
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReplyWaitMs);
    while (reply.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) return false;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

void Print(const std::string& text, FILE* to) {
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

}  // namespace

int RunClient(const TCommandLine& line) {
    const bool isOn = line.Mode == TCommandLine::IsOn;
    std::string error;
    const int fd = Connect(line.Socket, error);
    std::string text;
    TReply reply;
    const bool answered = fd >= 0 && Exchange(fd, RequestLine(line.Request), text) && ParseReplyLine(text, reply);
    if (fd >= 0) close(fd);
    if (!answered) {
        if (fd >= 0) error = "no reply from the daemon at " + line.Socket;
        if (!isOn) Print("modemswitch: " + error + "\n", stderr);
        return isOn ? exitIsUnknown : exitUnavailable;
    }
    if (isOn) {
        // A switch the daemon does not have is bad usage, not a state.
        if (reply.Code == exitUsage) {
            Print("modemswitch: " + reply.Error + "\n", stderr);
            return reply.Code;
        }
        switch (reply.Status.State) {
            case TSwitchState::On: return exitOk;
            case TSwitchState::Off: return exitIsOff;
            default: return exitIsUnknown;
        }
    }
    const bool status = line.Request.Verb == TVerb::Status;
    if (line.WatchVerb && reply.Code == exitOk) {
        if (!reply.Status.Watch) {
            Print("modemswitch: the daemon runs no watchdog: start it with --watch TARGET\n", stderr);
            return exitUnavailable;
        }
        Print(!line.Json ? WatchLines(*reply.Status.Watch) : status ? WatchJson(*reply.Status.Watch) + "\n" : ReplyJson(reply),
              stdout);
        return exitOk;
    }
    // An older daemon lists no channels: its one switch is all of them.
    std::vector<TStatus> all = reply.All.empty() ? std::vector<TStatus>{reply.Status} : reply.All;
    if (line.Request.All && reply.Code == exitOk) {
        if (line.Json) {
            Print(StatusesJson(all), stdout);
        } else {
            std::string lines;
            for (const TStatus& s : all) lines += StatusLine(s);
            Print(lines, stdout);
        }
    } else if (line.Json) {
        Print(status ? StatusJson(reply.Status) : ReplyJson(reply), stdout);
    } else if (reply.Code == exitOk) {
        Print(StatusLine(reply.Status), stdout);
    }
    if (reply.Code != exitOk && !reply.Error.empty()) Print("modemswitch: " + reply.Error + "\n", stderr);
    return reply.Code;
}
