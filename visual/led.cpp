#include "visual/led.h"

#include <cmath>

#include "winlib/win32/gdi.h"

void TQXLED::initControl() {
    control = TControl::NewLabel(Parent, "");
    control->SetWidth(40);
    control->SetHeight(40);
    TQXWin::initControl();
    // System colours are resolved now, before pens and brushes are made of them.
    const COLORREF lit = ResolveColor(LitColor), unlit = ResolveColor(UnlitColor), frame = ResolveColor(FrameColor);
    GreyPen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 1, RGB(128, 128, 128)));
    WhitePen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    LitBrush = TGdiHandle<HBRUSH>(CreateSolidBrush(lit));
    UnlitBrush = TGdiHandle<HBRUSH>(CreateSolidBrush(unlit));
    UnlitPen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 1, unlit));
    FramePen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 1, frame));
    WideWhitePen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 2, RGB(255, 255, 255)));
    WideLitPen = TGdiHandle<HPEN>(CreatePen(PS_SOLID, 2, lit));
    control->paintHandler = MethodOf<&TQXLED::paint>(this);
    control->clickHandler = {[](void* self, TControl*) { FireNull(static_cast<TQXLED*>(self)->onClick); }, this};
}

void TQXLED::doOn(TData& value, std::uint16_t) {
    if (Lit) return;
    Lit = true;
    control->Invalidate();
    ForwardInteger(value, onChange, 1);
}

void TQXLED::doOff(TData& value, std::uint16_t) {
    if (!Lit) return;
    Lit = false;
    control->Invalidate();
    ForwardInteger(value, onChange, 0);
}

void TQXLED::resized(TControl* sender) {
    control->Invalidate();
    TQXWin::resized(sender);
}

void TQXLED::paint(TControl*, HDC dc) {
    const RECT client = control->ClientRect();
    const int m = control->Margin();
    const int L = client.left + m, T = client.top + m, R = client.right - m, B = client.bottom - m;
    control->FillBackground(dc, {L, T, R, B});

    HRGN body = GdiTrack(Shape == 0 ? CreateEllipticRgn(L, T, R, B) : CreateRectRgn(L, T, R, B));
    if (body != nullptr) {
        FillRgn(dc, body, Lit ? LitBrush : UnlitBrush);
        GdiDelete(body);
    }
    if (!Framed || Shape > 1) return;

    // Whatever pen the DC had goes back before returning.
    TGdiSelect pen(dc, GreyPen);
    HPEN stroke = Lit ? FramePen : UnlitPen;
    HPEN dot = Lit ? WideWhitePen : WideLitPen;
    if (Shape == 0) {
        const int dx = (R - L) / 8, dy = (B - T) / 8;
        Arc(dc, L, T, R, B, R, T, L, B);  // upper-left rim, in shadow
        pen.Change(WhitePen);
        Arc(dc, L, T, R, B, L, B, R, T);  // lower-right rim, lit
        if (Lit) {
            pen.Change(UnlitPen);
            Arc(dc, L + 1, T + 1, R - 1, B - 1, L + dx - 1, B - 1, R - 1, T + dy - 1);
        }
        const int L2 = R / 5, R2 = R - R / 5, T2 = B / 5, B2 = B - B / 5;
        const int w = R2 - L2, h = B2 - T2;
        // Rounded to the nearest, ties to even.
        const int a = static_cast<int>(std::lrint(w * 0.52)), b = static_cast<int>(std::lrint(h * 0.52));
        const int a2 = static_cast<int>(std::lrint(w * 0.24)), b2 = static_cast<int>(std::lrint(h * 0.24));
        pen.Change(stroke);
        Arc(dc, L2, T2, R2, B2, L2 + a, T2, L2, T2 + b);
        pen.Change(dot);
        Arc(dc, L2, T2, R2, B2, L2 + a2, T2, L2, T2 + b2);
        return;
    }
    MoveToEx(dc, L, B, nullptr);
    LineTo(dc, L, T);
    LineTo(dc, R, T);
    pen.Change(WhitePen);
    MoveToEx(dc, R - 1, T, nullptr);
    LineTo(dc, R - 1, B - 1);
    LineTo(dc, L, B - 1);
    if (Lit) {
        pen.Change(UnlitPen);
        MoveToEx(dc, R - 2, T + 1, nullptr);
        LineTo(dc, R - 2, B - 2);
        LineTo(dc, L, B - 2);
    }
    const int L2 = R / 12, R2 = R - R / 12, T2 = B / 8;
    pen.Change(stroke);
    MoveToEx(dc, L2 + 1, B - B / 8 - 2, nullptr);
    LineTo(dc, L2 + 1, T2 + 1);
    LineTo(dc, L2 + (R2 - L2) / 3, T2 + 1);
    pen.Change(dot);
    MoveToEx(dc, L2 + 1, T2 + 2, nullptr);
    LineTo(dc, L2 + 1, T2 + 1);
    LineTo(dc, L2 + 2, T2 + 1);
    LineTo(dc, L2 + 1, T2 + 2);
}
