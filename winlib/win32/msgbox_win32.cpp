#include <windows.h>

#include <string>

#include "winlib/msgbox.h"

namespace {

// Explicitly from 1251: the ANSI entry points would use the system's code
// page, which need not be Cyrillic.
std::wstring FromCp1251(std::string_view s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(1251, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(1251, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

class TWin32MessageBox final : public TMessageBoxService {
public:
    int Show(std::string_view text, std::string_view caption, std::uint32_t flags, void* owner) override {
        const std::wstring wtext = FromCp1251(text);
        const std::wstring wcaption = FromCp1251(caption);
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
