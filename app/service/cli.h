#pragma once
// The command line: a verb, then its options.
//
//   modemswitch daemon --port DEVICE [--device KIND] [--channels N] [--baud B]
//                      [--modbus-unit U] [--modbus-first-coil C]
//                      [--pulse SECONDS] [--dir DIR] [--socket PATH]
//                      [--on-start off|none] [--on-stop keep|off]
//                      [--mqtt HOST[:PORT] [--mqtt-user U --mqtt-password-file F]
//                       [--mqtt-tls-ca FILE] [--name ID] [--mqtt-prefix P]
//                       [--discovery-prefix P] [--forget]]
//                      [--watch TARGET ... [--watch-every S] [--watch-timeout S]
//                       [--watch-fails N] [--watch-action cycle|pulse] [--watch-off S]
//                       [--watch-grace S] [--watch-max N]]
//                      [--http [ADDRESS:]PORT [--http-token-file F]
//                       [--http-tls-cert F --http-tls-key F]]
// The daemon's MQTT and watchdog settings may also come from the
// environment (MODEMSWITCH_MQTT, MODEMSWITCH_WATCH, ...), for a unit's
// environment file.
//   modemswitch on | off | toggle [--switch N] [--socket PATH] [--json]
//   modemswitch pulse SECONDS [--switch N] [--socket PATH] [--json]
//   modemswitch status [--switch N | --all] [--socket PATH] [--json]
//   modemswitch is-on [--switch N] [--socket PATH]
//   modemswitch watch [status|pause|resume] [--socket PATH] [--json]
//   modemswitch --help | --version

#include <string>

#include "app/service/device_kind.h"
#include "app/service/mqtt.h"
#include "app/service/protocol.h"
#include "app/service/watch_options.h"
#include "app/service/web_auth.h"

struct TCommandLine {
    enum TMode { Help, Version, Daemon, Client, IsOn } Mode = Help;
    std::string Socket;  // the default unless --socket

    // Clients
    TRequest Request;
    bool Json = false;
    bool WatchVerb = false;  // "watch ...": the watchdog's lines

    // The daemon
    std::string Device;        // the port's path
    TKindOptions Kind;         // what is on the port, and its channels
    std::string Pulse;         // normalized; empty: none given
    std::string Dir;           // empty: the current directory
    bool StartOff = true;
    bool StopOff = false;
    TMqttOptions Mqtt;    // Host empty: no MQTT
    bool Forget = false;  // remove what the daemon published on MQTT, then end
    TWatchOptions Watch;  // no targets: no watchdog
    THttpOptions Http;    // port 0: no web door
};

// False with a one-line reason for bad usage (exit 64).
bool ParseCommandLine(int argc, char** argv, TCommandLine& line, std::string& error);

// /run/modemswitch/modemswitch.sock when /run/modemswitch exists (the
// unit's runtime directory), else $XDG_RUNTIME_DIR/modemswitch.sock, else
// modemswitch.sock in the user's private directory below.
std::string DefaultSocketPath();
// /tmp/modemswitch-UID: the daemon makes it, 0700, and uses it only when
// it is the user's own and nobody else's to enter.
std::string PrivateSocketDirectory();

// A number N is COM N as the native serial seam maps it; anything else a
// path, made absolute against the current directory.
std::string DevicePathFor(const std::string& port);

std::string UsageText();
