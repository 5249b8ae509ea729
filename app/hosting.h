#pragma once
// How a main scheme hosts the switching and request sub-schemes: the window
// and the service carry them alike, with their own elements around them.
// The containers are made by the host, in its own creation order; this
// sets them up, joins their points and gives them their sub-schemes.

#include "elements/strings.h"
#include "framework/events.h"
#include "framework/multi.h"
#include "framework/text.h"

// The settings file next to the program: the port number ("p1") and the
// pulse length ("p2") in section "params".
inline constexpr const char* SettingsFileName = "com i dlit.ini";
inline constexpr const char* SettingsSection = "params";

// The wrong-port message (Windows-1251; "COM" in Latin letters).
TText WrongPortText();

// Sized as the sub-schemes' points need, made at once, owned by `owner`.
void PrepareSwitching(TQXMultiElement* switcher, TScheme* owner);
void PrepareRequests(TQXMultiElement* requests, TScheme* owner);

// Where the switching's outcomes go and where it reads its two values.
struct TSwitchingLinks {
    TQX_Event SwitchedOn, SwitchedOff, PortError, PulseExpired;
    TQX_Event PortNumber, PulseLength;
};
void LinkSwitching(TQXMultiElement* switcher, const TSwitchingLinks& links);

// The sub-schemes, made now (the containers' creation routines).
void CreateSwitchingAndRequests(TQXMultiElement* switcher, TQXMultiElement* requests);

// The request sub-scheme, once made, reads its key in `section` of the
// request file instead of its own.
void AnswerRequestsIn(TQXMultiElement* requests, TText section);
