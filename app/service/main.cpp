// modemswitch: the switching of the Windows utility as a Linux service and
// its command line.
#include <cstdio>
#include <string>

#include "app/service/run.h"

#ifndef MODEMSWITCH_VERSION
#define MODEMSWITCH_VERSION "0"
#endif

int main(int argc, char** argv) {
    TCommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) {
        std::fprintf(stderr, "modemswitch: %s\nTry 'modemswitch --help'.\n", error.c_str());
        return exitUsage;
    }
    switch (line.Mode) {
        case TCommandLine::Help: std::fputs(UsageText().c_str(), stdout); return exitOk;
        case TCommandLine::Version: std::printf("modemswitch %s\n", MODEMSWITCH_VERSION); return exitOk;
        case TCommandLine::Daemon: return RunDaemon(line);
        default: return RunClient(line);
    }
}
