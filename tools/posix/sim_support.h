#pragma once
// What every device simulator shares: a pseudo-terminal whose far end is
// named by a symbolic link, the stop signals, and the report of what came
// (a line per command on stdout; with --log, "<ms since the epoch> <hex>
// <what it did>" per command, written at once for tests to poll).
// Header-only: each simulator is one self-contained program.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

namespace sim {

inline const char* Program = "sim";

inline void Fail(const std::string& what) { std::fprintf(stderr, "%s: %s\n", Program, what.c_str()); }

inline std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// The bytes as C-like text: "ATH1\r".
inline std::string Visible(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7f)
            out += ch;
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

inline std::string Hex(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(ch));
        out += hex;
    }
    return out;
}

// Local time of day with milliseconds.
inline std::string Clock(const timespec& t) {
    tm local{};
    localtime_r(&t.tv_sec, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", t.tv_nsec / 1000000);
    return text;
}

inline std::int64_t EpochMs(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000; }

inline timespec Now() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// The symbolic link naming the port end; removed again only while it still
// points at this port (another simulator may have taken the name over).
class TLink {
public:
    TLink(std::string path, std::string target) : path_(std::move(path)), target_(std::move(target)) {}
    ~TLink() {
        if (made_ && Target() == target_) unlink(path_.c_str());
    }
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    bool Make(std::string& whyNot) {
        struct stat st;
        if (lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            whyNot = path_ + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        // Link under a temporary name, then rename: the name is never missing
        // and an old link is swapped in one step.
        const std::string temporary = path_ + "." + Program + "." + std::to_string(getpid());
        unlink(temporary.c_str());
        if (symlink(target_.c_str(), temporary.c_str()) != 0) {
            whyNot = Errno("cannot make a link at " + temporary);
            return false;
        }
        if (rename(temporary.c_str(), path_.c_str()) != 0) {
            whyNot = Errno("cannot link " + path_);
            unlink(temporary.c_str());
            return false;
        }
        made_ = true;
        return true;
    }

private:
    std::string Target() const {
        char buffer[4096];
        const ssize_t n = readlink(path_.c_str(), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    std::string path_;
    std::string target_;
    bool made_ = false;
};

// Each command on stdout (unless quiet) and in the log file (when open).
class TReport {
public:
    TReport(bool quiet, int log) : quiet_(quiet), log_(log) {}

    void Command(std::string_view bytes, const std::string& phrase, const std::string& logWord, const timespec& at) {
        if (!quiet_) std::printf("%s  %-12s  %s\n", Clock(at).c_str(), Visible(bytes).c_str(), phrase.c_str());
        if (log_ >= 0) WriteAll(std::to_string(EpochMs(at)) + " " + Hex(bytes) + " " + logWord + "\n");
    }

private:
    // One write per line: a test polling the file sees whole lines.
    void WriteAll(const std::string& line) {
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = write(log_, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    bool quiet_;
    int log_;
};

inline volatile sig_atomic_t stopSignal = 0;

inline void OnStopSignal(int signal) { stopSignal = signal; }

// The terminal pair, raw, and the stop signals blocked but while waiting.
// The slave end stays open too, so the master sees no hang-up when the
// program closes the port and opens it again.
struct TTerminal {
    int Master = -1, Slave = -1, Log = -1;
    std::string SlaveName;
    sigset_t WaitMask{};
    std::unique_ptr<TLink> Link;
};

// Opens the terminal, links its port end at `link` and says so:
// "<program>: <end> is LINK -> /dev/pts/N".
inline bool OpenTerminal(const std::string& link, const std::string& logPath, bool nonBlocking, const char* end,
                         TTerminal& t) {
    // Whoever reads stdout through a pipe sees each command as it comes.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader of stdout that went away must not kill us before the link is removed.
    signal(SIGPIPE, SIG_IGN);
    if (!logPath.empty()) {
        t.Log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (t.Log < 0) return Fail(Errno("cannot open " + logPath)), false;
    }
    char slaveName[128];
    if (openpty(&t.Master, &t.Slave, slaveName, nullptr, nullptr) != 0) return Fail(Errno("openpty")), false;
    t.SlaveName = slaveName;
    termios raw;
    if (tcgetattr(t.Slave, &raw) != 0) return Fail(Errno("tcgetattr")), false;
    cfmakeraw(&raw);
    if (tcsetattr(t.Slave, TCSANOW, &raw) != 0) return Fail(Errno("tcsetattr")), false;

    // Stop signals stay blocked except while waiting, so one that comes
    // between two reads is not lost.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, s);
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigaction(s, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, &t.WaitMask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&t.WaitMask, s);

    t.Link = std::make_unique<TLink>(link, t.SlaveName);
    std::string whyNot;
    if (!t.Link->Make(whyNot)) return Fail(whyNot), false;
    // Answers never block the simulator when nobody reads them.
    if (nonBlocking && fcntl(t.Master, F_SETFL, fcntl(t.Master, F_GETFL) | O_NONBLOCK) != 0)
        return Fail(Errno("fcntl")), false;
    std::printf("%s: %s is %s -> %s\n", Program, end, link.c_str(), t.SlaveName.c_str());
    return true;
}

// Waits for bytes from the program; false once a stop signal came or the
// terminal failed. `n` is 0 when woken for nothing.
inline bool Read(const TTerminal& t, char* buffer, std::size_t size, ssize_t& n) {
    n = 0;
    if (stopSignal != 0) return false;
    pollfd fd{t.Master, POLLIN, 0};
    const int ready = ppoll(&fd, 1, nullptr, &t.WaitMask);
    if (ready < 0) {
        if (errno == EINTR) return stopSignal == 0;
        Fail(Errno("poll"));
        return false;
    }
    n = read(t.Master, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        n = 0;
        return true;
    }
    if (n <= 0) {
        Fail(n == 0 ? std::string("the terminal closed") : Errno("read"));
        return false;
    }
    return true;
}

// Nobody reading: an answer is dropped rather than waited on.
inline void Answer(const TTerminal& t, std::string_view bytes) {
    [[maybe_unused]] const ssize_t written = write(t.Master, bytes.data(), bytes.size());
}

}  // namespace sim
