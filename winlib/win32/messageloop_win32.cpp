#include <windows.h>

#include "winlib/messageloop.h"

void RunMessagesFor(std::int32_t milliseconds) { RunMessagesUntil(nullptr, milliseconds); }

bool RunMessagesUntil(const std::function<bool()>& done, std::int32_t timeoutMs) {
    const auto finished = [&done] { return done && done(); };
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
    MSG msg;
    while (true) {
        if (finished()) return true;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Not ours to swallow: the program's own loop must see it.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return finished();
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (finished()) return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Input already seen by PeekMessage still wakes us (MWMO_INPUTAVAILABLE).
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
