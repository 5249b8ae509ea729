#pragma once
// The service's own elements, standing where the window's controls stood:
// TQXRequests is the command line's hand on the scheme (the buttons and the
// pulse field), TQXSwitchState what the lamp and the message line showed,
// kept for `status`.

#include <cstdint>
#include <functional>
#include <string>

#include "framework/events.h"

class TQXRequests {
public:
    TQX_Event onToggle;     // the switch button
    TQX_Event onReset;      // the reset button
    TQX_Event onSwitchOff;  // off from wherever the switching stands
    TQX_Event onPulse;      // the pulse for the next switch-on

    void Toggle() { FireNull(onToggle); }
    void Reset() { FireNull(onReset); }
    void SwitchOff() { FireNull(onSwitchOff); }
    void Pulse(const std::string& seconds) { FireText(onPulse, TText(seconds)); }
};

enum class TSwitchState { Unknown, On, Off };

// What the scheme reported last. The service judges each report against
// the modem's answer and sets the state it settles on.
class TQXSwitchState {
public:
    enum TReport : std::uint16_t { SwitchedOn, SwitchedOff, PortError };

    TSwitchState State = TSwitchState::Unknown;
    bool Confirmed = false;             // the modem answered OK to the last command
    std::int64_t SinceUnixMs = 0;       // when State last changed; 0: not since start
    std::string LastError;              // UTF-8; empty: none
    TText PortMessage;                  // the scheme's wrong-port text, Windows-1251
    std::function<void(TReport)> Reported;

    void doOn(TData& value, std::uint16_t index);
    void doOff(TData& value, std::uint16_t index);
    void doPortError(TData& value, std::uint16_t index);

    void Set(TSwitchState state, bool confirmed);
};
