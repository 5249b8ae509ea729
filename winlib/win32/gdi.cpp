#include "winlib/win32/gdi.h"

namespace {
TGdiCounts counts;
}

TGdiCounts LiveGdi() { return counts; }

HGDIOBJ GdiTrackObject(HGDIOBJ object) {
    if (object != nullptr) ++counts.Objects;
    return object;
}

void GdiDelete(HGDIOBJ object) {
    if (object != nullptr && DeleteObject(object)) --counts.Objects;
}

HICON GdiTrackIcon(HICON icon) {
    if (icon != nullptr) ++counts.Icons;
    return icon;
}

void GdiDestroyIcon(HICON icon) {
    if (icon != nullptr && DestroyIcon(icon)) --counts.Icons;
}

HDC GdiGetDC(HWND window) {
    HDC dc = GetDC(window);
    if (dc != nullptr) ++counts.DCs;
    return dc;
}

void GdiReleaseDC(HWND window, HDC dc) {
    if (dc != nullptr && ReleaseDC(window, dc)) --counts.DCs;
}

HDC GdiCreateMemoryDC(HDC compatible) {
    HDC dc = CreateCompatibleDC(compatible);
    if (dc != nullptr) ++counts.DCs;
    return dc;
}

void GdiDeleteDC(HDC dc) {
    if (dc != nullptr && DeleteDC(dc)) --counts.DCs;
}

TWindowDC::TWindowDC(HWND window) : window_(window), dc_(GdiGetDC(window)) {}
TWindowDC::~TWindowDC() { GdiReleaseDC(window_, dc_); }

TMemoryDC::TMemoryDC(HDC compatible) : dc_(GdiCreateMemoryDC(compatible)) {}
TMemoryDC::~TMemoryDC() { GdiDeleteDC(dc_); }

TGdiSelect::TGdiSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(nullptr) {
    if (dc_ != nullptr && object != nullptr) previous_ = SelectObject(dc_, object);
}

void TGdiSelect::Change(HGDIOBJ object) {
    if (dc_ == nullptr || object == nullptr) return;
    HGDIOBJ replaced = SelectObject(dc_, object);
    if (previous_ == nullptr) previous_ = replaced;
}

TGdiSelect::~TGdiSelect() {
    if (dc_ != nullptr && previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
}
