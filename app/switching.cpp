#include "app/switching.h"

#include "app/hubs.h"

#include <cstdint>

TClassMultiElement_16D8160::TClassMultiElement_16D8160(TQXMultiElement* container, TControl* parentControl,
                                                       TScheme* ownerScheme)
    : TClassMultiBase(container, parentControl, ownerScheme) {
    // --- Elements, in creation order ---
    Boundary = Create<TQXEditMulti>();
    Boundary->Inputs.resize(4);
    Boundary->Offered.resize(1);

    ModemPort = Create<TQXCOM>();
    ModemPort->PortIndex = 5;
    ModemPort->BaudRate = 2400;
    ModemPort->Parity = 0;
    ModemPort->Timeout = 1;

    StepTimer = Create<TQXTimer>();
    StepTimer->SetInterval(100);
    StepTimer->SetEnabled(false);
    StepTimer->SetAutoStop(0);
    StepTimer->KeepTicks = false;

    StepCounter = Create<TQXCounter>();
    StepCounter->Min = 0;
    StepCounter->Max = 10;
    StepCounter->Step = 1;
    StepCounter->Direction = 0;
    StepCounter->Count = 0;

    StepRouter = Create<TQXIndexToChanel>();
    StepRouter->SetCount(10);

    OnCommand = Create<TQXFormatStr>();
    OnCommand->SetCount(0);
    OnCommand->Mask = TText("ATH1\r");

    WriteHub = SizedHub(Create<TQXHub>(), 1, 6);
    CommandHub = SizedHub(Create<TQXHub>(), 4, 1);

    OffCommand = Create<TQXFormatStr>();
    OffCommand->SetCount(0);
    OffCommand->Mask = TText("ATH\r");

    CounterHub = SizedHub(Create<TQXHub>(), 1, 2);
    StopHub = SizedHub(Create<TQXHub>(), 4, 1);
    ToggleHub = SizedHub(Create<TQXHub>(), 2, 2);

    WriteResult = Create<TQXMemory>();

    WriteCheck = Create<TQXIf_else>();
    WriteCheck->Comparison = cmpGreater;
    SetText(WriteCheck->Op2, TText("0"));

    // Five outputs: the fifth cancels the countdown, so a countdown that
    // outlives a reset cannot switch the device back on.
    ResetHub = SizedHub(Create<TQXHub>(), 2, 5);
    CheckHub = SizedHub(Create<TQXHub>(), 2, 2);
    // Three outputs: the third sends the counter back to 0, so the toggle
    // after a port error runs the on-sequence again from step 1.
    ErrorHub = SizedHub(Create<TQXHub>(), 1, 3);

    Countdown = Create<TQXMultiElement>(parentControl);
    Countdown->OwnerScheme = this;
    Countdown->CreateOnDemand = false;
    Countdown->onEvent.resize(1);
    Countdown->Data.resize(2);

    PulseHub = SizedHub(Create<TQXHub>(), 1, 2);

    PulseCalc = Create<TQXMathParse>();
    PulseCalc->SetArgCount(1);
    PulseCalc->SetExpression("%1 - 2");
    PulseCalc->ResultReal = true;
    PulseCalc->SetDefault(0.0);
    PulseCalc->SetDegrees(false);

    CountdownStartHub = SizedHub(Create<TQXHub>(), 1, 2);

    // Step 1 goes through here: the stored write result is forgotten before
    // every open, so a port that fails after an earlier successful write is
    // reported as a port error.
    OpenHub = SizedHub(Create<TQXHub>(), 1, 2);

    // --- Links ---
    Boundary->Inputs[0] = QX_LINK(ToggleHub, doEvent, 0);
    Boundary->Inputs[3] = QX_LINK(ResetHub, doEvent, 0);
    ModemPort->onWrite = QX_LINK(WriteHub, doEvent, 0);
    ModemPort->Port = QX_LINK(Boundary, readData, swPortNumber);
    StepTimer->onTimer = QX_LINK(StepCounter, doNext, 0);
    StepCounter->onCount = QX_LINK(CounterHub, doEvent, 0);
    StepRouter->onEvent[1] = QX_LINK(OpenHub, doEvent, 0);
    StepRouter->onEvent[2] = QX_LINK(OnCommand, doFormat, 0);
    StepRouter->onEvent[3] = QX_LINK(CheckHub, doEvent, 0);
    StepRouter->onEvent[4] = QX_LINK(Boundary, doEvent, swSwitchedOn);
    StepRouter->onEvent[5] = QX_LINK(PulseHub, doEvent, 0);
    StepRouter->onEvent[6] = QX_LINK(Countdown, doEvent, cdCancel);
    StepRouter->onEvent[7] = QX_LINK(OffCommand, doFormat, 0);
    StepRouter->onEvent[8] = QX_LINK(Boundary, doEvent, swSwitchedOff);
    StepRouter->onEvent[9] = QX_LINK(StopHub, doEvent, 1);
    OnCommand->onFormat = QX_LINK(CommandHub, doEvent, 0);
    WriteHub->onEvent[1] = QX_LINK(WriteResult, doValue, 0);
    CommandHub->onEvent[0] = QX_LINK(ModemPort, doWrite, 3);
    OffCommand->onFormat = QX_LINK(CommandHub, doEvent, 1);
    CounterHub->onEvent[1] = QX_LINK(StepRouter, doEvent, 0);
    StopHub->onEvent[0] = QX_LINK(StepTimer, doStop, 1);
    ToggleHub->onEvent[0] = QX_LINK(StepTimer, doStart, 0);
    WriteCheck->onFalse = QX_LINK(ErrorHub, doEvent, 0);
    WriteCheck->Op1Point = QX_LINK(WriteResult, readValue, 0);
    ResetHub->onEvent[0] = QX_LINK(WriteResult, doClear, 1);
    ResetHub->onEvent[1] = QX_LINK(StepCounter, doReset, 2);
    ResetHub->onEvent[2] = QX_LINK(ModemPort, doClose, 1);
    ResetHub->onEvent[3] = QX_LINK(StopHub, doEvent, 3);
    ResetHub->onEvent[4] = QX_LINK(Countdown, doEvent, cdCancel);
    CheckHub->onEvent[0] = QX_LINK(WriteCheck, doCompare, 0);
    ErrorHub->onEvent[0] = QX_LINK(StopHub, doEvent, 2);
    ErrorHub->onEvent[1] = QX_LINK(Boundary, doEvent, swPortError);
    ErrorHub->onEvent[2] = QX_LINK(StepCounter, doReset, 2);
    Countdown->onEvent[cdExpired] = QX_LINK(Boundary, doEvent, swPulseExpired);
    Countdown->Data[cdThreshold] = QX_LINK(PulseCalc, readResult, 0);
    Countdown->Data[cdPulseText] = QX_LINK(Boundary, readData, swPulseLength);
    PulseHub->onEvent[0] = QX_LINK(StopHub, doEvent, 0);
    PulseHub->onEvent[1] = QX_LINK(CountdownStartHub, doEvent, 0);
    PulseCalc->Arg[0] = QX_LINK(Boundary, readData, swPulseLength);
    CountdownStartHub->onEvent[0] = QX_LINK(PulseCalc, doCalc, 0);
    CountdownStartHub->onEvent[1] = QX_LINK(Countdown, doEvent, cdStart);
    OpenHub->onEvent[0] = QX_LINK(WriteResult, doClear, 1);
    OpenHub->onEvent[1] = QX_LINK(ModemPort, doOpen, 0);

    // --- Nested containers ---
    Countdown->SetCreateProc(CreateSubScheme<TClassMultiElement_16D88F0>);
}

TClassMultiElement_16D88F0::TClassMultiElement_16D88F0(TQXMultiElement* container, TControl* parentControl,
                                                       TScheme* ownerScheme)
    : TClassMultiBase(container, parentControl, ownerScheme) {
    // --- Elements, in creation order ---
    Boundary = Create<TQXEditMulti>();
    Boundary->Inputs.resize(2);

    SecondTimer = Create<TQXTimer>();
    SecondTimer->SetInterval(1000);
    SecondTimer->SetEnabled(false);
    SecondTimer->SetAutoStop(0);
    SecondTimer->KeepTicks = false;

    StartHub = SizedHub(Create<TQXHub>(), 1, 3);

    // Max is the largest count so that pulses above 1000 s still expire
    // instead of wrapping back to Min first.
    SecondCounter = Create<TQXCounter>();
    SecondCounter->Min = 0;
    SecondCounter->Max = INT32_MAX;
    SecondCounter->Step = 1;
    SecondCounter->Direction = 0;
    SecondCounter->Count = 0;

    ExpiryCheck = Create<TQXIf_else>();
    ExpiryCheck->Comparison = cmpGreater;
    SetText(ExpiryCheck->Op1, TText("0"));
    SetInteger(ExpiryCheck->Op2, 1);

    TickHub = SizedHub(Create<TQXHub>(), 4, 2);
    ExpiredHub = SizedHub(Create<TQXHub>(), 1, 2);

    ZeroCheck = Create<TQXStrMask>();
    ZeroCheck->Mask = TText("0");
    ZeroCheck->IgnoreCase = 1;

    CounterResetHub = SizedHub(Create<TQXHub>(), 2, 1);
    TimerStopHub = SizedHub(Create<TQXHub>(), 2, 1);
    CancelHub = SizedHub(Create<TQXHub>(), 1, 2);

    // --- Links ---
    Boundary->Inputs[cdStart] = QX_LINK(ZeroCheck, doCompare, 0);
    Boundary->Inputs[cdCancel] = QX_LINK(CancelHub, doEvent, 0);
    SecondTimer->onTimer = QX_LINK(SecondCounter, doNext, 0);
    StartHub->onEvent[1] = QX_LINK(CounterResetHub, doEvent, 0);
    StartHub->onEvent[2] = QX_LINK(SecondTimer, doStart, 0);
    SecondCounter->onCount = QX_LINK(TickHub, doEvent, 0);
    ExpiryCheck->onTrue = QX_LINK(ExpiredHub, doEvent, 0);
    ExpiryCheck->Op1Point = QX_LINK(SecondCounter, readCount, 0);
    ExpiryCheck->Op2Point = QX_LINK(Boundary, readData, cdThreshold);
    TickHub->onEvent[1] = QX_LINK(ExpiryCheck, doCompare, 0);
    ExpiredHub->onEvent[0] = QX_LINK(Boundary, doEvent, cdExpired);
    ExpiredHub->onEvent[1] = QX_LINK(TimerStopHub, doEvent, 1);
    ZeroCheck->onFalse = QX_LINK(StartHub, doEvent, 0);
    ZeroCheck->Text = QX_LINK(Boundary, readData, cdPulseText);
    CounterResetHub->onEvent[0] = QX_LINK(SecondCounter, doReset, 2);
    TimerStopHub->onEvent[0] = QX_LINK(SecondTimer, doStop, 1);
    CancelHub->onEvent[0] = QX_LINK(CounterResetHub, doEvent, 1);
    CancelHub->onEvent[1] = QX_LINK(TimerStopHub, doEvent, 0);
}

bool TClassMultiElement_16D8160::Stepping() const { return StepTimer->Enabled(); }

std::int64_t TClassMultiElement_16D8160::PulseOffAfterMs(const TData& pulseText) const {
    const auto* countdown = static_cast<const TClassMultiElement_16D88F0*>(Countdown->Boundary->Scheme);
    if (countdown->ZeroCheck->Matches(AsText(pulseText).view())) return -1;
    // PulseCalc's threshold, as ExpiryCheck compares it with the whole-second count.
    TData calculated;
    SetReal(calculated, AsReal(pulseText) - 2);
    const std::int32_t threshold = AsInteger(calculated);
    const std::int64_t ticks = threshold < 1 ? 1 : static_cast<std::int64_t>(threshold) + 1;
    const std::int64_t step = StepTimer->Interval();
    // Step 5 starts the countdown; the expiry's toggle writes at step 7.
    return step + ticks * countdown->SecondTimer->Interval() + 2 * step;
}
