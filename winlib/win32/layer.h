#pragma once
// Inside the window layer: its program-wide state and the names it gives
// the system. Not for use outside winlib/win32.

#include <vector>

#include "winlib/win32/control.h"

// The layer's window classes are this prefix and the kind's name ("obj_Form",
// "obj_EDIT"); the plain kind, which the hidden timer window uses too, has
// the prefix alone.
inline constexpr wchar_t LayerClassPrefix[] = L"obj_";
// The window property that names a window's control.
inline constexpr wchar_t SelfProperty[] = L"SELF_";

// Registers the class of `kind` once, with the layer's window procedure;
// `baseProc` gets the procedure of the system class it is built on.
bool EnsureLayerClass(const TClassDescriptor& kind, DWORD classStyle, WNDPROC& baseProc);
// The class of the layer's own plain windows.
bool EnsurePlainLayerClass();

// Keyboard facts both the dispatch and the navigation ask.
inline bool KeyDown(int key) { return GetKeyState(key) < 0; }
inline bool IsCharMessage(UINT message) {
    return message == WM_CHAR || message == WM_DEADCHAR || message == WM_SYSCHAR || message == WM_SYSDEADCHAR;
}

struct TLayerState {
    TControl* Application = nullptr;
    TControl* MainForm = nullptr;
    TControl* Creating = nullptr;  // bound to the first message of its new window
    bool Running = false;
    bool Terminated = false;
    std::vector<TControl*> FreeLaterMarks;  // controls "free later" may free
    // Default and cancel buttons marked in all forms; while there are any,
    // their key filter stands before the application's own message hook.
    int MarkedButtons = 0;
    TMessageHook HookBeforeFilter;
};

// The one state of the layer.
TLayerState& Layer();
