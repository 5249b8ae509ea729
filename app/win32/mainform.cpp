#include "app/win32/mainform.h"

#include "app/hosting.h"
#include "app/hubs.h"
#include "app/request.h"
#include "app/switching.h"
#include "app/win32/about.h"
#include "app/win32/placement.h"
#include "winlib/cp1251.h"

TClassMainForm_1667830::TClassMainForm_1667830() {
    const TFontRec arial12 = MakeFontRec("Arial", 12, fsBold, 0, 204);
    const TFontRec arial14 = MakeFontRec("Arial", 14, fsBold, 0, 204);
    const TText pulseHint = "Врнмя в секундах на которое происходит включение. При значении \"0\" включено постоянно до выключения"_cp1251;

    // --- Elements, in creation order ---
    MainForm = Placed(Create<TQXMainForm>(nullptr), 0, 0, 652, 317, MakeFontRec("MS Sans Serif", 8, 0, 0, 1));
    MainForm->SetCaption("Tovan-компьютер включает и выключает устройство через модем"_cp1251);
    MainForm->SetFrameKind(2);
    MainForm->SetIcon(LoadIconA(ProgramInstance(), "ICON0"));
    MainForm->StartState = 0;
    MainForm->Opacity = 255;
    MainForm->PositionKey = TText();
    MainForm->DragByClick = false;
    MainForm->ClientSizing = false;
    MainForm->SetNoTaskbarButton(0);
    MainForm->initControl();
    TControl* const form = MainForm->control;

    StartResetHub = SizedHub(Create<TQXHub>(), 2, 3);

    SwitchButton = Placed(Create<TQXButton>(form), 370, 210, 120, 50, arial12);
    SwitchButton->Caption = "Включить"_cp1251;
    SwitchButton->Flat = false;
    SwitchButton->DefaultButton = false;
    SwitchButton->initControl();

    StartupHub = SizedHub(Create<TQXHub>(), 2, 5);

    PortEdit = Placed(Create<TQXEdit>(form), 400, 30, 55, 30, arial14);
    PortEdit->Text = TText();
    PortEdit->Password = false;
    PortEdit->ReadOnly = false;
    PortEdit->ValueSource = PortEdit->TextReader();
    PortEdit->Alignment = 2;
    PortEdit->Color = WindowBackground;
    PortEdit->BorderKind = 0;
    PortEdit->initControl();

    PortIni = Create<TQXini>();
    PortIni->FileName = TText(SettingsFileName);
    PortIni->Section = TText(SettingsSection);
    PortIni->Key = TText("p1");
    PortIni->ValueType = 1;  // String

    PulseLabel = Placed(Create<TQXLabel>(form), 20, 90, 356, 42, arial14);
    PulseLabel->Caption = "Длительность импульса, с"_cp1251;
    PulseLabel->Hint = pulseHint;
    PulseLabel->HoverColor = 0;
    PulseLabel->HoverUnderline = false;
    PulseLabel->SetAutoSize(false);
    PulseLabel->SetTextAlign(0);
    PulseLabel->initControl();

    Switcher = Create<TQXMultiElement>(form);
    PrepareSwitching(Switcher, this);

    AboutButton = Placed(Create<TQXButton>(form), 10, 210, 160, 50, arial12);
    AboutButton->Caption = "O программе "_cp1251;  // a Latin O, and one blank at the end
    AboutButton->Flat = false;
    AboutButton->DefaultButton = false;
    AboutButton->initControl();

    PulseEdit = Placed(Create<TQXEdit>(form), 400, 90, 55, 30, arial14);
    PulseEdit->Text = TText();
    PulseEdit->Password = false;
    PulseEdit->ReadOnly = false;
    PulseEdit->ValueSource = PulseEdit->TextReader();
    PulseEdit->Alignment = 2;
    PulseEdit->Hint = pulseHint;
    PulseEdit->Color = WindowBackground;
    PulseEdit->BorderKind = 0;
    PulseEdit->initControl();

    PulseIni = Create<TQXini>();
    PulseIni->FileName = TText(SettingsFileName);
    PulseIni->Section = TText(SettingsSection);
    PulseIni->Key = TText("p2");
    PulseIni->ValueType = 1;  // String

    PortLabel = Placed(Create<TQXLabel>(form), 20, 15, 370, 62, arial14);
    PortLabel->Caption = "Номер СОМ-порта, к которому подключен модем"_cp1251;  // СОМ in Cyrillic letters
    PortLabel->HoverColor = 0;
    PortLabel->HoverUnderline = false;
    PortLabel->SetAutoSize(false);
    PortLabel->SetTextAlign(0);
    PortLabel->initControl();

    StateLed = Placed(Create<TQXLED>(form), 525, 215, 35, 35, MakeFontRec("MS Sans Serif", 8, 0, 0, 1));
    StateLed->LitColor = 255;
    StateLed->UnlitColor = 128;
    StateLed->FrameColor = 16777215;
    StateLed->Shape = 0;
    StateLed->Framed = true;
    StateLed->Lit = false;
    StateLed->initControl();

    OnHub = SizedHub(Create<TQXHub>(), 2, 3);
    OffHub = SizedHub(Create<TQXHub>(), 2, 3);

    OffCaption = Create<TQXDoData>();
    SetText(OffCaption->Data, TText("Отключить"_cp1251));
    OnCaption = Create<TQXDoData>();
    SetText(OnCaption->Data, TText("Включить"_cp1251));

    CaptionHub = SizedHub(Create<TQXHub>(), 2, 1);

    ErrorLabel = Placed(Create<TQXLabel>(form), 10, 140, 589, 54, MakeFontRec("Arial", 14, fsBold, 255, 204));
    ErrorLabel->Caption = TText();
    ErrorLabel->HoverColor = 0;
    ErrorLabel->HoverUnderline = false;
    ErrorLabel->SetAutoSize(false);
    ErrorLabel->SetTextAlign(0);
    ErrorLabel->initControl();

    MessageHub = SizedHub(Create<TQXHub>(), 4, 1);

    ResetButton = Placed(Create<TQXButton>(form), 220, 210, 115, 50, arial12);
    ResetButton->Caption = "Сброс"_cp1251;
    ResetButton->Flat = false;
    ResetButton->DefaultButton = false;
    ResetButton->initControl();

    ErrorText = Create<TQXFormatStr>();
    ErrorText->SetCount(1);
    ErrorText->Mask = WrongPortText();

    ToggleHub = SizedHub(Create<TQXHub>(), 3, 1);
    ExpiryHub = SizedHub(Create<TQXHub>(), 1, 2);

    RemoteToggle = Create<TQXMultiElement>(form);
    PrepareRequests(RemoteToggle, this);

    RemoteHub = SizedHub(Create<TQXHub>(), 1, 2);
    StoreHub = SizedHub(Create<TQXHub>(), 2, 1);

    AboutHost = Create<TQXMultiElement>(form);
    AboutHost->OwnerScheme = this;
    AboutHost->CreateOnDemand = false;

    // --- Links ---
    MainForm->onStart = QX_LINK(StartupHub, doEvent, 0);
    StartResetHub->onEvent[0] = QX_LINK(Switcher, doEvent, swReset);
    StartResetHub->onEvent[2] = QX_LINK(MessageHub, doEvent, 1);
    SwitchButton->onClick = QX_LINK(ToggleHub, doEvent, 0);
    StartupHub->onEvent[0] = QX_LINK(StartResetHub, doEvent, 0);
    StartupHub->onEvent[2] = QX_LINK(PortIni, doRead, 0);
    StartupHub->onEvent[3] = QX_LINK(PulseIni, doRead, 0);
    StartupHub->onEvent[4] = QX_LINK(RemoteToggle, doEvent, rqStartPolling);
    PortEdit->onTextChange = QX_LINK(PortIni, doWrite, 1);
    PortIni->onRead = QX_LINK(PortEdit, doSetText, 1);
    LinkSwitching(Switcher, {QX_LINK(OnHub, doEvent, 0), QX_LINK(OffHub, doEvent, 1), QX_LINK(ErrorText, doFormat, 0),
                             QX_LINK(ExpiryHub, doEvent, 0), QX_LINK(PortEdit, readValue, 0),
                             QX_LINK(PulseEdit, readValue, 0)});
    AboutButton->onClick = QX_LINK(AboutHost, doEvent, 0);
    PulseEdit->onTextChange = QX_LINK(PulseIni, doWrite, 1);
    PulseIni->onRead = QX_LINK(PulseEdit, doSetText, 1);
    OnHub->onEvent[0] = QX_LINK(StateLed, doOn, 2);
    OnHub->onEvent[1] = QX_LINK(OffCaption, doData, 0);
    OnHub->onEvent[2] = QX_LINK(StoreHub, doEvent, 1);
    OffHub->onEvent[0] = QX_LINK(StoreHub, doEvent, 0);
    OffHub->onEvent[1] = QX_LINK(OnCaption, doData, 0);
    OffHub->onEvent[2] = QX_LINK(StateLed, doOff, 1);
    OffCaption->onData = QX_LINK(CaptionHub, doEvent, 0);
    OnCaption->onData = QX_LINK(CaptionHub, doEvent, 1);
    CaptionHub->onEvent[0] = QX_LINK(SwitchButton, doSetCaption, 0);
    MessageHub->onEvent[0] = QX_LINK(ErrorLabel, doSetText, 0);
    ResetButton->onClick = QX_LINK(StartResetHub, doEvent, 1);
    ErrorText->onFormat = QX_LINK(MessageHub, doEvent, 0);
    ToggleHub->onEvent[0] = QX_LINK(Switcher, doEvent, swToggle);
    ExpiryHub->onEvent[1] = QX_LINK(ToggleHub, doEvent, 1);
    RemoteToggle->onEvent[rqRequested] = QX_LINK(RemoteHub, doEvent, 0);
    RemoteHub->onEvent[0] = QX_LINK(ToggleHub, doEvent, 2);
    StoreHub->onEvent[0] = QX_LINK(RemoteToggle, doEvent, rqDeleteRequest);

    // --- Attachments, containers, navigation ---
    for (TQXWin* element : std::initializer_list<TQXWin*>{MainForm, SwitchButton, PortEdit, PulseLabel, AboutButton,
                                                          PulseEdit, PortLabel, StateLed, ErrorLabel, ResetButton}) {
        element->AttachHint(nullptr);
        element->Attach(nullptr);
    }
    MainForm->AttachForm(nullptr);
    CreateSwitchingAndRequests(Switcher, RemoteToggle);
    AboutHost->SetCreateProc(CreateSubScheme<TClassChildForm_16D98C0>);
    form->InstallNavigation();
}
