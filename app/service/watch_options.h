#pragma once
// The watchdog's settings: which hosts must answer, how often they are
// asked, and what is done to the device when none of them does.

#include <string>
#include <string_view>
#include <vector>

// HOST is asked with an ICMP echo; HOST:PORT (or [v6]:PORT) with a TCP
// connection.
struct TWatchTarget {
    std::string Text;  // as given, for status and the log
    std::string Host;  // a name or an address, without brackets
    int Port = 0;      // 0: ICMP
    bool Icmp() const { return Port == 0; }
};

// "router.lan", "192.0.2.1:80", "[2001:db8::1]:443", "2001:db8::1"; false
// for anything else (an empty host, a bad port, a stray bracket or space).
bool ParseWatchTarget(std::string_view text, TWatchTarget& target);

// cycle: the device has power while the switch is on (normally open
// contact): off, a pause, on again. pulse: it has power while the switch is
// off (normally closed): a pulse cuts it for that long.
enum class TWatchAction { Cycle, Pulse };

struct TWatchOptions {
    std::vector<TWatchTarget> Targets;  // none: no watchdog
    int EverySeconds = 30;
    int TimeoutSeconds = 2;
    int Fails = 3;
    TWatchAction Action = TWatchAction::Cycle;
    int OffSeconds = 10;
    int GraceSeconds = 300;
    int MaxActions = 3;  // in any 24 hours
};
