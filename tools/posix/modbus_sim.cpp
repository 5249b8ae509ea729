// A stand-in for a Modbus RTU relay board on a pseudo-terminal, answered by
// libmodbus's own RTU server: write single coil (05) is echoed, read coils
// (01) answered, an address beyond the board's coils gets exception 02, and
// a request for another unit gets nothing.
//
//   modbus_sim --link PATH [--unit U] [--coils N] [--on 0,2] [--silent] [--log FILE] [--quiet]
//
//   --unit U     the board's address (1)
//   --coils N    its relays, coils 0 to N-1 (8)
//   --on LIST    coils on at start
//   --silent     take every request, answer none
//   --log FILE   "<ms since the epoch> <hex> COILc:ON|COILc:OFF|READ|-" per request
//
// Prints "modbus_sim: board end is PATH -> /dev/pts/N" once ready; runs
// until SIGINT, SIGTERM or SIGHUP.

#include <modbus/modbus.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "sim_support.h"

namespace {

struct TOptions {
    std::string Link, Log, On;
    int Unit = 1, Coils = 8;
    bool Silent = false, Quiet = false;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue) options.Link = argv[++i];
        else if (arg == "--log" && hasValue) options.Log = argv[++i];
        else if (arg == "--unit" && hasValue) options.Unit = std::atoi(argv[++i]);
        else if (arg == "--coils" && hasValue) options.Coils = std::atoi(argv[++i]);
        else if (arg == "--on" && hasValue) options.On = argv[++i];
        else if (arg == "--silent") options.Silent = true;
        else if (arg == "--quiet") options.Quiet = true;
        else return false;
    }
    return !options.Link.empty() && options.Unit >= 1 && options.Unit <= 247 && options.Coils >= 1 &&
           options.Coils <= 2000;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Program = "modbus_sim";
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: modbus_sim --link PATH [--unit U] [--coils N] [--on 0,2] [--silent] [--log FILE] [--quiet]\n");
        return 2;
    }
    sim::TTerminal terminal;
    if (!sim::OpenTerminal(options.Link, options.Log, false, "board end", terminal)) return 1;
    // The server works on the terminal's far end: no device of its own to open.
    const std::unique_ptr<modbus_t, decltype(&modbus_free)> context(modbus_new_rtu("/dev/null", 9600, 'N', 8, 1),
                                                                    &modbus_free);
    const std::unique_ptr<modbus_mapping_t, decltype(&modbus_mapping_free)> mapping(
        modbus_mapping_new(options.Coils, 0, 0, 0), &modbus_mapping_free);
    if (!context || !mapping || modbus_set_slave(context.get(), options.Unit) != 0 ||
        modbus_set_socket(context.get(), terminal.Master) != 0 ||
        // Back every 200 ms to look for a stop signal that came between two waits.
        modbus_set_indication_timeout(context.get(), 0, 200000) != 0) {
        sim::Fail(sim::Errno("cannot make the Modbus server"));
        return 1;
    }
    for (std::size_t at = 0; at < options.On.size(); ++at) {
        const int coil = std::atoi(options.On.c_str() + at);
        if (coil >= 0 && coil < options.Coils) mapping->tab_bits[coil] = 1;
        at = std::min(options.On.find(',', at), options.On.size());
    }

    sim::TReport report(options.Quiet, terminal.Log);
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, &terminal.WaitMask, &blocked);  // libmodbus waits in select: let the signals in
    while (sim::stopSignal == 0) {
        const int length = modbus_receive(context.get(), query);
        const timespec now = sim::Now();
        if (length < 0) {
            if (errno == EINTR || errno == EMBBADCRC || errno == ETIMEDOUT) continue;
            if (sim::stopSignal == 0) sim::Fail(sim::Errno("receive"));
            break;
        }
        if (length == 0) continue;  // for another unit
        const std::string_view bytes(reinterpret_cast<const char*>(query), static_cast<std::size_t>(length));
        const int function = query[1];
        const int address = (query[2] << 8) | query[3];
        std::string word = "-", phrase = "request";
        if (function == 0x05) {
            const bool on = query[4] == 0xFF;
            word = "COIL" + std::to_string(address) + (on ? ":ON" : ":OFF");
            phrase = "coil " + std::to_string(address) + (on ? " ON" : " OFF");
        } else if (function == 0x01) {
            word = "READ";
            phrase = "read coils from " + std::to_string(address);
        }
        report.Command(bytes, phrase, word, now);
        if (!options.Silent && modbus_reply(context.get(), query, length, mapping.get()) < 0 && sim::stopSignal == 0)
            sim::Fail(sim::Errno("reply"));
    }
    return sim::stopSignal != 0 ? 0 : 1;
}
