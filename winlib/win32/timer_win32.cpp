// Win32 timers: every TTimer's system timer belongs to one hidden window and
// ticks arrive as timer messages that DispatchMessage hands to TimerProc.
#include <windows.h>

#include "winlib/timer.h"

namespace {

// The kind of the hidden window has no class name of its own.
constexpr char kTimerWindowClass[] = "obj_";

HWND timerWindow = nullptr;

VOID CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) { DeliverTimerTick(id); }

bool EnsureTimerWindow() {
    if (timerWindow != nullptr) return true;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (!GetClassInfoA(instance, kTimerWindowClass, &existing)) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance;
        wc.lpszClassName = kTimerWindowClass;
        if (RegisterClassA(&wc) == 0) return false;
    }
    // Style 0, no parent: never shown, yet a real top-level window, so its
    // timers run through the ordinary message loop.
    timerWindow = CreateWindowExA(0, kTimerWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
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
