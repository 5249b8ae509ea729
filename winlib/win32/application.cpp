// The application: its window, the message loop, terminating, common controls.
#include <windows.h>

#include <commctrl.h>

#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/layer.h"

TControl* TLayer::application = nullptr;
TControl* TLayer::mainForm = nullptr;
TControl* TLayer::creating = nullptr;
bool TLayer::running = false;
bool TLayer::terminated = false;
std::vector<TControl*> TLayer::freeLaterMarks;

TMethod<bool(MSG& msg)> PreTranslateHook;
TNotifyHandler IdleHook;
void (*HaltProgram)(int exitCode) = [](int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); };

TControl* Application() { return TLayer::application; }
TControl* MainForm() { return TLayer::mainForm; }
void SetMainForm(TControl* form) { TLayer::mainForm = form; }
bool ApplicationRunning() { return TLayer::running; }
bool ApplicationTerminated() { return TLayer::terminated; }

HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }

namespace {

bool TakeMessage(MSG& msg) { return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE; }

void Deliver(MSG& msg) {
    if (PreTranslateHook && PreTranslateHook(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

void RunApplication() {
    TControl* app = TLayer::application;
    if (app == nullptr) return;
    TLayer::running = true;
    TLayer::terminated = false;
    app->CreateWindowNow();
    MSG msg;
    while (!TLayer::terminated) {
        while (!TLayer::terminated && TakeMessage(msg)) {
            if (msg.message == WM_QUIT)
                TLayer::terminated = true;
            else
                Deliver(msg);
        }
        if (TLayer::terminated) break;
        if (IdleHook) IdleHook(app);
        // Waits for input like WaitMessage, but also wakes for input that is
        // already waiting.
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    TerminateApplication();
}

void TerminateApplication() {
    const bool wasTerminated = std::exchange(TLayer::terminated, true);
    TLayer::running = false;
    TControl* app = std::exchange(TLayer::application, nullptr);
    if (app == nullptr) return;
    if (!wasTerminated) {
        MSG msg;
        while (TakeMessage(msg))
            if (msg.message != WM_QUIT) Deliver(msg);
        if (app->Handle() != nullptr) SendMessageW(app->Handle(), WM_CLOSE, 0, 0);
    }
    app->Free();  // references held meanwhile delay it
}

void InitCommonControlsFor(DWORD classes) {
    InitCommonControls();
    static HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    if (comctl == nullptr) return;
    using TInitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto initEx = reinterpret_cast<TInitEx>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (initEx == nullptr) return;
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof init;
    init.dwICC = classes;
    initEx(&init);
}

namespace {

BOOL CALLBACK CountChild(HWND, LPARAM counter) {
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM counter) {
    ++*reinterpret_cast<int*>(counter);
    EnumChildWindows(window, CountChild, counter);  // all descendants
    return TRUE;
}

}  // namespace

int CountThreadWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}
