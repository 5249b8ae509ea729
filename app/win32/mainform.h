#pragma once
// The main window: two fields (COM-port number, pulse length), three
// buttons, the lamp and the red message line, joined to the switching,
// request and About sub-schemes.

#include "elements/flow.h"
#include "elements/ini.h"
#include "elements/strings.h"
#include "framework/multi.h"
#include "visual/controls.h"
#include "visual/led.h"
#include "visual/mainform.h"

class TClassMainForm_1667830 : public TScheme {
public:
    TClassMainForm_1667830();

    TQXMainForm* MainForm;
    TQXHub* StartResetHub;
    TQXButton* SwitchButton;
    TQXHub* StartupHub;
    TQXEdit* PortEdit;
    TQXini* PortIni;
    TQXLabel* PulseLabel;
    TQXMultiElement* Switcher;
    TQXButton* AboutButton;
    TQXEdit* PulseEdit;
    TQXini* PulseIni;
    TQXLabel* PortLabel;
    TQXLED* StateLed;
    TQXHub* OnHub;
    TQXHub* OffHub;
    TQXDoData* OffCaption;
    TQXDoData* OnCaption;
    TQXHub* CaptionHub;
    TQXLabel* ErrorLabel;
    TQXHub* MessageHub;
    TQXButton* ResetButton;
    TQXFormatStr* ErrorText;
    TQXHub* ToggleHub;
    TQXHub* ExpiryHub;
    TQXMultiElement* RemoteToggle;
    TQXHub* RemoteHub;
    TQXHub* StoreHub;
    TQXMultiElement* AboutHost;
};
