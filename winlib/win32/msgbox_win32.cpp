#include <windows.h>

#include <string>

#include "winlib/msgbox.h"
#include "winlib/win32/wintext.h"

namespace {

class TWin32MessageBox final : public TMessageBoxService {
public:
    int Show(std::string_view text, std::string_view caption, std::uint32_t flags, void* owner) override {
        const std::wstring wtext = Widen1251(text);
        const std::wstring wcaption = Widen1251(caption);
        HWND hwnd = static_cast<HWND>(owner);
        if (hwnd != nullptr && !IsWindow(hwnd)) hwnd = nullptr;  // a stale owner must not lose the box
        return MessageBoxW(hwnd, wtext.c_str(), wcaption.c_str(), flags);
    }
};

}  // namespace

TMessageBoxService& PlatformMessageBox() {
    static TWin32MessageBox service;
    return service;
}
