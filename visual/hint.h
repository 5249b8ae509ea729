#pragma once
// Tooltips for visual elements. Each registered window gets a tooltip
// control of its own, styled from the manager's settings at registration.
// Elements reach the manager only through its operations record.

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "visual/win.h"

// The seven operations elements call, each bound to a manager.
struct THintOperations {
    TMethod<std::uintptr_t(HWND window)> RegisterTool;
    TMethod<void(std::uintptr_t tool)> UnregisterTool;
    TMethod<void(std::uintptr_t tool, std::string_view text)> SetText;
    TMethod<void(std::uintptr_t tool, int icon, std::string_view title)> SetTitle;
    TMethod<void(std::uintptr_t tool)> MouseEntered;
    TMethod<void(std::uintptr_t tool)> MouseLeft;
    TMethod<void(std::uintptr_t tool, int x, int y)> MouseMoved;
};

class TQXHintManager {
public:
    TQXHintManager();
    ~TQXHintManager();
    TQXHintManager(const TQXHintManager&) = delete;
    TQXHintManager& operator=(const TQXHintManager&) = delete;

    bool Rectangular = true;  // false: balloon tips
    TColor BackColor = SystemColor(COLOR_INFOBK);
    std::int32_t InitialDelay = 500;
    std::int32_t HideDelay = 5000;
    std::int32_t Margin = 0;
    bool Tracking = false;
    TFontRec Font = MakeFontRec("Tahoma", 8, 0, SystemColor(COLOR_INFOTEXT), 1);

    THintOperations* Operations() { return &operations_; }
    // Tooltip windows alive now.
    std::size_t ToolCount() const { return tools_.size(); }
    // The tooltip window of a tool, or nullptr for an id that is not one.
    HWND TipWindow(std::uintptr_t tool) const;

    std::uintptr_t RegisterTool(HWND window);
    void UnregisterTool(std::uintptr_t tool);
    void SetText(std::uintptr_t tool, std::string_view text);
    void SetTitle(std::uintptr_t tool, int icon, std::string_view title);
    void MouseEntered(std::uintptr_t tool);
    void MouseLeft(std::uintptr_t tool);
    void MouseMoved(std::uintptr_t tool, int x, int y);

private:
    // One registered window: the record the tooltip reads its text through,
    // the text itself and the tip's font, all alive as long as the tip.
    struct TTool {
        TOOLINFOW Info{};
        std::wstring Text;
        HFONT Font = nullptr;
        HWND Tip = nullptr;
    };
    TTool* Find(std::uintptr_t tool) const;

    THintOperations operations_;
    std::vector<std::unique_ptr<TTool>> tools_;
};

// Initialises the common controls, then makes the program-wide manager with
// its default settings. Called once at start-up, before any scheme is built.
void InitHints();
// The program-wide manager (made on first use if InitHints was not called).
TQXHintManager& DefaultHintManager();
