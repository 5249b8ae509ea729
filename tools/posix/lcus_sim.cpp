// A stand-in for a CH340 USB relay board ("LCUS-1/2/4/8") on a
// pseudo-terminal: channel c switches on "A0 c 01 s" and off "A0 c 00 s"
// (s the low byte of the sum), and the status query 0xFF is answered with a
// line per channel, "CH1: ON" or "CH1: OFF", as the boards that answer do.
//
//   lcus_sim --link PATH [--channels N] [--on 1,3] [--silent] [--log FILE] [--quiet]
//
//   --channels N  the board's relays, 1 to 8 (4)
//   --on LIST     relays on at start (a board keeps them across a re-plug)
//   --silent      never answer the query, as many one-channel boards do
//   --log FILE    "<ms since the epoch> <hex> CHc:ON|CHc:OFF|STATUS|-" per frame
//
// Prints "lcus_sim: board end is PATH -> /dev/pts/N" once ready; runs until
// SIGINT, SIGTERM or SIGHUP.

#include <string>
#include <vector>

#include "sim_support.h"

namespace {

struct TOptions {
    std::string Link, Log;
    int Channels = 4;
    std::vector<bool> On = std::vector<bool>(9, false);
    bool Silent = false, Quiet = false;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue) {
            options.Link = argv[++i];
        } else if (arg == "--log" && hasValue) {
            options.Log = argv[++i];
        } else if (arg == "--channels" && hasValue) {
            options.Channels = std::atoi(argv[++i]);
            if (options.Channels < 1 || options.Channels > 8) return false;
        } else if (arg == "--on" && hasValue) {
            for (const char* p = argv[++i]; *p != '\0'; ++p)
                if (*p >= '1' && *p <= '8') options.On[static_cast<std::size_t>(*p - '0')] = true;
        } else if (arg == "--silent") {
            options.Silent = true;
        } else if (arg == "--quiet") {
            options.Quiet = true;
        } else {
            return false;
        }
    }
    return !options.Link.empty();
}

}  // namespace

int main(int argc, char** argv) {
    sim::Program = "lcus_sim";
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: lcus_sim --link PATH [--channels N] [--on 1,3] [--silent] [--log FILE] [--quiet]\n");
        return 2;
    }
    sim::TTerminal terminal;
    if (!sim::OpenTerminal(options.Link, options.Log, true, "board end", terminal)) return 1;

    sim::TReport report(options.Quiet, terminal.Log);
    std::string frame;
    char buffer[256];
    ssize_t n = 0;
    while (sim::Read(terminal, buffer, sizeof buffer, n)) {
        const timespec now = sim::Now();
        for (ssize_t k = 0; k < n; ++k) {
            const auto byte = static_cast<unsigned char>(buffer[k]);
            if (frame.empty() && byte == 0xFF) {
                report.Command("\xFF", "status query", "STATUS", now);
                if (options.Silent) continue;
                std::string answer;
                for (int c = 1; c <= options.Channels; ++c)
                    answer += "CH" + std::to_string(c) + (options.On[static_cast<std::size_t>(c)] ? ": ON\r\n" : ": OFF\r\n");
                sim::Answer(terminal, answer);
                continue;
            }
            // A frame starts with A0; anything else between frames is noise.
            if (frame.empty() && byte != 0xA0) {
                report.Command(std::string(1, static_cast<char>(byte)), "noise", "-", now);
                continue;
            }
            frame += static_cast<char>(byte);
            if (frame.size() < 4) continue;
            const int channel = static_cast<unsigned char>(frame[1]);
            const int op = static_cast<unsigned char>(frame[2]);
            const int sum = static_cast<unsigned char>(frame[3]);
            if (sum != ((0xA0 + channel + op) & 0xFF) || op > 1 || channel < 1 || channel > options.Channels) {
                report.Command(frame, "not a command (ignored)", "-", now);
            } else {
                options.On[static_cast<std::size_t>(channel)] = op == 1;
                const std::string name = "CH" + std::to_string(channel);
                report.Command(frame, "relay " + std::to_string(channel) + (op ? " ON" : " OFF"), name + (op ? ":ON" : ":OFF"), now);
            }
            frame.clear();
        }
    }
    return sim::stopSignal != 0 ? 0 : 1;
}
