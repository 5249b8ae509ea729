#pragma once
// Inside the window layer: the program-wide state and the routines that
// reach into TControl (window procedure, per-kind handlers, navigation).
// Not for use outside winlib/win32.

#include <vector>

#include "winlib/win32/control.h"

// The class "obj_" of the layer's own plain windows, registered once with
// the layer's window procedure; the hidden timer window is one of them.
bool EnsurePlainLayerClass();

struct TLayer {
    // Program-wide state.
    static TControl* application;
    static TControl* mainForm;
    static TControl* creating;  // bound to the first message of its new window
    static bool running;
    static bool terminated;
    static std::vector<TControl*> freeLaterMarks;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The control bound to a window of the layer, or nullptr.
    static TControl* ControlOf(HWND window);
    static void Bind(TControl* control, HWND window);

    // Chain handlers the layer installs per kind.
    static bool ChildHandler(void*, TControl* control, TMsg& msg, LRESULT& result);
    static bool FormHandler(void*, TControl* control, TMsg& msg, LRESULT& result);
    static bool ApplicationHandler(void*, TControl* control, TMsg& msg, LRESULT& result);
    static void AdjustSystemMenu(void*, TControl* application);

    // Keyboard navigation and default buttons.
    static void Navigate(TControl* focused, int& key, UINT message);
    static void MoveFocus(TControl* form, bool forwards);
    static void CollectTabStops(TControl* control, std::vector<TControl*>& out);
    static bool DefaultButtonFilter(void*, TMsg& msg, LRESULT& result);
    static void MarkButton(TControl* button, bool on, bool cancel);

    // Called when a control goes: no program-wide reference may outlive it.
    static void Forget(TControl* control);
    // The same for a control and every control inside it.
    static void ForgetTree(TControl* control);
};
