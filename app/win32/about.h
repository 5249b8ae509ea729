#pragma once
// The About window: two lines of text and a picture on a panel. Shown by
// its container's input 0; closing it only hides it.

#include "elements/flow.h"
#include "framework/multi.h"
#include "visual/controls.h"
#include "visual/image.h"
#include "visual/mainform.h"

class TClassChildForm_16D98C0 : public TClassMultiBase {
public:
    TClassChildForm_16D98C0(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

    TQXMainForm* AboutForm;
    TQXHub* ShowHub;
    TQXLabel* TitleText;
    TQXLabel* MoreText;
    TQXMultiElement* PictureHost;
};

class TClassChildPanel_16D9A20 : public TClassMultiBase {
public:
    TClassChildPanel_16D9A20(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

    TQXPanel* PicturePanel;
    TQXImage* Picture;
};
