#include "tests/app/switching_host.h"

#include "app/hubs.h"

namespace {

const char* const OutcomeNames[swOutputCount] = {"SwitchedOn", "Output1", "SwitchedOff", "PortError",
                                                 "PulseExpired"};

std::string Printable(std::string_view bytes) {
    std::string s;
    for (char c : bytes) s += c == '\r' ? std::string("\\r") : std::string(1, c);
    return s;
}

}  // namespace

TPortHandle TTimedSerial::Open(std::string_view deviceName) {
    const TPortHandle h = TFakeSerial::Open(deviceName);
    timeline_.Note("open " + std::string(deviceName) + (h == InvalidPortHandle ? " failed" : ""));
    return h;
}

bool TTimedSerial::Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) {
    const bool ok = TFakeSerial::Write(port, bytes, count, written);
    timeline_.Note("write " + Printable(std::string_view(bytes, count)) + (ok ? "" : " failed"));
    return ok;
}

void TTimedSerial::Close(TPortHandle port) {
    TFakeSerial::Close(port);
    timeline_.Note("close");
}

TSwitchingHost::TSwitchingHost(TTimeline& timeline) : Timeline(timeline) {
    SetText(PortText.Value, TText("6"));
    SetText(PulseText.Value, TText("0"));

    SizedHub(&ToggleHub, 3, 1);
    SizedHub(&OnHub, 2, 2);
    SizedHub(&OffHub, 2, 2);
    SizedHub(&ExpiryHub, 1, 2);
    SizedHub(&RemoteHub, 1, 2);

    Switcher.CreateOnDemand = false;
    Switcher.onEvent.resize(swOutputCount);
    Switcher.Data.resize(swDataCount);
    RemoteToggle.CreateOnDemand = false;
    RemoteToggle.onEvent.resize(rqOutputCount);
    RemoteToggle.Data.resize(rqDataCount);

    Switcher.onEvent[swSwitchedOn] = QX_LINK(&OnHub, doEvent, 0);
    Switcher.onEvent[swSwitchedOff] = QX_LINK(&OffHub, doEvent, 1);
    Switcher.onEvent[swPortError] = QX_LINK(this, doOutcome, swPortError);
    Switcher.onEvent[swPulseExpired] = QX_LINK(&ExpiryHub, doEvent, 0);
    Switcher.Data[swPortNumber] = QX_LINK(&PortText, readValue, 0);
    Switcher.Data[swPulseLength] = QX_LINK(&PulseText, readValue, 0);
    OnHub.onEvent[0] = QX_LINK(this, doOutcome, swSwitchedOn);
    OnHub.onEvent[1] = QX_LINK(&RemoteToggle, doEvent, rqDeleteRequest);
    OffHub.onEvent[0] = QX_LINK(&RemoteToggle, doEvent, rqDeleteRequest);
    OffHub.onEvent[1] = QX_LINK(this, doOutcome, swSwitchedOff);
    ExpiryHub.onEvent[0] = QX_LINK(this, doOutcome, swPulseExpired);
    ExpiryHub.onEvent[1] = QX_LINK(&ToggleHub, doEvent, 1);
    ToggleHub.onEvent[0] = QX_LINK(&Switcher, doEvent, swToggle);
    RemoteToggle.onEvent[rqRequested] = QX_LINK(&RemoteHub, doEvent, 0);
    RemoteHub.onEvent[0] = QX_LINK(this, doOutcome, swOutputCount);  // "Request"
    RemoteHub.onEvent[1] = QX_LINK(&ToggleHub, doEvent, 2);

    Switcher.SetCreateProc(CreateSubScheme<TClassMultiElement_16D8160>);
    RemoteToggle.SetCreateProc(CreateSubScheme<TClassMultiElement_16D94A0>);
}

void TSwitchingHost::Fire(TQXMultiElement& container, std::uint16_t input) {
    TData value;
    container.doEvent(value, input);
}

void TSwitchingHost::Fire(TQXHub& hub, std::uint16_t input) {
    TData value;
    hub.doEvent(value, input);
}

TClassMultiElement_16D8160& TSwitchingHost::Switching() const {
    return *static_cast<TClassMultiElement_16D8160*>(Switcher.Boundary->Scheme);
}

TClassMultiElement_16D88F0& TSwitchingHost::Countdown() const {
    return *static_cast<TClassMultiElement_16D88F0*>(Switching().Countdown->Boundary->Scheme);
}

bool TSwitchingHost::CountdownRunning() const { return Countdown().SecondTimer->Enabled(); }

bool TSwitchingHost::SequencerRunning() const { return Switching().StepTimer->Enabled(); }

void TSwitchingHost::doOutcome(TData&, std::uint16_t index) {
    Timeline.Note(index < swOutputCount ? OutcomeNames[index] : "Request");
}
