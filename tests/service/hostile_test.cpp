// The daemon as a flaky modem, a careless script or another user on the
// same machine meets it: it never dies, never switches by itself, never
// stalls, and never reports a failure as success.

#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/program.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Args = std::vector<std::string>;

class HostileTest : public TServiceDirTest {
protected:
    // Bytes the process has read so far.
    static long ReadBytes(pid_t pid) {
        std::ifstream io("/proc/" + std::to_string(pid) + "/io");
        for (std::string key; io >> key;) {
            long value = 0;
            io >> value;
            if (key == "rchar:") return value;
        }
        return -1;
    }
};

TEST_F(HostileTest, AnAnswerThatStartsTheNextRequestNeverCrashesIt) {
    // A slow modem answers the start-up's or an off's "ATH" while the next
    // request is about to open the port.
    const struct {
        const char* Name;
        Args Start;
        bool OffFirst;
    } cases[] = {
        {"on right after the start", {}, false},
        {"off then on, state unknown", {"--on-start", "none"}, true},
    };
    for (const auto& c : cases) {
        TModemStandIn modem(port);
        modem.AnswerDelayMs = 300;
        TDaemon daemon(DaemonArgs(c.Start), socket);
        ASSERT_TRUE(daemon.Running()) << c.Name << daemon.Log();
        std::future<TRun> off;
        if (c.OffFirst) {
            off = std::async(std::launch::async, [&] { return Client({"off"}); });
            // The on goes while the modem holds back its answer to the off.
            ASSERT_TRUE(modem.WaitForLines(1, 3000)) << c.Name;
        }
        const TRun on = Client({"on"});
        if (c.OffFirst) {
            EXPECT_EQ(off.get().Code, 0) << c.Name;
        }
        EXPECT_EQ(on.Code, 0) << c.Name << on.Err;
        EXPECT_TRUE(daemon.Running()) << c.Name << " died: " << daemon.Log();
        EXPECT_EQ(modem.Commands(), "ATH ATH1") << c.Name;
        EXPECT_EQ(Status()["state"], "on") << c.Name;
    }
}

TEST_F(HostileTest, ARequestThatCannotBeDeletedIsObeyedOnce) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 2000));
    WriteFile("vr.ini", "[znah]\r\np1=1\r\n");
    fs::permissions(dir / "vr.ini", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(modem.Commands(), "ATH ATH1") << "one request, one toggle";
    const json status = Status();
    ASSERT_TRUE(status["last_error"].is_string()) << status.dump();
    EXPECT_NE(status["last_error"].get<std::string>().find("vr.ini"), std::string::npos) << status.dump();
    const std::string log = daemon.Log();
    EXPECT_EQ(log.find("cannot rewrite"), log.rfind("cannot rewrite")) << "said once:\n" << log;

    // Changed by its owner: a new request, obeyed and deleted.
    fs::permissions(dir / "vr.ini", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile("vr.ini", "[znah]\r\np1=2\r\n");
    ASSERT_TRUE(modem.WaitForLines(3, 2500));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(modem.Commands(), "ATH ATH1 ATH");
    EXPECT_EQ(ReadFile(dir / "vr.ini").find("p1"), std::string::npos);
    EXPECT_TRUE(Status()["last_error"].is_null());
}

TEST_F(HostileTest, AStopKeepsAPulsesPromiseAndSaysWhenItCannot) {
    const struct {
        const char* Name;
        Args Start;
        bool Pulse, Unplug;
        int Code;
        const char* Commands;
    } cases[] = {
        {"stop during a pulse", {}, true, false, 0, "ATH ATH1 ATH"},
        {"stop during a pulse, told to keep", {"--on-stop", "keep"}, true, false, 0, "ATH ATH1 ATH"},
        {"stop while on, kept", {}, false, false, 0, "ATH ATH1"},
        {"off at the stop, port gone", {"--on-stop", "off"}, false, true, 74, "ATH ATH1"},
    };
    for (const auto& c : cases) {
        TModemStandIn modem(port);
        TDaemon daemon(DaemonArgs(c.Start), socket);
        ASSERT_EQ(Client(c.Pulse ? Args{"pulse", "60"} : Args{"on"}).Code, 0) << c.Name;
        if (c.Unplug) {
            modem.Unplug();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(daemon.Stop(SIGTERM), c.Code) << c.Name << daemon.Log();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(modem.Commands(), c.Commands) << c.Name;
    }
}

TEST_F(HostileTest, RequestFilesThatAreNoPlainFileAreIgnoredWithoutAStall) {
    const std::string target = (dir / "target.ini").string();
    const struct {
        const char* Name;
        std::function<void()> Make;
    } cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(mkfifo((dir / "vr.ini").c_str(), 0666), 0); }},
        {"a link to a request",
         [&] {
             WriteFile("target.ini", "[znah]\r\np1=1\r\n");
             fs::create_symlink(target, dir / "vr.ini");
         }},
        {"a 2 MB request", [&] { WriteFile("vr.ini", "[znah]\r\np1=1\r\n" + std::string(2 << 20, ';')); }},
        {"a directory", [&] { fs::create_directory(dir / "vr.ini"); }},
    };
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 2000));
    for (const auto& c : cases) {
        c.Make();
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));  // a poll or two
        const std::int64_t asked = SteadyMs();
        EXPECT_EQ(Client({"status"}).Code, 0) << c.Name;
        EXPECT_LT(SteadyMs() - asked, 1000) << c.Name << ": the loop stalled";
        EXPECT_EQ(modem.Commands(), "ATH") << c.Name << ": nothing switched";
        EXPECT_TRUE(Status()["last_error"].is_string()) << c.Name;
        if (fs::is_symlink(dir / "vr.ini")) {
            EXPECT_EQ(ReadFile(target), "[znah]\r\np1=1\r\n") << "never written through";
        }
        fs::remove_all(dir / "vr.ini");
    }
    EXPECT_TRUE(daemon.Running());
}

TEST_F(HostileTest, AFileThatDidNotChangeIsReadOnce) {
    WriteFile("vr.ini", "[other]\r\nx=" + std::string(50000, 'x') + "\r\n");
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const long before = ReadBytes(daemon.Pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_LT(ReadBytes(daemon.Pid) - before, 20000) << "three polls of an unchanged 50 KB file";
}

TEST_F(HostileTest, AClientThatHalfClosesGetsItsReply) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    for (const std::string& request : std::vector<std::string>{"{\"verb\":\"on\"}\n", "{\"verb\":\"status\"}"}) {
        const int fd = ConnectUnix(socket);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        shutdown(fd, SHUT_WR);
        EXPECT_EQ(ReplyCode(fd, 3000), 0) << request;
        close(fd);
    }
    EXPECT_EQ(modem.Commands(), "ATH ATH1");
}

TEST_F(HostileTest, IdleConnectionsLockNobodyOut) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    const group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    // Another user in the socket's group opens 100 connections and sends nothing.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        const gid_t groups[] = {dialout->gr_gid};
        if (setgroups(1, groups) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        std::vector<int> fds;
        for (int i = 0; i < 100; ++i) fds.push_back(ConnectUnix(socket));
        int refused = 0, busy = 0, late = 0;
        for (int fd : fds) {
            if (fd < 0) ++refused;
            else if (ReplyCode(fd, 100) == 75) ++busy;
        }
        // The rest are answered at their deadline.
        const std::int64_t end = SteadyMs() + 8000;
        for (int fd : fds)
            if (fd >= 0 && ReplyCode(fd, static_cast<int>(std::max<std::int64_t>(1, end - SteadyMs()))) == 64) ++late;
        const std::string line = std::to_string(refused) + " " + std::to_string(busy) + " " + std::to_string(late);
        if (write(report[1], line.data(), line.size()) < 0) _exit(2);
        _exit(0);
    }
    close(report[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::int64_t asked = SteadyMs();
    const TRun run = Client({"on"});
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_LT(SteadyMs() - asked, 2000);
    char text[64] = {};
    ASSERT_GT(read(report[0], text, sizeof text - 1), 0);
    close(report[0]);
    waitpid(child, nullptr, 0);
    int refused = -1, busy = -1, late = -1;
    std::sscanf(text, "%d %d %d", &refused, &busy, &late);
    EXPECT_EQ(refused, 0) << "never refused at the door";
    EXPECT_EQ(busy, 68) << "beyond one user's share: told busy";
    EXPECT_EQ(late, 32) << "no request line: answered at the deadline";
    EXPECT_TRUE(daemon.Running());
}

TEST_F(HostileTest, ABurstOfConnectionsWaitsInTheBacklog) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    for (int i = 0; i < 30; ++i) {
        const int fd = ConnectUnix(socket);
        if (fd >= 0) {
            if (write(fd, "garbage\n", 8) < 0) ADD_FAILURE();
            close(fd);
        }
    }
    std::vector<int> fds;
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        const int fd = ConnectUnix(socket, true);
        if (fd < 0) ++refused;
        else fds.push_back(fd);
    }
    EXPECT_EQ(refused, 0);
    for (int fd : fds) close(fd);
    EXPECT_EQ(Client({"status"}).Code, 0);
}

TEST_F(HostileTest, TheSocketPathIsTakenOnlyFromAStaleSocket) {
    TModemStandIn modem(port);
    {
        // A file that is no socket is never removed.
        WriteFile("sock", "mine");
        TDaemon daemon(DaemonArgs(), socket);
        EXPECT_EQ(daemon.WaitExit(2000), 64) << daemon.Log();
        EXPECT_EQ(ReadFile(socket), "mine");
        fs::remove(socket);
    }
    {
        // At its end the daemon removes only the socket it made.
        TDaemon daemon(DaemonArgs(), socket);
        ASSERT_TRUE(daemon.Running());
        fs::remove(socket);
        WriteFile("sock", "someone else's");
        EXPECT_EQ(daemon.Stop(SIGTERM), 0);
        EXPECT_EQ(ReadFile(socket), "someone else's");
        fs::remove(socket);
    }
    {
        // A stale socket of a daemon that died is taken over.
        TDaemon first(DaemonArgs(), socket);
        first.Stop(SIGKILL);
        ASSERT_TRUE(fs::exists(socket));
        TDaemon second(DaemonArgs(), socket);
        EXPECT_TRUE(second.Running()) << second.Log();
        EXPECT_EQ(Client({"status"}).Code, 0);
    }
}

TEST_F(HostileTest, TheFallbackSocketCannotBeSquatted) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
    if (fs::exists("/run/modemswitch")) GTEST_SKIP() << "a system daemon's directory is here";
    const std::string home = "/tmp/modemswitch-0";
    fs::remove_all(home);
    fs::remove(home + ".sock");
    // Another user is first: its directory, its socket, its lies.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        mkdir(home.c_str(), 0700);
        std::vector<int> listeners;
        for (const std::string& path : {home + "/modemswitch.sock", home + ".sock"})
            if (const int fd = BindUnix(path, SOCK_STREAM); fd >= 0) listeners.push_back(fd);
        if (write(ready[1], "x", 1) < 0) _exit(2);
        const std::string lie = R"({"code":0,"error":null,"status":{"state":"on","port":"x","available":true}})" "\n";
        for (;;) {
            std::vector<pollfd> p;
            for (int fd : listeners) p.push_back({fd, POLLIN, 0});
            if (poll(p.data(), p.size(), -1) <= 0) continue;
            for (const pollfd& one : p)
                if (one.revents & POLLIN) {
                    const int c = accept(one.fd, nullptr, nullptr);
                    if (write(c, lie.data(), lie.size()) < 0) {}
                    close(c);
                }
        }
    }
    char x;
    ASSERT_EQ(read(ready[0], &x, 1), 1);
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = xdg != nullptr ? xdg : "";
    unsetenv("XDG_RUNTIME_DIR");
    const TRun isOn = RunProgram({"is-on"});
    const TRun daemon = RunProgram({"daemon", "--port", port, "--dir", dir.string()});
    if (xdg != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    fs::remove_all(home);
    fs::remove(home + ".sock");
    EXPECT_EQ(isOn.Code, 4) << "the squatter is not believed: " << isOn.Err;
    EXPECT_EQ(daemon.Code, 77) << daemon.Err;
    EXPECT_NE(daemon.Err.find(home), std::string::npos) << daemon.Err;
}

TEST_F(HostileTest, ALongDeviceNameIsNoUsageError) {
    const std::string longName =
        (dir / "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0").string();
    TModemStandIn modem(longName);
    TDaemon daemon({"--port", longName, "--dir", dir.string()}, socket);
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    EXPECT_EQ(Client({"on"}).Code, 0);
}

}  // namespace

namespace {

TEST_F(HostileTest, AMalformedReplyMakesTheClientSayNoMore) {
    // Whatever answers on the socket, the client ends cleanly with its own codes.
    const struct {
        const char* Reply;
        int Code;
    } cases[] = {
        {R"({"code":0,"status":{"state":null,"available":"yes","confirmed":1}})", 0},
        {R"({"code":0,"error":7,"status":{"mqtt":{"connected":"x","last_reached":5}}})", 0},
        {R"({"code":99999999999,"status":{}})", 69},
        {R"({"code":-1,"status":{}})", 69},
        {R"([])", 69},
    };
    for (const auto& c : cases) {
        const int listener = BindUnix(socket, SOCK_STREAM);
        ASSERT_GE(listener, 0);
        std::thread server([&] {
            const int fd = accept(listener, nullptr, nullptr);
            const std::string line = std::string(c.Reply) + "\n";
            if (write(fd, line.data(), line.size()) < 0) ADD_FAILURE();
            close(fd);
        });
        const TRun run = Client({"status", "--json"});
        server.join();
        close(listener);
        fs::remove(socket);
        EXPECT_EQ(run.Code, c.Code) << c.Reply << "\n" << run.Err;
    }
}

}  // namespace
