// The modemswitch program as scripts meet it: exit codes, what it prints,
// and the bytes at the far end of a pseudo-terminal, with their times.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/program.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

class ProgramTest : public TServiceDirTest {};

TEST_F(ProgramTest, UsageErrorsAndNoDaemonHaveTheirCodes) {
    const struct {
        Args Line;
        int Code;
    } cases[] = {
        {{"--version"}, 0},
        {{"--help"}, 0},
        {{"daemon", "--help"}, 0},
        {{"daemon", "--port", "1", "-h"}, 0},
        {{"pulse", "--help"}, 0},
        {{"is-on", "--help"}, 0},
        {{}, 64},
        {{"frobnicate"}, 64},
        {{"on", "--bogus"}, 64},
        {{"on", "--port", "x"}, 64},
        {{"on", "extra"}, 64},
        {{"pulse"}, 64},
        {{"pulse", "0"}, 64},
        {{"pulse", "-1"}, 64},
        {{"pulse", "1e3"}, 64},
        {{"pulse", "5", "6"}, 64},
        {{"is-on", "--json"}, 64},
        {{"daemon"}, 64},
        {{"daemon", "--port", "1", "--pulse", "-2"}, 64},
        {{"daemon", "--port", "1", "--pulse"}, 64},
        {{"daemon", "--port", "1", "--on-start", "maybe"}, 64},
        {{"daemon", "--port", "1", "--on-stop", "maybe"}, 64},
        {{"daemon", "--port", "1", "--json"}, 64},
        {{"daemon", "--port", "1", "--device", "relay"}, 64},
        {{"daemon", "--port", "1", "--channels", "2"}, 64},
        {{"daemon", "--port", "1", "--device", "lines", "--channels", "3"}, 64},
        {{"daemon", "--port", "1", "--device", "lcus", "--channels", "9"}, 64},
        {{"daemon", "--port", "1", "--device", "lcus", "--baud", "1234"}, 64},
        {{"daemon", "--port", "1", "--device", "lcus", "--modbus-unit", "2"}, 64},
        {{"daemon", "--port", "1", "--device", "modbus", "--modbus-unit", "248"}, 64},
        {{"daemon", "--port", "1", "--device", "modbus", "--channels", "8", "--modbus-first-coil", "65530"}, 64},
        {{"on", "--switch", "0"}, 64},
        {{"on", "--switch", "x"}, 64},
        {{"on", "--all"}, 64},
        {{"watch", "--switch", "2"}, 64},
        {{"status", "--all", "--switch", "2"}, 64},
        {{"daemon", "--port", "1", "--switch", "2"}, 64},
        {{"status", "--socket", "/nonexistent/sock"}, 69},
        {{"on", "--socket", "/nonexistent/sock"}, 69},
        {{"pulse", "3", "--socket", "/nonexistent/sock"}, 69},
        {{"is-on", "--socket", "/nonexistent/sock"}, 4},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& a : c.Line) line += a + " ";
        const TRun run = RunProgram(c.Line);
        EXPECT_EQ(run.Code, c.Code) << line << "\n" << run.Err;
        if (c.Code == 64) {
            EXPECT_NE(run.Err.find("modemswitch: "), std::string::npos) << line;
        }
    }
    EXPECT_EQ(RunProgram({"--version"}).Out, "modemswitch 1.0.0\n");
    const std::string help = RunProgram({"--help"}).Out;
    for (const char* code : {" 0 ", " 3 ", " 4 ", "64 ", "69 ", "74 ", "75 ", "77 ", "78 "})
        EXPECT_NE(help.find(code), std::string::npos) << "--help documents exit code" << code;
    EXPECT_EQ(RunProgram({"daemon", "--help"}).Out, help) << "every verb's --help is the help";
}

TEST_F(ProgramTest, EveryVerbSwitchesAsTheButtonDoes) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    EXPECT_EQ(modem.Commands(), "ATH") << "the start makes the state known";
    EXPECT_EQ(Client({"status"}).Out, "off " + port + "\n");
    EXPECT_EQ(Client({"is-on"}).Code, 3);

    const struct {
        Args Line;
        int Code;
        const char* State;
        const char* Commands;  // everything at the modem so far
    } steps[] = {
        {{"on"}, 0, "on", "ATH ATH1"},
        {{"on"}, 0, "on", "ATH ATH1"},
        {{"pulse", "3"}, 75, "on", "ATH ATH1"},
        {{"off"}, 0, "off", "ATH ATH1 ATH"},
        {{"off"}, 0, "off", "ATH ATH1 ATH"},
        {{"toggle"}, 0, "on", "ATH ATH1 ATH ATH1"},
        {{"toggle", "--json"}, 0, "off", "ATH ATH1 ATH ATH1 ATH"},
    };
    for (const auto& s : steps) {
        std::string line;
        for (const std::string& a : s.Line) line += a + " ";
        const std::int64_t asked = SteadyMs();
        const std::size_t before = modem.Lines().size();
        const TRun run = Client(s.Line);
        EXPECT_EQ(run.Code, s.Code) << line << run.Err;
        EXPECT_EQ(modem.Commands(), s.Commands) << line;
        EXPECT_EQ(Client({"is-on"}).Code, std::string(s.State) == "on" ? 0 : 3) << line;
        if (s.Line.back() == "--json") {
            const auto reply = nlohmann::json::parse(run.Out);
            EXPECT_EQ(reply["state"], s.State);
            EXPECT_EQ(reply["code"], s.Code);
        } else if (s.Code == 0) {
            EXPECT_EQ(run.Out, std::string(s.State) + " " + port + "\n") << line;
        }
        // The steps of the switching: the command 200 ms after the toggle
        // at the earliest (a later switch-on 400 ms), the reply after it.
        const auto lines = modem.Lines();
        if (lines.size() > before) {
            EXPECT_GE(lines.back().AtMs - asked, 150) << line;
            EXPECT_LT(lines.back().AtMs - asked, 1500) << line;
        }
    }
}

TEST_F(ProgramTest, APulseSwitchesOffByItselfAndStatusCountsDown) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    ASSERT_EQ(Client({"pulse", "3"}).Code, 0);
    const auto status = Status();
    EXPECT_EQ(status["state"], "on");
    ASSERT_TRUE(status["pulse_remaining_s"].is_number());
    // 2.5 s at the switch-on report; the client's status comes a moment
    // later, longer on a loaded machine or a sanitized build.
    EXPECT_GT(status["pulse_remaining_s"].get<double>(), 1.5);
    EXPECT_LE(status["pulse_remaining_s"].get<double>(), 2.5);
    // Whole seconds, rounded up: 3 right after the switch-on, 2 on a slow machine.
    const std::string line = Client({"status"}).Out;
    EXPECT_TRUE(line.find(", pulse 3 s left") != std::string::npos || line.find(", pulse 2 s left") != std::string::npos)
        << line;
    ASSERT_TRUE(modem.WaitForLines(3, 4000));
    const auto lines = modem.Lines();
    EXPECT_EQ(modem.Commands(), "ATH ATH1 ATH");
    // On for N - 0.5 s, as the pulse field gives it.
    EXPECT_NEAR(static_cast<double>(lines[2].AtMs - lines[1].AtMs), 2500, 150);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Status()["state"], "off");
    EXPECT_TRUE(Status()["pulse_remaining_s"].is_null());
}

TEST_F(ProgramTest, StatusJsonHasEveryField) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs({"--on-start", "none"}), socket);
    auto s = Status();
    EXPECT_EQ(s["state"], "unknown");
    EXPECT_EQ(s["port"], port);
    EXPECT_EQ(s["available"], true);
    EXPECT_TRUE(s["since"].get<std::string>().ends_with("Z"));
    EXPECT_TRUE(s["pulse_remaining_s"].is_null());
    EXPECT_EQ(s["confirmed"], false);
    EXPECT_TRUE(s["last_error"].is_null());
    EXPECT_EQ(modem.Commands(), "") << "--on-start none writes nothing";
    EXPECT_EQ(Client({"is-on"}).Code, 4);
    ASSERT_EQ(Client({"on"}).Code, 0);
    s = Status();
    EXPECT_EQ(s["state"], "on");
    EXPECT_EQ(s["confirmed"], true);
}

TEST_F(ProgramTest, TheModemsAnswerCounts) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    modem.Mode = TModemStandIn::Error;
    TRun run = Client({"on"});
    EXPECT_EQ(run.Code, 74);
    EXPECT_NE(run.Err.find("ERROR"), std::string::npos) << run.Err;
    EXPECT_EQ(Status()["state"], "unknown");
    EXPECT_EQ(Client({"is-on"}).Code, 4);

    modem.Mode = TModemStandIn::Silent;
    const std::int64_t asked = SteadyMs();
    run = Client({"on"});
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_GE(SteadyMs() - asked, 1000) << "a second for the answer";
    EXPECT_EQ(Status()["confirmed"], false);
    EXPECT_EQ(Status()["state"], "on");

    modem.Mode = TModemStandIn::Ok;
    EXPECT_EQ(Client({"off"}).Code, 0);
    EXPECT_EQ(Status()["confirmed"], true);
}

TEST_F(ProgramTest, RequestsInVrIniToggleAndAreDeleted) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    WriteFile("vr.ini", "[znah]\r\np1=1\r\n");
    ASSERT_TRUE(modem.WaitForLines(2, 2500));
    EXPECT_EQ(modem.Commands(), "ATH ATH1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadFile("vr.ini").find("p1"), std::string::npos) << ReadFile("vr.ini");
    EXPECT_EQ(Client({"is-on"}).Code, 0);
}

TEST_F(ProgramTest, TheDefaultPulseComesFromTheProgramsSettings) {
    TModemStandIn modem(port);
    // "ыж" in Windows-1251: typed into the pulse field, not a number.
    WriteFile("com i dlit.ini", "[params]\r\np1=6\r\np2=\xFB\xE6\r\n");
    {
        TDaemon daemon(DaemonArgs(), socket);
        EXPECT_EQ(daemon.WaitExit(3000), 78);
        EXPECT_NE(daemon.Log().find("\"ыж\""), std::string::npos) << daemon.Log();
    }
    WriteFile("com i dlit.ini", "[params]\r\np1=6\r\np2=2\r\n");
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    ASSERT_EQ(Client({"on"}).Code, 0);
    EXPECT_TRUE(modem.WaitForLines(3, 3000)) << "a pulse of 2 s ends by itself";
}

TEST_F(ProgramTest, APortMissingOrVanishedComesBackWithoutARestart) {
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    EXPECT_EQ(Status()["available"], false);
    TRun run = Client({"on"});
    EXPECT_EQ(run.Code, 69);
    EXPECT_NE(run.Err.find("COM-порт указан неверно. Нажмите \"Сброс\" и введите другой порт."), std::string::npos)
        << run.Err;

    TModemStandIn modem(port);
    EXPECT_EQ(Status()["available"], true);
    ASSERT_EQ(Client({"on"}).Code, 0);
    EXPECT_EQ(modem.Commands(), "ATH1");

    modem.Unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto s = Status();
    EXPECT_EQ(s["state"], "unknown");
    EXPECT_EQ(s["available"], false);
    EXPECT_TRUE(s["last_error"].is_string());
    EXPECT_EQ(Client({"off"}).Code, 69);

    modem.Plug();
    EXPECT_EQ(Client({"off"}).Code, 0);
    EXPECT_EQ(Client({"on"}).Code, 0);
    EXPECT_EQ(modem.Commands(), "ATH1 ATH ATH1");
    EXPECT_TRUE(daemon.Running());
}

TEST_F(ProgramTest, ASecondDaemonOnTheSamePortGetsBusy) {
    TModemStandIn modem(port);
    TDaemon first(DaemonArgs(), socket);
    ASSERT_TRUE(modem.WaitForLines(1, 1000));
    ASSERT_EQ(Client({"on"}).Code, 0);

    const std::string otherSocket = (dir / "other").string();
    TDaemon second(DaemonArgs(), otherSocket);
    ASSERT_TRUE(second.Running()) << second.Log();
    const TRun run = RunProgram({"off", "--socket", otherSocket});
    EXPECT_EQ(run.Code, 75) << run.Err;
    EXPECT_NE(run.Err.find("held by another process"), std::string::npos) << run.Err;
    EXPECT_EQ(modem.Commands(), "ATH ATH1") << "the holder's lock is never broken";
    EXPECT_EQ(Client({"off"}).Code, 0);

    // And a second daemon on the same socket does not start.
    TDaemon third(DaemonArgs(), socket);
    EXPECT_EQ(third.WaitExit(2000), 75);
}

TEST_F(ProgramTest, SignalsEndItAsAsked) {
    const struct {
        Args More;
        int Signal;
        const char* Commands;  // at the modem after on and the signal
    } cases[] = {
        {{}, SIGTERM, "ATH ATH1"},
        {{"--on-stop", "keep"}, SIGINT, "ATH ATH1"},
        {{"--on-stop", "off"}, SIGTERM, "ATH ATH1 ATH"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Commands);
        TModemStandIn modem(port);
        TDaemon daemon(DaemonArgs(c.More), socket);
        ASSERT_TRUE(modem.WaitForLines(1, 1000));
        ASSERT_EQ(Client({"on"}).Code, 0);
        kill(daemon.Pid, SIGHUP);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(daemon.Running()) << "SIGHUP does not end it";
        const std::int64_t sent = SteadyMs();
        EXPECT_EQ(daemon.Stop(c.Signal, 1000), 0);
        EXPECT_LT(SteadyMs() - sent, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(modem.Commands(), c.Commands);
        EXPECT_FALSE(fs::exists(socket)) << "the socket goes with the daemon";
    }
}

TEST_F(ProgramTest, PermissionDeniedNamesTheGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    TModemStandIn modem(port);
    chmod(modem.TerminalPath().c_str(), 0600);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // A copy the user can reach: the build tree may lie in a private folder.
    const fs::path program = dir / "modemswitch";
    fs::copy_file(ProgramPath(), program);
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    // The socket in a directory of the daemon's user, as the unit's runtime directory is.
    const fs::path run_dir = dir / "run";
    fs::create_directory(run_dir);
    ASSERT_EQ(chown(run_dir.c_str(), 65534, 65534), 0);
    socket = (run_dir / "sock").string();
    TDaemon daemon(DaemonArgs(), socket, 65534, program.string());  // nobody
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    const TRun run = Client({"on"});
    EXPECT_EQ(run.Code, 77) << run.Err;
    EXPECT_NE(run.Err.find("join the group"), std::string::npos) << run.Err;
    EXPECT_EQ(modem.Commands(), "");
}

TEST_F(ProgramTest, AMalformedMessageGetsAnErrorAndTheDaemonGoesOn) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    for (const std::string& message : std::vector<std::string>{"hello\n", "{\"verb\":\"explode\"}\n", "{\"verb\":\"pulse\",\"seconds\":\"-1\"}\n",
                                      "[1,2]\n", std::string(5000, 'x')}) {
        const int fd = ConnectUnix(socket);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, message.data(), message.size()), static_cast<ssize_t>(message.size()));
        EXPECT_EQ(ReplyCode(fd, 3000), 64) << message.substr(0, 40);
        close(fd);
    }
    EXPECT_EQ(Client({"status"}).Code, 0);
    EXPECT_TRUE(daemon.Running());
}

}  // namespace

namespace {

TEST_F(ProgramTest, TellsSystemdItIsReadyAndItsLoopTurns) {
    // systemd's side of the notify socket: a datagram socket the daemon is pointed at.
    const std::string notify = (dir / "notify").string();
    const int fd = BindUnix(notify, SOCK_DGRAM);
    ASSERT_GE(fd, 0);
    setenv("NOTIFY_SOCKET", notify.c_str(), 1);
    setenv("WATCHDOG_USEC", "400000", 1);
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    daemon.Stop(SIGTERM);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) said += std::string(buffer, n) + "|";
    close(fd);
    EXPECT_NE(said.find("READY=1"), std::string::npos) << said;
    EXPECT_NE(said.find("STOPPING=1"), std::string::npos) << said;
    std::size_t pings = 0;
    for (std::size_t at = 0; (at = said.find("WATCHDOG=1", at)) != std::string::npos; ++at) ++pings;
    EXPECT_GE(pings, 3u) << "a ping at least every 400 ms: " << said;
}

}  // namespace
