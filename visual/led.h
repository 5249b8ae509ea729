#pragma once
// TQXLED: a lamp drawn as a filled disc (or rectangle) with a bevelled rim
// and a highlight, like a glass lamp set into the panel.

#include <windows.h>

#include <cstdint>

#include "visual/win.h"
#include "winlib/win32/gdi.h"

class TQXLED : public TQXWin {
public:
    using TQXWin::TQXWin;

    TColor LitColor = 0;    // body when lit; highlight dot when unlit
    TColor UnlitColor = 0;  // body when unlit; inner ring when lit
    TColor FrameColor = 0;  // highlight stroke when lit
    bool Lit = false;
    std::uint8_t Shape = 0;  // 0 round, 1 rectangular, other: rectangle without frame
    bool Framed = false;
    // Made once in initControl from the colours as they are then.
    TGdiHandle<HPEN> GreyPen, WhitePen, UnlitPen, FramePen;
    TGdiHandle<HPEN> WideWhitePen, WideLitPen;
    TGdiHandle<HBRUSH> LitBrush, UnlitBrush;
    TQX_Event onChange;
    TQX_Event onClick;

    void doOn(TData& value, std::uint16_t index);
    void doOff(TData& value, std::uint16_t index);

    void resized(TControl* sender) override;
    void initControl() override;

private:
    void paint(TControl* sender, HDC dc);
};
