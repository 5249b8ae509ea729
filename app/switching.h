#pragma once
// The modem switching sub-scheme and the pulse countdown nested in it.
//
// A 100 ms step timer drives a counter whose value picks one of ten steps:
// 1 open the port, 2 write "ATH1\r", 3 check the write, 4 report switched
// on, 5 stop and start the pulse countdown; 6 cancel the countdown, 7 write
// "ATH\r", 8 report switched off, 9 stop. So one toggle request switches on
// or off depending on where the counter stands.

#include <cstdint>

#include "elements/com.h"
#include "elements/flow.h"
#include "elements/mathparse.h"
#include "elements/strings.h"
#include "elements/timer.h"
#include "framework/multi.h"

// Points of the switching container, as its host sees them.
enum : std::uint16_t {
    // doEvent
    swToggle = 0,
    swReset = 3,
    // onEvent
    swSwitchedOn = 0,
    swSwitchedOff = 2,
    swPortError = 3,
    swPulseExpired = 4,
    swOutputCount = 5,
    // Data
    swPortNumber = 0,
    swPulseLength = 1,
    swDataCount = 2,
};

// Points of the pulse countdown container.
enum : std::uint16_t {
    cdStart = 0,     // doEvent
    cdCancel = 1,    // doEvent
    cdExpired = 0,   // onEvent
    cdThreshold = 0, // Data: seconds; expiry when the count exceeds it
    cdPulseText = 1, // Data: "0" means no countdown
};

class TClassMultiElement_16D88F0 : public TClassMultiBase {
public:
    TClassMultiElement_16D88F0(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

    TQXTimer* SecondTimer;
    TQXHub* StartHub;
    TQXCounter* SecondCounter;
    TQXIf_else* ExpiryCheck;
    TQXHub* TickHub;
    TQXHub* ExpiredHub;
    TQXStrMask* ZeroCheck;
    TQXHub* CounterResetHub;
    TQXHub* TimerStopHub;
    TQXHub* CancelHub;
};

class TClassMultiElement_16D8160 : public TClassMultiBase {
public:
    TClassMultiElement_16D8160(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

    TQXCOM* ModemPort;
    TQXTimer* StepTimer;
    TQXCounter* StepCounter;
    TQXIndexToChanel* StepRouter;
    TQXFormatStr* OnCommand;
    TQXHub* WriteHub;
    TQXHub* CommandHub;
    TQXFormatStr* OffCommand;
    TQXHub* CounterHub;
    TQXHub* StopHub;
    TQXHub* ToggleHub;
    TQXMemory* WriteResult;
    TQXIf_else* WriteCheck;
    TQXHub* ResetHub;
    TQXHub* CheckHub;
    TQXHub* ErrorHub;
    TQXMultiElement* Countdown;
    TQXHub* PulseHub;
    TQXMathParse* PulseCalc;
    TQXHub* CountdownStartHub;
    TQXHub* OpenHub;

    // What a host may ask without reaching into the steps:
    // the sequencer runs (between a toggle and the step that stops it), so
    // a toggle now joins the steps under way, as a click does;
    bool Stepping() const;
    // how long after the switch-on report "ATH\r" follows for this pulse
    // text, as step 5, the countdown and the expiry's toggle run it; -1 when
    // the text keeps the device on.
    std::int64_t PulseOffAfterMs(const TData& pulseText) const;
};
