#include "app/service/core.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/hosting.h"
#include "app/switching.h"
#include "app/service/clock.h"
#include "winlib/codepage.h"

namespace {

// Longer than any switch takes (a later switch-on reports 600 ms after the
// toggle, and its answer may take 1 s more).
constexpr std::int32_t OutcomeWaitMs = 5000;
// The switching runs a step after its report (stop, countdown); a toggle
// before that would be lost, as a click is.
constexpr std::int32_t PumpRetryMs = 10;

std::string Printable(const std::string& command) {
    std::string s = command;
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return '"' + s + '"';
}

// A switch the other way than the request asked for.
bool Contradicts(TVerb verb, bool switchedOn) {
    return switchedOn ? verb == TVerb::Off : verb == TVerb::On || verb == TVerb::Pulse;
}

std::string DeviceGroup(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        if (const group* g = getgrgid(st.st_gid); g != nullptr && g->gr_gid != 0) return g->gr_name;
    return "dialout";
}

}  // namespace

TSwitchService::TSwitchService(TModemLine& line, TServiceOptions options)
    : line_(line), options_(std::move(options)) {
    // The channel's scheme names the channel as its port; channel 1 answers
    // the request file's own section, channel N "znahN".
    SetText(scheme_.PortText->Value, TText(std::to_string(line_.Channel)));
    if (line_.Channel > 1) AnswerRequestsIn(scheme_.RemoteToggle, TText("znah" + std::to_string(line_.Channel)));
    SetText(scheme_.DefaultPulse->Data, TText(options_.DefaultPulse));
    scheme_.State->Set(TSwitchState::Unknown, false);
    scheme_.State->Reported = [this](TQXSwitchState::TReport report) { Reported(report); };

    answerTimer_ = NewObj<TTimer>(static_cast<std::int32_t>(line_.AnswerWaitMs()));
    answerTimer_->SetTickHandler({[](void* self, TTimer* timer) {
                                      timer->SetEnabled(false);
                                      auto& service = *static_cast<TSwitchService*>(self);
                                      service.line_.AnswerTimedOut();
                                      service.Settle();
                                  },
                                  this});
    outcomeTimer_ = NewObj<TTimer>(OutcomeWaitMs);
    outcomeTimer_->SetTickHandler({[](void* self, TTimer* timer) {
                                       timer->SetEnabled(false);
                                       auto& service = *static_cast<TSwitchService*>(self);
                                       if (service.current_) service.Fail(exitIoError, "the switching reported nothing");
                                   },
                                   this});

    pumpTimer_ = NewObj<TTimer>(PumpRetryMs);
    pumpTimer_->SetTickHandler({[](void* self, TTimer* timer) {
                                    timer->SetEnabled(false);
                                    static_cast<TSwitchService*>(self)->Pump();
                                },
                                this});

    line_.Writing = [this] {
        // A new command while the last report waits for its answer: that
        // answer will not come now.
        if (report_) {
            line_.AnswerTimedOut();
            Settle();
        }
        answerTimer_->SetEnabled(false);
        answerTimer_->SetEnabled(true);
    };
    line_.Answered = [this] {
        answerTimer_->SetEnabled(false);
        Settle();
    };
    line_.StateRead = [this](bool on) { StateRead(on); };
}

TSwitchService::~TSwitchService() {
    line_.Writing = nullptr;
    line_.Answered = nullptr;
    line_.StateRead = nullptr;
}

std::int64_t TSwitchService::Now() const {
    return options_.NowMs ? options_.NowMs() : SteadyMs();
}

void TSwitchService::Note(const std::string& line) const {
    if (options_.Log) options_.Log(line);
}

void TSwitchService::Start() {
    TData value;
    scheme_.StartupHub->doEvent(value, 0);
    if (options_.StartOff) {
        queue_.push_back({TRequest{TVerb::Off, {}}, nullptr, true});
        Pump();
    }
}

void TSwitchService::StateRead(bool on) {
    if (scheme_.State->State != TSwitchState::Unknown || current_ || !queue_.empty()) return;
    Note(std::string(line_.Answerer()) + " reports it is " + (on ? "on" : "off"));
    if (!on) {
        // The switching stands at its start, which is off.
        scheme_.State->Set(TSwitchState::Off, true);
        if (Changed) Changed();
        return;
    }
    // The switching is brought to on without a word to the device.
    queue_.push_back({TRequest{TVerb::On, {}}, nullptr, true});
    PumpLater();
}

void TSwitchService::Submit(const TRequest& request, TDone done) {
    if (Requested && Switches(request.Verb)) Requested(request);
    queue_.push_back({request, std::move(done), false});
    // Never inside the caller's handler: it may be one the request closes.
    PumpLater();
}

void TSwitchService::Pump() {
    if (pumping_) return;
    pumping_ = true;
    while (!current_ && !queue_.empty()) {
        // status needs nothing of the switching; everything else waits for it to stand still.
        const TVerb verb = queue_.front().Request.Verb;
        if ((Switches(verb) || verb == TVerb::Reset) && SwitchingBusy()) {
            pumpTimer_->SetEnabled(true);
            break;
        }
        current_ = std::move(queue_.front());
        queue_.pop_front();
        Begin();
    }
    pumping_ = false;
}

const TClassMultiElement_16D8160* TSwitchService::Switching() const {
    if (scheme_.Switcher->Boundary == nullptr) return nullptr;
    return static_cast<const TClassMultiElement_16D8160*>(scheme_.Switcher->Boundary->Scheme);
}

bool TSwitchService::SwitchingBusy() const {
    const TClassMultiElement_16D8160* switching = Switching();
    return switching != nullptr && switching->Stepping();
}

void TSwitchService::ResetIfNeeded() {
    if (!needsReset_) return;
    // As the user presses the reset button after a fault.
    needsReset_ = false;
    lost_ = false;
    scheme_.Requests->Reset();
    // The switching stands at its start now, whatever the device does: a
    // state kept from before would steer the next request the wrong way.
    if (scheme_.State->State != TSwitchState::Unknown) {
        scheme_.State->Set(TSwitchState::Unknown, false);
        pulseDeadline_ = -1;
        if (Changed) Changed();
    }
}

void TSwitchService::Begin() {
    ResetIfNeeded();
    const TSwitchState state = scheme_.State->State;
    TQXRequests& requests = *scheme_.Requests;
    outcomeTimer_->SetEnabled(true);
    switch (current_->Request.Verb) {
        case TVerb::Status: return Finish(exitOk, {});
        case TVerb::Reset:
            // The switching was reset above if a fault asked for it; a reset
            // of one that stands on would leave it believing the device off.
            if (!scheme_.State->LastError.empty()) {
                scheme_.State->LastError.clear();
                if (Changed) Changed();
            }
            return Finish(exitOk, {});
        case TVerb::WatchPause:
        case TVerb::WatchResume: {
            if (!WatchControl) return Finish(exitUnavailable, "the daemon runs no watchdog: start it with --watch TARGET");
            const TResult done = WatchControl(current_->Request.Verb);
            return Finish(done.Code, done.Message);
        }
        case TVerb::On:
            if (state == TSwitchState::On) return Finish(exitOk, {});
            // The state read at start brought into the switching: on, without the default pulse.
            if (current_->Internal) {
                requests.Pulse("0");
                line_.KeepNextCommand();
            }
            return requests.Toggle();
        case TVerb::Off:
            if (state == TSwitchState::Off && !current_->Internal) return Finish(exitOk, {});
            if (state == TSwitchState::On) return requests.Toggle();
            return requests.SwitchOff();
        case TVerb::Toggle: return requests.Toggle();
        case TVerb::Pulse:
            if (state == TSwitchState::On) return Finish(exitBusy, "already on: a pulse changes nothing while on");
            requests.Pulse(current_->Request.Seconds);
            return requests.Toggle();
    }
}

void TSwitchService::Finish(int code, const std::string& error) {
    outcomeTimer_->SetEnabled(false);
    if (!current_) return;
    TPending done = std::move(*current_);
    current_.reset();
    if (done.Done) done.Done(TReply{code, error, Status(), {}});
    PumpLater();
}

void TSwitchService::PumpLater() {
    if (!options_.Post) return Pump();
    if (pumpPosted_) return;
    pumpPosted_ = true;
    if (options_.Post([self = std::weak_ptr<TSwitchService*>(self_)] {
            if (const auto service = self.lock()) {
                (*service)->pumpPosted_ = false;
                (*service)->Pump();
            }
        }))
        return;
    // Nothing could be queued: the timer takes the next request instead.
    pumpPosted_ = false;
    pumpTimer_->SetEnabled(true);
}

void TSwitchService::Reported(TQXSwitchState::TReport report) {
    report_ = report;
    reportedAt_ = Now();
    Settle();
}

void TSwitchService::Settle() {
    if (!report_) return;
    const TCommandRecord& command = line_.LastCommand();
    TQXSwitchState& state = *scheme_.State;
    std::string error;
    switch (*report_) {
        case TQXSwitchState::PortError: {
            const int code = OpenFaultCode(error);
            state.LastError = error;
            needsReset_ = true;
            Note(error);
            return Complete(code, error);
        }
        case TQXSwitchState::SwitchedOn:
        case TQXSwitchState::SwitchedOff: {
            const bool on = *report_ == TQXSwitchState::SwitchedOn;
            const char* expected = on ? "ATH1\r" : "ATH\r";
            if (!command.Written || command.Bytes != expected) {
                // The report came although the command never reached the port.
                if (command.Bytes.empty() && line_.LastOpenError() != 0) return Fail(OpenFaultCode(error), error);
                error = Printable(expected) + " was not written to " + line_.DevicePath +
                        (on ? "" : ": the device may still be on");
                return Fail(exitIoError, error);
            }
            if (command.Answer == TAnswer::Pending) return;  // Answered or the answer timer settles it
            if (command.Answer == TAnswer::Error)
                return Fail(exitIoError, !command.Fault.empty() ? command.Fault
                                                                : std::string(line_.Answerer()) + " refused " + Printable(expected));
            const bool confirmed = command.Answer == TAnswer::Ok;
            state.Set(on ? TSwitchState::On : TSwitchState::Off, confirmed);
            settledOff_ = !on;
            state.LastError.clear();
            const std::int64_t pulseOff = on && Switching() != nullptr ? Switching()->PulseOffAfterMs(scheme_.PulseText->Value) : -1;
            pulseDeadline_ = pulseOff >= 0 ? reportedAt_ + pulseOff : -1;
            Note(std::string("switched ") + (on ? "on" : "off") + (confirmed ? "" : " (no answer from " + std::string(line_.Answerer()) + ")"));
            if (current_ && Contradicts(current_->Request.Verb, on)) {
                // Never answered as success: the device heard the opposite.
                error = std::string("asked to switch ") + (on ? "off" : "on") + ", but " + Printable(expected) +
                        " was written";
                state.LastError = error;
                Note(error);
                return Complete(exitIoError, error);
            }
            return Complete(exitOk, {});
        }
    }
}

void TSwitchService::Complete(int code, const std::string& error) {
    report_.reset();
    line_.Consume();
    answerTimer_->SetEnabled(false);
    if (current_) Finish(code, error);
    if (Changed) Changed();
}

void TSwitchService::Fail(int code, const std::string& error) {
    TQXSwitchState& state = *scheme_.State;
    state.Set(TSwitchState::Unknown, false);
    state.LastError = error;
    pulseDeadline_ = -1;
    needsReset_ = true;
    Note(error);
    Complete(code, error);
}

int TSwitchService::OpenFaultCode(std::string& error) const {
    const int e = line_.LastOpenError();
    const std::string& path = line_.DevicePath;
    switch (e) {
        case EBUSY:
        case EWOULDBLOCK:
            error = path + " is held by another process";
            return exitBusy;
        case EACCES:
        case EPERM: {
            const std::string group = DeviceGroup(path);
            error = "permission denied on " + path + ": join the group " + group + " (usermod -aG " + group +
                    " USER) and log in again";
            return exitDenied;
        }
        default:
            // The program's own words, and what the system said.
            error = Utf8From1251(scheme_.State->PortMessage.view());
            if (error.empty()) error = Utf8From1251(scheme_.ErrorText->Mask.view());
            error += " (" + path + ": " + (e != 0 ? std::strerror(e) : "not a usable serial port") + ")";
            return exitUnavailable;
    }
}

void TSwitchService::LineLost(const std::string& why) {
    TQXSwitchState& state = *scheme_.State;
    if (lost_) return;
    lost_ = true;
    state.Set(TSwitchState::Unknown, false);
    state.LastError = why;
    pulseDeadline_ = -1;
    Note(why);
    needsReset_ = true;
    if (!current_ && !report_) ResetIfNeeded();
    if (Changed) Changed();
}

TStatus TSwitchService::Status() const {
    const TQXSwitchState& state = *scheme_.State;
    TStatus s;
    if (options_.NamesChannel) s.Channel = line_.Channel;
    s.State = state.State;
    s.Port = line_.DevicePath;
    s.Confirmed = state.Confirmed;
    s.Since = IsoTime(state.SinceUnixMs);
    if (!state.LastError.empty()) s.LastError = state.LastError;
    if (line_.Open()) {
        s.Available = !lost_;
    } else {
        struct stat st;
        const int e = line_.LastOpenError();
        s.Available = stat(line_.DevicePath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && e != EBUSY &&
                      e != EWOULDBLOCK && e != EACCES && e != EPERM;
    }
    if (state.State == TSwitchState::On && pulseDeadline_ >= 0)
        s.PulseRemainingS = static_cast<double>(std::max<std::int64_t>(0, pulseDeadline_ - Now())) / 1000.0;
    if (Decorate) Decorate(s);
    return s;
}

bool TSwitchService::PulseRunning() const {
    if (scheme_.State->State == TSwitchState::On && pulseDeadline_ >= 0) return true;
    if (!current_) return false;
    const TVerb verb = current_->Request.Verb;
    const bool pulsed = Switching() != nullptr && Switching()->PulseOffAfterMs(scheme_.PulseText->Value) >= 0;
    return verb == TVerb::Pulse || (pulsed && (verb == TVerb::On || verb == TVerb::Toggle));
}

TResult TSwitchService::SwitchOffNow() {
    report_.reset();
    line_.Consume();
    settledOff_ = false;
    scheme_.Requests->SwitchOff();
    // A device that confirms at once has settled the off already.
    const TCommandRecord& command = line_.LastCommand();
    if ((command.Written && command.Bytes == "ATH\r") || settledOff_) return TResult::Ok();
    return TResult::Fail(exitIoError, "\"ATH\" was not written to " + line_.DevicePath + ": the device may still be on");
}
