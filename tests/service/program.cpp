#include "tests/service/program.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <termios.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TModemStandIn::TModemStandIn(std::string link) : Link(std::move(link)) {
    Plug();
    reader_ = std::thread([this] { Run(); });
}

TModemStandIn::~TModemStandIn() {
    stop_ = true;
    reader_.join();
    Unplug();
}

void TModemStandIn::Plug() {
    std::lock_guard lock(mutex_);
    int slave = -1;
    char name[128];
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    // A process started now (the daemon) must not keep the far end open:
    // unplugging closes it.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    close(slave);
    slaveName_ = name;
    unlink(Link.c_str());
    symlink(name, Link.c_str());
}

void TModemStandIn::Unplug() {
    std::lock_guard lock(mutex_);
    unlink(Link.c_str());
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void TModemStandIn::Run() {
    std::string partial;
    while (!stop_) {
        int fd;
        {
            std::lock_guard lock(mutex_);
            fd = master_;
        }
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buffer[256];
        std::lock_guard lock(mutex_);
        if (master_ != fd) continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) continue;
        partial.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = partial.find('\r')) != std::string::npos; partial.erase(0, end + 1)) {
            const std::string line = partial.substr(0, end);
            lines_.push_back({SteadyMs(), line});
            std::string reply = line + "\r";
            std::string answer = Mode == Ok ? "\r\nOK\r\n" : Mode == Error ? "\r\nERROR\r\n" : "";
            if (AnswerDelayMs > 0 && !answer.empty()) {
                [[maybe_unused]] const ssize_t w = write(fd, reply.data(), reply.size());
                reply.clear();
                std::this_thread::sleep_for(std::chrono::milliseconds(AnswerDelayMs));
            }
            reply += answer;
            [[maybe_unused]] const ssize_t w = write(fd, reply.data(), reply.size());
        }
    }
}

std::vector<TModemStandIn::TLine> TModemStandIn::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string TModemStandIn::Commands() const {
    std::string all;
    for (const TLine& line : Lines()) all += (all.empty() ? "" : " ") + line.Text;
    return all;
}

bool TModemStandIn::WaitForLines(std::size_t count, int ms) const {
    const std::int64_t end = SteadyMs() + ms;
    while (Lines().size() < count) {
        if (SteadyMs() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

}  // namespace

int ConnectUnix(const std::string& path, bool nonBlocking) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    const sockaddr_un address = UnixAddress(path);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

int BindUnix(const std::string& path, int type) {
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    const sockaddr_un address = UnixAddress(path);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(fd, 8) != 0)) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

std::optional<int> ReplyCode(int fd, int ms) {
    std::string text;
    const std::int64_t end = SteadyMs() + ms;
    while (text.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const std::int64_t left = end - SteadyMs();
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const nlohmann::json reply = nlohmann::json::parse(text.substr(0, text.find('\n')), nullptr, false);
    if (!reply.is_object() || !reply.contains("code") || !reply["code"].is_number_integer()) return std::nullopt;
    return reply["code"].get<int>();
}

std::string ProgramPath() {
    const char* other = std::getenv("MODEMSWITCH_TEST_PROGRAM");
    return other != nullptr && *other != '\0' ? other : MODEMSWITCH_PROGRAM;
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempName(const char* what) {
    static int n = 0;
    return "/tmp/modemswitch-test-" + std::to_string(getpid()) + "-" + std::to_string(++n) + "." + what;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err, uid_t asUser,
            std::string program = ProgramPath()) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(o, 1);
    dup2(e, 2);
    if (asUser != 0 && (setgroups(0, nullptr) != 0 || setgid(asUser) != 0 || setuid(asUser) != 0)) _exit(126);
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int WaitFor(pid_t pid, int ms) {
    const std::int64_t end = SteadyMs() + ms;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (SteadyMs() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

TRun RunProgram(const std::vector<std::string>& args) { return RunCommand(ProgramPath(), args); }

TRun RunCommand(const std::string& program, const std::vector<std::string>& args) {
    const std::string out = TempName("out"), err = TempName("err");
    const pid_t pid = Spawn(args, out, err, 0, program);
    TRun run;
    run.Code = WaitFor(pid, 60000);
    run.Out = ReadFile(out);
    run.Err = ReadFile(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return run;
}

TDaemon::TDaemon(std::vector<std::string> args, std::string socket, uid_t asUser, std::string program)
    : Socket(std::move(socket)) {
    logPath_ = TempName("log");
    args.insert(args.begin(), "daemon");
    args.push_back("--socket");
    args.push_back(Socket);
    Pid = Spawn(args, "/dev/null", logPath_, asUser, std::move(program));
    const std::int64_t end = SteadyMs() + 5000;
    while (SteadyMs() < end && Running()) {
        if (access(Socket.c_str(), F_OK) == 0 && RunProgram({"status", "--socket", Socket}).Code == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TDaemon::~TDaemon() {
    if (Pid > 0 && code_ < 0) Stop(SIGKILL);
    unlink(logPath_.c_str());
}

bool TDaemon::Running() {
    if (code_ >= 0) return false;
    code_ = WaitFor(Pid, 0);
    return code_ < 0;
}

int TDaemon::Stop(int signal, int ms) {
    if (code_ >= 0) return code_;
    kill(Pid, signal);
    return WaitExit(ms);
}

int TDaemon::WaitExit(int ms) {
    if (code_ < 0) code_ = WaitFor(Pid, ms);
    return code_;
}

std::string TDaemon::Log() const { return ReadFile(logPath_); }

void TServiceDirTest::SetUp() {
    dir = std::filesystem::temp_directory_path() /
          ("modemswitch-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    socket = (dir / "sock").string();
    port = (dir / "modem").string();
}

TRun TServiceDirTest::Client(Args args) {
    args.push_back("--socket");
    args.push_back(socket);
    return RunProgram(args);
}

nlohmann::json TServiceDirTest::Status() { return nlohmann::json::parse(Client({"status", "--json"}).Out, nullptr, false); }

void TServiceDirTest::WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string TServiceDirTest::ReadFile(const std::filesystem::path& path) const {
    return ::ReadFile((path.is_absolute() ? path : dir / path).string());
}

TServiceDirTest::Args TServiceDirTest::DaemonArgs(Args more) {
    Args args{"--port", port, "--dir", dir.string()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}
