// A stand-in for the analog modem: a pseudo-terminal whose far end is named
// as the program's COM port. Every command line the program sends is shown
// with its time and what it did to the hook, which is what switches the
// device: off-hook (ATH1) = device on, on-hook (ATH, ATH0) = device off.
//
//   modem_sim --link PATH [--log FILE] [--quiet] [--answer]
//
//   --link PATH   made a symbolic link to the port end (e.g.
//                 $WINEPREFIX/dosdevices/com1); an old link there is
//                 replaced, anything else is left alone
//   --log FILE    also appends "<ms since the epoch> <hex of the bytes> ON|OFF|-"
//                 per command line, written at once, for tests to poll
//   --quiet       no per-command lines on stdout (the ready line still comes)
//   --answer      answer as a modem with echo on: the command line, then
//                 "OK" ("ERROR" for no command), for a program that reads
//                 the port (the Linux service)
//
// Prints "modem_sim: COM end is PATH -> /dev/pts/N" once ready. Runs until
// SIGINT, SIGTERM or SIGHUP, then removes the link and exits 0.
//
// Without --answer it never answers: the Windows program does not read the
// port, and unread replies would pile up in the terminal.

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
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

namespace {

// A real modem keeps about 40 characters of a command line; a longer run of
// bytes without CR is no command anyway, so it is reported and dropped.
constexpr std::size_t MaxLine = 256;

enum class EHook { NoChange, On, Off, NotCommand };

struct TOptions {
    std::string Link;
    std::string Log;
    bool Quiet = false;
    bool Answer = false;
};

void Fail(const std::string& what) {
    std::fprintf(stderr, "modem_sim: %s\n", what.c_str());
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue)
            options.Link = argv[++i];
        else if (arg == "--log" && hasValue)
            options.Log = argv[++i];
        else if (arg == "--quiet")
            options.Quiet = true;
        else if (arg == "--answer")
            options.Answer = true;
        else
            return false;
    }
    return !options.Link.empty();
}

// ASCII only: bytes from the port are no text in any locale.
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// What a command line (without its CR) does to the hook. Like a modem, it
// looks for "AT" and runs the commands after it in order, so the last H
// counts; an invalid command stops the line, keeping what ran before it.
EHook Interpret(std::string_view line) {
    std::size_t i = 0;
    while (i + 1 < line.size() && !(Upper(line[i]) == 'A' && Upper(line[i + 1]) == 'T')) ++i;
    if (i + 1 >= line.size()) return EHook::NotCommand;
    i += 2;

    // A command's number: absent counts as 0, as a modem takes it.
    const auto number = [&] {
        int value = 0;
        while (i < line.size() && IsDigit(line[i])) {
            if (value < 1000) value = value * 10 + (line[i] - '0');
            ++i;
        }
        return value;
    };
    EHook hook = EHook::NoChange;
    while (i < line.size()) {
        const char c = Upper(line[i++]);
        if (c == ' ') continue;
        if (c == 'H') {
            const int n = number();
            if (n > 1) break;  // ERROR
            hook = n == 1 ? EHook::On : EHook::Off;
        } else if (c == 'D' || c == '+') {
            break;  // a dial string or an extended command takes the rest of the line
        } else if (c == 'S') {
            // Sn=v sets a register, Sn? reads it.
            if (i >= line.size() || !IsDigit(line[i])) break;
            number();
            if (i < line.size() && (line[i] == '?' || line[i] == '=')) ++i;
            number();
        } else if (c == '&' || c == '\\' || c == '%') {
            if (i >= line.size() || !IsLetter(line[i])) break;
            ++i;
            number();
        } else if (IsLetter(c)) {
            number();  // E0, Q1, V1, Z, L2, M0...
        } else {
            break;  // ERROR
        }
    }
    return hook;
}

// The bytes as C-like text: "ATH1\r".
std::string Visible(std::string_view bytes) {
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

std::string Hex(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(ch));
        out += hex;
    }
    return out;
}

// Local time of day with milliseconds.
std::string Clock(const timespec& t) {
    tm local{};
    localtime_r(&t.tv_sec, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", t.tv_nsec / 1000000);
    return text;
}

std::int64_t EpochMs(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
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
        const std::string temporary = path_ + ".modem_sim." + std::to_string(getpid());
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

class TReport {
public:
    TReport(bool quiet, int log) : quiet_(quiet), log_(log) {}

    void Command(std::string_view bytes, EHook hook, const timespec& at) {
        if (!quiet_) {
            static constexpr const char* Phrases[] = {"(no change)", "off-hook: device ON", "on-hook: device OFF",
                                                      "not a command"};
            std::printf("%s  %-12s  %s\n", Clock(at).c_str(), Visible(bytes).c_str(),
                        Phrases[static_cast<int>(hook)]);
        }
        if (log_ >= 0) {
            const char* state = hook == EHook::On ? "ON" : hook == EHook::Off ? "OFF" : "-";
            WriteAll(std::to_string(EpochMs(at)) + " " + Hex(bytes) + " " + state + "\n");
        }
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

volatile sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
    stopSignal = signal;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: modem_sim --link PATH [--log FILE] [--quiet] [--answer]\n");
        return 2;
    }
    // Whoever reads stdout through a pipe sees each command as it comes.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader of stdout that went away must not kill us before the link is removed.
    signal(SIGPIPE, SIG_IGN);

    int log = -1;
    if (!options.Log.empty()) {
        log = open(options.Log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0) {
            Fail(Errno("cannot open " + options.Log));
            return 1;
        }
    }

    // Our own descriptor of the port end stays open, so the master end sees
    // no hang-up when the program closes the port and opens it again.
    int master = -1;
    int slave = -1;
    char slaveName[128];
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        Fail(Errno("openpty"));
        return 1;
    }
    termios raw;
    if (tcgetattr(slave, &raw) != 0) {
        Fail(Errno("tcgetattr"));
        return 1;
    }
    cfmakeraw(&raw);
    if (tcsetattr(slave, TCSANOW, &raw) != 0) {
        Fail(Errno("tcsetattr"));
        return 1;
    }

    // Stop signals stay blocked except while waiting in ppoll, so one that
    // comes between two reads is not lost.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, s);
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigaction(s, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);

    TLink link(options.Link, slaveName);
    std::string whyNot;
    if (!link.Make(whyNot)) {
        Fail(whyNot);
        return 1;
    }
    // Answers never block the simulator when nobody reads them.
    if (options.Answer && fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        Fail(Errno("fcntl"));
        return 1;
    }
    std::printf("modem_sim: COM end is %s -> %s\n", options.Link.c_str(), slaveName);

    TReport report(options.Quiet, log);
    std::string line;
    while (stopSignal == 0) {
        pollfd fd{master, POLLIN, 0};
        const int ready = ppoll(&fd, 1, nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Fail(Errno("poll"));
            return 1;
        }
        char buffer[256];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            Fail(n == 0 ? std::string("the terminal closed") : Errno("read"));
            return 1;
        }
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        for (ssize_t k = 0; k < n; ++k) {
            const char c = buffer[k];
            if (c == '\n') continue;  // a line feed after CR, as many programs send
            line += c;
            if (c == '\r') {
                const EHook hook = Interpret(std::string_view(line).substr(0, line.size() - 1));
                report.Command(line, hook, now);
                // Nobody reading: the answer is dropped rather than waited on.
                if (options.Answer) {
                    const std::string answer = line + (hook == EHook::NotCommand ? "\r\nERROR\r\n" : "\r\nOK\r\n");
                    [[maybe_unused]] const ssize_t written = write(master, answer.data(), answer.size());
                }
                line.clear();
            } else if (line.size() >= MaxLine) {
                report.Command(line, EHook::NotCommand, now);
                line.clear();
            }
        }
    }
    return 0;
}
