#include "app/request.h"

#include "app/hubs.h"

TClassMultiElement_16D94A0::TClassMultiElement_16D94A0(TQXMultiElement* container, TControl* parentControl,
                                                       TScheme* ownerScheme)
    : TClassMultiBase(container, parentControl, ownerScheme) {
    // --- Elements, in creation order ---
    Boundary = Create<TQXEditMulti>();
    Boundary->Inputs.resize(2);

    PollTimer = Create<TQXTimer>();
    PollTimer->SetInterval(1000);
    PollTimer->SetEnabled(false);
    PollTimer->SetAutoStop(0);
    PollTimer->KeepTicks = false;

    DeleteHub = SizedHub(Create<TQXHub>(), 1, 3);
    SpareHub = SizedHub(Create<TQXHub>(), 1, 2);

    RequestFile = Create<TQXini>();
    RequestFile->FileName = TText("vr.ini");
    RequestFile->Section = TText("znah");
    RequestFile->Key = TText("p1");
    RequestFile->ValueType = 0;  // Integer

    RequestTest = Create<TQXIf_else>();
    RequestTest->Comparison = cmpGreaterOrEqual;
    SetText(RequestTest->Op2, TText("1"));

    LastRequest = Create<TQXMemory>();

    ReadHub = SizedHub(Create<TQXHub>(), 1, 2);

    // --- Links ---
    Boundary->Inputs[rqStartPolling] = QX_LINK(PollTimer, doStart, 0);
    Boundary->Inputs[rqDeleteRequest] = QX_LINK(DeleteHub, doEvent, 0);
    PollTimer->onTimer = QX_LINK(RequestFile, doRead, 0);
    DeleteHub->onEvent[0] = QX_LINK(RequestFile, doDeleteKey, 2);
    RequestFile->onRead = QX_LINK(ReadHub, doEvent, 0);
    RequestTest->onTrue = QX_LINK(Boundary, doEvent, rqRequested);
    RequestTest->Op1Point = QX_LINK(LastRequest, readValue, 0);
    ReadHub->onEvent[0] = QX_LINK(LastRequest, doValue, 0);
    ReadHub->onEvent[1] = QX_LINK(RequestTest, doCompare, 0);
}
