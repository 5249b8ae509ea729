#include "visual/image.h"

#include <algorithm>

#include "winlib/win32/gdi.h"
#include "winlib/win32/wintext.h"

int WindowsVersionClass() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion >= 6) return 6;
        if (info.dwMajorVersion == 5) return info.dwMinorVersion >= 1 ? 5 : 4;
        return 3;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return info.dwMajorVersion > 4 || (info.dwMajorVersion == 4 && info.dwMinorVersion >= 10) ? 2 : 1;
    return 0;
}

// --- TQXImage ---

TQXImage::TQXImage(TControl* parent) : TQXWin(parent), Picture(NewObj<TBitmap>()) {}

void TQXImage::LoadPicture(HBITMAP bitmap) {
    if (bitmap != nullptr) Picture->TakeHandle(bitmap);
}

void TQXImage::SetSmooth(bool smooth) { StretchMode = smooth && WindowsVersionClass() >= 3 ? HALFTONE : COLORONCOLOR; }

void TQXImage::initControl() {
    control = TControl::NewPaintBox(Parent);
    TQXWin::initControl();
    control->clickHandler = {[](void* self, TControl*) { FireNull(static_cast<TQXImage*>(self)->onClick); }, this};
    control->paintHandler = MethodOf<&TQXImage::paint>(this);
    control->Canvas()->Brush()->SetColor(Color);
    if (AutoSize && !Picture->Empty()) {
        control->SetWidth(Picture->Width());
        control->SetHeight(Picture->Height());
    }
}

void TQXImage::paint(TControl*, HDC dc) {
    if (Picture->Empty() || !DrawMethod) {
        control->Canvas()->FillRect(control->ClientRect());
        return;
    }
    DrawMethod(dc);
}

void TQXImage::StretchDraw(HDC dc) {
    SetStretchBltMode(dc, StretchMode);
    SetBrushOrgEx(dc, 0, 0, nullptr);  // half-tone scaling needs it after the mode
    Picture->StretchDraw(dc, control->ClientRect());
}

// --- TQXPanel ---

void TQXPanel::initControl() {
    control = TControl::NewPaintBox(Parent);
    // Border styles: 0 neither border nor edge, 1 a border line, 2 a sunken edge.
    static constexpr DWORD styles[] = {0, WS_BORDER, 0}, exStyles[] = {0, 0, WS_EX_CLIENTEDGE};
    const int border = BorderStyle < 3 ? BorderStyle : 0;
    control->SetStyle((control->Style() & ~DWORD{WS_BORDER}) | styles[border]);
    control->SetExStyle((control->ExStyle() & ~DWORD{WS_EX_CLIENTEDGE}) | exStyles[border]);
    PanelData = NewObj<TkqzPanelData>();
    PanelData->OuterBevel = BevelOuter;
    PanelData->InnerBevel = BevelInner;
    PanelData->BevelWidth = BevelWidth;
    PanelData->BorderWidth = BorderWidth;
    AddControlHandler(MethodOf<&TQXPanel::PanelHandler>(this));
    TQXWin::initControl();
    control->SetText(Caption.view());
    control->SetTextAlign(Alignment);
    control->clickHandler = {[](void* self, TControl*) { FireNull(static_cast<TQXPanel*>(self)->onClick); }, this};
}

bool TQXPanel::windowMessage(TMsg& msg, LRESULT& result) {
    if (control != nullptr && msg.Window == control->Handle() && (msg.Message == WM_SIZE || msg.Message == WM_ENABLE))
        control->Invalidate();
    return TQXWin::windowMessage(msg, result);
}

bool TQXPanel::PanelHandler(TControl* sender, TMsg& msg, LRESULT& result) {
    if (msg.Message == WM_SETTEXT) {
        const auto* wide = reinterpret_cast<const wchar_t*>(msg.LParam);
        std::string text = wide != nullptr ? Narrow1251(wide) : std::string();
        if (text.size() > 255) text.resize(255);
        if (text != shownCaption_) {
            shownCaption_ = std::move(text);
            sender->Invalidate();
        }
        result = 1;
        return true;
    }
    if ((msg.Message != WM_PAINT && msg.Message != WM_PRINTCLIENT) || PaintLocked) return false;
    PAINTSTRUCT ps{};
    const bool begun = msg.WParam == 0;
    HDC dc = begun ? BeginPaint(msg.Window, &ps) : reinterpret_cast<HDC>(msg.WParam);
    Draw(dc);
    if (PanelData->AfterPaint) PanelData->AfterPaint(sender, dc);
    if (begun) EndPaint(msg.Window, &ps);
    result = 0;
    return true;
}

namespace {

// Each channel halved, then the halves added.
COLORREF Average(COLORREF a, COLORREF b) {
    return RGB(GetRValue(a) / 2 + GetRValue(b) / 2, GetGValue(a) / 2 + GetGValue(b) / 2, GetBValue(a) / 2 + GetBValue(b) / 2);
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// One-pixel frames, each inside the last; `topLeft` for the top and left edges.
void Frames(HDC dc, RECT& r, int count, COLORREF topLeft, COLORREF bottomRight) {
    for (int i = 0; i < count && r.right > r.left && r.bottom > r.top; ++i) {
        FillSolid(dc, {r.left, r.top, r.right, r.top + 1}, topLeft);
        FillSolid(dc, {r.left, r.top, r.left + 1, r.bottom}, topLeft);
        FillSolid(dc, {r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
        FillSolid(dc, {r.right - 1, r.top, r.right, r.bottom}, bottomRight);
        InflateRect(&r, -1, -1);
    }
}

}  // namespace

void TQXPanel::Draw(HDC dc) {
    RECT r = control->ClientRect();
    // A system colour is resolved before it is averaged.
    const COLORREF colour = ResolveColor(control->Color());
    const COLORREF dark = Average(colour, RGB(0, 0, 0)), light = Average(colour, RGB(255, 255, 255));
    const COLORREF background = GetBkColor(dc);
    auto bevel = [&](std::uint8_t kind) {
        if (kind == 0) return;
        if (kind == 1)
            Frames(dc, r, PanelData->BevelWidth, dark, light);  // lowered
        else
            Frames(dc, r, PanelData->BevelWidth, light, dark);  // raised
    };
    bevel(PanelData->OuterBevel);
    Frames(dc, r, PanelData->BorderWidth, colour, colour);
    bevel(PanelData->InnerBevel);
    if (!control->Transparent()) FillSolid(dc, r, colour);
    SetBkColor(dc, background);

    if (shownCaption_.empty()) return;
    static constexpr UINT vertical[] = {DT_VCENTER, DT_TOP, DT_BOTTOM};
    static constexpr UINT horizontal[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    const std::wstring text = Widen1251(shownCaption_);
    TGdiSelect font(dc, control->Font()->Handle());
    ::SetTextColor(dc, ResolveColor(control->Font()->Color()));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_SINGLELINE | DT_EXPANDTABS | vertical[VerticalAlignment % 3] | horizontal[Alignment % 3]);
    SetBkMode(dc, oldMode);
}
