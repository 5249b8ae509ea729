#include "app/service/protocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

using nlohmann::json;

namespace {

constexpr std::string_view VerbNames[] = {"on", "off", "toggle", "pulse", "status", "watch-pause", "watch-resume", "reset"};

json Optional(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

json WatchObject(const TWatchStatus& w, bool withNextProbe) {
    json targets = json::array();
    for (const TWatchTargetStatus& t : w.Targets)
        targets.push_back({{"target", t.Target},
                           {"ok", t.Ok ? json(*t.Ok) : json(nullptr)},
                           {"rtt_ms", Optional(t.RttMs)},
                           {"error", t.Error.empty() ? json(nullptr) : json(t.Error)}});
    json o = {{"state", w.State},
              {"fails", w.Fails},
              {"actions_24h", w.Actions24h},
              {"last_action", w.LastAction.empty() ? json(nullptr) : json(w.LastAction)},
              {"connected", w.Connected ? json(*w.Connected) : json(nullptr)},
              {"targets", targets}};
    if (withNextProbe) o["next_probe_s"] = Optional(w.NextProbeS);
    return o;
}

json StatusObject(const TStatus& s) {
    json o;
    if (s.Channel > 0) o["switch"] = s.Channel;
    o["state"] = StateName(s.State);
    o["port"] = s.Port;
    o["available"] = s.Available;
    o["since"] = s.Since;
    o["pulse_remaining_s"] = s.PulseRemainingS ? json(*s.PulseRemainingS) : json(nullptr);
    o["confirmed"] = s.Confirmed;
    o["last_error"] = s.LastError ? json(*s.LastError) : json(nullptr);
    o["watch"] = s.Watch ? WatchObject(*s.Watch, true) : json(nullptr);
    if (s.Broker)
        o["mqtt"] = {{"connected", s.Broker->Connected},
                     {"last_reached", s.Broker->LastReached.empty() ? json(nullptr) : json(s.Broker->LastReached)}};
    return o;
}

// A field of the type it should have, else the fallback: a reply from a
// daemon of another version, or from anyone, never throws.
std::string TextField(const json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool FlagField(const json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_boolean() && it->get<bool>();
}

std::optional<double> NumberField(const json& o, const char* key) {
    const auto it = o.find(key);
    if (it == o.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

int CountField(const json& o, const char* key) {
    const auto it = o.find(key);
    if (it == o.end() || !it->is_number_integer()) return 0;
    const auto value = it->get<std::int64_t>();
    return value < 0 || value > 1000000 ? 0 : static_cast<int>(value);
}

std::optional<bool> MaybeFlag(const json& o, const char* key) {
    const auto it = o.find(key);
    if (it == o.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

TWatchStatus WatchFrom(const json& o) {
    TWatchStatus w;
    w.State = TextField(o, "state");
    w.Fails = CountField(o, "fails");
    w.Actions24h = CountField(o, "actions_24h");
    w.LastAction = TextField(o, "last_action");
    w.NextProbeS = NumberField(o, "next_probe_s");
    w.Connected = MaybeFlag(o, "connected");
    if (const auto targets = o.find("targets"); targets != o.end() && targets->is_array())
        for (const json& t : *targets)
            if (t.is_object())
                w.Targets.push_back({TextField(t, "target"), MaybeFlag(t, "ok"), NumberField(t, "rtt_ms"), TextField(t, "error")});
    return w;
}

bool StatusFrom(const json& o, TStatus& s) {
    if (!o.is_object()) return false;
    const std::string state = TextField(o, "state");
    s.State = state == "on" ? TSwitchState::On : state == "off" ? TSwitchState::Off : TSwitchState::Unknown;
    s.Channel = std::min(CountField(o, "switch"), 8);
    s.Port = TextField(o, "port");
    s.Available = FlagField(o, "available");
    s.Since = TextField(o, "since");
    const auto remaining = o.find("pulse_remaining_s");
    if (remaining != o.end() && remaining->is_number()) s.PulseRemainingS = remaining->get<double>();
    s.Confirmed = FlagField(o, "confirmed");
    const auto error = o.find("last_error");
    if (error != o.end() && error->is_string()) s.LastError = error->get<std::string>();
    if (const auto broker = o.find("mqtt"); broker != o.end() && broker->is_object()) {
        s.Broker = TBrokerStatus{FlagField(*broker, "connected"), TextField(*broker, "last_reached")};
    }
    if (const auto watch = o.find("watch"); watch != o.end() && watch->is_object()) s.Watch = WatchFrom(*watch);
    return true;
}

// Replies and requests are UTF-8 by the time they are made; anything that
// is not (a stray byte of a 1251 text) is replaced, never a reason to fail.
std::string Dump(const json& o) { return o.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

bool NormalizePulse(std::string_view text, std::string& normalized) {
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    const auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(whole) || (dot != std::string_view::npos && !digits(fraction))) return false;
    std::string_view significant = whole.substr(std::min(whole.find_first_not_of('0'), whole.size()));
    if (significant.size() > 10 || (significant.size() == 10 && significant > "2147483647")) return false;
    if (significant.empty() && fraction.find_first_not_of('0') == std::string_view::npos) {
        normalized = "0";
        return true;
    }
    normalized = significant.empty() ? "0" : std::string(significant);
    if (!fraction.empty()) normalized += "." + std::string(fraction);
    return true;
}

std::string_view VerbName(TVerb verb) { return VerbNames[static_cast<int>(verb)]; }

std::optional<TVerb> VerbFromName(std::string_view name) {
    for (int i = 0; i < static_cast<int>(std::size(VerbNames)); ++i)
        if (VerbNames[i] == name) return static_cast<TVerb>(i);
    return std::nullopt;
}

std::string_view StateName(TSwitchState state) {
    switch (state) {
        case TSwitchState::On: return "on";
        case TSwitchState::Off: return "off";
        default: return "unknown";
    }
}

std::string RequestLine(const TRequest& request) {
    json o;
    o["verb"] = VerbName(request.Verb);
    if (request.Verb == TVerb::Pulse) o["seconds"] = request.Seconds;
    if (request.Switch != 1) o["switch"] = request.Switch;
    if (request.All) o["all"] = true;
    return Dump(o);
}

bool ParseRequestLine(std::string_view line, TRequest& request) {
    const json o = json::parse(line, nullptr, false);
    if (!o.is_object()) return false;
    const auto verb = o.find("verb");
    if (verb == o.end() || !verb->is_string()) return false;
    const auto known = VerbFromName(verb->get<std::string>());
    if (!known) return false;
    request = TRequest{*known, {}};
    if (const auto channel = o.find("switch"); channel != o.end()) {
        if (!channel->is_number_integer()) return false;
        const auto value = channel->get<std::int64_t>();
        if (value < 1 || value > 8) return false;
        request.Switch = static_cast<int>(value);
    }
    if (const auto all = o.find("all"); all != o.end()) {
        if (!all->is_boolean() || *known != TVerb::Status) return false;
        request.All = all->get<bool>();
    }
    if (*known != TVerb::Pulse) return true;
    const auto seconds = o.find("seconds");
    // pulse N switches on for N seconds: 0 is no pulse, and no request.
    return seconds != o.end() && seconds->is_string() && NormalizePulse(seconds->get<std::string>(), request.Seconds) &&
           request.Seconds != "0";
}

std::string ReplyLine(const TReply& reply) {
    json o;
    o["code"] = reply.Code;
    o["error"] = reply.Error.empty() ? json(nullptr) : json(reply.Error);
    o["status"] = StatusObject(reply.Status);
    if (!reply.All.empty()) {
        json all = json::array();
        for (const TStatus& s : reply.All) all.push_back(StatusObject(s));
        o["all"] = all;
    }
    return Dump(o);
}

bool ParseReplyLine(std::string_view line, TReply& reply) {
    const json o = json::parse(line, nullptr, false);
    if (!o.is_object()) return false;
    const auto code = o.find("code");
    if (code == o.end() || !code->is_number_integer()) return false;
    // An exit code is 0 to 255; anything else is not a reply of ours.
    const auto value = code->get<std::int64_t>();
    if (value < 0 || value > 255) return false;
    reply.Code = static_cast<int>(value);
    reply.Error = TextField(o, "error");
    if (const auto all = o.find("all"); all != o.end() && all->is_array())
        for (const json& one : *all) {
            if (reply.All.size() >= 8) break;
            TStatus s;
            if (StatusFrom(one, s)) reply.All.push_back(std::move(s));
        }
    const auto status = o.find("status");
    return status != o.end() && StatusFrom(*status, reply.Status);
}

std::string StatusJson(const TStatus& status) { return Dump(StatusObject(status)); }

std::string StatusesJson(const std::vector<TStatus>& statuses) {
    json all = json::array();
    for (const TStatus& s : statuses) all.push_back(StatusObject(s));
    return Dump(all);
}

std::string ReplyJson(const TReply& reply) {
    json o = StatusObject(reply.Status);
    o["code"] = reply.Code;
    o["error"] = reply.Error.empty() ? json(nullptr) : json(reply.Error);
    return Dump(o);
}

std::string StatusLine(const TStatus& status) {
    std::string line = (status.Channel > 0 ? "switch " + std::to_string(status.Channel) + ": " : std::string()) +
                       std::string(StateName(status.State)) + " " + status.Port;
    if (status.PulseRemainingS) line += ", pulse " + std::to_string(std::lround(std::ceil(*status.PulseRemainingS))) + " s left";
    if (!status.Available) line += " (port not available)";
    if (status.Broker && !status.Broker->Connected)
        line += status.Broker->LastReached.empty() ? " (MQTT broker not reached yet)"
                                                   : " (MQTT broker last reached " + status.Broker->LastReached + ")";
    return line + "\n";
}

std::string WatchLines(const TWatchStatus& w) {
    const auto number = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", value);
        return std::string(text);
    };
    std::string lines;
    for (const TWatchTargetStatus& t : w.Targets) {
        lines += t.Target + ": ";
        if (!t.Ok) lines += "not probed yet";
        else if (*t.Ok) lines += "answers" + (t.RttMs ? " in " + number(*t.RttMs) + " ms" : std::string());
        else lines += "no answer" + (t.Error.empty() ? std::string() : " (" + t.Error + ")");
        lines += "\n";
    }
    lines += "watchdog: " + w.State;
    if (w.Fails > 0) lines += ", " + std::to_string(w.Fails) + (w.Fails == 1 ? " failed round" : " failed rounds");
    lines += ", " + std::to_string(w.Actions24h) + (w.Actions24h == 1 ? " action" : " actions") + " in 24 h";
    if (!w.LastAction.empty()) lines += " (last " + w.LastAction + ")";
    if (w.NextProbeS) lines += ", next probe in " + std::to_string(std::lround(std::ceil(*w.NextProbeS))) + " s";
    return lines + "\n";
}

std::string WatchJson(const TWatchStatus& watch, bool withNextProbe) {
    return WatchObject(watch, withNextProbe).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string IsoTime(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMs % 1000));
    return text;
}
