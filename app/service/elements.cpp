#include "app/service/elements.h"

#include "app/service/clock.h"

void TQXSwitchState::doOn(TData&, std::uint16_t) {
    if (Reported) Reported(SwitchedOn);
}

void TQXSwitchState::doOff(TData&, std::uint16_t) {
    if (Reported) Reported(SwitchedOff);
}

void TQXSwitchState::doPortError(TData& value, std::uint16_t) {
    PortMessage = AsText(value);
    if (Reported) Reported(PortError);
}

void TQXSwitchState::Set(TSwitchState state, bool confirmed) {
    if (state != State || SinceUnixMs == 0) SinceUnixMs = WallMs();
    State = state;
    Confirmed = confirmed;
}
