#include "tests/support/window_fixture.h"

#include "winlib/messageloop.h"

void TWindowTest::SetUp() {
    ASSERT_EQ(Application(), nullptr) << "an earlier test left its application window";
    TControl::NewApplication("");
}

void TWindowTest::TearDown() {
    TerminateApplication();
    SetMainForm(nullptr);
    Pump(0);
}

void RunInsideLoop(const std::function<void()>& script) {
    constexpr UINT RunScript = WM_APP + 0x3A;
    PreTranslateHook = {[](void* s, MSG& msg) {
                            if (msg.hwnd != nullptr || msg.message != RunScript) return false;
                            PreTranslateHook = {};
                            (*static_cast<const std::function<void()>*>(s))();
                            PostQuitMessage(0);
                            return true;
                        },
                        const_cast<std::function<void()>*>(&script)};
    PostThreadMessageW(GetCurrentThreadId(), RunScript, 0, 0);
    RunApplication();
    PreTranslateHook = {};
}

void Pump(int ms) { RunMessagesFor(ms); }

namespace {
void SendKey(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}
}  // namespace

void PressKey(WORD key, bool shift) {
    if (shift) SendKey(VK_SHIFT, false);
    SendKey(key, false);
    SendKey(key, true);
    if (shift) SendKey(VK_SHIFT, true);
    Pump();
}

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        INPUT input[2]{};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wScan = input[1].ki.wScan = c;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof input[0]);
        Pump();
    }
}

void ClickAt(HWND window, int x, int y, bool right) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    SetCursorPos(p.x, p.y);
    Pump(10);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof input[0]);
    Pump();
}

COLORREF PixelAt(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
}
