// The application: its window, the message loop, terminating, common controls.
#include <windows.h>

#include <commctrl.h>

#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/layer.h"

TLayerState& Layer() {
    static TLayerState state;
    return state;
}

TMethod<bool(MSG& msg)> PreTranslateHook;
TNotifyHandler IdleHook;
void (*HaltProgram)(int exitCode) = [](int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); };

TControl* Application() { return Layer().Application; }
TControl* MainForm() { return Layer().MainForm; }
void SetMainForm(TControl* form) { Layer().MainForm = form; }
bool ApplicationRunning() { return Layer().Running; }
bool ApplicationTerminated() { return Layer().Terminated; }

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
    TControl* app = Layer().Application;
    if (app == nullptr) return;
    Layer().Running = true;
    Layer().Terminated = false;
    app->CreateWindowNow();
    MSG msg;
    while (!Layer().Terminated) {
        while (!Layer().Terminated && TakeMessage(msg)) {
            if (msg.message == WM_QUIT)
                Layer().Terminated = true;
            else
                Deliver(msg);
        }
        if (Layer().Terminated) break;
        if (IdleHook) IdleHook(app);
        // Waits for input like WaitMessage, but also wakes for input that is
        // already waiting.
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    TerminateApplication();
}

void TerminateApplication() {
    const bool wasTerminated = std::exchange(Layer().Terminated, true);
    Layer().Running = false;
    TControl* app = std::exchange(Layer().Application, nullptr);
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
