#pragma once
// The watchdog: a fourth door to the switch. It asks its targets every
// round; when none has answered for a number of rounds in a row it cuts
// the device's power for a while, as a person would with the button. It
// waits while the device boots, acts a limited number of times a day, never
// powers a device somebody switched off, and yields to a person's switch.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/service/core.h"
#include "app/service/probe.h"
#include "app/service/watch_history.h"
#include "app/service/watch_options.h"

class TWatchdog {
public:
    struct TClock {
        std::function<std::int64_t()> NowMs;   // monotonic: rounds, the off period, grace
        std::function<std::int64_t()> WallMs;  // since the epoch: the actions of the last 24 hours
    };
    TWatchdog(TSwitchService& service, TWatchProber& prober, TWatchOptions options, const TWatchHistory& history,
              std::function<void(const std::string&)> log, TClock clock = {});
    ~TWatchdog();
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    // Grace begins, and the first round.
    void Start();
    TWatchStatus Status() const;
    TResult Pause();
    TResult Resume();

    // The watchdog has cut the device's power and means to restore it (cycle).
    bool Cutting() const;
    // Nothing more is probed or done: the daemon stops.
    void Stop();

    // From the service: its state changed; a door asked for a switch.
    void StateChanged();
    void Requested(const TRequest& request);

    // Called whenever what Status() shows may have changed.
    std::function<void()> Changed;

private:
    enum class TPhase { Idle, MakingKnown, SwitchingOff, OffPeriod, SwitchingOn, Pulsing };
    void Round();
    void RoundDone(std::vector<TProbeResult> results);
    std::string Failures() const;
    void Act();
    void Switch(const TRequest& request, void (TWatchdog::*next)(const TReply&));
    void AfterMakingKnown(const TReply& reply);
    void AfterOff(const TReply& reply);
    void OffPeriodOver();
    void AfterOn(const TReply& reply);
    void AfterPulse(const TReply& reply);
    void End(const std::string& how);
    void Graceful();
    bool DeviceOff() const;
    int Actions24h() const;
    std::int64_t Now() const;
    std::int64_t Wall() const;
    void Note(const std::string& line) const;
    void Tell() const;

    TSwitchService& service_;
    TWatchProber& prober_;
    TWatchOptions options_;
    const TWatchHistory& history_;
    std::function<void(const std::string&)> log_;
    TClock clock_;

    std::vector<TWatchTargetStatus> targets_;
    std::optional<bool> connected_;
    std::vector<std::int64_t> actions_;  // wall times, oldest first
    int fails_ = 0;
    bool paused_ = false;
    bool gaveUp_ = false;
    bool probing_ = false;
    bool wasDeviceOff_ = false;
    bool submitting_ = false;
    bool pulseOn_ = false;     // the watchdog's pulse has switched on  // the watchdog's own request is being submitted
    TPhase phase_ = TPhase::Idle;
    std::uint64_t action_ = 0;  // which action a reply belongs to
    std::int64_t graceUntil_ = 0;
    std::int64_t nextRoundAt_ = 0;
    TObjPtr<TTimer> roundTimer_;
    TObjPtr<TTimer> offTimer_;
};
