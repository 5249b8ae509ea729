#pragma once
// The drawing side of the window layer: colours, graphic tools (font,
// brush, pen) described by value with their handle made on demand, the
// canvas of a control, and bitmaps.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "winlib/method.h"
#include "winlib/obj.h"

// 0x00BBGGRR, or with the top bit set the system colour whose index is the
// low byte (0xFF00000F and 0x8000000F are both the button face).
using TColor = std::uint32_t;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor SystemColor(std::uint8_t index) { return 0xFF000000u | index; }
inline constexpr bool IsSystemColor(TColor color) { return (color & 0x80000000u) != 0; }

// The RGB value of a colour now: system colours are looked up every time.
COLORREF ResolveColor(TColor color);

// The screen's vertical resolution, read once.
int ScreenPixelsPerInchY();
// Font height for a size in points: (points * dpi + 36) / -72, truncated.
int PointsToHeight(int points);
int PointsToHeight(int points, int pixelsPerInch);

// Style bits of a font as the elements give them.
enum : std::uint8_t {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};

// A font, brush or pen by value; the GDI handle is made when first asked
// for and dropped whenever the description changes.
class TGraphicTool : public TObj {
public:
    enum class TKind : std::uint8_t { Brush, Font, Pen };

    explicit TGraphicTool(TKind kind);

    TKind Kind() const { return kind_; }
    TColor Color() const { return color_; }
    void SetColor(TColor color);

    // Font.
    std::string FontName() const;  // Windows-1251
    void SetFontName(std::string_view name);  // cut to fit the face-name field
    int FontHeight() const { return font_.lfHeight; }
    void SetFontHeight(int height);
    int FontWeight() const { return font_.lfWeight; }
    void SetFontWeight(int weight);
    std::uint8_t FontStyle() const;
    void SetFontStyle(std::uint8_t style);
    std::uint8_t FontCharset() const { return font_.lfCharSet; }
    void SetFontCharset(std::uint8_t charset);
    const LOGFONTW& LogFont() const { return font_; }

    // Brush: 0 solid, 1 clear, 2 + n hatched with hatch index n.
    std::uint8_t BrushStyle() const { return brushStyle_; }
    void SetBrushStyle(std::uint8_t style);
    void SetBrushBitmap(HBITMAP pattern);  // not owned
    void SetHatchColor(TColor color);

    // Pen.
    void SetPenStyle(int style);
    void SetPenWidth(int width);
    int PenMode() const { return penMode_; }
    void SetPenMode(int mode);

    // Takes the whole description of another tool of the same kind.
    void Assign(const TGraphicTool& other);
    // Follows `parent`'s description from now on, until this tool is
    // changed by itself. nullptr stops following.
    void Follow(TGraphicTool* parent);
    TGraphicTool* Followed() const { return followed_; }

    // The GDI handle; made now if needed, and again when a system colour
    // it was made from has changed. 0 when it cannot be made.
    HGDIOBJ Handle();
    COLORREF ResolvedColor() const { return ResolveColor(color_); }

    // Told after every change of the description.
    TMethod<void(TGraphicTool* sender)> OnChange;

protected:
    ~TGraphicTool() override;

private:
    template <class Edit>
    void Modify(Edit edit, bool own = true);
    template <class T>
    void Change(T& field, std::type_identity_t<T> value);
    void Changed();
    bool SameDescription(const TGraphicTool& other) const;
    void CopyDescription(const TGraphicTool& other);
    HGDIOBJ MakeHandle() const;

    TKind kind_;
    TColor color_;
    LOGFONTW font_{};
    std::uint8_t brushStyle_ = 0;
    HBITMAP brushBitmap_ = nullptr;
    TColor hatchColor_ = 0;
    int penStyle_ = PS_SOLID;
    int penWidth_ = 0;
    int penMode_ = R2_COPYPEN;

    HGDIOBJ handle_ = nullptr;
    COLORREF madeWith_ = 0;  // resolved colours the handle was made from
    COLORREF madeWithHatch_ = 0;
    TGraphicTool* followed_ = nullptr;
    std::vector<TGraphicTool*> followers_;
};

class TControl;

// Drawing on a control: the paint DC while it paints, otherwise a DC of its
// window held until Release.
class TCanvas : public TObj {
public:
    explicit TCanvas(TControl* owner);

    HDC Handle();
    TGraphicTool* Brush();
    TGraphicTool* Font();
    TGraphicTool* Pen();

    // Selects the tool into the DC with its colours (without a tool of its
    // own: the owner's text colour, or the owner's colour for the brush).
    void SelectFont();
    void SelectPen();
    void SelectBrush();
    // Puts the stock pen, null brush and system font back.
    void DeselectAll();
    void FillRect(const RECT& rect);
    SIZE TextExtent(std::string_view text);
    void Polyline(const POINT* points, int count);
    // Deselects and gives back a DC the canvas took itself.
    void Release();

protected:
    ~TCanvas() override;

private:
    TControl* owner_;
    HDC dc_ = nullptr;  // taken with GetDC; nullptr while the paint DC is used
    HWND dcWindow_ = nullptr;
    TObjPtr<TGraphicTool> brush_, font_, pen_;
    bool fontSelected_ = false, penSelected_ = false, brushSelected_ = false;
};

// A picture held as device-independent bits or as a bitmap handle.
class TBitmap : public TObj {
public:
    TBitmap() = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ <= 0 || height_ <= 0 || (handle_ == nullptr && bits_.empty()); }
    HBITMAP Handle() const { return handle_; }

    // Takes the handle over (its size read from the system); 0 empties.
    void TakeHandle(HBITMAP bitmap);
    // From the module's resources by name or by a numeric id
    // (MAKEINTRESOURCE); false leaves the picture empty.
    bool LoadFromResource(HINSTANCE module, const char* name);
    // Bottom-up bits of `bitsPerPixel` (24 or 32) with rows padded to 4 bytes.
    void SetBits(int width, int height, int bitsPerPixel, std::vector<std::uint8_t> bits);
    // A bitmap compatible with the screen.
    bool MakeCompatible(int width, int height);
    // Turns held bits into a DIB section; false leaves them as they were.
    bool MakeDIBSection();
    void Clear();

    void Draw(HDC dc, int x, int y);
    void StretchDraw(HDC dc, const RECT& rect);

    // Run before the handle is used for drawing.
    TMethod<void(TBitmap* sender)> BeforeUse;

protected:
    ~TBitmap() override;

private:
    bool DrawBits(HDC dc, int x, int y, int width, int height);
    void DrawHandle(HDC dc, int x, int y, int width, int height, bool stretch);

    int width_ = 0;
    int height_ = 0;
    HBITMAP handle_ = nullptr;
    BITMAPINFOHEADER header_{};
    std::vector<std::uint8_t> bits_;
};
