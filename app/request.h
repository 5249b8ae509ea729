#pragma once
// The remote request sub-scheme: once a second it reads key "p1" of
// section "znah" in "vr.ini"; a value of 1 or more asks the host for a
// toggle. The host has it delete the key after every reported switch, so
// one request causes one toggle.

#include <cstdint>

#include "elements/flow.h"
#include "elements/ini.h"
#include "elements/timer.h"
#include "framework/multi.h"

// Points of the request container, as its host sees them.
enum : std::uint16_t {
    rqStartPolling = 0,  // doEvent
    rqDeleteRequest = 1, // doEvent
    rqRequested = 0,     // onEvent
    rqOutputCount = 1,
    rqDataCount = 2,     // Data 0 and 1: present, never read
};

class TClassMultiElement_16D94A0 : public TClassMultiBase {
public:
    TClassMultiElement_16D94A0(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

    TQXTimer* PollTimer;
    TQXHub* DeleteHub;
    TQXHub* SpareHub;
    TQXini* RequestFile;
    TQXIf_else* RequestTest;
    TQXMemory* LastRequest;
    TQXHub* ReadHub;
};
