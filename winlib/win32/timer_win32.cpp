// Win32 timers: every TTimer's system timer belongs to one hidden window and
// ticks arrive as timer messages that DispatchMessage hands to TimerProc.
#include <windows.h>

#include "winlib/timer.h"
#include "winlib/win32/control.h"
#include "winlib/win32/layer.h"

namespace {

HWND timerWindow = nullptr;

VOID CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) { DeliverTimerTick(id); }

bool EnsureTimerWindow() {
    if (timerWindow != nullptr) return true;
    // The layer's plain kind, with no control of its own: it gets default
    // processing, and its timer messages go straight to TimerProc.
    if (!EnsurePlainLayerClass()) return false;
    // Style 0, no parent: never shown, yet a real top-level window, so its
    // timers run through the ordinary message loop.
    timerWindow = CreateWindowExW(0, LayerClassPrefix, L"", 0, 0, 0, 0, 0, nullptr, nullptr, ProgramInstance(), nullptr);
    return timerWindow != nullptr;
}

class TWin32TimerService : public TTimerService {
public:
    std::uintptr_t Start(TTimer* timer, std::int32_t interval) override {
        if (!EnsureTimerWindow()) return 0;
        const auto id = reinterpret_cast<UINT_PTR>(timer);
        // With a window, SetTimer answers only "non-zero"; the id is ours.
        if (SetTimer(timerWindow, id, static_cast<UINT>(interval), TimerProc) == 0) return 0;
        return id;
    }

    void Stop(TTimer*, std::uintptr_t id) override {
        if (timerWindow != nullptr) KillTimer(timerWindow, id);
    }

    // Under Wine the first window of a thread costs some 17 ms: paid when a
    // scheme is built, not 17 ms into the user's first switch.
    void FirstTimerMade() override { EnsureTimerWindow(); }

    void LastTimerGone() override {
        if (timerWindow == nullptr) return;
        DestroyWindow(timerWindow);
        timerWindow = nullptr;
    }
};

}  // namespace

TTimerService& PlatformTimerService() {
    static auto* service = new TWin32TimerService;  // never destroyed: timers may outlive statics
    return *service;
}

void* TimerWindowHandle() { return timerWindow; }
