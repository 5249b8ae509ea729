#pragma once
// TQXImage shows a picture stretched over its area; TQXPanel is a container
// with bevels, a border band and an optional caption.

#include <windows.h>

#include <cstdint>
#include <string>

#include "visual/win.h"
#include "winlib/obj.h"
#include "winlib/win32/graphics.h"

class TQXImage : public TQXWin {
public:
    explicit TQXImage(TControl* parent);

    TObjPtr<TBitmap> Picture;
    std::int32_t StretchMode = COLORONCOLOR;  // or HALFTONE
    TMethod<void(HDC dc)> DrawMethod;         // how a non-empty picture is painted
    bool AutoSize = false;
    TQX_Event onClick;

    // Takes a bitmap handle into the picture (0 leaves it empty).
    void LoadPicture(HBITMAP bitmap);
    // Half-tone scaling where the system has it, else colour on colour.
    void SetSmooth(bool smooth);
    // The draw method that stretches the picture over the client area.
    TMethod<void(HDC dc)> StretchDrawMethod() { return MethodOf<&TQXImage::StretchDraw>(this); }

    void initControl() override;

private:
    void paint(TControl* sender, HDC dc);
    void StretchDraw(HDC dc);
};

// The panel control's bevel settings.
class TkqzPanelData : public TObj {
public:
    std::uint8_t OuterBevel = 0;
    std::uint8_t InnerBevel = 0;
    std::uint16_t BevelWidth = 0;
    std::uint16_t BorderWidth = 0;
    TMethod<void(TControl* sender, HDC dc)> AfterPaint;

protected:
    ~TkqzPanelData() override = default;
};

class TQXPanel : public TQXWin {
public:
    using TQXWin::TQXWin;

    TText Caption;
    std::uint8_t BevelInner = 0;  // 0 none, 1 lowered, other raised
    std::uint8_t BevelOuter = 0;
    std::uint16_t BevelWidth = 0;
    std::uint8_t BorderStyle = 0;  // 0: neither border nor edge
    std::uint16_t BorderWidth = 0;
    std::uint8_t Alignment = 0;  // caption: 0 left, 1 right, 2 centred
    std::uint8_t VerticalAlignment = 0;  // caption: 0 centred, 1 top, 2 bottom
    bool PaintLocked = false;
    TObjPtr<TkqzPanelData> PanelData;
    TQX_Event onClick;

    bool windowMessage(TMsg& msg, LRESULT& result) override;
    void initControl() override;

private:
    bool PanelHandler(TControl* sender, TMsg& msg, LRESULT& result);
    void Draw(HDC dc);
    std::string shownCaption_;  // what the panel draws; the window's own text is not used
};

// Windows version class: NT 6.0 and later 6, 5.1 and 5.2 5, 5.0 4, older
// NT 3; 9x 2 (from 4.10 on) or 1; anything else 0.
int WindowsVersionClass();
