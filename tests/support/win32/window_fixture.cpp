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
    // A quit left over from a loop that ended otherwise would end the next test's loop at once.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
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

void Activate(TControl* form) {
    form->Show();
    const bool active = RunMessagesUntil([form] { return GetActiveWindow() == form->Handle(); }, 2000);
    ASSERT_TRUE(active) << "the form did not become the active window";
}

namespace {
void SendKey(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}
}  // namespace

void PressKey(WORD key, bool shift, int repeats) {
    if (shift) SendKey(VK_SHIFT, false);
    for (int i = 0; i <= repeats; ++i) SendKey(key, false);
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

void MoveMouseTo(HWND window, int x, int y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    SetCursorPos(p.x, p.y);
    Pump();
}

void MouseButton(bool down, bool right) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = right ? (down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP)
                             : (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    SendInput(1, &input, sizeof input);
    Pump();
}

TPixels ReadPixels(HDC dc, int width, int height) {
    TPixels out{width, height, std::vector<COLORREF>(static_cast<std::size_t>(width) * height)};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* bgrx = static_cast<const std::uint32_t*>(bits);
    for (std::size_t i = 0; i < out.Colors.size(); ++i)  // 0x00RRGGBB to 0x00BBGGRR
        out.Colors[i] = RGB((bgrx[i] >> 16) & 0xFF, (bgrx[i] >> 8) & 0xFF, bgrx[i] & 0xFF);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return out;
}

TPixels ClientPixels(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    HDC dc = GetDC(window);
    TPixels out = ReadPixels(dc, r.right, r.bottom);
    ReleaseDC(window, dc);
    return out;
}
