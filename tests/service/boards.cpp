#include "tests/service/boards.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string Simulator(const std::string& name) { return std::string(MODEMSWITCH_SIMULATORS) + "/" + name; }

}  // namespace

std::string TDeviceStandIn::Switches() const {
    std::string text;
    for (const TDeviceEvent& e : Events()) {
        if (e.What == "READ" || e.What == "STATUS" || e.What == "-") continue;
        text += (text.empty() ? "" : " ") + e.What;
    }
    return text;
}

bool TDeviceStandIn::WaitForSwitches(std::size_t count, int ms) const {
    const std::int64_t end = SteadyMs() + ms;
    for (;;) {
        std::size_t n = 0;
        for (const TDeviceEvent& e : Events()) n += e.What != "READ" && e.What != "STATUS" && e.What != "-";
        if (n >= count) return true;
        if (SteadyMs() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TBoardStandIn::TBoardStandIn(std::string program, std::string link, std::vector<std::string> args)
    : program_(Simulator(program)), link_(std::move(link)), log_(link_ + ".log"), args_(std::move(args)) {
    Plug();
}

TBoardStandIn::~TBoardStandIn() {
    Unplug();
    unlink(log_.c_str());
}

void TBoardStandIn::Plug() {
    if (pid_ > 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<std::string> args = {program_, "--link", link_, "--log", log_, "--quiet"};
        args.insert(args.end(), args_.begin(), args_.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    struct stat st;
    for (int i = 0; i < 500 && lstat(link_.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TBoardStandIn::Unplug() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::vector<TDeviceEvent> TBoardStandIn::Events() const {
    std::vector<TDeviceEvent> events;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TDeviceEvent e;
        if (fields >> e.AtMs >> e.Hex >> e.What) events.push_back(e);
    }
    return events;
}

TLineStandIn::TLineStandIn(std::string link) : File(link + ".lines"), modem_(std::move(link)) {
    modem_.Mode = TModemStandIn::Silent;
}

TLineStandIn::~TLineStandIn() {
    unlink(File.c_str());
    unlink((File + ".stuck").c_str());
}

void TLineStandIn::Stick(bool stuck) {
    if (stuck)
        std::ofstream(File + ".stuck") << "";
    else
        unlink((File + ".stuck").c_str());
}

std::vector<TDeviceEvent> TLineStandIn::Events() const {
    std::vector<TDeviceEvent> events;
    std::ifstream in(File);
    TDeviceEvent e;
    int bits = 0;
    while (in >> e.AtMs >> bits) {
        e.What = std::string("DTR:") + ((bits & TIOCM_DTR) ? "ON" : "OFF") + " RTS:" + ((bits & TIOCM_RTS) ? "ON" : "OFF");
        events.push_back(e);
    }
    return events;
}

std::vector<std::pair<std::string, std::string>> LinesEnvironment(const TLineStandIn& lines) {
    std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
    // The shim comes before a sanitizer's runtime in the daemon.
    asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    return {{"LD_PRELOAD", MODEMSWITCH_LINES_SHIM}, {"MODEMSWITCH_TEST_LINES", lines.File}, {"ASAN_OPTIONS", asan}};
}

TScopedEnvironment::TScopedEnvironment(std::vector<std::pair<std::string, std::string>> variables) {
    for (const auto& [name, value] : variables) {
        const char* old = std::getenv(name.c_str());
        had_.push_back(old != nullptr);
        saved_.emplace_back(name, old != nullptr ? old : "");
        setenv(name.c_str(), value.c_str(), 1);
    }
}

TScopedEnvironment::~TScopedEnvironment() {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
        if (had_[i])
            setenv(saved_[i].first.c_str(), saved_[i].second.c_str(), 1);
        else
            unsetenv(saved_[i].first.c_str());
    }
}
