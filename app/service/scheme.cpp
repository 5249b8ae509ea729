#include "app/service/scheme.h"

#include "app/hosting.h"
#include "app/hubs.h"
#include "app/request.h"
#include "app/switching.h"

TClassService::TClassService() {
    // --- Elements, in creation order ---
    StartupHub = SizedHub(Create<TQXHub>(), 1, 2);
    // The reset button: the switching back to its start, the pulse back to
    // the default, the port let go.
    ResetHub = SizedHub(Create<TQXHub>(), 2, 3);

    // The service's one port, whatever number the scheme gives it.
    PortText = Create<TQXMemory>();
    SetText(PortText->Value, TText("1"));
    PulseText = Create<TQXMemory>();
    SetText(PulseText->Value, TText("0"));
    DefaultPulse = Create<TQXDoData>();
    SetText(DefaultPulse->Data, TText("0"));

    Switcher = Create<TQXMultiElement>();
    PrepareSwitching(Switcher, this);

    Requests = Create<TQXRequests>();
    State = Create<TQXSwitchState>();

    OnHub = SizedHub(Create<TQXHub>(), 1, 2);
    OffHub = SizedHub(Create<TQXHub>(), 2, 3);

    ErrorText = Create<TQXFormatStr>();
    ErrorText->SetCount(1);
    ErrorText->Mask = WrongPortText();

    // Two outputs: the off port lets go of the port before the switching
    // opens it.
    ToggleHub = SizedHub(Create<TQXHub>(), 3, 2);
    ExpiryHub = SizedHub(Create<TQXHub>(), 1, 2);

    RemoteToggle = Create<TQXMultiElement>();
    PrepareRequests(RemoteToggle, this);

    RemoteHub = SizedHub(Create<TQXHub>(), 1, 2);
    StoreHub = SizedHub(Create<TQXHub>(), 2, 1);

    // Off from wherever the switching stands: back to its start, then
    // "ATH\r" through a port of its own, reported as the off step does.
    SwitchOffHub = SizedHub(Create<TQXHub>(), 1, 4);
    OffPort = Create<TQXCOM>();
    OffPort->PortIndex = 0;
    OffPort->BaudRate = 2400;
    OffPort->Parity = 0;
    OffPort->Timeout = 1;
    OffCommand = Create<TQXFormatStr>();
    OffCommand->SetCount(0);
    OffCommand->Mask = TText("ATH\r");

    // --- Links ---
    StartupHub->onEvent[0] = QX_LINK(ResetHub, doEvent, 0);
    StartupHub->onEvent[1] = QX_LINK(RemoteToggle, doEvent, rqStartPolling);
    ResetHub->onEvent[0] = QX_LINK(Switcher, doEvent, swReset);
    ResetHub->onEvent[1] = QX_LINK(DefaultPulse, doData, 0);
    ResetHub->onEvent[2] = QX_LINK(OffPort, doClose, 1);
    DefaultPulse->onData = QX_LINK(PulseText, doValue, 0);
    LinkSwitching(Switcher, {QX_LINK(OnHub, doEvent, 0), QX_LINK(OffHub, doEvent, 0), QX_LINK(ErrorText, doFormat, 0),
                             QX_LINK(ExpiryHub, doEvent, 0), QX_LINK(PortText, readValue, 0),
                             QX_LINK(PulseText, readValue, 0)});
    Requests->onToggle = QX_LINK(ToggleHub, doEvent, 0);
    Requests->onReset = QX_LINK(ResetHub, doEvent, 1);
    Requests->onSwitchOff = QX_LINK(SwitchOffHub, doEvent, 0);
    Requests->onPulse = QX_LINK(PulseText, doValue, 0);
    OnHub->onEvent[0] = QX_LINK(State, doOn, 0);
    OnHub->onEvent[1] = QX_LINK(StoreHub, doEvent, 1);
    OffHub->onEvent[0] = QX_LINK(StoreHub, doEvent, 0);
    OffHub->onEvent[1] = QX_LINK(DefaultPulse, doData, 0);
    OffHub->onEvent[2] = QX_LINK(State, doOff, 1);
    ErrorText->onFormat = QX_LINK(State, doPortError, 0);
    ToggleHub->onEvent[0] = QX_LINK(OffPort, doClose, 0);
    ToggleHub->onEvent[1] = QX_LINK(Switcher, doEvent, swToggle);
    ExpiryHub->onEvent[1] = QX_LINK(ToggleHub, doEvent, 1);
    RemoteToggle->onEvent[rqRequested] = QX_LINK(RemoteHub, doEvent, 0);
    RemoteHub->onEvent[0] = QX_LINK(ToggleHub, doEvent, 2);
    StoreHub->onEvent[0] = QX_LINK(RemoteToggle, doEvent, rqDeleteRequest);
    SwitchOffHub->onEvent[0] = QX_LINK(Switcher, doEvent, swReset);
    SwitchOffHub->onEvent[1] = QX_LINK(OffPort, doOpen, 0);
    SwitchOffHub->onEvent[2] = QX_LINK(OffCommand, doFormat, 0);
    SwitchOffHub->onEvent[3] = QX_LINK(OffHub, doEvent, 1);
    OffPort->Port = QX_LINK(PortText, readValue, 0);
    OffCommand->onFormat = QX_LINK(OffPort, doWrite, 0);

    // --- Containers ---
    CreateSwitchingAndRequests(Switcher, RemoteToggle);
}
