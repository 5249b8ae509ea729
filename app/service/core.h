#pragma once
// The service around the scheme: requests served one at a time, in the
// order they came; each answered once its outcome is known, the scheme's
// report judged against what the modem line saw and answered.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/service/modemline.h"
#include "app/service/protocol.h"
#include "app/service/result.h"
#include "app/service/scheme.h"
#include "winlib/timer.h"

class TClassMultiElement_16D8160;

struct TServiceOptions {
    std::string DefaultPulse = "0";  // a valid pulse text
    bool StartOff = true;            // write "ATH\r" at start
    // Monotonic milliseconds, for the pulse time left; the platform's
    // steady clock unless a test gives its own.
    std::function<std::int64_t()> NowMs;
    // A line for the log (UTF-8) on every change of state and every fault.
    std::function<void(const std::string&)> Log;
    // Runs a task from the event loop, after what is handled now; false
    // when it could not be queued. The next request starts that way, never
    // inside the handler of the answer that finished the last one: that
    // request may close the very port whose handler is running. Without
    // it the next request starts at once.
    std::function<bool(std::function<void()>)> Post;
    // The daemon has several switches: statuses name this one's channel.
    bool NamesChannel = false;
};

class TSwitchService {
public:
    TSwitchService(TModemLine& line, TServiceOptions options);
    ~TSwitchService();
    TSwitchService(const TSwitchService&) = delete;
    TSwitchService& operator=(const TSwitchService&) = delete;

    // The start-up chain: reset, default pulse, polling, then the off
    // command when asked for.
    void Start();

    using TDone = std::function<void(const TReply&)>;
    void Submit(const TRequest& request, TDone done);
    TStatus Status() const;
    // The port went away under the service (unplugged, hung up).
    void LineLost(const std::string& why);

    TClassService& Scheme() { return scheme_; }
    // Called after every settled outcome and every change of the port:
    // other doors (MQTT) show the state from here.
    std::function<void()> Changed;
    // Adds what other parts of the daemon know to every status.
    std::function<void(TStatus&)> Decorate;
    // Told of every request that moves the switch, as it is submitted: the
    // watchdog yields to a person's switch.
    std::function<void(const TRequest&)> Requested;
    // Serves "watch pause" and "watch resume"; none: no watchdog.
    std::function<TResult(TVerb)> WatchControl;
    // The device switched off now, whatever the switching is doing: for a
    // stop. Fails when "ATH\r" could not be written.
    TResult SwitchOffNow();
    // A pulse is running or starting: its off is a promise.
    bool PulseRunning() const;
    std::size_t Waiting() const { return queue_.size() + (current_ ? 1 : 0); }

private:
    struct TPending {
        TRequest Request;
        TDone Done;
        bool Internal = false;  // the start-up's off, or the state read at start: nobody waits
    };

    void Pump();
    void PumpLater();
    void StateRead(bool on);
    const TClassMultiElement_16D8160* Switching() const;  // the switching sub-scheme, once made
    bool SwitchingBusy() const;
    void Begin();
    void Finish(int code, const std::string& error);
    void Reported(TQXSwitchState::TReport report);
    void Settle();
    void Complete(int code, const std::string& error);
    void Fail(int code, const std::string& error);
    int OpenFaultCode(std::string& error) const;
    void ResetIfNeeded();
    void Note(const std::string& line) const;
    std::int64_t Now() const;

    TModemLine& line_;
    TServiceOptions options_;
    TClassService scheme_;
    std::deque<TPending> queue_;
    std::optional<TPending> current_;
    std::optional<TQXSwitchState::TReport> report_;  // waiting for the modem's answer
    std::int64_t reportedAt_ = 0;
    bool pumping_ = false;
    bool pumpPosted_ = false;
    std::shared_ptr<TSwitchService*> self_ = std::make_shared<TSwitchService*>(this);  // posted tasks outliving us do nothing
    bool needsReset_ = false;
    bool settledOff_ = false;          // the last report settled was a switch-off
    bool lost_ = false;
    std::int64_t pulseDeadline_ = -1;  // monotonic ms when "ATH\r" follows; -1: no pulse
    TObjPtr<TTimer> answerTimer_;      // 1 s for the modem to answer
    TObjPtr<TTimer> outcomeTimer_;     // a request that never gets a report
    TObjPtr<TTimer> pumpTimer_;        // the next request waits for the switching to stop
};
