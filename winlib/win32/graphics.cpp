#include "winlib/win32/graphics.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/gdi.h"
#include "winlib/win32/wintext.h"

COLORREF ResolveColor(TColor color) {
    if (IsSystemColor(color)) return GetSysColor(static_cast<int>(color & 0xFF));
    return color & 0x00FFFFFF;
}

int ScreenPixelsPerInchY() {
    static const int dpi = [] {
        TWindowDC screen(nullptr);
        const int v = screen.Handle() != nullptr ? GetDeviceCaps(screen.Handle(), LOGPIXELSY) : 0;
        return v > 0 ? v : 96;
    }();
    return dpi;
}

int PointsToHeight(int points, int pixelsPerInch) { return (points * pixelsPerInch + 36) / -72; }
int PointsToHeight(int points) { return PointsToHeight(points, ScreenPixelsPerInchY()); }

// ---------------------------------------------------------------------------
// TGraphicTool

TGraphicTool::TGraphicTool(TKind kind) : kind_(kind), color_(kind == TKind::Font ? clWindowText : clBtnFace) {
    if (kind == TKind::Pen) color_ = 0;
    font_.lfCharSet = DEFAULT_CHARSET;
    const std::wstring face = L"MS Sans Serif";
    std::copy(face.begin(), face.end(), font_.lfFaceName);
}

TGraphicTool::~TGraphicTool() {
    Follow(nullptr);
    for (TGraphicTool* follower : followers_) follower->followed_ = nullptr;
    GdiDelete(handle_);
}

void TGraphicTool::Follow(TGraphicTool* parent) {
    if (followed_ == parent) return;
    if (followed_ != nullptr) std::erase(followed_->followers_, this);
    followed_ = parent;
    if (parent == nullptr) return;
    parent->followers_.push_back(this);
    if (!SameDescription(*parent)) Modify([&] { CopyDescription(*parent); }, false);
}

// A change made by the tool's own owner ends following; every change drops
// the handle, tells the listener and passes on to the followers. The old
// handle is deleted only after the listener has had the chance to put the
// new one in its place, so no window ever holds a deleted object.
template <class Edit>
void TGraphicTool::Modify(Edit edit, bool own) {
    if (own) Follow(nullptr);
    edit();
    Changed();
}

void TGraphicTool::Changed() {
    HGDIOBJ old = std::exchange(handle_, nullptr);
    if (OnChange) OnChange(this);
    GdiDelete(old);
    const std::vector<TGraphicTool*> followers = followers_;
    for (TGraphicTool* follower : followers)
        if (!follower->SameDescription(*this)) follower->Modify([&] { follower->CopyDescription(*this); }, false);
}

bool TGraphicTool::SameDescription(const TGraphicTool& o) const {
    return kind_ == o.kind_ && color_ == o.color_ && std::memcmp(&font_, &o.font_, sizeof font_) == 0 &&
           brushStyle_ == o.brushStyle_ && brushBitmap_ == o.brushBitmap_ && hatchColor_ == o.hatchColor_ &&
           penStyle_ == o.penStyle_ && penWidth_ == o.penWidth_ && penMode_ == o.penMode_;
}

void TGraphicTool::CopyDescription(const TGraphicTool& o) {
    color_ = o.color_;
    font_ = o.font_;
    brushStyle_ = o.brushStyle_;
    brushBitmap_ = o.brushBitmap_;
    hatchColor_ = o.hatchColor_;
    penStyle_ = o.penStyle_;
    penWidth_ = o.penWidth_;
    penMode_ = o.penMode_;
}

// One field of the description; a value it already has changes nothing.
template <class T>
void TGraphicTool::Change(T& field, std::type_identity_t<T> value) {
    if (field == value) return;
    Modify([&] { field = value; });
}

void TGraphicTool::Assign(const TGraphicTool& other) {
    if (&other == this || other.kind_ != kind_ || SameDescription(other)) return;
    Modify([&] { CopyDescription(other); });
}

void TGraphicTool::SetColor(TColor color) { Change(color_, color); }

std::string TGraphicTool::FontName() const { return Narrow1251(font_.lfFaceName); }

void TGraphicTool::SetFontName(std::string_view name) {
    std::wstring face = Widen1251(name);
    face.resize(std::min<std::size_t>(face.size(), LF_FACESIZE - 1));  // room for the terminating zero
    if (face == font_.lfFaceName) return;
    Modify([&] {
        std::fill(std::begin(font_.lfFaceName), std::end(font_.lfFaceName), L'\0');
        std::copy(face.begin(), face.end(), font_.lfFaceName);
    });
}

void TGraphicTool::SetFontHeight(int height) { Change(font_.lfHeight, height); }

void TGraphicTool::SetFontWeight(int weight) { Change(font_.lfWeight, weight); }

std::uint8_t TGraphicTool::FontStyle() const {
    std::uint8_t style = 0;
    if (font_.lfWeight >= FW_BOLD) style |= fsBold;
    if (font_.lfItalic) style |= fsItalic;
    if (font_.lfUnderline) style |= fsUnderline;
    if (font_.lfStrikeOut) style |= fsStrikeOut;
    return style;
}

void TGraphicTool::SetFontStyle(std::uint8_t style) {
    if (style == FontStyle()) return;
    Modify([&] {
        if (style & fsBold) {
            if (font_.lfWeight < FW_BOLD) font_.lfWeight = FW_BOLD;
        } else if (font_.lfWeight >= FW_BOLD) {
            font_.lfWeight = 0;
        }
        font_.lfItalic = (style & fsItalic) ? 1 : 0;
        font_.lfUnderline = (style & fsUnderline) ? 1 : 0;
        font_.lfStrikeOut = (style & fsStrikeOut) ? 1 : 0;
    });
}

void TGraphicTool::SetFontCharset(std::uint8_t charset) { Change(font_.lfCharSet, charset); }

void TGraphicTool::SetBrushStyle(std::uint8_t style) { Change(brushStyle_, style); }

void TGraphicTool::SetBrushBitmap(HBITMAP pattern) { Change(brushBitmap_, pattern); }

void TGraphicTool::SetHatchColor(TColor color) { Change(hatchColor_, color); }

void TGraphicTool::SetPenStyle(int style) { Change(penStyle_, style); }

void TGraphicTool::SetPenWidth(int width) { Change(penWidth_, width); }

void TGraphicTool::SetPenMode(int mode) { Change(penMode_, mode); }

HGDIOBJ TGraphicTool::Handle() {
    // A system colour may have changed since the handle was made.
    if (handle_ != nullptr && kind_ != TKind::Font &&
        (ResolveColor(color_) != madeWith_ || ResolveColor(hatchColor_) != madeWithHatch_)) {
        GdiDelete(std::exchange(handle_, nullptr));
    }
    if (handle_ == nullptr) {
        madeWith_ = ResolveColor(color_);
        madeWithHatch_ = ResolveColor(hatchColor_);
        handle_ = GdiTrackObject(MakeHandle());
    }
    return handle_;
}

HGDIOBJ TGraphicTool::MakeHandle() const {
    switch (kind_) {
    case TKind::Font:
        return CreateFontIndirectW(&font_);
    case TKind::Brush: {
        LOGBRUSH brush{};
        if (brushBitmap_ != nullptr) {
            brush.lbStyle = BS_PATTERN;
            brush.lbHatch = reinterpret_cast<ULONG_PTR>(brushBitmap_);
        } else if (brushStyle_ == 0) {
            brush.lbStyle = BS_SOLID;
            brush.lbColor = ResolveColor(color_);
        } else if (brushStyle_ == 1) {
            brush.lbStyle = BS_NULL;
        } else {
            brush.lbStyle = BS_HATCHED;
            brush.lbHatch = static_cast<ULONG_PTR>(brushStyle_ - 2);
            brush.lbColor = ResolveColor(hatchColor_);
        }
        return CreateBrushIndirect(&brush);
    }
    case TKind::Pen: {
        LOGPEN pen{};
        pen.lopnStyle = static_cast<UINT>(penStyle_);
        pen.lopnWidth.x = penWidth_;
        pen.lopnColor = ResolveColor(color_);
        return CreatePenIndirect(&pen);
    }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// TCanvas

TCanvas::TCanvas(TControl* owner) : owner_(owner) {}

TCanvas::~TCanvas() { Release(); }

HDC TCanvas::Handle() {
    if (owner_ != nullptr && owner_->PaintDC() != nullptr) return owner_->PaintDC();
    if (dc_ == nullptr && owner_ != nullptr && owner_->Handle() != nullptr) {
        dcWindow_ = owner_->Handle();
        dc_ = GdiGetDC(dcWindow_);
    }
    return dc_;
}

TGraphicTool* TCanvas::Brush() {
    if (!brush_) {
        brush_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Brush);
        if (owner_ != nullptr) brush_->SetColor(owner_->Color());
    }
    return brush_.get();
}

TGraphicTool* TCanvas::Font() {
    if (!font_) {
        font_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Font);
        // Keeps up with the control's font until the canvas's own is changed.
        if (owner_ != nullptr) font_->Follow(owner_->Font());
    }
    return font_.get();
}

TGraphicTool* TCanvas::Pen() {
    if (!pen_) pen_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Pen);
    return pen_.get();
}

void TCanvas::SelectFont() {
    HDC dc = Handle();
    if (dc == nullptr) return;
    TGraphicTool* font = font_ ? font_.get() : (owner_ != nullptr ? owner_->Font() : nullptr);
    if (font == nullptr) return;
    SelectObject(dc, font->Handle());
    SetTextColor(dc, ResolveColor(font_ ? font_->Color() : owner_->TextColor()));
    fontSelected_ = true;
}

void TCanvas::SelectPen() {
    HDC dc = Handle();
    if (dc == nullptr) return;
    SelectObject(dc, Pen()->Handle());
    SetROP2(dc, pen_->PenMode());
    penSelected_ = true;
}

void TCanvas::SelectBrush() {
    HDC dc = Handle();
    if (dc == nullptr) return;
    if (brush_) {
        SelectObject(dc, brush_->Handle());
        const COLORREF colour = brush_->ResolvedColor();
        if (brush_->BrushStyle() == 0) {
            SetBkColor(dc, colour);
            SetBkMode(dc, OPAQUE);
        } else {
            SetBkColor(dc, ~colour & 0x00FFFFFF);
            SetBkMode(dc, TRANSPARENT);
        }
    } else if (owner_ != nullptr) {
        SelectObject(dc, owner_->BackgroundBrush());
        SetBkColor(dc, ResolveColor(owner_->Color()));
        SetBkMode(dc, OPAQUE);
    }
    brushSelected_ = true;
}

void TCanvas::DeselectAll() {
    HDC dc = owner_ != nullptr && owner_->PaintDC() != nullptr ? owner_->PaintDC() : dc_;
    if (dc == nullptr) return;
    if (penSelected_) SelectObject(dc, GetStockObject(BLACK_PEN));
    if (brushSelected_) SelectObject(dc, GetStockObject(NULL_BRUSH));
    if (fontSelected_) SelectObject(dc, GetStockObject(SYSTEM_FONT));
    fontSelected_ = penSelected_ = brushSelected_ = false;
}

void TCanvas::FillRect(const RECT& rect) {
    HDC dc = Handle();
    if (dc == nullptr) return;
    HBRUSH brush = brush_ ? static_cast<HBRUSH>(brush_->Handle())
                          : (owner_ != nullptr ? owner_->BackgroundBrush() : nullptr);
    if (brush != nullptr) ::FillRect(dc, &rect, brush);
}

SIZE TCanvas::TextExtent(std::string_view text) {
    SIZE size{};
    const std::wstring wide = Widen1251(text);
    HDC dc = Handle();
    if (dc != nullptr) {
        SelectFont();
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        return size;
    }
    // No window yet: measure on a memory DC with the font.
    TMemoryDC memory(nullptr);
    TGraphicTool* font = font_ ? font_.get() : (owner_ != nullptr ? owner_->Font() : nullptr);
    TGdiSelect select(memory.Handle(), font != nullptr ? font->Handle() : nullptr);
    GetTextExtentPoint32W(memory.Handle(), wide.c_str(), static_cast<int>(wide.size()), &size);
    return size;
}

void TCanvas::Polyline(const POINT* points, int count) {
    HDC dc = Handle();
    if (dc == nullptr) return;
    SelectPen();
    ::Polyline(dc, points, count);
}

void TCanvas::Release() {
    DeselectAll();
    if (dc_ != nullptr) GdiReleaseDC(dcWindow_, dc_);
    dc_ = nullptr;
    dcWindow_ = nullptr;
}

// ---------------------------------------------------------------------------
// TBitmap

TBitmap::~TBitmap() { Clear(); }

void TBitmap::Clear() {
    GdiDelete(std::exchange(handle_, nullptr));
    bits_.clear();
    header_ = {};
    width_ = height_ = 0;
}

void TBitmap::TakeHandle(HBITMAP bitmap) {
    Clear();
    if (bitmap == nullptr) return;
    BITMAP info{};
    if (GetObjectW(bitmap, sizeof info, &info) != sizeof info) {
        DeleteObject(bitmap);
        return;
    }
    handle_ = GdiTrack(bitmap);
    width_ = info.bmWidth;
    height_ = info.bmHeight;
}

bool TBitmap::LoadFromResource(HINSTANCE module, const char* name) {
    if (IS_INTRESOURCE(name)) {
        // A numeric id (MAKEINTRESOURCE) is no text to read.
        TakeHandle(name != nullptr ? LoadBitmapW(module, MAKEINTRESOURCEW(reinterpret_cast<ULONG_PTR>(name))) : nullptr);
        return handle_ != nullptr;
    }
    TakeHandle(LoadBitmapW(module, Widen1251(name).c_str()));
    return handle_ != nullptr;
}

void TBitmap::SetBits(int width, int height, int bitsPerPixel, std::vector<std::uint8_t> bits) {
    Clear();
    if (width <= 0 || height <= 0 || (bitsPerPixel != 24 && bitsPerPixel != 32)) return;
    const std::size_t stride = ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
    const std::size_t size = stride * static_cast<std::size_t>(height);
    if (bits.size() < size) return;
    bits.resize(size);  // a DIB section made from them holds exactly this much
    header_.biSize = sizeof header_;
    header_.biWidth = width;
    header_.biHeight = height;
    header_.biPlanes = 1;
    header_.biBitCount = static_cast<WORD>(bitsPerPixel);
    header_.biCompression = BI_RGB;
    bits_ = std::move(bits);
    width_ = width;
    height_ = height;
}

bool TBitmap::MakeCompatible(int width, int height) {
    Clear();
    if (width <= 0 || height <= 0) return false;
    TWindowDC screen(nullptr);
    TakeHandle(CreateCompatibleBitmap(screen.Handle(), width, height));
    return handle_ != nullptr;
}

bool TBitmap::MakeDIBSection() {
    if (handle_ != nullptr) return true;
    if (bits_.empty()) return false;
    TWindowDC screen(nullptr);
    void* section = nullptr;
    BITMAPINFO info{};
    info.bmiHeader = header_;
    HBITMAP bitmap = CreateDIBSection(screen.Handle(), &info, DIB_RGB_COLORS, &section, nullptr, 0);
    if (bitmap == nullptr || section == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return false;
    }
    GdiFlush();
    std::memcpy(section, bits_.data(), bits_.size());
    handle_ = GdiTrack(bitmap);
    bits_.clear();
    return true;
}

bool TBitmap::DrawBits(HDC dc, int x, int y, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader = header_;
    return StretchDIBits(dc, x, y, width, height, 0, 0, width_, height_, bits_.data(), &info, DIB_RGB_COLORS,
                         SRCCOPY) != 0;
}

void TBitmap::DrawHandle(HDC dc, int x, int y, int width, int height, bool stretch) {
    if (BeforeUse) BeforeUse(this);
    TMemoryDC memory(nullptr);
    TGdiSelect select(memory.Handle(), handle_);
    if (stretch)
        StretchBlt(dc, x, y, width, height, memory.Handle(), 0, 0, width_, height_, SRCCOPY);
    else
        BitBlt(dc, x, y, width_, height_, memory.Handle(), 0, 0, SRCCOPY);
}

void TBitmap::Draw(HDC dc, int x, int y) {
    if (Empty() || dc == nullptr) return;
    if (handle_ == nullptr && DrawBits(dc, x, y, width_, height_)) return;
    if (!MakeDIBSection()) return;
    DrawHandle(dc, x, y, width_, height_, false);
}

void TBitmap::StretchDraw(HDC dc, const RECT& rect) {
    if (Empty() || dc == nullptr) return;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (handle_ == nullptr && DrawBits(dc, rect.left, rect.top, width, height)) return;
    if (!MakeDIBSection()) return;
    DrawHandle(dc, rect.left, rect.top, width, height, true);
}
