// Everything at once, at random: several clients asking, a modem that
// answers early, late, wrongly or not at all and is unplugged and plugged
// back, vr.ini rewritten, made a FIFO or a link, SIGHUP. The daemon never
// dies, the state it settles on is what the modem last heard, and its
// descriptors and memory stay flat. Six seconds by default;
// MODEMSWITCH_CHAOS_SECONDS=600 runs ten minutes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/program.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// AddressSanitizer keeps freed blocks in quarantine: the resident size of a
// build with it grows though nothing leaks (LeakSanitizer looks after that).
#if defined(__SANITIZE_ADDRESS__)
constexpr long ResidentSlackKiB = 16384;
#else
constexpr long ResidentSlackKiB = 1024;
#endif

int ChaosSeconds() {
    const char* text = std::getenv("MODEMSWITCH_CHAOS_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 6;
}

std::size_t OpenDescriptors(pid_t pid) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++n;
    return n;
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

class ChaosTest : public TServiceDirTest {};

TEST_F(ChaosTest, TheDaemonOutlastsEverythingAndKeepsItsWord) {
    TModemStandIn modem(port);
    TDaemon daemon(DaemonArgs(), socket);
    ASSERT_TRUE(daemon.Running()) << daemon.Log();
    // Warmed up: every path once before the figures are taken.
    ASSERT_EQ(Client({"on"}).Code, 0);
    ASSERT_EQ(Client({"off"}).Code, 0);
    const std::size_t descriptors = OpenDescriptors(daemon.Pid);
    const long resident = ResidentKiB(daemon.Pid);

    const std::int64_t end = SteadyMs() + ChaosSeconds() * 1000;
    std::atomic<int> asked{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 random(1000 + c);
            const std::vector<std::vector<std::string>> verbs = {
                {"on"}, {"off"}, {"toggle"}, {"pulse", "2"}, {"status"}, {"status", "--json"}, {"is-on"}};
            while (SteadyMs() < end) {
                const TRun run = Client(verbs[random() % verbs.size()]);
                if (run.Code == 69 && run.Err.find("no daemon") != std::string::npos) ADD_FAILURE() << run.Err;
                ++asked;
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
            }
        });
    }
    std::mt19937 random(7);
    const fs::path request = dir / "vr.ini";
    int actions = 0;
    while (SteadyMs() < end) {
        switch (random() % 9) {
            case 0: modem.Mode = TModemStandIn::Ok; break;
            case 1: modem.Mode = TModemStandIn::Error; break;
            case 2: modem.Mode = TModemStandIn::Silent; break;
            case 3: modem.AnswerDelayMs = static_cast<int>(random() % 1500); break;
            case 4:
                modem.Unplug();
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 500));
                modem.Plug();
                break;
            case 5:
                fs::remove_all(request);
                std::ofstream(request, std::ios::binary) << "[znah]\r\np1=1\r\n";
                break;
            case 6:
                fs::remove_all(request);
                mkfifo(request.c_str(), 0666);
                break;
            case 7:
                fs::remove_all(request);
                fs::create_symlink("/proc/self/mem", request);
                break;
            case 8: kill(daemon.Pid, SIGHUP); break;
        }
        ++actions;
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
    }
    for (std::thread& t : clients) t.join();
    ASSERT_TRUE(daemon.Running()) << "died after " << actions << " faults and " << asked << " requests\n" << daemon.Log();

    // Calm again: a modem that answers at once, no request file.
    fs::remove_all(request);
    modem.Mode = TModemStandIn::Ok;
    modem.AnswerDelayMs = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // the latest answer, then a pulse's end
    const json settled = json::parse(Client({"status", "--json"}).Out, nullptr, false);
    ASSERT_TRUE(settled.is_object()) << "it stopped answering\n" << daemon.Log();
    const auto lines = modem.Lines();
    const std::string last = lines.empty() ? "" : lines.back().Text;
    const std::string state = settled["state"];
    EXPECT_EQ(state == "on" ? "ATH1" : state == "off" ? "ATH" : last, last) << settled.dump();
    // Whatever it went through, it switches as asked now.
    for (const char* verb : {"on", "off"}) {
        const TRun run = Client({verb});
        EXPECT_EQ(run.Code, 0) << verb << ": " << run.Err;
        EXPECT_EQ(modem.Lines().back().Text, verb == std::string("on") ? "ATH1" : "ATH") << daemon.Log();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    EXPECT_EQ(json::parse(Client({"status", "--json"}).Out, nullptr, false).value("state", ""), "off");
    EXPECT_LE(OpenDescriptors(daemon.Pid), descriptors + 1) << "descriptors flat";
    EXPECT_LE(ResidentKiB(daemon.Pid), resident + ResidentSlackKiB) << "memory flat";
    EXPECT_GT(asked, 10);
}

}  // namespace
