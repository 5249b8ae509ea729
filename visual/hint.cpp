#include "visual/hint.h"

#include <algorithm>

#include "winlib/win32/gdi.h"
#include "winlib/win32/wintext.h"

TQXHintManager::TQXHintManager() {
    operations_.RegisterTool = MethodOf<&TQXHintManager::RegisterTool>(this);
    operations_.UnregisterTool = MethodOf<&TQXHintManager::UnregisterTool>(this);
    operations_.SetText = MethodOf<&TQXHintManager::SetText>(this);
    operations_.SetTitle = MethodOf<&TQXHintManager::SetTitle>(this);
    operations_.MouseEntered = MethodOf<&TQXHintManager::MouseEntered>(this);
    operations_.MouseLeft = MethodOf<&TQXHintManager::MouseLeft>(this);
    operations_.MouseMoved = MethodOf<&TQXHintManager::MouseMoved>(this);
}

TQXHintManager::~TQXHintManager() {
    while (!tools_.empty()) UnregisterTool(reinterpret_cast<std::uintptr_t>(tools_.back().get()));
}

// Tool ids are compared with the live records, never followed blindly.
TQXHintManager::TTool* TQXHintManager::Find(std::uintptr_t tool) const {
    for (const auto& t : tools_)
        if (reinterpret_cast<std::uintptr_t>(t.get()) == tool) return t.get();
    return nullptr;
}

HWND TQXHintManager::TipWindow(std::uintptr_t tool) const {
    const TTool* t = Find(tool);
    return t != nullptr ? t->Tip : nullptr;
}

std::uintptr_t TQXHintManager::RegisterTool(HWND window) {
    auto tool = std::make_unique<TTool>();
    TOOLINFOW& info = tool->Info;
    // The record as version 5 of the common controls knows it, which is what
    // a program without a manifest gets on Windows: it refuses the larger
    // records of version 6 (64 bytes at 64 bits, not sizeof's 72).
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS | TTF_TRANSPARENT;
    info.hwnd = window;
    info.uId = reinterpret_cast<UINT_PTR>(window);
    info.lpszText = tool->Text.data();

    tool->Tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | (Rectangular ? 0 : TTS_BALLOON),
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                ProgramInstance(), nullptr);
    HWND tip = tool->Tip;

    LOGFONTW font{};
    std::wstring face = Widen1251(Font.Name.view());
    face.resize(std::min<std::size_t>(face.size(), LF_FACESIZE - 1));  // room for the terminating zero
    std::copy(face.begin(), face.end(), font.lfFaceName);
    font.lfHeight = PointsToHeight(Font.Size);
    font.lfCharSet = Font.Charset;
    font.lfWeight = (Font.Style & fsBold) ? FW_BOLD : 0;
    font.lfItalic = (Font.Style & fsItalic) ? 1 : 0;
    font.lfUnderline = (Font.Style & fsUnderline) ? 1 : 0;
    font.lfStrikeOut = (Font.Style & fsStrikeOut) ? 1 : 0;
    // The tool keeps the font until its tip is gone.
    tool->Font = GdiTrack(CreateFontIndirectW(&font));
    SendMessageW(tip, WM_SETFONT, reinterpret_cast<WPARAM>(tool->Font), TRUE);

    SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info))) {
        // No tip then, and nothing left behind for one.
        if (tip != nullptr) DestroyWindow(tip);
        GdiDelete(tool->Font);
        return 0;
    }
    SendMessageW(tip, TTM_SETTIPTEXTCOLOR, ResolveColor(Font.Color), 0);
    SendMessageW(tip, TTM_SETTIPBKCOLOR, ResolveColor(BackColor), 0);
    SendMessageW(tip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(InitialDelay, 0));
    SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(HideDelay, 0));
    RECT margin{Margin, Margin, Margin, Margin};
    SendMessageW(tip, TTM_SETMARGIN, 0, reinterpret_cast<LPARAM>(&margin));
    info.lParam = reinterpret_cast<LPARAM>(tip);

    tools_.push_back(std::move(tool));
    return reinterpret_cast<std::uintptr_t>(tools_.back().get());
}

void TQXHintManager::UnregisterTool(std::uintptr_t id) {
    TTool* tool = Find(id);
    if (tool == nullptr) return;
    // The tip window may already be gone with its owner.
    if (IsWindow(tool->Tip)) {
        SendMessageW(tool->Tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool->Info));
        DestroyWindow(tool->Tip);
    }
    GdiDelete(tool->Font);  // only now: the tip used it to the end
    std::erase_if(tools_, [tool](const auto& t) { return t.get() == tool; });
}

void TQXHintManager::SetText(std::uintptr_t id, std::string_view text) {
    TTool* tool = Find(id);
    if (tool == nullptr) return;
    tool->Text = Widen1251(text);
    tool->Info.lpszText = tool->Text.data();
    if (IsWindow(tool->Tip)) SendMessageW(tool->Tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool->Info));
}

void TQXHintManager::SetTitle(std::uintptr_t id, int icon, std::string_view title) {
    TTool* tool = Find(id);
    if (tool == nullptr || !IsWindow(tool->Tip)) return;
    const std::wstring wide = Widen1251(title);
    SendMessageW(tool->Tip, TTM_SETTITLEW, static_cast<WPARAM>(icon), reinterpret_cast<LPARAM>(wide.c_str()));
}

void TQXHintManager::MouseEntered(std::uintptr_t id) {
    TTool* tool = Tracking ? Find(id) : nullptr;  // called on every mouse message
    if (tool != nullptr) SendMessageW(tool->Tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool->Info));
}

void TQXHintManager::MouseLeft(std::uintptr_t id) {
    TTool* tool = Tracking ? Find(id) : nullptr;  // called on every mouse message
    if (tool != nullptr) SendMessageW(tool->Tip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool->Info));
}

void TQXHintManager::MouseMoved(std::uintptr_t id, int x, int y) {
    TTool* tool = Tracking ? Find(id) : nullptr;
    if (tool != nullptr) SendMessageW(tool->Tip, TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
}

namespace {
TQXHintManager* defaultManager = nullptr;
}

void InitHints() {
    InitCommonControlsFor(0xFF);
    DefaultHintManager();
}

TQXHintManager& DefaultHintManager() {
    // Lives until the process ends.
    if (defaultManager == nullptr) defaultManager = new TQXHintManager;
    return *defaultManager;
}
