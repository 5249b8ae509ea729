#include "app/win32/about.h"

#include "app/hubs.h"
#include "app/win32/placement.h"
#include "winlib/cp1251.h"

TClassChildForm_16D98C0::TClassChildForm_16D98C0(TQXMultiElement* container, TControl* parentControl,
                                                 TScheme* ownerScheme)
    : TClassMultiBase(container, parentControl, ownerScheme) {
    const TFontRec sansSerif = MakeFontRec("MS Sans Serif", 8, 0, 0, 1);

    // --- Elements, in creation order ---
    AboutForm = Placed(Create<TQXMainForm>(parentControl), 35, 105, 808, 625, sansSerif);
    AboutForm->SetCaption("О программе"_cp1251);  // a Cyrillic О
    AboutForm->Visible = false;
    AboutForm->SetFrameKind(2);
    // The program has no icon of this name: the form takes its parent's.
    AboutForm->SetIcon(LoadIconA(ProgramInstance(), "KORU"));
    AboutForm->StartState = 0;
    AboutForm->Opacity = 255;
    AboutForm->PositionKey = TText();
    AboutForm->DragByClick = false;
    AboutForm->ClientSizing = false;
    AboutForm->SetNoTaskbarButton(0);
    AboutForm->initControl();
    TControl* const form = AboutForm->control;

    Boundary = Create<TQXEditMulti>();
    Boundary->Inputs.resize(1);

    ShowHub = SizedHub(Create<TQXHub>(), 1, 3);

    TitleText = Placed(Create<TQXLabel>(form), 20, 10, 728, 73, MakeFontRec("Arial", 12, fsBold, 0, 204));
    TitleText->SetAutoSize(false);
    TitleText->SetTextAlign(0);
    TitleText->Caption = "Программа включения выключения исполнительного устройства \r\n"
                         "с использованием в качестве устройства сопряжения \r\n"
                         "аналогового модема. \r\n\r\n\r\n\r\n"_cp1251;
    TitleText->initControl();

    MoreText = Placed(Create<TQXLabel>(form), 15, 505, 717, 83, MakeFontRec("Arial", 10, fsBold, 0, 204));
    MoreText->SetAutoSize(false);
    MoreText->SetTextAlign(0);
    MoreText->Caption = "Более подробно о настройке программы и вариантах её применения изложено в \r\n"
                        "журнале \"Тарвис\".\r\n\r\n"_cp1251;
    MoreText->initControl();

    PictureHost = Create<TQXMultiElement>(form);
    PictureHost->OwnerScheme = this;
    PictureHost->CreateOnDemand = false;

    // --- Links ---
    Boundary->Inputs[0] = QX_LINK(ShowHub, doEvent, 0);
    ShowHub->onEvent[1] = QX_LINK(AboutForm, doSetVisible, 4);

    // --- Attachments, the picture, navigation ---
    for (TQXWin* element : std::initializer_list<TQXWin*>{AboutForm, TitleText, MoreText}) {
        element->AttachHint(nullptr);
        element->Attach(nullptr);
    }
    AboutForm->AttachForm(nullptr);
    PictureHost->SetCreateProc(CreateSubScheme<TClassChildPanel_16D9A20>);
    form->InstallNavigation();
}

TClassChildPanel_16D9A20::TClassChildPanel_16D9A20(TQXMultiElement* container, TControl* parentControl,
                                                   TScheme* ownerScheme)
    : TClassMultiBase(container, parentControl, ownerScheme) {
    // --- Elements, in creation order ---
    PicturePanel = Placed(Create<TQXPanel>(parentControl), 10, 65, 771, 435, MakeFontRec("MS Sans Serif", 8, 0, 0, 1));
    PicturePanel->Caption = TText();
    PicturePanel->BevelInner = 2;  // raised
    PicturePanel->BevelOuter = 0;
    PicturePanel->BevelWidth = 1;
    PicturePanel->BorderStyle = 0;
    PicturePanel->BorderWidth = 1;
    PicturePanel->Alignment = 0;
    PicturePanel->initControl();

    Boundary = Create<TQXEditMulti>();

    Picture = Placed(Create<TQXImage>(PicturePanel->control), 35, 10, 710, 410);
    Picture->LoadPicture(LoadBitmapA(ProgramInstance(), "BITMAP0"));
    Picture->SetSmooth(true);
    Picture->DrawMethod = Picture->StretchDrawMethod();
    Picture->AutoSize = false;
    Picture->initControl();

    // --- Attachments, navigation ---
    for (TQXWin* element : std::initializer_list<TQXWin*>{PicturePanel, Picture}) {
        element->AttachHint(nullptr);
        element->Attach(nullptr);
    }
    PicturePanel->control->InstallNavigation();
}
