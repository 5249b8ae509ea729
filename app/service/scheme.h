#pragma once
// The service's main scheme: the switching and request sub-schemes as the
// main window hosts them, with the window's controls replaced by the
// command line's requests, data memories and a state element. It reads
// against the window's scheme line by line; what it adds is the off port,
// which makes the device's state known without a switch-on first.

#include "app/service/elements.h"
#include "elements/com.h"
#include "elements/flow.h"
#include "elements/strings.h"
#include "framework/multi.h"

class TClassService : public TScheme {
public:
    TClassService();

    TQXHub* StartupHub;
    TQXHub* ResetHub;
    TQXMemory* PortText;
    TQXMemory* PulseText;
    TQXDoData* DefaultPulse;
    TQXMultiElement* Switcher;
    TQXRequests* Requests;
    TQXSwitchState* State;
    TQXHub* OnHub;
    TQXHub* OffHub;
    TQXFormatStr* ErrorText;
    TQXHub* ToggleHub;
    TQXHub* ExpiryHub;
    TQXMultiElement* RemoteToggle;
    TQXHub* RemoteHub;
    TQXHub* StoreHub;
    TQXHub* SwitchOffHub;
    TQXCOM* OffPort;
    TQXFormatStr* OffCommand;
};
