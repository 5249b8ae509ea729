#include "app/service/watchdog.h"

#include <algorithm>
#include <cmath>

#include "app/service/clock.h"

namespace {

constexpr std::int64_t DayMs = 24 * 60 * 60 * 1000;

std::string Count(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

}  // namespace

TWatchdog::TWatchdog(TSwitchService& service, TWatchProber& prober, TWatchOptions options, const TWatchHistory& history,
                     std::function<void(const std::string&)> log, TClock clock)
    : service_(service),
      prober_(prober),
      options_(std::move(options)),
      history_(history),
      log_(std::move(log)),
      clock_(std::move(clock)) {
    for (const TWatchTarget& target : options_.Targets) targets_.push_back({target.Text, std::nullopt, std::nullopt, {}});
    roundTimer_ = NewObj<TTimer>(options_.EverySeconds * 1000);
    roundTimer_->SetTickHandler({[](void* self, TTimer*) { static_cast<TWatchdog*>(self)->Round(); }, this});
    offTimer_ = NewObj<TTimer>(options_.OffSeconds * 1000);
    offTimer_->SetTickHandler({[](void* self, TTimer* timer) {
                                   timer->SetEnabled(false);
                                   static_cast<TWatchdog*>(self)->OffPeriodOver();
                               },
                               this});
}

TWatchdog::~TWatchdog() {
    ++action_;  // replies still to come belong to nobody
    prober_.Cancel();
    roundTimer_->SetEnabled(false);
    offTimer_->SetEnabled(false);
}

std::int64_t TWatchdog::Now() const {
    return clock_.NowMs ? clock_.NowMs() : SteadyMs();
}

std::int64_t TWatchdog::Wall() const {
    return clock_.WallMs ? clock_.WallMs() : WallMs();
}

void TWatchdog::Note(const std::string& line) const {
    if (log_) log_("watchdog: " + line);
}

void TWatchdog::Tell() const {
    if (Changed) Changed();
}

void TWatchdog::Start() {
    actions_ = history_.Load();
    Graceful();
    wasDeviceOff_ = DeviceOff();
    std::string targets;
    for (const TWatchTarget& target : options_.Targets) targets += (targets.empty() ? "" : ", ") + target.Text;
    Note("watching " + targets + " every " + Count(options_.EverySeconds, "second", "seconds") + "; " +
         Count(Actions24h(), "action", "actions") + " in the last 24 hours");
    roundTimer_->SetEnabled(true);
    Round();
}

bool TWatchdog::Cutting() const {
    return phase_ == TPhase::SwitchingOff || phase_ == TPhase::OffPeriod || phase_ == TPhase::SwitchingOn;
}

void TWatchdog::Stop() {
    ++action_;
    phase_ = TPhase::Idle;
    paused_ = true;
    probing_ = false;
    prober_.Cancel();
    roundTimer_->SetEnabled(false);
    offTimer_->SetEnabled(false);
}

void TWatchdog::Graceful() {
    graceUntil_ = Now() + static_cast<std::int64_t>(options_.GraceSeconds) * 1000;
    fails_ = 0;
}

bool TWatchdog::DeviceOff() const {
    if (phase_ != TPhase::Idle) return false;
    const TSwitchState state = service_.Scheme().State->State;
    return options_.Action == TWatchAction::Cycle ? state == TSwitchState::Off : state == TSwitchState::On;
}

int TWatchdog::Actions24h() const {
    // A time ahead of the clock (set back since) counts: it errs towards fewer actions.
    const std::int64_t since = Wall() - DayMs;
    return static_cast<int>(std::count_if(actions_.begin(), actions_.end(), [since](std::int64_t t) { return t > since; }));
}

TWatchStatus TWatchdog::Status() const {
    TWatchStatus w;
    w.State = phase_ != TPhase::Idle ? "acting"
              : paused_              ? "paused"
              : DeviceOff()          ? "device-off"
              : gaveUp_              ? "gave-up"
              : Now() < graceUntil_  ? "grace"
              : fails_ > 0           ? "failing"
                                     : "ok";
    w.Fails = fails_;
    w.Actions24h = Actions24h();
    if (!actions_.empty()) w.LastAction = IsoTime(actions_.back());
    if (!paused_) w.NextProbeS = static_cast<double>(std::max<std::int64_t>(0, nextRoundAt_ - Now())) / 1000.0;
    w.Connected = connected_;
    w.Targets = targets_;
    return w;
}

void TWatchdog::Round() {
    nextRoundAt_ = Now() + static_cast<std::int64_t>(options_.EverySeconds) * 1000;
    if (paused_ || probing_) return;
    probing_ = true;
    prober_.Round([this](std::vector<TProbeResult> results) { RoundDone(std::move(results)); });
}

std::string TWatchdog::Failures() const {
    std::string text;
    for (const TWatchTargetStatus& t : targets_) text += (text.empty() ? "" : "; ") + t.Target + ": " + t.Error;
    return text;
}

void TWatchdog::RoundDone(std::vector<TProbeResult> results) {
    probing_ = false;
    bool any = false;
    for (std::size_t i = 0; i < targets_.size() && i < results.size(); ++i) {
        TWatchTargetStatus& t = targets_[i];
        t.Ok = results[i].Ok;
        t.RttMs = results[i].Ok ? std::optional<double>(std::round(results[i].RttMs * 10) / 10) : std::nullopt;
        t.Error = results[i].Ok ? std::string() : results[i].Error;
        any = any || results[i].Ok;
    }
    connected_ = any;
    if (any) {
        if (gaveUp_) Note("a target answers again: the watchdog acts again when they all fail");
        else if (fails_ > 0) Note("a target answers again after " + Count(fails_, "failed round", "failed rounds"));
        fails_ = 0;
        gaveUp_ = false;
        return Tell();
    }
    // Failures count only while they can lead somewhere.
    if (phase_ != TPhase::Idle || DeviceOff() || Now() < graceUntil_ || gaveUp_) return Tell();
    ++fails_;
    Note("no target answered (" + Failures() + "): " + std::to_string(fails_) + " of " +
         Count(options_.Fails, "failed round", "failed rounds"));
    if (fails_ < options_.Fails) return Tell();
    if (Actions24h() >= options_.MaxActions) {
        gaveUp_ = true;
        Note("it has acted " + Count(Actions24h(), "time", "times") +
             " in the last 24 hours: it gives up until a target answers again");
        return Tell();
    }
    Act();
}

void TWatchdog::Act() {
    ++action_;
    fails_ = 0;
    pulseOn_ = false;
    actions_.push_back(Wall());
    if (actions_.size() > MaxWatchHistory) actions_.erase(actions_.begin());
    // The files layer logs why a write failed; the count still holds while the daemon runs.
    history_.Save(actions_);
    const std::string off = Count(options_.OffSeconds, "second", "seconds");
    if (options_.Action == TWatchAction::Cycle) {
        Note("no target answered in " + Count(options_.Fails, "round", "rounds") + " (" + Failures() +
             "): switching the device off for " + off);
        phase_ = TPhase::SwitchingOff;
        Switch({TVerb::Off, {}}, &TWatchdog::AfterOff);
    } else {
        Note("no target answered in " + Count(options_.Fails, "round", "rounds") + " (" + Failures() +
             "): cutting the device's power with a pulse of " + off);
        if (service_.Scheme().State->State == TSwitchState::Unknown) {
            // The pulse needs the switch off: the state is made known first.
            phase_ = TPhase::MakingKnown;
            Switch({TVerb::Off, {}}, &TWatchdog::AfterMakingKnown);
        } else {
            phase_ = TPhase::Pulsing;
            Switch({TVerb::Pulse, std::to_string(options_.OffSeconds)}, &TWatchdog::AfterPulse);
        }
    }
    Tell();
}

void TWatchdog::Switch(const TRequest& request, void (TWatchdog::*next)(const TReply&)) {
    submitting_ = true;
    service_.Submit(request, [this, action = action_, next](const TReply& reply) {
        if (action == action_) (this->*next)(reply);  // else abandoned meanwhile
    });
    submitting_ = false;
}

void TWatchdog::AfterMakingKnown(const TReply& reply) {
    if (reply.Code != exitOk) return End("could not switch the device off first: " + reply.Error);
    phase_ = TPhase::Pulsing;
    Switch({TVerb::Pulse, std::to_string(options_.OffSeconds)}, &TWatchdog::AfterPulse);
}

void TWatchdog::AfterOff(const TReply& reply) {
    if (reply.Code != exitOk) return End("could not switch the device off: " + reply.Error);
    phase_ = TPhase::OffPeriod;
    offTimer_->SetEnabled(true);
    Tell();
}

void TWatchdog::OffPeriodOver() {
    phase_ = TPhase::SwitchingOn;
    Switch({TVerb::On, {}}, &TWatchdog::AfterOn);
}

void TWatchdog::AfterOn(const TReply& reply) {
    if (reply.Code != exitOk) return End("could not switch the device on again: " + reply.Error);
    End("the device is on again; failures do not count for " + Count(options_.GraceSeconds, "second", "seconds"));
}

void TWatchdog::AfterPulse(const TReply& reply) {
    if (reply.Code != exitOk) return End("could not start the pulse: " + reply.Error);
    // The action ends when the pulse has switched off again.
    pulseOn_ = true;
}

void TWatchdog::End(const std::string& how) {
    phase_ = TPhase::Idle;
    offTimer_->SetEnabled(false);
    Graceful();
    wasDeviceOff_ = DeviceOff();
    Note(how);
    Tell();
}

void TWatchdog::StateChanged() {
    const TSwitchState state = service_.Scheme().State->State;
    if (phase_ == TPhase::OffPeriod && state != TSwitchState::Off) {
        ++action_;
        return End("the device was switched during the off period: the watchdog leaves it as it is");
    }
    if (phase_ == TPhase::Pulsing && pulseOn_ && state != TSwitchState::On)
        return End(state == TSwitchState::Off ? "the pulse is over; failures do not count for " +
                                                    Count(options_.GraceSeconds, "second", "seconds")
                                              : "the pulse ended with the switch's state unknown");
    const bool off = DeviceOff();
    if (off && !wasDeviceOff_)
        Note("the device is switched off: the watchdog never powers a device it did not switch off");
    if (!off && wasDeviceOff_) {
        Graceful();
        Note("the device has power again; failures do not count for " +
             Count(options_.GraceSeconds, "second", "seconds"));
    }
    wasDeviceOff_ = off;
    Tell();
}

void TWatchdog::Requested(const TRequest& request) {
    if (submitting_ || phase_ == TPhase::Idle) return;
    ++action_;  // its replies are no longer the watchdog's business
    End("a switch from another door (" + std::string(VerbName(request.Verb)) +
        ") during the watchdog's action wins: the watchdog leaves the device to it");
}

TResult TWatchdog::Pause() {
    if (!paused_) {
        paused_ = true;
        if (probing_) prober_.Cancel();
        probing_ = false;
        fails_ = 0;
        gaveUp_ = false;
        Note("paused: nothing is probed until it is resumed");
        Tell();
    }
    return TResult::Ok();
}

TResult TWatchdog::Resume() {
    if (paused_) {
        paused_ = false;
        Graceful();
        Note("resumed; failures do not count for " + Count(options_.GraceSeconds, "second", "seconds"));
        roundTimer_->SetEnabled(false);
        roundTimer_->SetEnabled(true);
        Round();
        Tell();
    }
    return TResult::Ok();
}
