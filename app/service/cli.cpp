#include "app/service/cli.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "winlib/serial.h"

namespace {

enum : int {
    optPort = 1000,
    optPulse,
    optDir,
    optSocket,
    optOnStart,
    optOnStop,
    optMqtt,
    optMqttUser,
    optMqttPasswordFile,
    optMqttTlsCa,
    optName,
    optMqttPrefix,
    optDiscoveryPrefix,
    optForget,
    optJson,
    optWatch,
    optWatchEvery,
    optWatchTimeout,
    optWatchFails,
    optWatchAction,
    optWatchOff,
    optWatchGrace,
    optWatchMax,
    optDevice,
    optChannels,
    optBaud,
    optModbusUnit,
    optModbusFirstCoil,
    optSwitch,
    optAll,
    optHttp,
    optHttpTokenFile,
    optHttpTlsCert,
    optHttpTlsKey,
};

bool IsNumber(const std::string& text, long& value);

// What an option without a value on the command line takes from the
// environment.
const char* const EnvironmentNames[][2] = {
    {"port", "MODEMSWITCH_PORT"},
    {"mqtt", "MODEMSWITCH_MQTT"},
    {"mqtt-user", "MODEMSWITCH_MQTT_USER"},
    {"mqtt-password-file", "MODEMSWITCH_MQTT_PASSWORD_FILE"},
    {"mqtt-tls-ca", "MODEMSWITCH_MQTT_TLS_CA"},
    {"name", "MODEMSWITCH_NAME"},
    {"mqtt-prefix", "MODEMSWITCH_MQTT_PREFIX"},
    {"discovery-prefix", "MODEMSWITCH_DISCOVERY_PREFIX"},
    {"watch", "MODEMSWITCH_WATCH"},  // targets parted by spaces or commas
    {"watch-every", "MODEMSWITCH_WATCH_EVERY"},
    {"watch-timeout", "MODEMSWITCH_WATCH_TIMEOUT"},
    {"watch-fails", "MODEMSWITCH_WATCH_FAILS"},
    {"watch-action", "MODEMSWITCH_WATCH_ACTION"},
    {"watch-off", "MODEMSWITCH_WATCH_OFF"},
    {"watch-grace", "MODEMSWITCH_WATCH_GRACE"},
    {"watch-max", "MODEMSWITCH_WATCH_MAX"},
    {"device", "MODEMSWITCH_DEVICE"},
    {"channels", "MODEMSWITCH_CHANNELS"},
    {"baud", "MODEMSWITCH_BAUD"},
    {"modbus-unit", "MODEMSWITCH_MODBUS_UNIT"},
    {"modbus-first-coil", "MODEMSWITCH_MODBUS_FIRST_COIL"},
    {"http", "MODEMSWITCH_HTTP"},
    {"http-token-file", "MODEMSWITCH_HTTP_TOKEN_FILE"},
    {"http-tls-cert", "MODEMSWITCH_HTTP_TLS_CERT"},
    {"http-tls-key", "MODEMSWITCH_HTTP_TLS_KEY"},
};

bool IsDeviceSetting(std::string_view name) {
    if (name.starts_with("env:")) name.remove_prefix(4);
    return name == "device" || name == "channels" || name == "baud" || name == "modbus-unit" ||
           name == "modbus-first-coil";
}

// What is on the port, from the environment and the command line, the
// command line's last.
bool DeviceSettings(const std::vector<std::pair<std::string, std::string>>& given, TKindOptions& kind,
                    std::string& error) {
    int channels = 0;
    bool modbusGiven = false;
    for (const auto& [name, value] : given) {
        const std::string option = name.starts_with("env:") ? name.substr(4) : name;
        if (option == "device") {
            const auto known = ParseKindName(value);
            if (!known) return error = "--device is modem, dtr, rts, lines, lcus or modbus, not \"" + value + "\"", false;
            kind.Name = *known;
            continue;
        }
        long number = 0;
        const bool isNumber = IsNumber(value, number);
        if (option == "channels") {
            if (!isNumber || number < 1 || number > 8) return error = "--channels is 1 to 8, not \"" + value + "\"", false;
            channels = static_cast<int>(number);
        } else if (option == "baud") {
            if (!isNumber || !IsSerialSpeed(static_cast<std::int32_t>(number)))
                return error = "--baud is a speed a serial port runs at (9600, 19200, 115200, ...), not \"" + value + "\"", false;
            kind.Baud = static_cast<std::int32_t>(number);
        } else if (option == "modbus-unit") {
            if (!isNumber || number < 1 || number > 247) return error = "--modbus-unit is 1 to 247, not \"" + value + "\"", false;
            kind.ModbusUnit = static_cast<int>(number);
            modbusGiven = true;
        } else if (option == "modbus-first-coil") {
            if (!isNumber || number > 65535) return error = "--modbus-first-coil is 0 to 65535, not \"" + value + "\"", false;
            kind.ModbusFirstCoil = static_cast<int>(number);
            modbusGiven = true;
        }
    }
    if (modbusGiven && kind.Name != TKindName::Modbus) return error = "--modbus-unit and --modbus-first-coil need --device modbus", false;
    kind.Channels = channels != 0 ? channels : DefaultChannels(kind.Name);
    if (kind.Channels > MaxChannels(kind.Name))
        return error = "--device " + std::string(KindText(kind.Name)) + " has at most " +
                       std::to_string(MaxChannels(kind.Name)) + (MaxChannels(kind.Name) == 1 ? " channel" : " channels"),
               false;
    if (kind.Name == TKindName::Modbus && kind.ModbusFirstCoil + kind.Channels - 1 > 65535)
        return error = "--modbus-first-coil leaves no room for the channels", false;
    return true;
}

// The watchdog's numbers, each within what makes sense.
struct TWatchNumber {
    const char* Name;
    int TWatchOptions::*Field;
    int Min, Max;
};
const TWatchNumber WatchNumbers[] = {
    {"watch-every", &TWatchOptions::EverySeconds, 1, 86400}, {"watch-timeout", &TWatchOptions::TimeoutSeconds, 1, 60},
    {"watch-fails", &TWatchOptions::Fails, 1, 1000},         {"watch-off", &TWatchOptions::OffSeconds, 1, 3600},
    {"watch-grace", &TWatchOptions::GraceSeconds, 0, 86400}, {"watch-max", &TWatchOptions::MaxActions, 0, 1000},
};

// The watchdog's settings from the environment and the command line, the
// command line's last: "--watch-every" -> "15".
bool WatchSettings(const std::vector<std::pair<std::string, std::string>>& given, TWatchOptions& watch,
                   std::string& error) {
    bool targetsFromCommandLine = false;
    for (const auto& [name, value] : given) {
        if (name == "watch" || name == "env:watch") {
            // The command line's targets replace the environment's.
            if (name == "watch" && !targetsFromCommandLine) watch.Targets.clear();
            targetsFromCommandLine = targetsFromCommandLine || name == "watch";
            std::string list = value;
            for (char& c : list)
                if (c == ',' || c == '\t') c = ' ';
            for (std::size_t at = 0; at < list.size();) {
                const std::size_t end = std::min(list.find(' ', at), list.size());
                if (end > at) {
                    TWatchTarget target;
                    if (!ParseWatchTarget(std::string_view(list).substr(at, end - at), target)) {
                        error = "--watch is HOST, HOST:PORT or [IPv6]:PORT, not \"" + list.substr(at, end - at) + "\"";
                        return false;
                    }
                    watch.Targets.push_back(target);
                }
                at = end + 1;
            }
            continue;
        }
        const std::string option = name.starts_with("env:") ? name.substr(4) : name;
        if (option == "watch-action") {
            if (value != "cycle" && value != "pulse") {
                error = "--watch-action is cycle or pulse";
                return false;
            }
            watch.Action = value == "cycle" ? TWatchAction::Cycle : TWatchAction::Pulse;
            continue;
        }
        for (const TWatchNumber& number : WatchNumbers) {
            if (option != number.Name) continue;
            long parsed = 0;
            if (!IsNumber(value, parsed) || parsed < number.Min || parsed > number.Max) {
                error = "--" + option + " is a whole number from " + std::to_string(number.Min) + " to " +
                        std::to_string(number.Max) + ", not \"" + value + "\"";
                return false;
            }
            watch.*number.Field = static_cast<int>(parsed);
        }
    }
    if (watch.Targets.size() > 16) {
        error = "--watch: at most 16 targets";
        return false;
    }
    if (!watch.Targets.empty() && watch.TimeoutSeconds >= watch.EverySeconds) {
        error = "--watch-timeout must be shorter than --watch-every";
        return false;
    }
    return true;
}

// A topic level: no separators, no wildcards, not empty.
bool IsTopicLevel(const std::string& text) {
    return !text.empty() && text.find_first_of("/+#") == std::string::npos && text.size() <= MaxMqttId;
}

bool IsNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

// What the daemon does to the device at its start and its stop.
bool StartAndStop(const std::string& option, const std::string& value, TCommandLine& line, std::string& error) {
    if (option == "on-start") {
        if (value != "off" && value != "none") return error = "--on-start is off or none", false;
        line.StartOff = value == "off";
    } else {
        if (value != "keep" && value != "off") return error = "--on-stop is keep or off", false;
        line.StopOff = value == "off";
    }
    return true;
}

// The web door's: an address to listen on, and where its secrets are.
bool WebSettings(const std::map<std::string, std::string>& given, THttpOptions& http, std::string& error) {
    const auto value = [&](const char* name) {
        const auto it = given.find(name);
        return it == given.end() ? std::string() : it->second;
    };
    const std::string address = value("http");
    http.TokenFile = value("http-token-file");
    http.TlsCert = value("http-tls-cert");
    http.TlsKey = value("http-tls-key");
    if (address.empty()) {
        if (!http.TokenFile.empty() || !http.TlsCert.empty() || !http.TlsKey.empty())
            return error = "the --http-... settings need --http [ADDRESS:]PORT", false;
        return true;
    }
    if (!ParseHttpAddress(address, http.Address))
        return error = "--http is PORT or ADDRESS:PORT with a numeric address ([IPv6]:PORT), not \"" + address + "\"", false;
    if (http.TlsCert.empty() != http.TlsKey.empty()) return error = "--http-tls-cert and --http-tls-key go together", false;
    return true;
}

}  // namespace

std::string DefaultSocketPath() {
    struct stat st;
    if (stat("/run/modemswitch", &st) == 0 && S_ISDIR(st.st_mode)) return "/run/modemswitch/modemswitch.sock";
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir == '/')
        return std::string(dir) + "/modemswitch.sock";
    return PrivateSocketDirectory() + "/modemswitch.sock";
}

std::string PrivateSocketDirectory() { return "/tmp/modemswitch-" + std::to_string(getuid()); }

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
           "  modemswitch daemon --port DEVICE [--device modem|dtr|rts|lines|lcus|modbus]\n"
           "                     [--channels N] [--baud B] [--modbus-unit 1] [--modbus-first-coil 0]\n"
           "                     [--pulse SECONDS] [--dir DIR] [--socket PATH]\n"
           "                     [--http [ADDRESS:]PORT [--http-token-file F]\n"
           "                      [--http-tls-cert F --http-tls-key F]]\n"
           "                     [--on-start off|none] [--on-stop keep|off]\n"
           "                     [--mqtt HOST[:PORT] [--mqtt-user U --mqtt-password-file F]\n"
           "                      [--mqtt-tls-ca FILE] [--name ID] [--mqtt-prefix P]\n"
           "                      [--discovery-prefix P] [--forget]]\n"
           "                     [--watch TARGET ... [--watch-every 30] [--watch-timeout 2]\n"
           "                      [--watch-fails 3] [--watch-action cycle|pulse] [--watch-off 10]\n"
           "                      [--watch-grace 300] [--watch-max 3]]\n"
           "  modemswitch on | off | toggle   [--switch N] [--socket PATH] [--json]\n"
           "  modemswitch pulse SECONDS       [--switch N] [--socket PATH] [--json]\n"
           "  modemswitch status              [--switch N | --all] [--socket PATH] [--json]\n"
           "  modemswitch is-on               [--switch N] [--socket PATH]\n"
           "  modemswitch reset               [--switch N] [--socket PATH] [--json]\n"
           "  modemswitch watch [status|pause|resume] [--socket PATH] [--json]\n"
           "  modemswitch --help | --version\n"
           "\n"
           "The daemon holds the modem's port (DEVICE: a path, or N for COM N) and\n"
           "switches the device: \"ATH1\" on, \"ATH\" off. It polls DIR/vr.ini for\n"
           "requests and takes the default pulse from \"p2\" of DIR/com i dlit.ini.\n"
           "--device names what else is on the port: a relay on DTR or RTS (dtr, rts;\n"
           "lines: 1 = DTR, 2 = RTS), a CH340 relay board (lcus, 9600 baud), a Modbus\n"
           "RTU relay board (modbus, 9600 baud, coils from --modbus-first-coil). With\n"
           "--channels N (up to 8) every channel is a switch of its own: --switch N\n"
           "picks one, and vr.ini's section znahN toggles channel N. MODEMSWITCH_DEVICE,\n"
           "MODEMSWITCH_CHANNELS, MODEMSWITCH_BAUD, MODEMSWITCH_MODBUS_UNIT and\n"
           "MODEMSWITCH_MODBUS_FIRST_COIL give the same.\n"
           "With --mqtt it is also an MQTT switch (P/ID/set, P/ID/state; prefix P\n"
           "\"modemswitch\", ID from the port's name) with Home Assistant discovery;\n"
           "--forget removes its entries. MODEMSWITCH_MQTT, MODEMSWITCH_MQTT_USER,\n"
           "MODEMSWITCH_MQTT_PASSWORD_FILE, MODEMSWITCH_MQTT_TLS_CA, MODEMSWITCH_NAME,\n"
           "MODEMSWITCH_MQTT_PREFIX and MODEMSWITCH_DISCOVERY_PREFIX give the same;\n"
           "MODEMSWITCH_PORT gives --port, MODEMSWITCH_ON_START and MODEMSWITCH_ON_STOP\n"
           "--on-start and --on-stop.\n"
           "With --watch it is a watchdog: when no TARGET (HOST for an ICMP echo,\n"
           "HOST:PORT for a TCP connection) has answered in --watch-fails rounds, it\n"
           "cycles the device's power (cycle: off, --watch-off seconds, on; pulse: a\n"
           "pulse of --watch-off seconds), then waits --watch-grace seconds, at most\n"
           "--watch-max times a day. MODEMSWITCH_WATCH, MODEMSWITCH_WATCH_EVERY, ...\n"
           "give the same.\n"
           "With --http it serves the switch page and an HTTP API (/api/v1/...) on\n"
           "ADDRESS:PORT (127.0.0.1 unless named), behind a token: --http-token-file,\n"
           "else the credential http-token, else one it makes in its state directory;\n"
           "HTTPS with --http-tls-cert and --http-tls-key. MODEMSWITCH_HTTP, ... give\n"
           "the same.\n"
           "Every verb takes --help.\n"
           "Default socket: " + DefaultSocketPath() + "\n"
           "\n"
           "Exit codes:\n"
           "   0  done (is-on: on)\n"
           "   3  is-on: off\n"
           "   4  is-on: unknown, or no daemon\n"
           "  64  bad usage\n"
           "  69  no daemon reachable, or the port does not exist; watch: no watchdog\n"
           "  74  the command could not be written, the modem answered ERROR, or a board\n"
           "      refused it or did not answer\n"
           "  75  the port is held by another process, or pulse while on\n"
           "  77  permission denied on the port\n"
           "  78  a bad setting in a file, or no way to send the watchdog's ICMP echoes\n";
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
    // Every verb's --help is the help, whatever else stands beside it.
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            line.Mode = TCommandLine::Help;
            return true;
        }
    }
    if (verb == "--version") {
        line.Mode = TCommandLine::Version;
        return argc == 2 || (error = "--version takes nothing more", false);
    }
    bool daemon = false;
    if (verb == "daemon") {
        daemon = true;
        line.Mode = TCommandLine::Daemon;
    } else if (verb == "watch") {
        line.Mode = TCommandLine::Client;
        line.WatchVerb = true;
        line.Request.Verb = TVerb::Status;
    } else if (verb == "is-on") {
        line.Mode = TCommandLine::IsOn;
        line.Request.Verb = TVerb::Status;
    } else if (const auto known = VerbFromName(verb);
               known && (Switches(*known) || *known == TVerb::Status || *known == TVerb::Reset)) {
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
        {"mqtt", required_argument, nullptr, optMqtt},
        {"mqtt-user", required_argument, nullptr, optMqttUser},
        {"mqtt-password-file", required_argument, nullptr, optMqttPasswordFile},
        {"mqtt-tls-ca", required_argument, nullptr, optMqttTlsCa},
        {"name", required_argument, nullptr, optName},
        {"mqtt-prefix", required_argument, nullptr, optMqttPrefix},
        {"discovery-prefix", required_argument, nullptr, optDiscoveryPrefix},
        {"forget", no_argument, nullptr, optForget},
        {"json", no_argument, nullptr, optJson},
        {"watch", required_argument, nullptr, optWatch},
        {"watch-every", required_argument, nullptr, optWatchEvery},
        {"watch-timeout", required_argument, nullptr, optWatchTimeout},
        {"watch-fails", required_argument, nullptr, optWatchFails},
        {"watch-action", required_argument, nullptr, optWatchAction},
        {"watch-off", required_argument, nullptr, optWatchOff},
        {"watch-grace", required_argument, nullptr, optWatchGrace},
        {"watch-max", required_argument, nullptr, optWatchMax},
        {"device", required_argument, nullptr, optDevice},
        {"channels", required_argument, nullptr, optChannels},
        {"baud", required_argument, nullptr, optBaud},
        {"modbus-unit", required_argument, nullptr, optModbusUnit},
        {"modbus-first-coil", required_argument, nullptr, optModbusFirstCoil},
        {"switch", required_argument, nullptr, optSwitch},
        {"all", no_argument, nullptr, optAll},
        {"http", required_argument, nullptr, optHttp},
        {"http-token-file", required_argument, nullptr, optHttpTokenFile},
        {"http-tls-cert", required_argument, nullptr, optHttpTlsCert},
        {"http-tls-key", required_argument, nullptr, optHttpTlsKey},
        {nullptr, 0, nullptr, 0},
    };
    std::string port, mqtt, name;
    std::vector<std::pair<std::string, std::string>> watch;  // the watchdog's, in the order given
    std::vector<std::pair<std::string, std::string>> device;  // what is on the port, in the order given
    std::map<std::string, std::string> web;                    // the web door's, the command line's last
    if (daemon) {
        std::string* const targets[] = {&port, &mqtt, &line.Mqtt.User, &line.Mqtt.PasswordFile, &line.Mqtt.TlsCa,
                                        &name, &line.Mqtt.Prefix, &line.Mqtt.DiscoveryPrefix};
        for (std::size_t i = 0; i < std::size(EnvironmentNames); ++i)
            if (const char* value = std::getenv(EnvironmentNames[i][1]); value != nullptr && *value != '\0') {
                if (i < std::size(targets)) *targets[i] = value;
                else if (IsDeviceSetting(EnvironmentNames[i][0])) device.emplace_back(std::string("env:") + EnvironmentNames[i][0], value);
                else if (std::string_view(EnvironmentNames[i][0]).starts_with("http")) web[EnvironmentNames[i][0]] = value;
                else watch.emplace_back(std::string("env:") + EnvironmentNames[i][0], value);
            }
    }
    // A unit's environment file may say what the unit's command line does not.
    const char* const startAndStop[][2] = {{"on-start", "MODEMSWITCH_ON_START"}, {"on-stop", "MODEMSWITCH_ON_STOP"}};
    for (const auto& [option, variable] : startAndStop)
        if (const char* value = std::getenv(variable); daemon && value != nullptr && *value != '\0')
            if (!StartAndStop(option, value, line, error)) return false;
    bool watchSettingGiven = false;
    const bool takesJson = line.Mode == TCommandLine::Client;
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
        const bool daemonOnly = option != optSocket && option != optJson && option != optSwitch && option != optAll;
        // Every verb but watch names a switch; only status lists them all.
        const bool wrongClient = (option == optSwitch && (daemon || line.WatchVerb)) ||
                                 (option == optAll && (line.Mode != TCommandLine::Client || line.WatchVerb ||
                                                       line.Request.Verb != TVerb::Status));
        if ((daemonOnly && !daemon) || (option == optJson && !takesJson) || wrongClient) {
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
            case optOnStop:
                if (!StartAndStop(options[index].name, value, line, error)) return false;
                break;
            case optMqtt: mqtt = value; break;
            case optMqttUser: line.Mqtt.User = value; break;
            case optMqttPasswordFile: line.Mqtt.PasswordFile = value; break;
            case optMqttTlsCa: line.Mqtt.TlsCa = value; break;
            case optName: name = value; break;
            case optMqttPrefix: line.Mqtt.Prefix = value; break;
            case optDiscoveryPrefix: line.Mqtt.DiscoveryPrefix = value; break;
            case optForget: line.Forget = true; break;
            case optJson: line.Json = true; break;
            case optDevice:
            case optChannels:
            case optBaud:
            case optModbusUnit:
            case optModbusFirstCoil: device.emplace_back(options[index].name, value); break;
            case optSwitch: {
                long number = 0;
                if (!IsNumber(value, number) || number < 1 || number > 8) {
                    error = "--switch is 1 to 8, not \"" + value + "\"";
                    return false;
                }
                line.Request.Switch = static_cast<int>(number);
                break;
            }
            case optAll: line.Request.All = true; break;
            case optHttp:
            case optHttpTokenFile:
            case optHttpTlsCert:
            case optHttpTlsKey: web[options[index].name] = value; break;
            case optWatch:
            case optWatchEvery:
            case optWatchTimeout:
            case optWatchFails:
            case optWatchAction:
            case optWatchOff:
            case optWatchGrace:
            case optWatchMax:
                watch.emplace_back(options[index].name, value);
                watchSettingGiven = watchSettingGiven || option != optWatch;
                break;
            default: break;
        }
    }
    std::vector<std::string> rest(argv + 1 + optind, argv + argc);
    if (line.WatchVerb && !rest.empty()) {
        if (rest[0] == "pause") line.Request.Verb = TVerb::WatchPause;
        else if (rest[0] == "resume") line.Request.Verb = TVerb::WatchResume;
        else if (rest[0] != "status") {
            error = "watch is followed by status, pause or resume, not \"" + rest[0] + "\"";
            return false;
        }
        rest.erase(rest.begin());
    }
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
            error = "daemon needs --port DEVICE (or MODEMSWITCH_PORT, as the unit reads it from /etc/default/modemswitch)";
            return false;
        }
        line.Device = DevicePathFor(port);
        if (line.Device.empty()) {
            error = "--port: no such port number \"" + port + "\"";
            return false;
        }
        if (!mqtt.empty() && !ParseMqttAddress(mqtt, line.Mqtt.Host, line.Mqtt.Port)) {
            error = "--mqtt is HOST or HOST:PORT, not \"" + mqtt + "\"";
            return false;
        }
        // The names matter only on a broker.
        if (!line.Mqtt.Host.empty()) {
            char host[256] = {};
            if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
            line.Mqtt.Id = name.empty() ? MqttIdFromPort(line.Device, host) : name;
            if (!IsTopicLevel(line.Mqtt.Id) || !IsTopicLevel(line.Mqtt.Prefix) ||
                !IsTopicLevel(line.Mqtt.DiscoveryPrefix)) {
                error = "--name, --mqtt-prefix and --discovery-prefix are single topic levels of at most " +
                        std::to_string(MaxMqttId) + " characters (no '/', '+' or '#')";
                return false;
            }
        }
        if (!WatchSettings(watch, line.Watch, error)) return false;
        if (!DeviceSettings(device, line.Kind, error)) return false;
        if (!WebSettings(web, line.Http, error)) return false;
        if (line.Watch.Targets.empty() && watchSettingGiven) {
            error = "the --watch-... settings need --watch TARGET";
            return false;
        }
        if (line.Mqtt.Host.empty() && line.Forget) {
            error = "--forget needs --mqtt";
            return false;
        }
        // Under systemd the password may come as the unit's credential.
        if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
            credentials != nullptr && line.Mqtt.PasswordFile.empty() && !line.Mqtt.User.empty()) {
            const std::string file = std::string(credentials) + "/mqtt-password";
            if (access(file.c_str(), R_OK) == 0) line.Mqtt.PasswordFile = file;
        }
        if (!line.Mqtt.PasswordFile.empty() && line.Mqtt.User.empty()) {
            error = "--mqtt-password-file needs --mqtt-user";
            return false;
        }
    }
    if (line.Request.All && line.Request.Switch != 1) {
        error = "status takes --switch N or --all, not both";
        return false;
    }
    if (line.Socket.empty()) line.Socket = DefaultSocketPath();
    return true;
}
