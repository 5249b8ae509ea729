#include "winlib/win32/gdi.h"

#include <algorithm>
#include <vector>

namespace {

TGdiCounts counts;
std::vector<HDC> dcsInUse;  // every DC the layer draws on now

HDC TrackDC(HDC dc) {
    if (dc != nullptr) {
        ++counts.DCs;
        dcsInUse.push_back(dc);
    }
    return dc;
}

void Forget(HDC dc) {
    if (auto it = std::find(dcsInUse.rbegin(), dcsInUse.rend(), dc); it != dcsInUse.rend())
        dcsInUse.erase(std::next(it).base());
}

HGDIOBJ StockReplacement(DWORD type) {
    switch (type) {
    case OBJ_PEN:
    case OBJ_EXTPEN: return GetStockObject(BLACK_PEN);
    case OBJ_BRUSH: return GetStockObject(NULL_BRUSH);
    case OBJ_FONT: return GetStockObject(SYSTEM_FONT);
    default: return nullptr;
    }
}

void SelectOut(HGDIOBJ object) {
    const DWORD type = GetObjectType(object);
    HGDIOBJ stock = StockReplacement(type);
    if (stock == nullptr) return;
    const UINT current = type == OBJ_EXTPEN ? OBJ_PEN : type;
    for (HDC dc : dcsInUse)
        if (GetCurrentObject(dc, current) == object) SelectObject(dc, stock);
}

}  // namespace

TGdiDCInUse::TGdiDCInUse(HDC dc) : dc_(dc) {
    if (dc_ != nullptr) dcsInUse.push_back(dc_);
}

TGdiDCInUse::~TGdiDCInUse() { Forget(dc_); }

TGdiCounts LiveGdi() { return counts; }

HGDIOBJ GdiTrackObject(HGDIOBJ object) {
    if (object != nullptr) ++counts.Objects;
    return object;
}

void GdiDelete(HGDIOBJ object) {
    if (object == nullptr) return;
    SelectOut(object);
    if (DeleteObject(object)) --counts.Objects;
}

HICON GdiTrackIcon(HICON icon) {
    if (icon != nullptr) ++counts.Icons;
    return icon;
}

void GdiDestroyIcon(HICON icon) {
    if (icon != nullptr && DestroyIcon(icon)) --counts.Icons;
}

HDC GdiGetDC(HWND window) { return TrackDC(GetDC(window)); }

void GdiReleaseDC(HWND window, HDC dc) {
    if (dc == nullptr) return;
    Forget(dc);
    if (ReleaseDC(window, dc)) --counts.DCs;
}

HDC GdiCreateMemoryDC(HDC compatible) { return TrackDC(CreateCompatibleDC(compatible)); }

void GdiDeleteDC(HDC dc) {
    if (dc == nullptr) return;
    Forget(dc);
    if (DeleteDC(dc)) --counts.DCs;
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
