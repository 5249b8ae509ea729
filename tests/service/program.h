#pragma once
// The real modemswitch program as a script drives it: a daemon process on a
// pseudo-terminal whose far end is a modem stand-in, and client commands
// run to their exit code.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

std::int64_t SteadyMs();
// The program under test: the one built beside the tests, or another build
// named by MODEMSWITCH_TEST_PROGRAM (to watch a test fail on an older one).
std::string ProgramPath();

// The far end of the cable: echoes every command line and answers "OK"
// (or "ERROR", or nothing); each line is kept with the time it came.
class TModemStandIn {
public:
    enum TMode { Ok, Error, Silent };
    // The port appears as the link `link` to the terminal.
    explicit TModemStandIn(std::string link);
    ~TModemStandIn();

    std::atomic<TMode> Mode{Ok};
    std::atomic<int> AnswerDelayMs{0};  // a slow modem: the echo at once, the answer this much later
    struct TLine {
        std::int64_t AtMs;
        std::string Text;  // without the "\r"
    };
    std::vector<TLine> Lines() const;
    std::string Commands() const;  // "ATH ATH1 ATH"
    // Waits up to `ms` for `count` lines in all.
    bool WaitForLines(std::size_t count, int ms) const;
    // Unplugged: the terminal goes and the link with it. Plugged: both back
    // (a new terminal, as a USB adapter gets).
    void Unplug();
    void Plug();
    std::string TerminalPath() const { return slaveName_; }
    const std::string Link;

private:
    void Run();
    int master_ = -1;
    std::string slaveName_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<TLine> lines_;
};

// A Unix socket at `path` as a client connects to it (-1 when refused), or
// as a server binds it, listening when it is a stream (-1 when it cannot).
int ConnectUnix(const std::string& path, bool nonBlocking = false);
int BindUnix(const std::string& path, int type);
// The code of the reply line that comes on `fd` within `ms`; nullopt for
// none, or for a line that is no reply.
std::optional<int> ReplyCode(int fd, int ms);

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

// Runs the program with `args` to its end.
TRun RunProgram(const std::vector<std::string>& args);
// Runs another program (a path) with `args` to its end.
TRun RunCommand(const std::string& program, const std::vector<std::string>& args);

class TDaemon {
public:
    // Starts `modemswitch daemon ARGS --socket SOCKET`; `asUser` (a uid)
    // drops root first, and `program` is then a copy that user may run.
    // Waits until the socket answers, or the daemon ends.
    TDaemon(std::vector<std::string> args, std::string socket, uid_t asUser = 0,
            std::string program = ProgramPath());
    ~TDaemon();
    bool Running();
    // The exit code once it ended within `ms` (after `signal` when given), -1 if it did not.
    int Stop(int signal, int ms = 2000);
    int WaitExit(int ms);
    std::string Log() const;  // its stderr
    const std::string Socket;
    pid_t Pid = -1;

private:
    std::string logPath_;
    int code_ = -1;
};

// A test with a folder of its own: the port's link, the socket and the
// daemon's --dir all live there.
class TServiceDirTest : public ::testing::Test {
protected:
    using Args = std::vector<std::string>;
    void SetUp() override;
    void TearDown() override { std::filesystem::remove_all(dir); }
    // The verb's run against this test's socket.
    TRun Client(Args args);
    // --port and --dir of this test, then `more`.
    Args DaemonArgs(Args more = {});
    // `status --json` as the client prints it; discarded when it is no JSON.
    nlohmann::json Status();
    // A file in this test's folder (a relative path), or anywhere.
    void WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::filesystem::path& path) const;

    std::filesystem::path dir;
    std::string socket, port;
};
