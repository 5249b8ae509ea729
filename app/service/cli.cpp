#include "app/service/cli.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "winlib/serial.h"

namespace {

enum : int { optPort = 1000, optPulse, optDir, optSocket, optOnStart, optOnStop, optJson };

bool IsNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

std::string DefaultSocketPath() {
    struct stat st;
    if (stat("/run/modemswitch", &st) == 0 && S_ISDIR(st.st_mode)) return "/run/modemswitch/modemswitch.sock";
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir == '/')
        return std::string(dir) + "/modemswitch.sock";
    return "/tmp/modemswitch-" + std::to_string(getuid()) + ".sock";
}

std::string DevicePathFor(const std::string& port) {
    long number = 0;
    if (IsNumber(port, number)) return SerialDevicePath(static_cast<std::int32_t>(number));
    if (port.starts_with('/')) return port;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return port;
    return std::string(cwd) + "/" + port;
}

std::string UsageText() {
    return "usage:\n"
           "  modemswitch daemon --port DEVICE [--pulse SECONDS] [--dir DIR] [--socket PATH]\n"
           "                     [--on-start off|none] [--on-stop keep|off]\n"
           "  modemswitch on | off | toggle   [--socket PATH] [--json]\n"
           "  modemswitch pulse SECONDS       [--socket PATH] [--json]\n"
           "  modemswitch status              [--socket PATH] [--json]\n"
           "  modemswitch is-on               [--socket PATH]\n"
           "  modemswitch --help | --version\n"
           "\n"
           "The daemon holds the modem's port (DEVICE: a path, or N for COM N) and\n"
           "switches the device: \"ATH1\" on, \"ATH\" off. It polls DIR/vr.ini for\n"
           "requests and takes the default pulse from \"p2\" of DIR/com i dlit.ini.\n"
           "Default socket: " + DefaultSocketPath() + "\n"
           "\n"
           "Exit codes:\n"
           "   0  done (is-on: on)\n"
           "   3  is-on: off\n"
           "   4  is-on: unknown, or no daemon\n"
           "  64  bad usage\n"
           "  69  no daemon reachable, or the port does not exist\n"
           "  74  the command could not be written, or the modem answered ERROR\n"
           "  75  the port is held by another process, or pulse while on\n"
           "  77  permission denied on the port\n"
           "  78  a bad setting in a file\n";
}

bool ParseCommandLine(int argc, char** argv, TCommandLine& line, std::string& error) {
    line = TCommandLine{};
    if (argc < 2) {
        error = "a verb is needed";
        return false;
    }
    const std::string verb = argv[1];
    if (verb == "--help" || verb == "-h" || verb == "help") {
        line.Mode = TCommandLine::Help;
        return argc == 2 || (error = "--help takes nothing more", false);
    }
    if (verb == "--version") {
        line.Mode = TCommandLine::Version;
        return argc == 2 || (error = "--version takes nothing more", false);
    }
    bool daemon = false;
    if (verb == "daemon") {
        daemon = true;
        line.Mode = TCommandLine::Daemon;
    } else if (verb == "is-on") {
        line.Mode = TCommandLine::IsOn;
        line.Request.Verb = TVerb::Status;
    } else if (const auto known = VerbFromName(verb)) {
        line.Mode = TCommandLine::Client;
        line.Request.Verb = *known;
    } else {
        error = "unknown verb \"" + verb + "\"";
        return false;
    }

    static const option options[] = {
        {"port", required_argument, nullptr, optPort},       {"pulse", required_argument, nullptr, optPulse},
        {"dir", required_argument, nullptr, optDir},         {"socket", required_argument, nullptr, optSocket},
        {"on-start", required_argument, nullptr, optOnStart}, {"on-stop", required_argument, nullptr, optOnStop},
        {"json", no_argument, nullptr, optJson},             {nullptr, 0, nullptr, 0},
    };
    const bool takesJson = line.Mode == TCommandLine::Client;
    std::string port;
    opterr = 0;
    optind = 1;  // argv + 1 below: the verb is the program name of the options
    int option = 0;
    int index = 0;
    while ((option = getopt_long(argc - 1, argv + 1, "", options, &index)) != -1) {
        if (option == '?') {
            error = "unknown option, or an option without its value, for \"" + verb + "\"";
            return false;
        }
        const std::string value = optarg != nullptr ? optarg : "";
        const bool daemonOnly = option != optSocket && option != optJson;
        if ((daemonOnly && !daemon) || (option == optJson && !takesJson)) {
            error = "\"" + verb + "\" takes no --" + options[index].name;
            return false;
        }
        switch (option) {
            case optPort: port = value; break;
            case optPulse:
                if (!NormalizePulse(value, line.Pulse)) {
                    error = "--pulse must be a number of 0 or more, not \"" + value + "\"";
                    return false;
                }
                break;
            case optDir: line.Dir = value; break;
            case optSocket: line.Socket = value; break;
            case optOnStart:
                if (value != "off" && value != "none") {
                    error = "--on-start is off or none";
                    return false;
                }
                line.StartOff = value == "off";
                break;
            case optOnStop:
                if (value != "keep" && value != "off") {
                    error = "--on-stop is keep or off";
                    return false;
                }
                line.StopOff = value == "off";
                break;
            case optJson: line.Json = true; break;
            default: break;
        }
    }
    std::vector<std::string> rest(argv + 1 + optind, argv + argc);
    if (line.Request.Verb == TVerb::Pulse && line.Mode == TCommandLine::Client) {
        if (rest.size() != 1) {
            error = "pulse takes one number of seconds";
            return false;
        }
        if (!NormalizePulse(rest[0], line.Request.Seconds) || line.Request.Seconds == "0") {
            error = "pulse SECONDS must be a number above 0, not \"" + rest[0] + "\"";
            return false;
        }
        rest.clear();
    }
    if (!rest.empty()) {
        error = "unexpected \"" + rest[0] + "\"";
        return false;
    }
    if (daemon) {
        if (port.empty()) {
            error = "daemon needs --port DEVICE";
            return false;
        }
        line.Device = DevicePathFor(port);
        if (line.Device.empty()) {
            error = "--port: no such port number \"" + port + "\"";
            return false;
        }
    }
    if (line.Socket.empty()) line.Socket = DefaultSocketPath();
    return true;
}
