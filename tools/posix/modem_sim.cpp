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

#include <string>
#include <string_view>

#include "sim_support.h"

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

}  // namespace

int main(int argc, char** argv) {
    sim::Program = "modem_sim";
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: modem_sim --link PATH [--log FILE] [--quiet] [--answer]\n");
        return 2;
    }
    sim::TTerminal terminal;
    if (!sim::OpenTerminal(options.Link, options.Log, options.Answer, "COM end", terminal)) return 1;

    sim::TReport report(options.Quiet, terminal.Log);
    static constexpr const char* Phrases[] = {"(no change)", "off-hook: device ON", "on-hook: device OFF", "not a command"};
    static constexpr const char* Words[] = {"-", "ON", "OFF", "-"};
    const auto command = [&](std::string_view bytes, EHook hook, const timespec& at) {
        report.Command(bytes, Phrases[static_cast<int>(hook)], Words[static_cast<int>(hook)], at);
    };
    std::string line;
    char buffer[256];
    ssize_t n = 0;
    while (sim::Read(terminal, buffer, sizeof buffer, n)) {
        const timespec now = sim::Now();
        for (ssize_t k = 0; k < n; ++k) {
            const char c = buffer[k];
            if (c == '\n') continue;  // a line feed after CR, as many programs send
            line += c;
            if (c == '\r') {
                const EHook hook = Interpret(std::string_view(line).substr(0, line.size() - 1));
                command(line, hook, now);
                if (options.Answer)
                    sim::Answer(terminal, line + (hook == EHook::NotCommand ? "\r\nERROR\r\n" : "\r\nOK\r\n"));
                line.clear();
            } else if (line.size() >= MaxLine) {
                command(line, EHook::NotCommand, now);
                line.clear();
            }
        }
    }
    return sim::stopSignal != 0 ? 0 : 1;
}
