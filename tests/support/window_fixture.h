#pragma once
// Real windows for tests under Wine on the virtual display: an application
// window per test, the loop run around a script, keys and mouse input
// injected through the system, pixels read back.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Shows `form` and makes it the active window, as a user's click would.
void Activate(TControl* form);

// Input as the user gives it, to the focused window of the active one.
// `repeats` more key-downs before the release: the key auto-repeating.
void PressKey(WORD key, bool shift = false, int repeats = 0);
void TypeText(const std::wstring& text);
void ClickAt(HWND window, int x, int y, bool right = false);

// The colour of a pixel as the window shows it.
COLORREF PixelAt(HWND window, int x, int y);

// Mouse input in steps: the pointer to a client point, a button down or up.
void MoveMouseTo(HWND window, int x, int y);
void MouseButton(bool down, bool right = false);

// Pixels read back from a device context, row by row.
struct TPixels {
    int Width = 0, Height = 0;
    std::vector<COLORREF> Colors;
    COLORREF At(int x, int y) const { return Colors[static_cast<std::size_t>(y * Width + x)]; }
};
TPixels ReadPixels(HDC dc, int width, int height);
// The client area of a window as it shows it.
TPixels ClientPixels(HWND window);
