#pragma once
// What the command line and the daemon say to each other, and the exit
// codes scripts see. One request per connection: a JSON object on one line
// ({"verb":"pulse","seconds":"5"}), answered by one JSON object on one line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/service/elements.h"

// Exit codes (sysexits where one fits).
enum : int {
    exitOk = 0,
    exitIsOff = 3,        // is-on: off
    exitIsUnknown = 4,    // is-on: unknown, or no daemon
    exitUsage = 64,
    exitUnavailable = 69,  // no daemon, or the port does not exist
    exitIoError = 74,      // not written, or the modem answered ERROR
    exitBusy = 75,         // the port is held elsewhere; pulse while on
    exitDenied = 77,       // no permission for the port
    exitConfig = 78,       // a bad setting in a file
};

// WatchPause and WatchResume are the watchdog's: "watch pause", "watch resume".
// Reset is the window's reset button: after a fault, the switching back to
// its start and the message cleared.
enum class TVerb { On, Off, Toggle, Pulse, Status, WatchPause, WatchResume, Reset };

// A verb that moves the switch.
inline bool Switches(TVerb verb) {
    return verb == TVerb::On || verb == TVerb::Off || verb == TVerb::Toggle || verb == TVerb::Pulse;
}

struct TRequest {
    TVerb Verb = TVerb::Status;
    std::string Seconds;  // Pulse: a valid pulse text
    int Switch = 1;       // the channel, 1 to 8
    bool All = false;     // Status: every channel
};

// The MQTT door, when there is one.
struct TBrokerStatus {
    bool Connected = false;
    std::string LastReached;  // ISO 8601; empty: never since the start
};

// The watchdog, when there is one.
struct TWatchTargetStatus {
    std::string Target;
    std::optional<bool> Ok;        // none: not probed yet
    std::optional<double> RttMs;   // when it answered
    std::string Error;             // why it did not; empty when it did
};

struct TWatchStatus {
    std::string State;             // ok, failing, acting, grace, gave-up, paused, device-off
    int Fails = 0;                 // failed rounds in a row that count
    int Actions24h = 0;
    std::string LastAction;        // ISO 8601; empty: never
    std::optional<double> NextProbeS;  // none while paused or probing
    std::optional<bool> Connected;     // the last round: any target answered; none before the first
    std::vector<TWatchTargetStatus> Targets;
};

struct TStatus {
    int Channel = 0;  // 0: the daemon's only switch
    TSwitchState State = TSwitchState::Unknown;
    std::string Port;
    bool Available = false;
    std::string Since;                          // ISO 8601, UTC
    std::optional<double> PulseRemainingS;
    bool Confirmed = false;
    std::optional<std::string> LastError;       // UTF-8
    std::optional<TBrokerStatus> Broker;        // none without MQTT
    std::optional<TWatchStatus> Watch;          // none without --watch
};

struct TReply {
    int Code = exitOk;
    std::string Error;  // UTF-8; empty on success
    TStatus Status;
    std::vector<TStatus> All;  // status --all: every channel
};

// A pulse length as typed into the pulse field: decimal digits with an
// optional fraction ("5", "2.5"), 0 or more, at most 2147483647. Gives the
// text the scheme gets: "0" for any zero (the scheme tests the text for
// "0"), leading zeros dropped. False for anything else.
bool NormalizePulse(std::string_view text, std::string& normalized);

std::string_view VerbName(TVerb verb);
std::optional<TVerb> VerbFromName(std::string_view name);
std::string_view StateName(TSwitchState state);

std::string RequestLine(const TRequest& request);
// False for anything that is not one well-formed request.
bool ParseRequestLine(std::string_view line, TRequest& request);
std::string ReplyLine(const TReply& reply);
bool ParseReplyLine(std::string_view line, TReply& reply);

// `status --json` and the verbs' --json: the status fields, and for a verb
// also "code" and "error".
std::string StatusJson(const TStatus& status);
// `status --all --json`: an array of those objects.
std::string StatusesJson(const std::vector<TStatus>& statuses);
std::string ReplyJson(const TReply& reply);
// `status`: "on /dev/ttyUSB0", "on /dev/ttyUSB0, pulse 4 s left",
// "unknown /dev/ttyUSB0 (port not available)"; "switch 2: on /dev/ttyUSB0"
// when the daemon has several.
std::string StatusLine(const TStatus& status);
// `watch status`: a line for every target, then one for the watchdog.
std::string WatchLines(const TWatchStatus& watch);
// The watch object of `status --json` (`next_probe_s` left out when
// `withNextProbe` is false: MQTT's attributes would change every second).
std::string WatchJson(const TWatchStatus& watch, bool withNextProbe = true);

// Milliseconds since the epoch as "2026-12-08T05:30:00.123Z".
std::string IsoTime(std::int64_t unixMs);
