#pragma once
// Real windows for tests under Wine on the virtual display: an application
// window per test, the loop run around a script, keys and mouse input
// injected through the system, pixels read back.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "winlib/win32/control.h"

// A fresh application window for each test; whatever the test leaves is
// freed with it.
class TWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TControl* App() const { return Application(); }
};

// Runs the application's message loop with `script` called from inside it;
// the loop ends when the script returns (or the script ends it earlier).
void RunInsideLoop(const std::function<void()>& script);
// Delivers waiting messages for `ms` of real time (inside or outside the loop).
void Pump(int ms = 30);

// Input as the user gives it, to the focused window of the active one.
void PressKey(WORD key, bool shift = false);
void TypeText(const std::wstring& text);
void ClickAt(HWND window, int x, int y, bool right = false);

// The colour of a pixel as the window shows it.
COLORREF PixelAt(HWND window, int x, int y);
