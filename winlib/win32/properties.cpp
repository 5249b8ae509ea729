// What a control shows and how: text, visibility, styles, colours, cursor,
// icon, alignment and the selection of an edit.
#include "winlib/win32/control.h"

#include <algorithm>
#include <utility>

#include "winlib/win32/gdi.h"
#include "winlib/win32/wintext.h"

// --- Text ---

std::string TControl::Text() const {
    if (handle_ == nullptr) return Narrow1251(text_);
    const int length = GetWindowTextLengthW(handle_);
    if (length <= 0) return std::string();
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = GetWindowTextW(handle_, buffer.data(), length + 1);
    buffer.resize(static_cast<std::size_t>(std::clamp(n, 0, length)));
    return Narrow1251(buffer);
}

void TControl::SetText(std::string_view text) {
    text_ = Widen1251(text);
    if (handle_ != nullptr) SetWindowTextW(handle_, text_.c_str());
    FitToText();
}

// --- State ---

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (handle_ != nullptr) ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
    if (parent_ != nullptr) parent_->RealignChildren();
    if (visible) RealignChildren();
}

void TControl::Show() {
    visible_ = true;
    CreateWindowNow();
    if (handle_ == nullptr) return;
    ShowWindow(handle_, SW_SHOW);
    SetForegroundWindow(handle_);
    Focus();
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (handle_ != nullptr) EnableWindow(handle_, enabled);
}

int TControl::WindowState() {
    if (handle_ != nullptr) windowState_ = IsIconic(handle_) ? 1 : IsZoomed(handle_) ? 2 : 0;
    return windowState_;
}

void TControl::SetWindowState(int state) {
    static constexpr int commands[] = {SW_SHOWNOACTIVATE, SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED};
    if (state < 0 || state > 2) return;
    windowState_ = state;
    if (handle_ != nullptr) ShowWindow(handle_, commands[state]);
}

DWORD TControl::Style() const {
    if (handle_ != nullptr) return static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_STYLE));
    return style_ | (visible_ ? WS_VISIBLE : 0) | (enabled_ ? 0 : WS_DISABLED);
}

// Visibility and the disabled state have operations of their own; a style
// written here does not change them.
void TControl::SetStyle(DWORD style) {
    style_ = style & ~(WS_VISIBLE | WS_DISABLED);
    if (handle_ == nullptr) return;
    const DWORD now = static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_STYLE));
    const DWORD kept = now & (WS_VISIBLE | WS_DISABLED);
    if ((style_ | kept) == now) return;  // a frame change costs a round trip to the display
    SetWindowLongPtrW(handle_, GWL_STYLE, static_cast<LONG_PTR>(style_ | kept));
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

DWORD TControl::ExStyle() const {
    if (handle_ != nullptr) return static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_EXSTYLE));
    return exStyle_;
}

void TControl::SetExStyle(DWORD exStyle) {
    exStyle_ = exStyle;
    if (handle_ == nullptr || static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_EXSTYLE)) == exStyle) return;
    SetWindowLongPtrW(handle_, GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- Appearance ---

void TControl::SetColor(TColor color) {
    color_ = color;
    brush_.reset();
    if (canvas_) canvas_->Brush()->SetColor(color);
    Invalidate();
}

void TControl::SetTextColor(TColor color) { font_->SetColor(color); }

HBRUSH TControl::BackgroundBrush() {
    if (parent_ != nullptr && parent_->color_ == color_) return parent_->BackgroundBrush();
    if (!brush_) brush_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Brush);
    brush_->SetColor(color_);
    return static_cast<HBRUSH>(brush_->Handle());
}

void TControl::FillBackground(HDC dc, const RECT& rect) {
    if (dc == nullptr) return;
    SetBrushOrgEx(dc, 0, 0, nullptr);
    ::FillRect(dc, &rect, BackgroundBrush());
}

TCanvas* TControl::Canvas() {
    if (!canvas_) canvas_ = NewObj<TCanvas>(this);
    return canvas_.get();
}

void TControl::SetCursor(HCURSOR cursor) {
    cursor_ = cursor;
    if (handle_ == nullptr || cursor == nullptr) return;
    POINT p{};
    RECT client{};
    GetCursorPos(&p);
    ScreenToClient(handle_, &p);
    GetClientRect(handle_, &client);
    if (PtInRect(&client, p) && WindowFromPoint(p) == handle_) ::SetCursor(cursor);
}

void TControl::SetIcon(HICON icon, bool owned) {
    if (icon == icon_) {
        iconOwned_ = iconOwned_ || owned;
        return;
    }
    const HICON old = std::exchange(icon_, icon);
    const bool oldOwned = std::exchange(iconOwned_, owned);
    if (handle_ != nullptr) SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (oldOwned) GdiDestroyIcon(old);
}

void TControl::SetTextAlign(std::uint8_t align) {
    if (align > 2) return;
    textAlign_ = align;
    const DWORD bits[] = {kind_.AlignLeft, kind_.AlignRight, kind_.AlignCentre};
    DWORD style = Style();
    if (kind_.ClassName == std::wstring_view(L"STATIC")) {
        // A static's alignment is its type: a text static becomes the left,
        // right or centred text type (every other style bit stays); an icon,
        // bitmap or frame keeps its type, which alignment bits would corrupt.
        const DWORD type = style & SS_TYPEMASK;
        const bool text = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP;
        if (!text) return;
        style = (style & ~SS_TYPEMASK) | bits[align];
    } else {
        style = (style & ~kind_.AlignMask) | bits[align];
    }
    SetStyle(style);
    Invalidate();
}

void TControl::SetTransparent(bool transparent) {
    transparent_ = transparent;
    if (transparent && parent_ != nullptr) parent_->transparentChildren_ = true;
    Invalidate();
}

void TControl::Invalidate() {
    if (handle_ != nullptr) InvalidateRect(handle_, nullptr, TRUE);
}

// --- Selection ---

int TControl::SelectionStart() {
    if (handle_ == nullptr || kind_.GetSelectionMessage == 0) return 0;
    DWORD start = 0, end = 0;
    SendMessageW(handle_, kind_.GetSelectionMessage, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(start);
}

void TControl::SetSelection(int start, int length) {
    if (handle_ == nullptr || kind_.SetSelectionMessage == 0) return;
    SendMessageW(handle_, kind_.SetSelectionMessage, static_cast<WPARAM>(start), static_cast<LPARAM>(start + length));
}

void TControl::RemoveHandler(TChainHandler handler) { std::erase(chain_, handler); }
