#include "app/service/elements.h"

#include <chrono>

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
    if (state != State || SinceUnixMs == 0) {
        using namespace std::chrono;
        SinceUnixMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    State = state;
    Confirmed = confirmed;
}
